// The INI document: the loader's grammar line kind by line kind, lookups,
// and the invariants on real files written by others.
#include "IniFileIndex.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <limits>
#include <sstream>
#include <string>
#include <vector>

namespace {

using ini_test::dump;
using ini_test::loadText;

struct LoadCase {
    const char* name;
    std::string input;
    std::string expected;  // dump() of the loaded document
};

void expectLoads(const std::vector<LoadCase>& cases, char commentChar = ';') {
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(dump(loadText(c.input, commentChar)), c.expected);
    }
}

using namespace std::string_literals;

TEST(Load, CommentAndEmptyLines) {
    expectLoads({
        {"empty input", "", ""},
        {"one comment", "; c\n", "T=; c\\n\n"},
        {"one newline alone", "\n", "T=\\n\n"},
        {"two newlines", "\n\n", "T=\\n\\n\n"},
        {"last line without newline", "; c", "T=; c\\n\n"},
        {"leading blanks kept", "  ; a\n\t; b\n", "T=  ; a\\n\\t; b\\n\n"},
        {"whitespace-only line is empty", " \t \n", "T= \\t \\n\n"},
        {"CRLF comments and blank lines", "; a\r\n\r\n; b\r\n", "T=; a\\r\\n\\r\\n; b\\r\\n\n"},
        {"other comment style is dropped", "# no\n; yes\n", "T=; yes\\n\n"},
        {"block before header", "; c\n\n[s]\n", "[s] c=; c\\n\\n\n"},
        {"block after last key", "[s]\nk=v\n; end\n", "[s]\n  k=v\nT=; end\\n\n"},
        {"comment holding =", "[s]\n; a = b\n", "[s]\nT=; a = b\\n\n"},
        {"block carries over dropped line", "; c\ngarbage\n[s]\nk = v\n",  // garbage has no '='
         "[s] c=; c\\n\n  k=v\n"},
        {"block goes to key over dropped line", "[s]\n; c\ngarbage\nk = v\n", "[s]\n  k=v c=; c\\n\n"},
        {"block lost on key line storing nothing", "[s]\n; c\nk =\nj = v\n", "[s]\n  j=v\n"},
        {"block lost on unclosed header", "; c\n[abc\n[s]\n", "[s]\n"},
    });
}

TEST(Load, HeaderLines) {
    expectLoads({
        {"name verbatim with blanks", "[ a ]\nk=v\n", "[ a ]\n  k=v\n"},
        {"text after ] ignored", "[a] trailing ; c\n", "[a]\n"},
        {"first ] ends the name", "[a]b]\n", "[a]\n"},
        {"empty name registered", "[]\nk=v\n", "[]\n  k=v\n"},
        {"trimmed line, CR dropped", "  [s]  \r\n", "[s]\n"},
        {"no ] keeps current section", "[s]\n[t\nk=v\n", "[s]\n  k=v\n"},
        {"[a=b is a header, not a key", "[a=b\n", ""},
        {"name with [ is current, not listed", "[a[b]\nk = v\n", "?[a[b]\n  k=v\n"},
        {"name with [ and no keys", "[a[b]\n", ""},
        {"case-sensitive names", "[S]\nk=1\n[s]\nk=2\n", "[S]\n  k=1\n[s]\n  k=2\n"},
        {"repeated header merges, its block is lost",
         "; 1\n[s]\na=1\n; 2\n[t]\n; 3\n[s]\nb=2\n", "[s] c=; 1\\n\n  a=1\n  b=2\n[t] c=; 2\\n\n"},
        {"keys before first header", "k=v\n[s]\n", "[s]\n?[]\n  k=v\n"},
        {"[] after keys before first header is not listed", "k=v\n[]\nj=w\n", "?[]\n  k=v\n  j=w\n"},
        {"BOM is not recognised", "\xEF\xBB\xBF[settings]\nk=v\n", "?[]\n  k=v\n"},
        {"NUL inside a name", "[a\0b]\nk=v\n"s, "[a\\0b]\n  k=v\n"},
    });
}

TEST(Load, KeyLines) {
    // Each input line follows "[s]\n"; the expected keys follow "[s]\n".
    const std::vector<LoadCase> lines = {
        {"inline comment", "name = value ; note", "  name=value i=; note\n"},
        {"comment char cuts the value", "name = a;b", "  name=a i=;b\n"},
        {"comment char first belongs to value", "name = ;x", "  name=;x\n"},
        {"two comment chars", "k = ;;x", "  k=; i=;x\n"},
        {"lone comment char after value", "k = v;", "  k=v i=;\n"},
        {"quoted then comment", "name = \"x\" ; c", "  name=x i=; c\n"},
        {"quoted keeps comment char", "name = \"a ; b\"", "  name=a ; b\n"},
        {"quoted keeps blanks", "k = \"  padded  \"", "  k=  padded  \n"},
        {"quoted, no blank before comment", "k=\"a\";c", "  k=a i=;c\n"},
        {"quoted, everything trimmed", "  x   =   \"abc\"   ;  c2", "  x=abc i=;  c2\n"},
        {"first = splits", "a=b=c", "  a=b=c\n"},
        {"empty key", "=v", "  =v\n"},
        {"tabs trimmed", "\tk\t=\tv\t", "  k=v\n"},
        {"CR trimmed", "k = v\r", "  k=v\n"},
        {"other comment style is value", "k = a # b", "  k=a # b\n"},
        {"NUL inside value", "k = a\0b"s, "  k=a\\0b\n"},
        {"empty value stores nothing", "name =", ""},
        {"empty quotes store nothing", "name = \"\"", ""},
        {"unclosed quote stores nothing", "name = \"abc", ""},
        {"text after quotes stores nothing", "k = \"a\" b", ""},
        {"no escapes inside quotes", "k = \"say \"hi\"\"", ""},
        {"empty quotes with comment: unlisted key", "k = \"\" ; c", "  ?k= i=; c\n"},
    };
    for (const auto& c : lines) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(dump(loadText("[s]\n" + c.input + "\n")), "[s]\n" + c.expected);
    }
}

TEST(Load, RepeatedKeys) {
    expectLoads({
        {"first value wins, later inline comment replaces", "[s]\nk = 1\nk = 2 ; c\n", "[s]\n  k=1 i=; c\n"},
        {"later line without comment keeps inline", "[s]\n; c1\nk = 1 ; a\n; c2\nk = 2\n",
         "[s]\n  k=1 c=; c1\\n i=; a\n"},
        {"keys of a repeated header append", "[s]\na=1\n[t]\n[s]\na=9\nb=2\n", "[s]\n  a=1\n  b=2\n[t]\n"},
        {"unlisted key later gets a value, stays unlisted", "[s]\nk = \"\" ;c\nk = v\n", "[s]\n  ?k= i=;c\n"},
    });
}

TEST(Load, OtherCommentCharacters) {
    expectLoads({{"hash comments, semicolon is text", "# c\n[s]\n; k = 1 # n\n",
                  "[s] c=# c\\n\n  ; k=1 i=# n\n"}},
                '#');
    expectLoads({{"[ as comment char hides headers", "[s]\nk=v\n", "?[]\n  k=v c=[s]\\n\n"}}, '[');
    expectLoads({{"blank as comment char", "[s]\nk = a b\nj = c\n", "[s]\n  j=c\n"}}, ' ');
    expectLoads({{"quote as comment char", "[s]\nk = \"a\" \"c\n", "[s]\n  k=a i=\"c\n"}}, '"');
    // An empty rest counts as NUL, so with NUL as comment character `k =`
    // leaves an unlisted key behind.
    expectLoads({{"NUL: empty value", "[s]\nk =\n", "[s]\n  ?k=\n"},
                 {"NUL: comment line and inline comment", "\0 c\n[s]\nk = v\0n\n"s,
                  "[s] c=\\0 c\\n\n  k=v i=\\0n\n"}},
                '\0');
}

TEST(Load, EveryByteAsCommentCharacter) {
    for (int b = 0; b < 256; ++b) {
        const char c = static_cast<char>(b);
        if (std::string_view(" \t\r\n[=k").find(c) != std::string_view::npos) {
            continue;  // these change the meaning of the fixed text below
        }
        SCOPED_TRACE(b);
        const std::string text = c + " top\n[s]\nk = v"s + c + "n\n";
        const std::string shown = ini_test::escaped(std::string(1, c));
        EXPECT_EQ(dump(loadText(text, c)), "[s] c=" + shown + " top\\n\n  k=v i=" + shown + "n\n");
    }
}

TEST(Load, EveryOneByteLineBeforeAKey) {
    for (int b = 0; b < 256; ++b) {
        const char c = static_cast<char>(b);
        SCOPED_TRACE(b);
        std::string expected = "; c\n";
        if (std::string_view(" \t\r;\n").find(c) != std::string_view::npos) {
            expected += std::string(1, c) + "\n";  // empty after trimming, or a comment
        } else if (c == '[' || c == '=') {
            expected.clear();  // an unclosed header or a key line ends the block
        }
        const auto doc = loadText("[s]\n; c\n"s + c + "\nk = v\n");
        EXPECT_EQ(doc.sections.at("s").values.at("k").comment, expected);
    }
}

TEST(Load, LinesAcrossReadBlocks) {
    // Lines of many lengths, some longer than the loader's read block.
    std::string text = "[s]\n";
    std::vector<std::string> values;
    for (int i = 0; i < 400; ++i) {
        values.push_back(std::string(static_cast<std::size_t>(i * i % 90001 + 1), static_cast<char>('a' + i % 26)));
        text += "k" + std::to_string(i) + " = " + values.back() + "\n";
    }
    const auto doc = loadText(text);
    ASSERT_EQ(doc.sections.at("s").keyOrder.size(), values.size());
    for (std::size_t i = 0; i < values.size(); ++i) {
        EXPECT_EQ(doc.read("s", "k" + std::to_string(i), ""), values[i]) << i;
    }
}

TEST(Load, MergesIntoANonEmptyDocument) {
    auto doc = loadText("; a\n[s]\nk = 1\n; end1\n");
    std::istringstream more("# b\n[s]\nk = 2\nj = 3\n[t]\n# end2\n");
    doc.load(more, '#');
    EXPECT_EQ(doc.commentChar, '#');
    EXPECT_EQ(dump(doc), "[s] c=; a\\n\n  k=1\n  j=3\n[t]\nT=# end2\\n\n");
}

TEST(Load, UnreadableStreamSetsOnlyCommentCharAndTrailing) {
    auto doc = loadText("[s]\nk=v\n; end\n");
    std::istringstream broken("[t]\n");
    broken.setstate(std::ios::badbit);
    doc.load(broken, '#');
    EXPECT_EQ(doc.commentChar, '#');
    EXPECT_EQ(dump(doc), "[s]\n  k=v\n");
}

TEST(Document, ClearKeepsCommentChar) {
    auto doc = loadText("[s]\nk=v\n# end\n", '#');
    doc.clear();
    EXPECT_EQ(dump(doc), "");
    EXPECT_EQ(doc.commentChar, '#');
    EXPECT_EQ(ini::IniFileIndex{}.commentChar, ';');
}

TEST(Read, StringLookupIsExact) {
    const auto doc = loadText("[s]\nk = v\n[]\n=e\n");
    struct Case {
        const char* section;
        const char* key;
        const char* expected;
    };
    for (const auto& c : std::vector<Case>{{"s", "k", "v"},
                                           {"S", "k", "d"},
                                           {" s", "k", "d"},
                                           {"s", "K", "d"},
                                           {"s", "k ", "d"},
                                           {"t", "k", "d"},
                                           {"", "", "e"}}) {
        SCOPED_TRACE(std::string(c.section) + "/" + c.key);
        EXPECT_EQ(doc.read(c.section, c.key, "d"), c.expected);
    }
}

TEST(Read, FloatIsAtofNarrowedToFloat) {
    const float inf = std::numeric_limits<float>::infinity();
    struct Case {
        const char* stored;
        float expected;
    };
    for (const auto& c : std::vector<Case>{
             {"2.5", 2.5F},
             {"2.5abc", 2.5F},   // partial number
             {"abc", 0.0F},      // not a number at all: 0, not the default
             {"\"  42\"", 42.0F},  // leading blanks, kept by quotes
             {"1e3", 1000.0F},
             {"0x3E8", 1000.0F},  // hex float
             {"-0.5", -0.5F},
             {"1,5", 1.0F},  // '.' is the only decimal point
             {"16777217", 16777216.0F},
             {"0.1", 0.1F},
             {"3.4028235e38", std::numeric_limits<float>::max()},
             {"1e39", inf},  // beyond float: rounds to infinity
             {"-1e39", -inf},
             {"1e-50", 0.0F},
             {"inf", inf},
             {"-infinity", -inf},
         }) {
        SCOPED_TRACE(c.stored);
        const auto doc = loadText("[s]\nk = "s + c.stored + "\n");
        EXPECT_EQ(doc.read("s", "k", 7.0F), c.expected);
    }
    EXPECT_TRUE(std::isnan(loadText("[s]\nk = nan\n").read("s", "k", 7.0F)));
    EXPECT_TRUE(std::signbit(loadText("[s]\nk = -0\n").read("s", "k", 7.0F)));
    EXPECT_EQ(loadText("[s]\nk = 1\n").read("s", "missing", 7.5F), 7.5F);
    EXPECT_EQ(loadText("[s]\nk = 1\n").read("t", "k", 7.5F), 7.5F);
}

// Every file in the shared corpus: the invariants hold and every listed key
// reads back, with either comment character.
TEST(Corpus, LoadsRealFiles) {
    const std::filesystem::path dir = INI_CORPUS_DIR;
    if (!std::filesystem::is_directory(dir)) {
        GTEST_SKIP() << "no corpus at " << dir;
    }
    int files = 0;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(dir)) {
        if (!entry.is_regular_file() || entry.path().extension() == ".md" ||
            entry.path().extension() == ".tsv") {
            continue;
        }
        ++files;
        for (const char commentChar : {';', '#'}) {
            SCOPED_TRACE(entry.path().string() + " with " + commentChar);
            std::ifstream in(entry.path(), std::ios::binary);
            ini::IniFileIndex doc;
            doc.load(in, commentChar);
            EXPECT_EQ(ini_test::invariantViolation(doc), "");
            for (const auto& name : doc.sectionOrder) {
                for (const auto& key : doc.sections.at(name).keyOrder) {
                    EXPECT_EQ(doc.read(name, key, "\x01missing"), doc.sections.at(name).values.at(key).value);
                }
            }
        }
    }
    EXPECT_GT(files, 40);
}

TEST(Corpus, SpotChecks) {
    const std::filesystem::path dir = INI_CORPUS_DIR;
    if (!std::filesystem::is_directory(dir)) {
        GTEST_SKIP() << "no corpus at " << dir;
    }
    std::ifstream in(dir / "0ad-data-common/default.cfg", std::ios::binary);
    ini::IniFileIndex doc;
    doc.load(in, ';');
    EXPECT_FALSE(doc.sectionOrder.empty());
    EXPECT_FALSE(doc.sections.at("").values.empty());  // keys before the first header
}

}  // namespace
