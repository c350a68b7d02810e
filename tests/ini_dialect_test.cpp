// The dialect presets, each read as its owner reads it, and the edits of
// keys with several values. The owners themselves check the presets in
// dialect_differential.py; these cases pin the rules one by one, and cover
// systemd, whose parser cannot be run on its own.
#include "IniDiagnostics.h"
#include "IniDialect.h"
#include "IniEditor.h"
#include "IniScanner.h"

#include <gtest/gtest.h>

#include <functional>
#include <optional>

#include <string>
#include <vector>

namespace {

using ini::IniDialect;
using ini::IniEditor;
using ini::IniEditStatus;
using Values = std::vector<std::string>;

IniDialect preset(const std::string& name) {
    IniDialect dialect;
    EXPECT_TRUE(IniDialect::byName(name, dialect)) << name;
    return dialect;
}

// Which preset reads a file, by its path.
TEST(Dialect, ChosenFromTheFileName) {
    const std::pair<const char*, const char*> cases[] = {
        {"/etc/systemd/system/nginx.service", "systemd"},
        {"nginx.service.d/override.conf", "systemd"},
        {"/etc/systemd/journald.conf", "systemd"},
        {"/etc/systemd/journald.conf.d/50-size.conf", "systemd"},
        {"/etc/systemd/network/10-eth.network", "systemd"},
        {"x.timer", "systemd"},
        {"journald.conf", "classic"},  // no systemd directory above it
        {"/usr/share/applications/firefox.desktop", "desktop"},
        {"~/.config/mimeapps.list", "desktop"},
        {"/etc/php/8.2/cli/php.ini", "php"},
        {"php-fpm.ini", "php"},
        {"/etc/php/8.2/cli/conf.d/20-calendar.ini", "php"},
        {"/etc/other/conf.d/20-calendar.ini", "classic"},
        {"/etc/mysql/my.cnf", "mysql"},
        {"/etc/mysql/mariadb.conf.d/50-server.cnf", "mysql"},
        {"setup.cfg", "python"},
        {"project/tox.ini", "python"},
        {".flake8", "python"},
        {"/etc/pip.conf", "python"},
        {"config.ini", "classic"},
        {"", "classic"},
    };
    for (const auto& [path, expected] : cases) {
        std::string why;
        EXPECT_EQ(IniDialect::forPath(path, &why).name, expected) << path;
        EXPECT_FALSE(why.empty()) << path;
    }
}

TEST(Dialect, PresetsByName) {
    EXPECT_EQ(IniDialect::presetNames(), (Values{"classic", "python", "php", "mysql", "desktop", "systemd"}));
    IniDialect dialect;
    EXPECT_FALSE(IniDialect::byName("Python", dialect));
    for (const auto& name : IniDialect::presetNames()) {
        EXPECT_EQ(preset(name).name, name);
    }
}

// One key read from a small text: what get gives and every value.
TEST(Dialect, ReadsAsTheOwner) {
    struct Case {
        const char* dialect;
        const char* text;
        const char* section;
        const char* key;
        const char* read;  // nullptr: absent
        Values values;
    };
    const Case cases[] = {
        // classic: first value wins, ';' comments, `k =` is absent
        {"classic", "[s]\nk = 1\nk = 2\n", "s", "k", "1", {"1", "2"}},
        {"classic", "[s]\nk = a ; c\n", "s", "k", "a", {"a"}},
        {"classic", "[s]\nk =\n", "s", "k", nullptr, {}},
        {"classic", "[s]\n# k = 1\n", "s", "# k", "1", {"1"}},  // '#' is no comment here
        // python: last wins, '=' or ':', keys without case, DEFAULT seen everywhere
        {"python", "[s]\nk = 1\nk = 2\n", "s", "k", "2", {"1", "2"}},
        {"python", "[s]\nKey: a ; b\n", "s", "KEY", "a ; b", {"a ; b"}},  // no inline comments
        {"python",
         "[s]\nk = first\n  second\n\n  third\n# c\nj = 1\n",
         "s",
         "k",
         "first\nsecond\n\nthird",
         {"first\nsecond\n\nthird"}},
        {"python", "[s]\nk = 1\n  # inside\n  2\n", "s", "k", "1\n2", {"1\n2"}},
        {"python", "[DEFAULT]\nd = 1\n[s]\nk = 2\n", "s", "d", "1", {"1"}},
        {"python", "[DEFAULT]\nd = 1\n", "t", "d", nullptr, {}},  // no section, no default
        {"python", "[s]\nk =\n", "s", "k", "", {""}},
        {"python", "[a] b]\nk = 1\n", "a] b", "k", "1", {"1"}},  // the last ']' closes
        // php: ';' anywhere outside closed quotes, quotes dropped when they wrap the value
        {"php", "[s]\nk = \"a;b\" ; c\n", "s", "k", "a;b", {"a;b"}},
        {"php", "[s]\nk = \"a;b\n", "s", "k", "\"a", {"\"a"}},
        {"php", "[s]\nk = \"x\" y\n", "s", "k", "\"x\" y", {"\"x\" y"}},
        {"php", "[s]\nk = a # b\n", "s", "k", "a # b", {"a # b"}},
        {"php", "[s]\nextension=a\nextension=b\n", "s", "extension", "b", {"a", "b"}},
        {"php", "k = top\n[s]\n", "", "k", "top", {"top"}},
        // A quote protects a ';' only in a value that starts with one.
        {"php", "[s]\na=b\"c ; \"d\n", "s", "a", "b\"c", {"b\"c"}},
        {"php", "[s]\na=\"b\" x ; y \"z\"\n", "s", "a", "b\" x ; y \"z", {"b\" x ; y \"z"}},
        {"php", "[s]\nk[]=a\nk[]=b\nenv[PATH]=/bin\n", "s", "k[]", "b", {"a", "b"}},
        {"php", "[s]\nenv[PATH] = /bin\n", "s", "env[PATH]", "/bin", {"/bin"}},
        {"php", "[s]\nk]=1\n", "s", "k]", "1", {"1"}},
        {"php", "[a]\nk=1\n\t[b]\nj=2\n", "b", "j", "2", {"2"}},  // a tab before '[' is whitespace
        {"php", "[s]\n  off  \nk=1\n", "s", "k", "1", {"1"}},     // a name with blanks, not a word
        {"php", "[s]\ntrue x\nk=1\n", "s", "k", "1", {"1"}},
        // mysql: '#' anywhere outside quotes, escapes, keys without value, groups without case
        {"mysql", "[mysqld]\nport = 3306 # c\n", "mysqld", "port", "3306", {"3306"}},
        {"mysql", "[s]\nk = 'a#b'\n", "s", "k", "a#b", {"a#b"}},
        // A backslash escapes only inside quotes: outside, \" opens one.
        {"mysql", "[s]\nk = a\\\"b# c\n", "s", "k", "a\"b# c", {"a\"b# c"}},
        {"mysql", "[s]\nk = \"a\\\"b\" # c\n", "s", "k", "a\"b", {"a\"b"}},
        {"mysql", "[s]\nk = a\\sb\\\\c\\qd\n", "s", "k", "a b\\c\\qd", {"a b\\c\\qd"}},
        {"mysql", "[s]\nskip-name-resolve\n", "s", "skip-name-resolve", "", {""}},
        {"mysql", "[S]\nk = 1\n[s]\nk = 2\n", "s", "k", "2", {"1", "2"}},
        {"mysql", "[s]\n!include /etc/x.cnf\nk = 1\n", "s", "k", "1", {"1"}},
        // desktop: '#' only at the start, values keep their end, no inline comments
        {"desktop", "[Desktop Entry]\nName=App \nName[de]=Anw\n", "Desktop Entry", "Name", "App ", {"App "}},
        {"desktop", "[Desktop Entry]\nCategories=A;B;\n", "Desktop Entry", "Categories", "A;B;", {"A;B;"}},
        {"desktop", "[g]\nk=1\n[h]\n[g]\nk=2\n", "g", "k", "2", {"1", "2"}},
        {"desktop", "[g]\r\na=1 \r\n", "g", "a", "1 ", {"1 "}},  // the CR ends the line
        {"desktop", "[g]\nName[sr@latin]=x\nName[]=y\n", "g", "Name[]", "y", {"y"}},
        // mysql: latin1's no-break space (0xA0) is a blank
        {"mysql", "[s]\nk = x\302\240\n", "s", "k", "x\302", {"x\302"}},
        {"mysql", "[s]\nk = \240y\n", "s", "k", "y", {"y"}},
        // systemd: '#' and ';' lines, backslash continuation, an empty value resets the list
        {"systemd",
         "[Service]\nExecStart=/bin/a \\\n  --b\n",
         "Service",
         "ExecStart",
         "/bin/a    --b",
         {"/bin/a    --b"}},
        {"systemd",
         "[Service]\nExecStart=/bin/a \\\n# c\n  --b\n",
         "Service",
         "ExecStart",
         "/bin/a    --b",
         {"/bin/a    --b"}},
        // The line after a backslash is appended as it is, the backslash
        // replaced by a blank; an escaped or blank-followed one continues nothing.
        {"systemd", "[s]\na=1 \\\n 2\n", "s", "a", "1   2", {"1   2"}},
        {"systemd", "[s]\nc=1\\\r\n   2\r\n", "s", "c", "1    2", {"1    2"}},
        {"systemd", "[s]\nc=1\\\\\nd=2\n", "s", "c", "1\\\\", {"1\\\\"}},
        {"systemd", "[s]\nc=1\\ \nd=2\n", "s", "d", "2", {"2"}},
        {"systemd", "[s]\nc=1\\ \nd=2\n", "s", "c", "1\\", {"1\\"}},
        {"systemd", "[s]\nc=1 \\", "s", "c", "1", {"1"}},  // continued onto the end of the text
        {"systemd", "[s]\r\nc=1 \\\r\n", "s", "c", "1", {"1"}},
        {"systemd", "[s]\nc=1 \\\n 2 \\", "s", "c", "1   2", {"1   2"}},  // the last backslash too
        {"systemd", "[s]\nc=x \\\n\t y \n", "s", "c", "x  \t y", {"x  \t y"}},
        {"systemd",
         "[Service]\nEnvironment=A=1\nEnvironment=\nEnvironment=B=2\nEnvironment=C=3\n",
         "Service",
         "Environment",
         "C=3",
         {"B=2", "C=3"}},
        {"systemd",
         "[Service]\nUser = root ; not a comment\n",
         "Service",
         "User",
         "root ; not a comment",
         {"root ; not a comment"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.dialect) + ": " + c.text);
        const IniEditor editor(c.text, preset(c.dialect));
        EXPECT_TRUE(editor.problems().empty());
        EXPECT_EQ(editor.keyExists(c.section, c.key), c.read != nullptr);
        EXPECT_EQ(editor.read(c.section, c.key, "\x01"), c.read != nullptr ? c.read : "\x01");
        EXPECT_EQ(editor.values(c.section, c.key), c.values);
    }
}

// Lines the owner rejects, with the line number iniedit reports.
TEST(Dialect, RejectedLines) {
    struct Case {
        const char* dialect;
        const char* text;
        std::size_t line;  // 0: accepted
    };
    const Case cases[] = {
        {"classic", "anything\n[s\n= v\n", 0},
        {"python", "k = 1\n[s]\n", 1},  // no section header
        {"python", "[s]\nflag\n", 2},
        {"python", "[s]\n= v\n", 2},
        {"php", "[s]\n [t]\n", 2},
        {"php", "[s]\nk{x} = 1\n", 2},
        {"php", "[s]\nk = 1\n[t]\n[s]\n", 4},  // PHP would drop the first [s]
        {"php", "[s\n", 1},
        {"php", "[s]\nk[]=a\nenv[PATH]=/bin\nk[x=a\n", 4},
        {"php", "[s]\nk [x]=1\n", 2},     // PHP's key is "k"
        {"php", "[s]\nk[ x]=1\n", 2},     // PHP's offset is "x"
        {"php", "[s]\nk[\"x\"]=1\n", 2},  // PHP drops the quotes
        {"php", "[s]\nk[x]y=1\n", 2},
        {"php", "[s]\na!\n", 2},
        {"php", "[s]\nk\n(x)\n", 3},
        {"php", "[s]\nok\nTrue\n", 3},
        {"php", "[s]\nx\tnull\n", 2},
        {"php", "[s]\nk=1\nx\ttrue", 0},  // the last word of the text is a name to PHP
        {"php", "[s]\ntrue\t", 2},
        {"php", "[s]\ntrue ;c", 2},
        {"php", "[s]\ntrue=1", 2},
        {"php", "[s]\n \toff\n", 2},
        {"php", "[s]\nyes = 1\n", 2},
        {"php", "[s]\na=\"b\nc\"\n", 3},  // a quote alone on a line
        {"php", "[a][b]\nk=1\n", 1},
        {"php", "[s] k=1\n", 1},
        {"php", "[s] ; c\nk=1\n", 0},
        {"php", "[s]\nfoo\tbar = 1\n", 2},
        {"php", "[s]\nx=1\ry=2\n", 2},  // PHP ends a line at a lone CR
        {"php", "[s]\nx=1\r\ny=2\r\n", 0},
        {"php", "\r[s]\n", 1},  // named for its CR, not as a header after blanks
        {"python", "[a]\nx=1\r[b]\nx=2\n", 2},
        {"systemd", "[s]\n# c\rExecStartPre=/x\n", 2},
        {"desktop", "[]\nk=1\n", 1},
        {"desktop", "[g]\nkey[=123\n", 2},
        {"desktop", "[g]\nfoo [de] =123\n", 2},
        {"desktop", "[g]\nk]=1\n", 2},
        {"desktop", "[g]\nName[de]x=1\n", 2},
        {"desktop", "[g]\nName[d e]=1\n", 2},
        {"desktop", "[g]\nName[de]=1\nName[dé]=2\n", 0},
        {"desktop", "[g]\nk=1\rj=2\n", 0},  // GLib splits at '\n' only
        {"desktop", "[g]\nIcon=a\r", 2},    // GLib keeps this CR in the value
        {"mysql", "k = 1\n[s]\n", 1},
        {"mysql", "\xEF\xBB\xBF[s]\nk = 1\n", 1},  // not skipped: the mark makes a key
        {"mysql", "[s]\nflag\n", 0},
        {"mysql", "[s]\nk=1\rj=2\n", 0},
        {"desktop", "[g]\n; k = 1\nflag\n", 3},
        {"desktop", "[g] x\n", 1},
        {"desktop", "[g]\n=v\n", 2},
        {"systemd", "[Unit]\r\nDescription=x\r\n[Service\r\n", 3},
        {"systemd", "Description=x\n[Unit]\n", 1},
    };
    const std::string longLine = "[s]\nk=" + std::string(4092, 'x') + "\n";
    const std::string tooLong = "[s]\nk=" + std::string(4093, 'x') + "\nj=1\n";  // read in two pieces
    const Case lengths[] = {{"mysql", longLine.c_str(), 0}, {"mysql", tooLong.c_str(), 2}};
    std::vector<Case> all(std::begin(cases), std::end(cases));
    all.insert(all.end(), std::begin(lengths), std::end(lengths));
    for (const Case& c : all) {
        SCOPED_TRACE(std::string(c.dialect) + ": " + c.text);
        const auto problems = IniEditor(c.text, preset(c.dialect)).problems();
        ASSERT_EQ(problems.empty(), c.line == 0);
        if (c.line != 0) {
            EXPECT_EQ(problems.front().line, c.line);
            EXPECT_FALSE(problems.front().what.empty());
            if (std::string_view(c.text).find("\r[") != std::string_view::npos) {
                EXPECT_NE(problems.front().what.find("CR"), std::string::npos) << problems.front().what;
            }
        }
    }
}

TEST(Dialect, NamesWithoutCaseKeepTheirSpelling) {
    IniEditor mysql("[MySQLd]\nPort = 1\n", preset("mysql"));
    EXPECT_EQ(mysql.sectionNames(), Values{"MySQLd"});
    EXPECT_FALSE(mysql.keyExists("mysqld", "port"));  // keys keep their case
    ASSERT_EQ(mysql.write("MYSQLD", "Port", "2").status, IniEditStatus::changed);
    EXPECT_EQ(mysql.text(), "[MySQLd]\nPort = 2\n");

    IniEditor python("[s]\nMyKey = 1\n", preset("python"));
    ASSERT_EQ(python.write("s", "mykey", "2").status, IniEditStatus::changed);
    EXPECT_EQ(python.text(), "[s]\nMyKey = 2\n");
    EXPECT_EQ(python.keyNames("s"), Values{"MyKey"});
}

// Each edit of a key with several values: the text before and after.
TEST(Dialect, MultiValueEdits) {
    enum class Op { set, setAll, add, delValue, delKey, delSection, setValues, noValue, addSection };
    struct Case {
        const char* name;
        const char* dialect;
        const char* before;
        const char* section;
        const char* key;
        Op op;
        const char* value;
        const char* after;
        IniEditStatus status;
    };
    const Case cases[] = {
        {"set changes the first under first-wins", "classic", "[s]\nk = 1\nk = 2\n", "s", "k", Op::set, "3",
         "[s]\nk = 3\nk = 2\n", IniEditStatus::changed},
        {"set changes the last under last-wins", "php", "[s]\nk = 1\nk = 2\n", "s", "k", Op::set, "3",
         "[s]\nk = 1\nk = 3\n", IniEditStatus::changed},
        {"set --all keeps one line", "mysql", "[s]\nk = 1\nj = x\nk = 2\n", "s", "k", Op::setAll, "3",
         "[s]\nj = x\nk = 3\n", IniEditStatus::changed},
        {"add goes after the key's last line", "php", "[s]\nextension=a\nextension=b\nx=1\n", "s",
         "extension", Op::add, "c", "[s]\nextension=a\nextension=b\nextension=c\nx=1\n",
         IniEditStatus::changed},
        {"add to an absent key adds it", "systemd", "[Service]\nType=simple\n", "Service", "Environment",
         Op::add, "A=1", "[Service]\nType=simple\nEnvironment=A=1\n", IniEditStatus::changed},
        {"del VALUE removes only those lines", "mysql", "[s]\nk = 1\nk = 2\nk = '1'\n", "s", "k",
         Op::delValue, "1", "[s]\nk = 2\n", IniEditStatus::changed},
        {"del VALUE of a value not there", "mysql", "[s]\nk = 1\n", "s", "k", Op::delValue, "2",
         "[s]\nk = 1\n", IniEditStatus::absent},
        {"a deleted key takes its continuation lines", "python", "[s]\nk = 1\n  2\nj = 3\n", "s", "k",
         Op::delKey, "", "[s]\nj = 3\n", IniEditStatus::changed},
        {"a set replaces the continuation lines", "python", "[s]\nk = 1\n  2\nj = 3\n", "s", "k", Op::set,
         "x", "[s]\nk = x\nj = 3\n", IniEditStatus::changed},
        {"a backslash continuation goes with its key", "systemd",
         "[Service]\nExecStart=/a \\\n  -b\nType=x\n", "Service", "ExecStart", Op::delKey, "",
         "[Service]\nType=x\n", IniEditStatus::changed},
        {"a key without a value gets one", "mysql", "[s]\nskip-name-resolve\n", "s", "skip-name-resolve",
         Op::set, "1", "[s]\nskip-name-resolve=1\n", IniEditStatus::changed},
        {"a new key after a header does not swallow a deeper line", "python", "[s]\n  [t]\nx = 1\n", "s", "k",
         Op::set, "v", "[s]\n  k = v\n  [t]\nx = 1\n", IniEditStatus::changed},
        {"a value that needs quotes gets them", "php", "[s]\nk = 1\n", "s", "k", Op::set, "a;b",
         "[s]\nk = \"a;b\"\n", IniEditStatus::changed},
        {"a value that needs escapes gets them", "mysql", "[s]\nk = 1\n", "s", "k", Op::set, "a\\b#c",
         "[s]\nk = \"a\\\\b#c\"\n", IniEditStatus::changed},
        {"a blank the owner trims is refused", "python", "[s]\nk = 1\n", "s", "k", Op::set, " x",
         "[s]\nk = 1\n", IniEditStatus::refused},
        {"a trailing backslash would continue", "systemd", "[Service]\nk=1\n", "Service", "k", Op::set, "a\\",
         "[Service]\nk=1\n", IniEditStatus::refused},
        {"no keys above the first header", "desktop", "[g]\n", "", "k", Op::set, "1", "[g]\n",
         IniEditStatus::refused},
        {"the empty value of a bare key is its value", "mysql", "[mysqld]\nskip-name-resolve\n", "mysqld",
         "skip-name-resolve", Op::set, "", "[mysqld]\nskip-name-resolve\n", IniEditStatus::unchanged},
        {"add refused where the owner keeps one value", "python", "[s]\ndeps = a\n  b\n", "s", "deps",
         Op::add, "c", "[s]\ndeps = a\n  b\n", IniEditStatus::refused},
        {"add of a desktop key refused likewise", "desktop", "[g]\nk=1\n", "g", "k", Op::add, "2",
         "[g]\nk=1\n", IniEditStatus::refused},
        {"add of a key not yet there", "python", "[s]\n", "s", "k", Op::add, "1", "[s]\nk = 1\n",
         IniEditStatus::changed},
        {"add of a PHP array item", "php", "[s]\nk[]=a\n", "s", "k[]", Op::add, "b", "[s]\nk[]=a\nk[]=b\n",
         IniEditStatus::changed},
        {"a PHP array item set", "php", "[s]\nenv[PATH]=/bin\n", "s", "env[PATH]", Op::set, "/usr/bin",
         "[s]\nenv[PATH]=/usr/bin\n", IniEditStatus::changed},
        // The CR after the delimiter is the line's ending, not a blank to copy.
        {"a value below its key moves up, CRLF kept", "python", "[s]\r\nuser:\r\n  a\r\n  b\r\nx = 1\r\n",
         "s", "user", Op::set, "\"quoted\"", "[s]\r\nuser:\"quoted\"\r\nx = 1\r\n", IniEditStatus::changed},
        {"a CRLF desktop file stays CRLF", "desktop", "[g]\r\na=1\r\n", "g", "a", Op::set, "2",
         "[g]\r\na=2\r\n", IniEditStatus::changed},
        {"a mysql line too long to read whole", "mysql", "[s]\nk=1\n", "s", "k", Op::set, "", "[s]\nk=1\n",
         IniEditStatus::refused},
        {"a section whose deletion would join the next to a value", "python",
         "[a]\nk = 0\n[t]\n  [s]\ny = 2\n", "t", "", Op::delSection, "", "[a]\nk = 0\n[t]\n  [s]\ny = 2\n",
         IniEditStatus::refused},
        {"a section deleted where nothing joins", "python", "[a]\nk = 0\n[t]\nx = 1\n[s]\ny = 2\n", "t", "",
         Op::delSection, "", "[a]\nk = 0\n[s]\ny = 2\n", IniEditStatus::changed},
        // Python keeps further lines indented; empty ones inside the value stay empty.
        {"a value over several lines, in the key's own indentation", "python",
         "[testenv]\ndeps =\n  a\n  b\ncommands = x\n", "testenv", "deps", Op::set, "p\nq\n\nr",
         "[testenv]\ndeps = p\n  q\n\n  r\ncommands = x\n", IniEditStatus::changed},
        {"a new key over several lines", "python", "[s]\r\n  k = 1\r\n", "s", "j", Op::set, "x\ny",
         "[s]\r\n  k = 1\r\n  j = x\r\n      y\r\n", IniEditStatus::changed},
        {"a further line that would be a comment", "python", "[s]\nk = 1\n", "s", "k", Op::set, "a\n# b",
         "[s]\nk = 1\n", IniEditStatus::refused},
        {"a newline in mysql is an escape", "mysql", "[s]\nk = 1\n", "s", "k", Op::set, "a\nb",
         "[s]\nk = a\\nb\n", IniEditStatus::changed},
        {"no newline in a PHP value", "php", "[s]\nk = 1\n", "s", "k", Op::set, "a\nb", "[s]\nk = 1\n",
         IniEditStatus::refused},
        {"no newline in a systemd value", "systemd", "[s]\nk=1\n", "s", "k", Op::set, "a\nb", "[s]\nk=1\n",
         IniEditStatus::refused},
        {"a mysql value ending in latin1's blank is quoted", "mysql", "[s]\nk=1\n", "s", "k", Op::set,
         "x\302\240", "[s]\nk=\"x\302\240\"\n", IniEditStatus::changed},
        // A list of values ("|" separates them here): lines already in order stay.
        {"a list: values in order keep their lines", "mysql", "[s]\nk = a # first\nj = 1\n", "s", "k",
         Op::setValues, "a|b", "[s]\nk = a # first\nk = b\nj = 1\n", IniEditStatus::changed},
        {"a list in another order is done", "mysql", "[s]\nk = a\nk = b\n", "s", "k", Op::setValues, "b|a",
         "[s]\nk = a\nk = b\n", IniEditStatus::unchanged},
        {"a list anew: the read line takes the first", "systemd", "[S]\nA=x\nB=1\nA=\nA=y\n", "S", "A",
         Op::setValues, "p|q", "[S]\nB=1\nA=p\nA=q\n", IniEditStatus::changed},
        {"a list where the owner keeps one value", "desktop", "[g]\nk=1\n", "g", "k", Op::setValues, "1|2",
         "[g]\nk=1\n", IniEditStatus::refused},
        {"a list with an empty value that resets", "systemd", "[S]\nA=x\n", "S", "A", Op::setValues, "p|",
         "[S]\nA=x\n", IniEditStatus::refused},
        {"a key without a value, in place", "mysql", "[s]\n  k = 1 # on\nj = 2\n", "s", "k", Op::noValue, "",
         "[s]\n  k # on\nj = 2\n", IniEditStatus::changed},
        {"a new key without a value", "mysql", "[s]\nj = 2\n", "s", "k", Op::noValue, "", "[s]\nj = 2\nk\n",
         IniEditStatus::changed},
        {"a key already without a value", "mysql", "[s]\nk\n", "s", "k", Op::noValue, "", "[s]\nk\n",
         IniEditStatus::unchanged},
        {"no keys without a value in php", "php", "[s]\n", "s", "k", Op::noValue, "", "[s]\n",
         IniEditStatus::refused},
        {"a section made sure of, after a blank line as the others", "classic", "[a]\nk = 1\n\n[b]\nj = 2",
         "c", "", Op::addSection, "", "[a]\nk = 1\n\n[b]\nj = 2\n\n[c]\n", IniEditStatus::changed},
        {"a section already there", "mysql", "[A]\n", "a", "", Op::addSection, "", "[A]\n",
         IniEditStatus::unchanged},
        {"a section the owner could not read", "desktop", "[g]\n", "a]b", "", Op::addSection, "", "[g]\n",
         IniEditStatus::refused},
        // Where no line shows a style, new lines are written as the owner's own files are.
        {"a new unit key is Key=value", "systemd", "[Unit]\n", "Service", "Type", Op::set, "simple",
         "[Unit]\n[Service]\nType=simple\n", IniEditStatus::changed},
        {"a new desktop key likewise", "desktop", "[Desktop Entry]\n", "Desktop Entry", "Name", Op::set, "x",
         "[Desktop Entry]\nName=x\n", IniEditStatus::changed},
        {"elsewhere, KEY = VALUE", "python", "[s]\n", "s", "k", Op::set, "x", "[s]\nk = x\n",
         IniEditStatus::changed},
    };
    const std::string longValue(4093, 'x');  // "k=" and it make a line of 4095 bytes
    std::vector<Case> all(std::begin(cases), std::end(cases));
    for (Case& c : all) {
        c.value =
            std::string_view(c.name).find("too long") != std::string_view::npos ? longValue.c_str() : c.value;
    }
    for (const Case& c : all) {
        SCOPED_TRACE(c.name);
        IniEditor editor(c.before, preset(c.dialect));
        ini::IniEditResult result;
        switch (c.op) {
        case Op::set:
            result = editor.write(c.section, c.key, c.value);
            break;
        case Op::setAll:
            result = editor.writeAll(c.section, c.key, c.value);
            break;
        case Op::add:
            result = editor.add(c.section, c.key, c.value);
            break;
        case Op::delValue:
            result = editor.delValue(c.section, c.key, c.value);
            break;
        case Op::delKey:
            result = editor.delKey(c.section, c.key);
            break;
        case Op::delSection:
            result = editor.delSection(c.section);
            break;
        case Op::setValues: {
            Values values;
            for (std::string_view rest = c.value;;) {
                values.emplace_back(rest.substr(0, rest.find('|')));
                if (rest.find('|') == std::string_view::npos) {
                    break;
                }
                rest.remove_prefix(rest.find('|') + 1);
            }
            result = editor.writeValues(c.section, c.key, values);
            if (c.status != IniEditStatus::refused) {
                EXPECT_EQ(IniEditor(editor.text(), preset(c.dialect)).values(c.section, c.key).size(),
                          values.size());
            }
            break;
        }
        case Op::noValue:
            result = editor.writeNoValue(c.section, c.key);
            if (c.status != IniEditStatus::refused) {
                EXPECT_TRUE(IniEditor(editor.text(), preset(c.dialect)).hasNoValue(c.section, c.key));
            }
            break;
        case Op::addSection:
            result = editor.addSection(c.section);
            break;
        }
        EXPECT_EQ(result.status, c.status) << result.reason;
        EXPECT_EQ(editor.text(), c.after);
        if (c.status == IniEditStatus::changed && (c.op == Op::set || c.op == Op::setAll)) {
            EXPECT_EQ(IniEditor(editor.text(), preset(c.dialect)).read(c.section, c.key, "\x01"), c.value);
        }
    }
}

// A CR in a name or value is refused, with nothing written, where the owner
// reads it as a line break: it would start a line of the writer's choice.
TEST(Dialect, CarriageReturnsThatBreakLinesAreRefused) {
    struct Case {
        const char* dialect;
        const char* section;
        const char* key;
        const char* value;
    };
    const Case cases[] = {
        {"php", "PHP", "memory_limit", "256M\rauto_prepend_file = /tmp/evil.php"},
        {"php", "PHP", "a\rb", "1"},
        {"python", "s\rt", "k", "1"},
        {"python", "s", "k", "1\r[t]"},
        {"systemd", "Service", "Type", "simple\rExecStartPre=/x"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.dialect) + ": " + c.key + "=" + c.value);
        const std::string text = std::string("[") + (c.section[0] == 's' ? "s" : c.section) + "]\nk=1\n";
        IniEditor editor(text, preset(c.dialect));
        const auto set = editor.write(c.section, c.key, c.value);
        EXPECT_EQ(set.status, IniEditStatus::refused);
        EXPECT_NE(set.reason.find("CR"), std::string::npos) << set.reason;
        EXPECT_EQ(editor.add(c.section, c.key, c.value).status, IniEditStatus::refused);
        EXPECT_EQ(editor.text(), text);
    }
    // mysql and GLib end lines at '\n' only: a CR inside a value is text.
    IniEditor mysql("[s]\nk=1\n", preset("mysql"));
    EXPECT_EQ(mysql.write("s", "k", "a\rb").status, IniEditStatus::changed);
    EXPECT_EQ(IniEditor(mysql.text(), preset("mysql")).read("s", "k", ""), "a\rb");
}

// Keys GLib would reject, after which it refuses the whole file, are never
// written; a key with one locale suffix is.
TEST(Dialect, DesktopKeysAsGlibNamesThem) {
    const struct {
        const char* key;
        IniEditStatus status;
    } cases[] = {
        {"Name]x", IniEditStatus::refused},   {"a[b", IniEditStatus::refused},
        {"Icon[de", IniEditStatus::refused},  {"a[b]c", IniEditStatus::refused},
        {"Name[de]", IniEditStatus::changed}, {"Name[sr@latin]", IniEditStatus::changed},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.key);
        IniEditor editor("[Desktop Entry]\nName=x\n", preset("desktop"));
        EXPECT_EQ(editor.write("Desktop Entry", c.key, "v").status, c.status);
        EXPECT_TRUE(IniEditor(editor.text(), preset("desktop")).problems().empty());
    }
}

// Every preset writes each value so that it reads back, or refuses it and
// leaves the text alone: never a value that reads differently.
TEST(Dialect, WritesReadBackOrAreRefused) {
    const char* values[] = {"plain",    " lead",  "tail ",  "a;b",   "a#b", "a\\b",   "\"q\"",
                            "'q'",      "tail\\", "",       "a = b", "[x]", "a\tb",   "x\r",
                            "\xC3\xBC", "a\nb",   "a\n\nb", "a\n",   "\nb", " a\n b", "a\r\nb"};
    for (const auto& name : IniDialect::presetNames()) {
        for (const char* value : values) {
            SCOPED_TRACE(name + ": " + value);
            const std::string text = "[s]\nk = 1\nj = 2\n";
            IniEditor editor(text, preset(name));
            const auto result = editor.write("s", "k", value);
            const IniEditor reread(editor.text(), preset(name));
            if (result.status == IniEditStatus::refused) {
                EXPECT_EQ(editor.text(), text);
                EXPECT_FALSE(result.reason.empty());
            } else {
                EXPECT_EQ(reread.read("s", "k", "\x01"), value);
            }
            EXPECT_EQ(reread.read("s", "j", ""), "2");
        }
    }
}

}  // namespace

// Each kind of finding, where it is: "line:column kind" and the bytes it
// covers, for small texts under the dialect named.
TEST(Diagnostics, FindsEachKindInPlace) {
    struct Case {
        const char* dialect;
        std::string text;
        std::vector<std::string> expected;  // "line:column kind [covered bytes]"
    };
    const std::vector<Case> cases = {
        {"classic", "[s]\nk = 1\n", {}},
        {"classic",
         "\xEF\xBB\xBFtop = 1\n[s]\nk = 1\nK = 2\nk = 3\n[s]\nk = 4\n",
         {"1:1 byte-order-mark [\xEF\xBB\xBF]", "1:4 key-above-first-header [top]", "5:1 repeated-key [k]",
          "6:1 repeated-section [[s]]", "7:1 repeated-key [k]"}},
        {"python", "[s]\nk = 1\nK = 2\n[S]\n", {"3:1 repeated-key [K]"}},
        {"systemd", "[Service]\nExecStart=a\nExecStart=b\n", {}},  // lists
        {"classic",
         "[s] junk\njust text\n[broken\n# other comment\n",
         {"1:5 ignored-text [junk]", "2:1 stores-nothing [just text]", "3:1 stores-nothing [[broken]"}},
        {"classic",
         "[s]\nempty =\nq = \"a\" b\nopen = \"a\n",
         {"2:1 stores-nothing [empty =]", "3:5 stores-nothing [\"a\" b]", "4:8 stores-nothing [\"a]"}},
        {"python", "[s]\nempty =\n", {}},
        {"classic",
         "[s]\nurl = a;b\nok = a ; comment\nq = \"a  \"\n",
         {"2:8 comment-char-in-value [;]", "4:7 blanks-inside-quotes [  ]"}},
        {"python", "[s]\nk = a ; b\nc = #fff\n", {"2:7 comment-char-in-value [;]"}},
        {"mysql", "[s]\nk = 'a '\n", {"2:7 blanks-inside-quotes [ ]"}},
        {"classic",
         "[s]\r\na = 1\nb = 2\r\nc = 3",
         {"2:6 mixed-line-endings [\n]", "4:6 no-final-newline []"}},
        {"python", "top = 1\n[s]\n", {"1:1 rejected [top = 1]"}},
        {"desktop", "[Desktop Entry] x\n", {"1:1 rejected [[Desktop Entry] x]"}},
        // A commented-out key read as a key, where '#' starts no comment.
        {"classic", "[Journal]\n#Storage=auto\n  #x=1\n", {"2:1 commented-key [#]", "3:3 commented-key [#]"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.dialect + std::string(": ") + c.text);
        std::vector<std::string> got;
        for (const ini::IniFinding& f : ini::diagnose(c.text, preset(c.dialect))) {
            EXPECT_FALSE(f.message.empty());
            got.push_back(std::to_string(f.line) + ":" + std::to_string(f.column) + " " +
                          ini::findingName(f.kind) + " [" + c.text.substr(f.begin, f.end - f.begin) + "]");
        }
        EXPECT_EQ(got, c.expected);
    }
}

// Comment edits under each dialect, as the text before and after.
TEST(Comments, EditsAsText) {
    using Edit = std::function<ini::IniEditResult(IniEditor&)>;
    struct Case {
        const char* name;
        const char* dialect;
        std::string before;
        Edit edit;
        std::string after;
        IniEditStatus status = IniEditStatus::changed;
    };
    const auto commentOut = [](const char* s, const char* k) {
        return Edit([=](IniEditor& e) { return e.commentOut(s, k); });
    };
    const auto uncomment = [](const char* s, const char* k,
                              std::optional<std::string_view> v = std::nullopt) {
        return Edit([=](IniEditor& e) { return e.uncomment(s, k, v); });
    };
    const auto set = [](const char* s, const char* k, const char* v) {
        return Edit([=](IniEditor& e) { return e.write(s, k, v); });
    };
    const auto add = [](const char* s, const char* k, const char* v) {
        return Edit([=](IniEditor& e) { return e.add(s, k, v); });
    };
    const auto setComment = [](const char* s, const char* k, const char* text) {
        return Edit([=](IniEditor& e) { return e.setComment(s, k, text); });
    };
    const auto setInline = [](const char* s, const char* k, const char* text) {
        return Edit([=](IniEditor& e) { return e.setInlineComment(s, k, text); });
    };
    const std::vector<Case> cases = {
        {"comment out: every line of the key, the rest kept", "classic", "[s]\n  k = 1 ; one\nk = 2\nj = 3\n",
         commentOut("s", "k"), "[s]\n;  k = 1 ; one\n;k = 2\nj = 3\n"},
        {"comment out: continuation lines too", "python", "[s]\nk = 1\n  2\nj = 3\n", commentOut("s", "k"),
         "[s]\n#k = 1\n#  2\nj = 3\n"},
        {"comment out: absent", "classic", "[s]\nj = 3\n", commentOut("s", "k"), "[s]\nj = 3\n",
         IniEditStatus::absent},
        {"uncomment: the comment character and blanks after it go", "php",
         "[PHP]\n;extension=bz2\n;  extension=sodium ; fast\n", uncomment("PHP", "extension", "sodium"),
         "[PHP]\n;extension=bz2\nextension=sodium ; fast\n"},
        {"uncomment: the last of the key without a value", "php", "[PHP]\n;extension=bz2\n;extension=zip\n",
         uncomment("PHP", "extension"), "[PHP]\n;extension=bz2\nextension=zip\n"},
        {"uncomment: indentation stays", "systemd", "[Service]\n  # ExecStart=/bin/true\n",
         uncomment("Service", "ExecStart"), "[Service]\n  ExecStart=/bin/true\n"},
        {"uncomment: refused where the owner would reject the line", "systemd", ";k = 1\n[s]\n",
         uncomment("", "k"), ";k = 1\n[s]\n", IniEditStatus::refused},
        {"uncomment: refused where a deeper line after it would become its continuation", "python",
         "[s]\n;k = 1\n  j = 2\n", uncomment("s", "k"), "[s]\n;k = 1\n  j = 2\n", IniEditStatus::refused},
        {"uncomment: only in its section", "classic", "[a]\n;k = 1\n[b]\n", uncomment("b", "k"),
         "[a]\n;k = 1\n[b]\n", IniEditStatus::absent},
        {"uncomment: no value matches", "classic", "[s]\n;k = 1\n", uncomment("s", "k", "2"), "[s]\n;k = 1\n",
         IniEditStatus::absent},
        {"uncomment: refused where it would continue another key", "python",
         "[s]\na = 1\n    #k = 2\nb = 3\n", uncomment("s", "k"), "[s]\na = 1\n    #k = 2\nb = 3\n",
         IniEditStatus::refused},
        {"set: a new key goes after its commented-out line, in its style", "classic",
         "[PHP]\n; Maximum memory\n;memory_limit=128M\n\nother = 1\n", set("PHP", "memory_limit", "256M"),
         "[PHP]\n; Maximum memory\n;memory_limit=128M\nmemory_limit=256M\n\nother = 1\n"},
        {"add: the same", "mysql", "[mysqld]\n#port = 3306\nuser = mysql\n", add("mysqld", "port", "3307"),
         "[mysqld]\n#port = 3306\nport = 3307\nuser = mysql\n"},
        {"set: then the next new key still goes after the last key", "classic", "[s]\n;k = 1\na = 1\n",
         Edit([](IniEditor& e) {
             e.write("s", "k", "2");
             return e.write("s", "z", "3");
         }),
         "[s]\n;k = 1\nk = 2\na = 1\nz = 3\n"},
        {"set: no deeper than the key before it", "python", "[s]\na = 1\n    #k = 2\nb = 3\n",
         set("s", "k", "9"), "[s]\na = 1\n    #k = 2\nk = 9\nb = 3\n"},
        {"set comment: replaces the lines above", "classic", "[s]\n; old\n; older\n  k = 1\n",
         setComment("s", "k", "new\n\nlines"), "[s]\n  ; new\n  ;\n  ; lines\n  k = 1\n"},
        {"set comment: an empty text removes them", "desktop", "[G]\n# doc\nK=1\n", setComment("G", "K", ""),
         "[G]\nK=1\n"},
        {"set comment: CRLF kept", "python", "[s]\r\nk = 1\r\n", setComment("s", "k", "doc"),
         "[s]\r\n# doc\r\nk = 1\r\n"},
        {"set comment: unchanged", "classic", "[s]\n;  doc\nk = 1\n", setComment("s", "k", "doc"),
         "[s]\n;  doc\nk = 1\n", IniEditStatus::unchanged},
        {"set comment: a section's", "classic", "; top\n[s]\nk = 1\n",
         Edit([](IniEditor& e) { return e.setSectionComment("s", "about s"); }), "; about s\n[s]\nk = 1\n"},
        {"inline: replaced in place", "classic", "[s]\nk = 1   ; old\r\n", setInline("s", "k", "new"),
         "[s]\nk = 1   ; new\r\n"},
        {"inline: added after the value", "mysql", "[s]\nk = 1\n", setInline("s", "k", "note"),
         "[s]\nk = 1 # note\n"},
        {"inline: removed with the blanks before it", "php", "[s]\nk = \"a\"  ; c\n", setInline("s", "k", ""),
         "[s]\nk = \"a\"\n"},
        {"inline: none in this format", "python", "[s]\nk = 1\n", setInline("s", "k", "x"), "[s]\nk = 1\n",
         IniEditStatus::refused},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        IniEditor editor(c.before, preset(c.dialect));
        const ini::IniEditResult result = c.edit(editor);
        EXPECT_EQ(result.status, c.status) << result.reason;
        EXPECT_EQ(editor.text(), c.after);
        // A fresh reading agrees with the edited editor.
        const IniEditor fresh(editor.text(), preset(c.dialect));
        EXPECT_EQ(fresh.allEntries(), editor.allEntries());
    }
}

TEST(Comments, ReadAsTextAndRaw) {
    const IniEditor editor("; about s\n[s]\n; first\n;   second line\r\nk = v ;  inline\nbare = 1\n");
    const auto key = editor.comment("s", "k");
    ASSERT_TRUE(key.has_value());
    EXPECT_EQ(key->lines, (Values{"first", "second line"}));
    EXPECT_EQ(key->raw, "; first\n;   second line\r\n");
    EXPECT_EQ(key->inlineText, "inline");
    EXPECT_EQ(key->inlineRaw, ";  inline");
    EXPECT_EQ(editor.comment("s", "bare")->lines, Values{});
    EXPECT_EQ(editor.comment("s", "bare")->inlineRaw, "");
    EXPECT_FALSE(editor.comment("s", "missing").has_value());
    EXPECT_EQ(editor.sectionComment("s")->lines, Values{"about s"});
    EXPECT_FALSE(editor.sectionComment("t").has_value());
}
