// The ini_ functions over the one current document: opening, reading,
// closing and the comment character for later opens.
#include "IniCurrentFile.h"
#include "scratch_dir.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

namespace {

// Each test starts with no document open and the default comment character,
// and works in a directory of its own.
class IniApi : public ScratchDirTest {
protected:
    void SetUp() override {
        ScratchDirTest::SetUp();
        ini_close();
        ini_set_comment_char(';');
    }
    void TearDown() override {
        ini_close();
        ScratchDirTest::TearDown();
    }
    std::string missing() const { return path("missing.ini"); }
};

TEST_F(IniApi, ReadsWithoutDocumentGiveDefaults) {
    EXPECT_EQ(ini_read_string("s", "k", "d"), "d");
    EXPECT_EQ(ini_read_real("s", "k", 2.5F), 2.5F);
    ini_close();  // closing with nothing open does nothing
    EXPECT_EQ(ini_read_string("s", "k", "d"), "d");
}

TEST_F(IniApi, OpenReadsFileAndCloseDiscardsIt) {
    const auto path = put("a.ini", "[s]\nk = v\nn = 1.5\nt = abc\n");
    ini_open(path);
    EXPECT_EQ(ini_read_string("s", "k", "d"), "v");
    EXPECT_EQ(ini_read_string("s", "x", "d"), "d");
    EXPECT_EQ(ini_read_real("s", "n", 0), 1.5F);
    EXPECT_EQ(ini_read_real("s", "t", 9), 0.0F);  // not numeric: 0, not the default
    EXPECT_EQ(ini_read_real("s", "x", 9), 9.0F);
    ini_close();
    EXPECT_EQ(ini_read_string("s", "k", "d"), "d");
}

// Reads alone cannot tell an empty document from none at all; an edit and
// the exported text can.
TEST_F(IniApi, UnreadableFilesOpenEmptyDocuments) {
    for (const std::string& name : {missing(), dir_.string()}) {
        SCOPED_TRACE(name);
        ini_open(name);
        EXPECT_EQ(ini_read_string("s", "k", "d"), "d");
        EXPECT_EQ(ini_read_real("s", "k", 3), 3.0F);
        EXPECT_FALSE(ini_section_exists("s"));
        ini_write_string("s", "k", "v");
        EXPECT_EQ(ini_full_file_text(), "[s]\nk = v\n");
        ini_close();
    }
}

TEST_F(IniApi, ReopeningReplacesRatherThanMerges) {
    const auto a = put("a.ini", "[s]\nk = 1\nonly_a = x\n");
    const auto b = put("b.ini", "[s]\nk = 2\n");
    ini_open(a);
    ini_open(a);
    EXPECT_EQ(ini_read_string("s", "k", "d"), "1");
    ini_open(b);
    EXPECT_EQ(ini_read_string("s", "k", "d"), "2");
    EXPECT_EQ(ini_read_string("s", "only_a", "d"), "d");
}

TEST_F(IniApi, OpenWithEmptyNameLeavesNothingOpen) {
    ini_open(put("a.ini", "[s]\nk = v\n"));
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
    ini_open(put("c.ini", text));
    EXPECT_EQ(ini_read_string("s", "a", "d"), "x");
}

TEST_F(IniApi, TestsAndExportWithoutDocumentAreNeutral) {
    EXPECT_FALSE(ini_key_exists("s", "k"));
    EXPECT_FALSE(ini_section_exists("s"));
    EXPECT_EQ(ini_full_file_text(), "");
}

using IniApiDeathTest = IniApi;

TEST_F(IniApiDeathTest, EditsWithoutDocumentEndTheProcessWithFailure) {
    using ::testing::ExitedWithCode;
    EXPECT_EXIT(ini_write_string("s", "k", "v"), ExitedWithCode(EXIT_FAILURE),
                "^ini_write_string: no INI document is open\n$");
    EXPECT_EXIT(ini_write_real("s", "k", 1), ExitedWithCode(EXIT_FAILURE),
                "^ini_write_real: no INI document is open\n$");
    EXPECT_EXIT(ini_key_delete("s", "k"), ExitedWithCode(EXIT_FAILURE),
                "^ini_key_delete: no INI document is open\n$");
    EXPECT_EXIT(ini_section_delete("s"), ExitedWithCode(EXIT_FAILURE),
                "^ini_section_delete: no INI document is open\n$");
}

TEST_F(IniApi, EditsOnMissingFileBuildADocumentInMemory) {
    ini_open(missing());
    ini_write_string("s", "k", "v");
    EXPECT_TRUE(ini_section_exists("s"));
    EXPECT_TRUE(ini_key_exists("s", "k"));
    EXPECT_FALSE(ini_key_exists("s", "K"));
    EXPECT_EQ(ini_full_file_text(), "[s]\nk = v\n");
    EXPECT_FALSE(std::filesystem::exists(missing()));  // nothing reaches a file
}

TEST_F(IniApi, ExportIsTheRenderingNotTheInput) {
    ini_open_from_string("; c\n[s]\ngarbage\nk=v;n\n");
    EXPECT_EQ(ini_full_file_text(), "; c\n[s]\ngarbage\nk = v ;n\n");
}

TEST_F(IniApi, CloseDiscardsEdits) {
    const auto path = put("a.ini", "[s]\nk = v\n[t]\nx = 1\n");
    ini_open(path);
    ini_write_string("s", "k", "changed");
    ini_key_delete("t", "x");
    ini_section_delete("s");
    EXPECT_EQ(ini_full_file_text(), "");
    ini_close();
    EXPECT_EQ(ini_full_file_text(), "");
    ini_open(path);
    EXPECT_EQ(ini_full_file_text(), "[s]\nk = v\n[t]\nx = 1\n");
}

TEST_F(IniApi, RealWriteStoresSixDigits) {
    ini_open_from_string("");
    ini_write_real("s", "pi", 3.14159265F);
    EXPECT_EQ(ini_read_string("s", "pi", ""), "3.14159");
    EXPECT_EQ(ini_read_real("s", "pi", 0), 3.14159F);
}

TEST_F(IniApi, ExportQuotesWithTheDocumentsOwnCommentChar) {
    ini_open_from_string("");  // last load with ';'
    ini_set_comment_char('#');
    ini_open(missing());  // nothing loaded: the document keeps ';'
    ini_write_string("s", "a", "x;y");
    ini_write_string("s", "b", "x#y");
    EXPECT_EQ(ini_full_file_text(), "[s]\na = \"x;y\"\nb = x#y\n");
    ini_open_from_string("");  // loaded: '#' now
    ini_write_string("s", "a", "x;y");
    ini_write_string("s", "b", "x#y");
    EXPECT_EQ(ini_full_file_text(), "[s]\na = x;y\nb = \"x#y\"\n");
}

}  // namespace
