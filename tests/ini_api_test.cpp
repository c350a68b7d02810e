// The ini_ functions over the one current document: opening, reading,
// closing and the comment character for later opens.
#include "Launcher.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

namespace {

// Each test starts with no document open and the default comment character,
// and works in a directory of its own.
class IniApi : public ::testing::Test {
protected:
    void SetUp() override {
        ini_close();
        ini_set_comment_char(';');
        dir_ = std::filesystem::temp_directory_path() /
               ("ini_api_test_" + std::to_string(::getpid()) + "_" +
                ::testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::create_directories(dir_);
    }
    void TearDown() override {
        ini_close();
        std::filesystem::remove_all(dir_);
    }
    std::string file(const std::string& name, const std::string& text) const {
        const auto path = (dir_ / name).string();
        std::ofstream(path, std::ios::binary) << text;
        return path;
    }
    std::string missing() const { return (dir_ / "missing.ini").string(); }

    std::filesystem::path dir_;
};

TEST_F(IniApi, ReadsWithoutDocumentGiveDefaults) {
    EXPECT_EQ(ini_read_string("s", "k", "d"), "d");
    EXPECT_EQ(ini_read_real("s", "k", 2.5F), 2.5F);
    ini_close();  // closing with nothing open does nothing
    EXPECT_EQ(ini_read_string("s", "k", "d"), "d");
}

TEST_F(IniApi, OpenReadsFileAndCloseDiscardsIt) {
    const auto path = file("a.ini", "[s]\nk = v\nn = 1.5\nt = abc\n");
    ini_open(path);
    EXPECT_EQ(ini_read_string("s", "k", "d"), "v");
    EXPECT_EQ(ini_read_string("s", "x", "d"), "d");
    EXPECT_EQ(ini_read_real("s", "n", 0), 1.5F);
    EXPECT_EQ(ini_read_real("s", "t", 9), 0.0F);  // not numeric: 0, not the default
    EXPECT_EQ(ini_read_real("s", "x", 9), 9.0F);
    ini_close();
    EXPECT_EQ(ini_read_string("s", "k", "d"), "d");
}

TEST_F(IniApi, MissingFileOpensEmptyDocument) {
    ini_open(missing());
    EXPECT_EQ(ini_read_string("s", "k", "d"), "d");
    EXPECT_EQ(ini_read_real("s", "k", 3), 3.0F);
}

TEST_F(IniApi, DirectoryOpensEmptyDocument) {
    ini_open(dir_.string());
    EXPECT_EQ(ini_read_string("s", "k", "d"), "d");
}

TEST_F(IniApi, ReopeningReplacesRatherThanMerges) {
    const auto a = file("a.ini", "[s]\nk = 1\nonly_a = x\n");
    const auto b = file("b.ini", "[s]\nk = 2\n");
    ini_open(a);
    ini_open(a);
    EXPECT_EQ(ini_read_string("s", "k", "d"), "1");
    ini_open(b);
    EXPECT_EQ(ini_read_string("s", "k", "d"), "2");
    EXPECT_EQ(ini_read_string("s", "only_a", "d"), "d");
}

TEST_F(IniApi, OpenWithEmptyNameLeavesNothingOpen) {
    ini_open(file("a.ini", "[s]\nk = v\n"));
    ini_open("");
    EXPECT_EQ(ini_read_string("s", "k", "d"), "d");
}

TEST_F(IniApi, OpenFromString) {
    ini_open_from_string("[s]\nk = v\n");
    EXPECT_EQ(ini_read_string("s", "k", "d"), "v");
    ini_open_from_string("");
    EXPECT_EQ(ini_read_string("s", "k", "d"), "d");
}

TEST_F(IniApi, CommentCharAppliesFromNextOpen) {
    const std::string text = "[s]\na = x # c\nb = y ; c\n";
    ini_open_from_string(text);
    ini_set_comment_char('#');
    EXPECT_EQ(ini_read_string("s", "a", "d"), "x # c");  // the open document is not parsed again
    ini_open_from_string(text);
    EXPECT_EQ(ini_read_string("s", "a", "d"), "x");
    EXPECT_EQ(ini_read_string("s", "b", "d"), "y ; c");
    ini_open(file("c.ini", text));
    EXPECT_EQ(ini_read_string("s", "a", "d"), "x");
}

}  // namespace
