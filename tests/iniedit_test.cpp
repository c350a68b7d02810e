// The built iniedit, run as a user runs it: in a directory of its own, with
// files compared byte for byte before and after, and what it printed and the
// exit status checked.
#include "scratch_dir.h"
#include "test_support.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <utime.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

struct Result {
    int status;
    std::string out;
    std::string err;
};

std::string shellQuoted(const std::string& word) {
    std::string out = "'";
    for (const char c : word) {
        out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    }
    return out + "'";
}

struct Case {
    const char* name;
    std::string before;  // f.ini before
    std::vector<std::string> args;
    int status;
    std::string out;
    std::string after;     // f.ini after
    std::string err = "";  // the start of standard error
    std::string input = "";
};

class IniEdit : public ScratchDirTest {
protected:
    // Runs iniedit with `args` in the scratch directory, `input` on its
    // standard input.
    Result run(const std::vector<std::string>& args, const std::string& input = "") const {
        put(".stdin", input);
        std::string command = "cd " + shellQuoted(dir_.string()) + " && " + shellQuoted(INIEDIT_PATH);
        for (const auto& arg : args) {
            command += " " + shellQuoted(arg);
        }
        command += " <.stdin >.stdout 2>.stderr";
        const int status = std::system(command.c_str());
        return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, contents(".stdout"), contents(".stderr")};
    }

    // Runs each case on a fresh f.ini.
    void expectRuns(const std::vector<Case>& cases) const {
        for (const auto& c : cases) {
            SCOPED_TRACE(c.name);
            put("f.ini", c.before);
            const Result r = run(c.args, c.input);
            EXPECT_EQ(r.status, c.status);
            EXPECT_EQ(ini_test::escaped(r.out), ini_test::escaped(c.out));
            EXPECT_EQ(ini_test::escaped(contents("f.ini")), ini_test::escaped(c.after));
            EXPECT_EQ(r.err.substr(0, c.err.size()), c.err);
            // exists and -q say nothing for status 1.
            const bool silent =
                c.status == 1 &&
                (std::find(c.args.begin(), c.args.end(), "exists") != c.args.end() || c.args.front() == "-q");
            if (c.status != 0 && !silent) {
                EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;  // one line
            } else if (c.err.empty()) {
                EXPECT_EQ(r.err, "");
            }
        }
    }
};

TEST_F(IniEdit, GetAndExists) {
    const std::string text = "top = 1\n[s]\n  key=val   ; c\nk = 1\nk = 2\nflag-without-equals\nempty =\n";
    expectRuns({
        {"a value", text, {"get", "f.ini", "s", "key"}, 0, "val\n", text},
        {"the first of repeated keys", text, {"get", "f.ini", "s", "k"}, 0, "1\n", text},
        {"above the first header", text, {"get", "f.ini", "", "top"}, 0, "1\n", text},
        {"absent key",
         text,
         {"get", "f.ini", "s", "x"},
         1,
         "",
         text,
         "iniedit: f.ini: no key 'x' in section 's'"},
        {"an empty value is absent", text, {"get", "f.ini", "s", "empty"}, 1, "", text},
        {"case matters", text, {"get", "f.ini", "S", "key"}, 1, "", text},
        {"exists: key", text, {"exists", "f.ini", "s", "key"}, 0, "", text},
        {"exists: absent key, silently", text, {"exists", "f.ini", "s", "x"}, 1, "", text},
        {"exists: section", text, {"exists", "f.ini", "s"}, 0, "", text},
        {"exists: absent section", text, {"exists", "f.ini", "t"}, 1, "", text},
        {"-q: no message", text, {"-q", "get", "f.ini", "s", "x"}, 1, "", text},
    });
}

TEST_F(IniEdit, SetKeepsEverythingElse) {
    expectRuns({
        {"CRLF, BOM, indentation, inline comment",
         "\xEF\xBB\xBF; top\r\n[s]\r\n  key=val   ; c\r\n",
         {"set", "f.ini", "s", "key", "new"},
         0,
         "",
         "\xEF\xBB\xBF; top\r\n[s]\r\n  key=new   ; c\r\n"},
        {"a new key in the k=v style",
         "[s]\na=1\n\n[t]\n",
         {"set", "f.ini", "s", "b", "2"},
         0,
         "",
         "[s]\na=1\nb=2\n\n[t]\n"},
        {"a new section",
         "[s]\na = 1\n",
         {"set", "f.ini", "t", "b", "x;y"},
         0,
         "",
         "[s]\na = 1\n[t]\nb = \"x;y\"\n"},
        {"repeated keys and sections: the first",
         "[s]\nk = 1\n[t]\n[s]\nk = 2\n",
         {"set", "f.ini", "s", "k", "9"},
         0,
         "",
         "[s]\nk = 9\n[t]\n[s]\nk = 2\n"},
        {"lines without = stay",
         "[mysqld]\nskip-external-locking\nport = 1\n",
         {"set", "f.ini", "mysqld", "port", "2"},
         0,
         "",
         "[mysqld]\nskip-external-locking\nport = 2\n"},
        {"above the first header",
         "a = 1\n[s]\n",
         {"set", "f.ini", "", "b", "2"},
         0,
         "",
         "a = 1\nb = 2\n[s]\n"},
        {"a value that looks like an option",
         "[s]\nk = 1\n",
         {"set", "f.ini", "s", "k", "-5"},
         0,
         "",
         "[s]\nk = -5\n"},
        {"--existing: absent key",
         "[s]\n",
         {"--existing", "set", "f.ini", "s", "k", "v"},
         1,
         "",
         "[s]\n",
         "iniedit: f.ini: no key 'k'"},
        {"--existing: present key",
         "[s]\nk = 1\n",
         {"--existing", "set", "f.ini", "s", "k", "2"},
         0,
         "",
         "[s]\nk = 2\n"},
        {"other comment character",
         "# c\n[s]\nk = a;b # n\n",
         {"-c", "#", "set", "f.ini", "s", "k", "x;y"},
         0,
         "",
         "# c\n[s]\nk = x;y # n\n"},
    });
}

TEST_F(IniEdit, Delete) {
    const std::string text = "[a]\n; doc\nk = 1\nj = 2\n\n; about b\n[b]\nx = 1\n";
    expectRuns({
        {"a key", text, {"del", "f.ini", "a", "k"}, 0, "", "[a]\n; doc\nj = 2\n\n; about b\n[b]\nx = 1\n"},
        {"a section", text, {"del", "f.ini", "a"}, 0, "", "\n; about b\n[b]\nx = 1\n"},
        {"absent: nothing to do", text, {"del", "f.ini", "a", "zz"}, 0, "", text},
        {"absent with --existing",
         text,
         {"--existing", "del", "f.ini", "c"},
         1,
         "",
         text,
         "iniedit: f.ini: no section 'c'"},
    });
}

TEST_F(IniEdit, ListAndFormats) {
    const std::string text =
        "[s]\nk = it's\nj = \"a;b\"\n[t]\n[odd name]\nbad-key = 1\nu = caf\xC3\xA9\t\xFF\n";
    expectRuns({
        {"sections", text, {"list", "f.ini"}, 0, "s\nt\nodd name\n", text},
        {"keys", text, {"list", "f.ini", "s"}, 0, "k\nj\n", text},
        {"NUL-separated", text, {"-0", "list", "f.ini", "s"}, 0, std::string("k\0j\0", 4), text},
        {"absent section", text, {"list", "f.ini", "x"}, 1, "", text},
        {"sh: get", text, {"--format=sh", "get", "f.ini", "s", "k"}, 0, "k='it'\\''s'\n", text},
        {"sh: keys", text, {"--format=sh", "list", "f.ini", "s"}, 0, "k='it'\\''s'\nj='a;b'\n", text},
        {"sh: sections", text, {"--format=sh", "list", "f.ini"}, 0, "'s'\n't'\n'odd name'\n", text},
        {"sh: a key that is no shell name",
         text,
         {"--format=sh", "list", "f.ini", "odd name"},
         3,
         "",
         text,
         "iniedit: f.ini: key 'bad-key' is not a shell variable name"},
        {"json: get, escapes and bytes that are not UTF-8",
         text,
         {"--format=json", "get", "f.ini", "odd name", "u"},
         0,
         "\"caf\xC3\xA9\\u0009\\ufffd\"\n",
         text},
        {"json: keys",
         text,
         {"--format=json", "list", "f.ini", "s"},
         0,
         "{\"k\":\"it's\",\"j\":\"a;b\"}\n",
         text},
        {"json: sections", text, {"--format=json", "list", "f.ini"}, 0, "[\"s\",\"t\",\"odd name\"]\n", text},
    });
}

TEST_F(IniEdit, BatchIsOneLoadAndOneSave) {
    const std::string text = "[s]\nk = 1\n";
    expectRuns({
        {"several operations",
         text,
         {"batch", "f.ini"},
         0,
         "",
         "[s]\nk = 2\nv = a\tb\n",
         "",
         "# comment\nset\ts\tk\t2\n\nset\ts\tv\ta\tb\r\nset\tt\tx\t1\ndel\tt\n"},
        {"a bad line: nothing written",
         text,
         {"batch", "f.ini"},
         2,
         "",
         text,
         "iniedit: f.ini: batch line 2: ",
         "set\ts\tk\t2\nset\ts\n"},
        {"a refused value: nothing written",
         text,
         {"batch", "f.ini"},
         3,
         "",
         text,
         "iniedit: f.ini: batch line 2: an empty value",
         "set\ts\tk\t2\nset\ts\tk\t\n"},
    });
}

TEST_F(IniEdit, StandardInputAndOutput) {
    expectRuns({
        {"FILE - edits standard input to standard output",
         "[s]\n",
         {"set", "-", "s", "k", "v"},
         0,
         "[s]\nk = v\n",
         "[s]\n",
         "",
         "[s]\nk = 1\n"},
        {"get from standard input", "", {"get", "-", "s", "k"}, 0, "1\n", "", "", "[s]\nk = 1\n"},
        {"-o -",
         "[s]\nk = 1\n",
         {"-o", "-", "set", "f.ini", "s", "k", "2"},
         0,
         "[s]\nk = 2\n",
         "[s]\nk = 1\n"},
        {"--dry-run",
         "[s]\nk = 1\n",
         {"--dry-run", "set", "f.ini", "s", "k", "2"},
         0,
         "",
         "[s]\nk = 1\n",
         "changed\n"},
        {"--dry-run, nothing to change",
         "[s]\nk = 1\n",
         {"--dry-run", "set", "f.ini", "s", "k", "1"},
         0,
         "",
         "[s]\nk = 1\n",
         "unchanged\n"},
    });
    put("f.ini", "[s]\nk = 1\n");
    EXPECT_EQ(run({"-o", "other.ini", "set", "f.ini", "s", "k", "2"}).status, 0);
    EXPECT_EQ(contents("other.ini"), "[s]\nk = 2\n");
    EXPECT_EQ(contents("f.ini"), "[s]\nk = 1\n");
}

TEST_F(IniEdit, RefusalsAndUsageErrors) {
    const std::string text = "[s]\nk = 1\n";
    expectRuns({
        {"a newline in a value",
         text,
         {"set", "f.ini", "s", "k", "a\nb"},
         3,
         "",
         text,
         "iniedit: f.ini: a value cannot hold a newline"},
        {"an empty value", text, {"set", "f.ini", "s", "k", ""}, 3, "", text},
        {"a key holding =", text, {"set", "f.ini", "s", "a=b", "v"}, 3, "", text},
        {"a section holding ]", text, {"set", "f.ini", "a]b", "k", "v"}, 3, "", text},
        {"NUL bytes",
         std::string("[s]\0\n", 5),
         {"get", "f.ini", "s", "k"},
         3,
         "",
         std::string("[s]\0\n", 5),
         "iniedit: f.ini: holds NUL bytes"},
        {"UTF-16",
         std::string("\xFF\xFE[\0s\0]\0", 8),
         {"get", "f.ini", "s", "k"},
         3,
         "",
         std::string("\xFF\xFE[\0s\0]\0", 8),
         "iniedit: f.ini: UTF-16"},
        {"unknown verb", text, {"frob", "f.ini"}, 2, "", text, "iniedit: unknown verb 'frob'"},
        {"unknown option", text, {"--frob", "get", "f.ini", "s", "k"}, 2, "", text},
        {"too few arguments", text, {"set", "f.ini", "s", "k"}, 2, "", text},
        {"too many arguments", text, {"get", "f.ini", "s", "k", "x"}, 2, "", text},
        {"an option after the verb is an argument", text, {"get", "f.ini", "s", "-q"}, 1, "", text},
        {"no verb", text, {}, 2, "", text},
    });
    EXPECT_EQ(run({"--version"}).out, "iniedit 0.1.0\n");
    EXPECT_EQ(run({"--help"}).status, 0);
}

TEST_F(IniEdit, Files) {
    // Missing files: an error unless --create, which makes one.
    EXPECT_EQ(run({"set", "new.ini", "s", "k", "v"}).status, 4);
    EXPECT_FALSE(std::filesystem::exists(path("new.ini")));
    EXPECT_EQ(run({"get", "new.ini", "s", "k"}).err,
              "iniedit: new.ini: No such file or directory (--create allows a new file)\n");
    const mode_t mask = ::umask(022);
    EXPECT_EQ(run({"--create", "set", "new.ini", "s", "k", "v"}).status, 0);
    ::umask(mask);
    EXPECT_EQ(contents("new.ini"), "[s]\nk = v\n");
    struct stat info {};
    ASSERT_EQ(::stat(path("new.ini").c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0644U);

    // Not a regular file.
    std::filesystem::create_directory(path("dir.ini"));
    EXPECT_EQ(run({"get", "dir.ini", "s", "k"}).status, 3);

    // A symbolic link stays a link; the mode of the file stays.
    put("target.ini", "[s]\nk = 1\n");
    ASSERT_EQ(::chmod(path("target.ini").c_str(), 0600), 0);
    std::filesystem::create_symlink("target.ini", path("link.ini"));
    EXPECT_EQ(run({"set", "link.ini", "s", "k", "2"}).status, 0);
    EXPECT_TRUE(std::filesystem::is_symlink(path("link.ini")));
    EXPECT_EQ(contents("target.ini"), "[s]\nk = 2\n");
    ASSERT_EQ(::stat(path("target.ini").c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600U);

    // A hard-linked file: refused unless --in-place, which keeps the link.
    put("a.ini", "[s]\nk = 1\n");
    std::filesystem::create_hard_link(path("a.ini"), path("b.ini"));
    const Result refused = run({"set", "a.ini", "s", "k", "2"});
    EXPECT_EQ(refused.status, 3);
    EXPECT_NE(refused.err.find("--in-place"), std::string::npos);
    EXPECT_EQ(run({"--in-place", "set", "a.ini", "s", "k", "2"}).status, 0);
    EXPECT_EQ(contents("b.ini"), "[s]\nk = 2\n");

    // Nothing to change: nothing written, the modification time stays.
    put("same.ini", "[s]\nk = \"1\"\n");
    const utimbuf old{1000000000, 1000000000};
    ASSERT_EQ(::utime(path("same.ini").c_str(), &old), 0);
    EXPECT_EQ(run({"set", "same.ini", "s", "k", "1"}).status, 0);
    ASSERT_EQ(::stat(path("same.ini").c_str(), &info), 0);
    EXPECT_EQ(info.st_mtime, 1000000000);
}

TEST_F(IniEdit, ConcurrentEditsAllLand) {
    // Without the lock, runs that read the same old text would overwrite
    // each other's key.
    put("f.ini", "[s]\n");
    std::string command = "cd " + shellQuoted(dir_.string()) + " && for i in $(seq 1 12); do " +
                          shellQuoted(INIEDIT_PATH) + " set f.ini s k$i $i & done; wait";
    ASSERT_EQ(std::system(command.c_str()), 0);
    const std::string text = contents("f.ini");
    for (int i = 1; i <= 12; ++i) {
        EXPECT_NE(text.find("k" + std::to_string(i) + " = " + std::to_string(i) + "\n"), std::string::npos)
            << i;
    }
}

// Sampled keys of every real file: set, then get gives the value, and
// exactly one line differs.
TEST_F(IniEdit, RealFiles) {
    int edits = 0;
    for (const auto& file : ini_test::corpusFiles(INI_CORPUS_DIR)) {
        SCOPED_TRACE(file.path);
        const std::string commentChar(1, file.commentChar);
        const auto doc = ini_test::loadText(file.text, file.commentChar);
        std::vector<std::pair<std::string, std::string>> keys;
        for (const auto& section : doc.sectionOrder) {
            for (const auto& key : doc.sections.at(section).keyOrder) {
                keys.emplace_back(section, key);
            }
        }
        for (std::size_t i = 0; i < keys.size(); i += keys.size() / 3 + 1) {
            const auto& [section, key] = keys[i];
            SCOPED_TRACE(section + "/" + key);
            put("copy.ini", file.text);
            ASSERT_EQ(run({"-c", commentChar, "set", "copy.ini", section, key, "set by iniedit"}).status, 0);
            const Result got = run({"-c", commentChar, "get", "copy.ini", section, key});
            EXPECT_EQ(got.out, "set by iniedit\n");
            std::istringstream a(file.text);
            std::istringstream b(contents("copy.ini"));
            int differing = 0;
            std::string lineA;
            std::string lineB;
            while (std::getline(a, lineA)) {
                ASSERT_TRUE(std::getline(b, lineB));
                differing += lineA != lineB ? 1 : 0;
            }
            EXPECT_FALSE(std::getline(b, lineB));
            EXPECT_EQ(differing, 1);
            ++edits;
        }
    }
    EXPECT_GT(edits, 100);
}

}  // namespace
