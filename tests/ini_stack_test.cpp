// Stacks of files: how each preset finds its files and how the values of
// several files merge. stack_differential.py compares both with the owners
// themselves; these cases pin the rules where no owner runs (and on
// Windows).
#include "IniStack.h"
#include "scratch_dir.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using ini::IniDialect;
using ini::IniStack;
using ini::IniStackFile;
using Files = std::vector<std::pair<std::string, std::string>>;

// Layers from texts: the value a lookup gives, every value in effect, and
// the file and line that decide.
TEST(Stack, LayersMergeAsTheirOwnerMerges) {
    struct Case {
        const char* name;
        const char* dialect;
        Files files;
        const char* section;
        const char* key;
        std::optional<std::string> value;
        std::vector<std::string> values;
        std::string decides;  // "file:line"
    };
    const Case cases[] = {
        {"the later file wins",
         "python",
         {{"a", "[s]\nk = 1\n"}, {"b", "[s]\nk = 2\n"}},
         "s",
         "k",
         "2",
         {"2"},
         "b:2"},
        {"names as the owner compares them",
         "python",
         {{"a", "[s]\nKey = 1\n"}, {"b", "[s]\nKEY = 2\n"}},
         "s",
         "key",
         "2",
         {"2"},
         "b:2"},
        {"DEFAULT of another file is seen",
         "python",
         {{"a", "[DEFAULT]\nk = 1\n"}, {"b", "[s]\nj = 2\n"}},
         "s",
         "k",
         "1",
         {"1"},
         "a:2"},
        {"a section's own key before DEFAULT",
         "python",
         {{"a", "[s]\nk = 1\n"}, {"b", "[DEFAULT]\nk = 2\n"}},
         "s",
         "k",
         "1",
         {"1"},
         "a:2"},
        {"first value of the last file under classic",
         "classic",
         {{"a", "[s]\nk = 1\n"}, {"b", "[s]\nk = 2\nk = 3\n"}},
         "s",
         "k",
         "2",
         {"2"},
         "b:2"},
        {"systemd lists accumulate across files",
         "systemd",
         {{"a", "[S]\nE=1\n"}, {"b", "[S]\nE=2\n"}},
         "S",
         "E",
         "2",
         {"1", "2"},
         "b:2"},
        {"an empty assignment resets the list",
         "systemd",
         {{"a", "[S]\nE=1\n"}, {"b", "[S]\nE=\nE=3\n"}},
         "S",
         "E",
         "3",
         {"3"},
         "b:3"},
        {"a missing layer is skipped",
         "python",
         {{"a", "[s]\nk = 1\n"}},
         "s",
         "absent",
         std::nullopt,
         {},
         ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        IniDialect dialect;
        ASSERT_TRUE(IniDialect::byName(c.dialect, dialect));
        const IniStack stack = IniStack::fromTexts(c.files, dialect);
        EXPECT_EQ(stack.value(c.section, c.key), c.value);
        EXPECT_EQ(stack.values(c.section, c.key), c.values);
        if (const ini::IniStackKey* key = stack.find(c.section, c.key)) {
            const ini::IniOrigin& line = key->lines[key->deciding()];
            EXPECT_EQ(stack.files()[line.file].path + ":" + std::to_string(line.line), c.decides);
        }
    }
}

class StackFiles : public ScratchDirTest {
protected:
    std::string put(const std::string& name, const std::string& text) const {
        std::filesystem::create_directories(std::filesystem::path(path(name)).parent_path());
        return ScratchDirTest::put(name, text);
    }

    // "path<TAB>state" of each file, paths under the scratch directory.
    std::vector<std::string> listed(const IniStack& stack) const {
        std::vector<std::string> out;
        for (const IniStackFile& file : stack.files()) {
            std::string line =
                file.path.substr(dir_.string().size()) + " " + ini::stackFileStateName(file.state);
            line += file.maskedBy.empty() ? "" : " by " + file.maskedBy.substr(dir_.string().size());
            out.push_back(line);
        }
        return out;
    }

    ini::IniStackOptions options(ini::IniStackKind kind, const std::string& name) const {
        ini::IniStackOptions o;
        o.kind = kind;
        o.name = name;
        o.root = dir_.string();
        return o;
    }
};

// A unit's drop-ins: of one file name the first found, in each directory
// of the search path the unit's own before its prefixes, and the type's
// after all of them; sorted together by name.
TEST_F(StackFiles, UnitDropIns) {
    put("usr/lib/systemd/system/a-b.service", "[Service]\nX=main\n");
    put("etc/systemd/system/a-b.service.d/20.conf", "[Service]\nX=etc\n");
    put("usr/lib/systemd/system/a-.service.d/20.conf", "[Service]\nX=prefix\n");
    put("run/systemd/system/a-.service.d/10.conf", "[Service]\nX=run-prefix\n");
    put("usr/lib/systemd/system/a-b.service.d/10.conf", "[Service]\nX=lib\n");
    put("etc/systemd/system/service.d/30.conf", "[Service]\nX=type\n");
    put("etc/systemd/system/service.d/10.conf", "[Service]\nX=type-10\n");
    const IniStack stack = IniStack::open(options(ini::IniStackKind::systemdUnit, "a-b.service"));
    const std::string masked = " masked by ";
    EXPECT_EQ(listed(stack), (std::vector<std::string>{
                                 "/usr/lib/systemd/system/a-b.service read",
                                 "/run/systemd/system/a-.service.d/10.conf read",
                                 "/usr/lib/systemd/system/a-b.service.d/10.conf" + masked +
                                     "/run/systemd/system/a-.service.d/10.conf",
                                 "/etc/systemd/system/service.d/10.conf" + masked +
                                     "/run/systemd/system/a-.service.d/10.conf",
                                 "/etc/systemd/system/a-b.service.d/20.conf read",
                                 "/usr/lib/systemd/system/a-.service.d/20.conf" + masked +
                                     "/etc/systemd/system/a-b.service.d/20.conf",
                                 "/etc/systemd/system/service.d/30.conf read",
                             }));
    EXPECT_EQ(stack.value("Service", "X"), "type");
}

// A *.conf: the first main file found, every drop-in after it; a link to
// /dev/null masks a drop-in of its name.
TEST_F(StackFiles, ConfDropInsAndMasks) {
    put("usr/lib/systemd/j.conf", "[J]\nA=vendor\n");
    put("usr/lib/systemd/j.conf.d/10.conf", "[J]\nA=ten\n");
    put("usr/lib/systemd/j.conf.d/20.conf", "[J]\nA=twenty\n");
    std::filesystem::create_directories(path("etc/systemd/j.conf.d"));
#ifdef _WIN32
    put("etc/systemd/j.conf.d/20.conf", "");  // an empty file masks as well
#else
    std::filesystem::create_symlink("/dev/null", path("etc/systemd/j.conf.d/20.conf"));
#endif
    const IniStack stack = IniStack::open(options(ini::IniStackKind::systemdConf, "j.conf"));
    EXPECT_EQ(stack.value("J", "A"), "ten");
    EXPECT_EQ(listed(stack).back(),
              "/usr/lib/systemd/j.conf.d/20.conf masked by /etc/systemd/j.conf.d/20.conf");
}

// php.ini, then each scan directory in order, *.ini only (dot files too),
// by byte order; one namespace, but for [PATH=...] to the end of its file.
TEST_F(StackFiles, PhpScanDirectories) {
    const std::string main =
        put("php.ini", "[PHP]\na = main\n[PATH=/srv]\nb = special\n[PHP]\nc = special\n");
    put("one/B.ini", "a = B\n");
    put("one/a.ini", "a = a\n");
    put("one/.z.ini", "d = dot\n");
    put("one/x.ini.bak", "a = bak\n");
    put("two/c.ini", "[Date]\nc = two\n");
    ini::IniStackOptions o = options(ini::IniStackKind::php, "/php.ini");
    o.scanDirs = "/one:/two";
    const IniStack stack = IniStack::open(o);
    EXPECT_EQ(stack.value("PHP", "a"), "a");
    EXPECT_EQ(stack.value("PHP", "b"), std::nullopt);
    EXPECT_EQ(stack.value("PATH=/srv", "c"), "special");
    EXPECT_EQ(stack.value("PHP", "c"), "two");
    EXPECT_EQ(stack.value("PHP", "d"), "dot");
    EXPECT_EQ(stack.files().size(), 5U);
    o.scanDirs = "";  // set and empty: no scan directory at all
    EXPECT_EQ(IniStack::open(o).files().size(), 1U);
    (void)main;
}

// MariaDB's includes, read at the line; a missing !include is skipped, a
// missing !includedir stops the owner; ten files deep at most.
TEST_F(StackFiles, MysqlIncludes) {
    // Paths in includes are taken under the root, as the stack's own are.
    put("my.cnf", "[mysqld]\nport = 1\n!includedir /conf.d\nuser = main\n!include /none.cnf\n");
    put("conf.d/b.cnf", "[mysqld]\nport = 3\nuser = b\n");
    put("conf.d/A.cnf", "[mysqld]\nport = 2\n");
    put("conf.d/c.ini", "[mysqld]\nport = 9\n");
    ini::IniStackOptions o = options(ini::IniStackKind::mysql, "/my.cnf");
    std::string error;
    IniStack stack = IniStack::open(o, &error);
    EXPECT_EQ(error, "");
    EXPECT_EQ(stack.value("mysqld", "port"), "3");
    EXPECT_EQ(stack.value("MYSQLD", "user"), "main");
    EXPECT_EQ(stack.files()[1].includedFrom, o.root + "/my.cnf");  // the stack's own spelling
    EXPECT_EQ(stack.files()[1].includedLine, 3U);
    EXPECT_EQ(stack.files().back().state, IniStackFile::State::missing);

    put("my.cnf", "[mysqld]\n!includedir /nowhere\n");
    stack = IniStack::open(o, &error);
    EXPECT_NE(error.find("no such directory"), std::string::npos) << error;

    for (int i = 0; i < 12; ++i) {
        put("c" + std::to_string(i) + ".cnf",
            "[mysqld]\nuser = " + std::to_string(i) + "\n!include /c" + std::to_string(i + 1) + ".cnf\n");
    }
    put("my.cnf", "[mysqld]\n!include /c0.cnf\n");
    stack = IniStack::open(o, &error);
    EXPECT_EQ(stack.value("mysqld", "user"), "9");  // my.cnf and ten nested files
}

// An edit is checked on texts that stand for files before they are written.
TEST_F(StackFiles, OverridesStandForFiles) {
    put("etc/systemd/j.conf", "[J]\nA=main\n");
    ini::IniStackOptions o = options(ini::IniStackKind::systemdConf, "j.conf");
    o.overrides[o.root + "/etc/systemd/j.conf.d/99.conf"] = "[J]\nA=override\n";
    EXPECT_EQ(IniStack::open(o).value("J", "A"), "override");
}

}  // namespace
