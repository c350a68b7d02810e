// The INI document: the loader's grammar line kind by line kind, lookups,
// and the invariants on real files written by others.
#include "IniEditor.h"
#include "IniFileIndex.h"
#include "scratch_dir.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <cfloat>

#ifdef _WIN32
#include <windows.h>
// After windows.h, which they need.
#include <aclapi.h>
#include <sddl.h>
#endif
#ifndef _WIN32
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <array>
#include <clocale>
#include <cmath>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <limits>
#include <random>
#include <set>
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
        {"other comment style is kept as text", "# no\n; yes\n", "T=# no\\n; yes\\n\n"},
        {"block before header", "; c\n\n[s]\n", "[s] c=; c\\n\\n\n"},
        {"block after last key", "[s]\nk=v\n; end\n", "[s]\n  k=v\nT=; end\\n\n"},
        {"comment holding =", "[s]\n; a = b\n", "[s]\nT=; a = b\\n\n"},
        {"line without = joins the header's block", "; c\ngarbage\n[s]\nk = v\n",
         "[s] c=; c\\ngarbage\\n\n  k=v\n"},
        {"line without = joins the key's block", "[s]\n; c\ngarbage\nk = v\n",
         "[s]\n  k=v c=; c\\ngarbage\\n\n"},
        {"key line storing nothing joins the block", "[s]\n; c\nk =\nj = v\n", "[s]\n  j=v c=; c\\nk =\\n\n"},
        {"unclosed header joins the block", "; c\n[abc\n[s]\n", "[s] c=; c\\n[abc\\n\n"},
    });
}

TEST(Load, HeaderLines) {
    expectLoads({
        {"name verbatim with blanks", "[ a ]\nk=v\n", "[ a ]\n  k=v\n"},
        {"text after ] ignored", "[a] trailing ; c\n", "[a]\n"},
        {"first ] ends the name", "[a]b]\n", "[a]\n"},
        {"empty name registered", "[]\nk=v\n", "[]\n  k=v\n"},
        {"trimmed line, CR dropped", "  [s]  \r\n", "[s]\n"},
        {"no ] keeps current section", "[s]\n[t\nk=v\n", "[s]\n  k=v c=[t\\n\n"},
        {"[a=b is a header, not a key", "[a=b\n", "T=[a=b\\n\n"},
        {"name with [: readable, its lines kept as text", "[a[b]\nk = v\n",
         "?[a[b]\n  k=v\nT=[a[b]\\nk = v\\n\n"},
        {"name with [ and no keys", "[a[b]\n", "T=[a[b]\\n\n"},
        {"case-sensitive names", "[S]\nk=1\n[s]\nk=2\n", "[S]\n  k=1\n[s]\n  k=2\n"},
        {"repeated header merges, its line and block flow on", "; 1\n[s]\na=1\n; 2\n[t]\n; 3\n[s]\nb=2\n",
         "[s] c=; 1\\n\n  a=1\n  b=2\n[t] c=; 2\\n\nT=; 3\\n[s]\\n\n"},
        {"keys before first header", "k=v\n[s]\n", "[s]\n?[]\n  k=v\n"},
        {"[] after keys before first header is not listed", "k=v\n[]\nj=w\n", "?[]\n  k=v\n  j=w\nT=[]\\n\n"},
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
        // Lines that store nothing are kept as text.
        {"empty value stores nothing", "name =", "T=name =\\n\n"},
        {"empty quotes store nothing", "name = \"\"", "T=name = \"\"\\n\n"},
        {"unclosed quote stores nothing", "name = \"abc", "T=name = \"abc\\n\n"},
        {"text after quotes stores nothing", "k = \"a\" b", "T=k = \"a\" b\\n\n"},
        {"no escapes inside quotes", "k = \"say \"hi\"\"", "T=k = \"say \"hi\"\"\\n\n"},
        {"empty quotes with comment: unlisted key", "k = \"\" ; c", "  ?k= i=; c\nT=k = \"\" ; c\\n\n"},
    };
    for (const auto& c : lines) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(dump(loadText("[s]\n" + c.input + "\n")), "[s]\n" + c.expected);
    }
}

TEST(Load, RepeatedKeys) {
    expectLoads({
        // The later lines store nothing and are kept as text.
        {"first value wins, later inline comment replaces", "[s]\nk = 1\nk = 2 ; c\n",
         "[s]\n  k=1 i=; c\nT=k = 2 ; c\\n\n"},
        {"later line without comment keeps inline", "[s]\n; c1\nk = 1 ; a\n; c2\nk = 2\n",
         "[s]\n  k=1 c=; c1\\n i=; a\nT=; c2\\nk = 2\\n\n"},
        {"keys of a repeated header append", "[s]\na=1\n[t]\n[s]\na=9\nb=2\n",
         "[s]\n  a=1\n  b=2\n[t]\nT=[s]\\na=9\\n\n"},
        {"unlisted key later gets a value, stays unlisted", "[s]\nk = \"\" ;c\nk = v\n",
         "[s]\n  ?k= i=;c\nT=k = \"\" ;c\\nk = v\\n\n"},
    });
}

TEST(Load, ByteOrderMarks) {
    expectLoads({
        {"empty stream", "", ""},
        {"one at the start", "\xEF\xBB\xBF[settings]\nk=v\n", "[settings]\n  k=v\n"},
        {"two at the start", "\xEF\xBB\xBF\xEF\xBB\xBF[settings]\nk=v\n", "[settings]\n  k=v\n"},
        {"before a comment", "\xEF\xBB\xBF; c\n[s]\n", "[s] c=; c\\n\n"},
        {"alone", "\xEF\xBB\xBF", ""},
        {"alone on its line", "\xEF\xBB\xBF\n", "T=\\n\n"},
        {"after a blank it is text", " \xEF\xBB\xBF[s]\n", "T= \xEF\xBB\xBF[s]\\n\n"},
        {"elsewhere it is text", "[s]\n\xEF\xBB\xBFk=v\n", "[s]\n  \xEF\xBB\xBFk=v\n"},
    });
}

TEST(Load, RepeatedSectionsKeepTheirLinesAfterTheirHeader) {
    expectLoads({
        // New keys join the first [s] without taking the block, which flows
        // on to the next new header with the repeated lines in it.
        {"new and repeated keys", "[s]\na=1\n[t]\nx=1\n; c\n[s]\na=2\nb=3\n; d\n[u]\ny=1\n",
         "[s]\n  a=1\n  b=3\n[t]\n  x=1\n[u] c=; c\\n[s]\\na=2\\n; d\\n\n  y=1\n"},
        {"two repeats in a row", "[s]\n[t]\n[s]\nk=1\n[t]\nj=2\n[u]\n",
         "[s]\n  k=1\n[t]\n  j=2\n[u] c=[s]\\n[t]\\n\n"},
        {"[] after keys above the first header", "k=v\n[]\nj=w\n; c\n[s]\n",
         "[s] c=[]\\n; c\\n\n?[]\n  k=v\n  j=w\n"},
        {"a new header ends the repeat", "[s]\n[t]\n[s]\n[u]\nk=v\n", "[s]\n[t]\n[u] c=[s]\\n\n  k=v\n"},
    });
}

TEST(Load, OtherCommentCharacters) {
    expectLoads(
        {{"hash comments, semicolon is text", "# c\n[s]\n; k = 1 # n\n", "[s] c=# c\\n\n  ; k=1 i=# n\n"}},
        '#');
    expectLoads({{"[ as comment char hides headers", "[s]\nk=v\n", "?[]\n  k=v c=[s]\\n\n"}}, '[');
    expectLoads({{"blank as comment char", "[s]\nk = a b\nj = c\n", "[s]\n  j=c c=k = a b\\n\n"}}, ' ');
    expectLoads({{"quote as comment char", "[s]\nk = \"a\" \"c\n", "[s]\n  k=a i=\"c\n"}}, '"');
    // An empty rest counts as NUL, so with NUL as comment character `k =`
    // leaves an unlisted key behind.
    expectLoads({{"NUL: empty value", "[s]\nk =\n", "[s]\n  ?k=\nT=k =\\n\n"},
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
        const std::string expected = "[s] c=" + shown + " top\\n\n  k=v i=" + shown + "n\n";
        EXPECT_EQ(dump(loadText(text, c)), expected);
    }
}

TEST(Load, EveryOneByteLineBeforeAKey) {
    for (int b = 0; b < 256; ++b) {
        const char c = static_cast<char>(b);
        SCOPED_TRACE(b);
        // Every one-byte line joins the block: "=" and "[" store nothing.
        const std::string expected = "; c\n" + std::string(1, c) + "\n";
        const auto doc = loadText("[s]\n; c\n"s + c + "\nk = v\n");
        EXPECT_EQ(doc.sections.at("s").values.at("k").comment, expected);
    }
}

TEST(Load, LinesAcrossReadBlocks) {
    // Lines of many lengths, some longer than the loader's read block.
    std::string text = "[s]\n";
    std::vector<std::string> values;
    for (int i = 0; i < 400; ++i) {
        values.emplace_back(static_cast<std::size_t>(i * i % 90001 + 1), static_cast<char>('a' + i % 26));
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
    EXPECT_EQ(dump(doc), "[s] c=; a\\n\n  k=1\n  j=3\n[t] c=# b\\n[s]\\nk = 2\\n\nT=# end2\\n\n");
}

TEST(Load, UnreadableStreamSetsOnlyCommentCharAndTrailing) {
    auto doc = loadText("[s]\nk=v\n; end\n");
    std::istringstream broken("[t]\n");
    broken.setstate(std::ios::badbit);
    doc.load(broken, '#');
    EXPECT_EQ(doc.commentChar, '#');
    EXPECT_EQ(dump(doc), "[s]\n  k=v\n");
}

TEST(Load, StreamExceptionMaskNeitherThrowsNorLosesTheTail) {
    // Below and above the loader's 64 KiB read block: the last read is short
    // either way, which sets failbit on an ordinary read.
    for (const std::size_t keys : {3U, 20000U}) {
        SCOPED_TRACE(keys);
        std::string text = "[s]\n";
        for (std::size_t i = 0; i < keys; ++i) {
            text += "k" + std::to_string(i) + " = v" + std::to_string(i) + "\n";
        }
        std::istringstream in(text);
        const auto mask = std::ios::failbit | std::ios::badbit;
        in.exceptions(mask);
        ini::IniFileIndex doc;
        ASSERT_NO_THROW(doc.load(in, ';'));
        EXPECT_EQ(doc.sections.at("s").keyOrder.size(), keys);
        EXPECT_EQ(doc.read("s", "k" + std::to_string(keys - 1), ""), "v" + std::to_string(keys - 1));
        EXPECT_EQ(in.exceptions(), mask);
        EXPECT_TRUE(in.eof());
        in.exceptions(std::ios::goodbit);
        in.clear();
        EXPECT_EQ(in.peek(), std::char_traits<char>::eof()) << "stream not at its end";
    }
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
             {"2.5abc", 2.5F},     // partial number
             {"abc", 0.0F},        // not a number at all: 0, not the default
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

// Runs with the process in a locale whose decimal point is ',' (as any
// program that calls setlocale(LC_ALL, "") may be) and puts "C" back after.
class CommaLocale : public ScratchDirTest {
protected:
    void SetUp() override {
        ScratchDirTest::SetUp();
#ifdef _WIN32
        if (std::setlocale(LC_ALL, "German_Germany.1252") == nullptr &&
            std::setlocale(LC_ALL, "de-DE") == nullptr) {
            GTEST_SKIP() << "the C library has no German locale";
        }
#else
        if (std::setlocale(LC_ALL, "de_DE.UTF-8") == nullptr) {
            // Not installed: compile it into the scratch directory.
            const std::string command =
                "localedef -i de_DE -f UTF-8 '" + path("de_DE.UTF-8") + "' 2>/dev/null";
            if (std::system(command.c_str()) == 0) {
                ::setenv("LOCPATH", dir_.c_str(), 1);
            }
            if (std::setlocale(LC_ALL, "de_DE.UTF-8") == nullptr) {
                GTEST_SKIP() << "no de_DE.UTF-8 locale, and localedef could not build one";
            }
        }
#endif
        ASSERT_STREQ(std::localeconv()->decimal_point, ",");
    }
    void TearDown() override {
        std::setlocale(LC_ALL, "C");
#ifndef _WIN32
        ::unsetenv("LOCPATH");
#endif
        ScratchDirTest::TearDown();
    }
};

TEST_F(CommaLocale, FloatsAreReadAndWrittenWithADot) {
    struct Case {
        const char* stored;
        float expected;
    };
    for (const auto& c : std::vector<Case>{
             {"1500.75", 1500.75F}, {"1,5", 1.0F}, {"-2.5e1", -25.0F}, {"0x1.8p1", 3.0F}, {"  .5", 0.5F}}) {
        SCOPED_TRACE(c.stored);
        EXPECT_EQ(loadText("[s]\nk = \""s + c.stored + "\"\n").read("s", "k", 7.0F), c.expected);
    }
    ini::IniFileIndex doc;
    doc.write("s", "k", 2.5F);
    EXPECT_EQ(doc.read("s", "k", ""), "2.5");
    EXPECT_EQ(doc.read("s", "k", 0.0F), 2.5F);
}

TEST_F(CommaLocale, TypedValuesIgnoreTheLocale) {
    EXPECT_EQ(ini::parseDouble("1.5"), 1.5);
    EXPECT_EQ(ini::parseDouble("1,5"), std::nullopt);
    EXPECT_EQ(ini::formatDouble(2.5), "2.5");
    EXPECT_EQ(ini::formatDouble(1234.5, 17), "1234.5");
    EXPECT_EQ(loadText("[s]\nk = -2.5e1\n").readDouble("s", "k").value, -25.0);
}

// Typed reads: each text read as each type, through the parse functions,
// the document and the editor alike. An empty cell is "not of the type";
// otherwise it is the canonical text of the value read.
TEST(TypedValues, StrictReadsOfEveryType) {
    struct Case {
        const char* text;
        const char* asInt;
        const char* asUint;
        const char* asDouble;
        const char* asBool;
    };
    const std::vector<Case> cases = {
        {"-0", "0", "", "-0", ""},
        {"+5", "5", "5", "5", ""},
        {" 5 ", "5", "5", "5", ""},
        {"010", "10", "10", "10", ""},
        {"0x", "", "", "", ""},
        {"0x1F", "31", "31", "", ""},
        {"-0x10", "-16", "", "", ""},
        {"0xFFFFFFFFFFFFFFFF", "", "18446744073709551615", "", ""},
        {"18446744073709551616", "", "", "18446744073709551616", ""},
        {"9223372036854775807", "9223372036854775807", "9223372036854775807", "9223372036854775808", ""},
        {"-9223372036854775808", "-9223372036854775808", "", "-9223372036854775808", ""},
        {"9223372036854775808", "", "9223372036854775808", "9223372036854775808", ""},
        {"-9223372036854775809", "", "", "-9223372036854775808", ""},
        {"1e309", "", "", "", ""},
        {"1e-400", "", "", "", ""},
        {"4.9e-324", "", "", "5e-324", ""},
        {"0.1", "", "", "0.1", ""},
        {".5", "", "", "0.5", ""},
        {"1.", "", "", "1", ""},
        {"nan", "", "", "nan", ""},
        {"inf", "", "", "inf", ""},
        {"-Infinity", "", "", "-inf", ""},
        {"1,5", "", "", "", ""},
        {"1e", "", "", "", ""},
        {"0x1p3", "", "", "", ""},
        {"--5", "", "", "", ""},
        {"+-5", "", "", "", ""},
        {"5 5", "", "", "", ""},
        {"Yes", "", "", "", "true"},
        {"YES", "", "", "", "true"},
        {"oFF", "", "", "", "false"},
        {"1", "1", "1", "1", "true"},
        {"0", "0", "0", "0", "false"},
        {"2", "2", "2", "2", ""},
        {"truly", "", "", "", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE("'"s + c.text + "'");
        const auto canonical = [](const auto& read) {
            if (read.status == ini::IniReadStatus::notOfType) {
                EXPECT_NE(read.reason, nullptr);
                return std::string();
            }
            EXPECT_EQ(read.status, ini::IniReadStatus::value);
            using T = std::decay_t<decltype(read.value)>;
            if constexpr (std::is_same_v<T, bool>) {
                return ini::formatBool(read.value);
            } else if constexpr (std::is_same_v<T, double>) {
                return ini::formatDouble(read.value);
            } else if constexpr (std::is_same_v<T, std::int64_t>) {
                return ini::formatInt(read.value);
            } else {
                return ini::formatUint(read.value);
            }
        };
        // The document and the editor (quoted, so that blanks stay).
        const std::string text = "[s]\nk = \""s + c.text + "\"\n";
        const auto doc = loadText(text);
        const ini::IniEditor editor(text);
        ASSERT_EQ(doc.lookup("s", "k"), c.text);
        for (const auto& [got, expected] : std::vector<std::pair<std::string, std::string>>{
                 {canonical(doc.readInt("s", "k")), c.asInt},
                 {canonical(doc.readUint("s", "k")), c.asUint},
                 {canonical(doc.readDouble("s", "k")), c.asDouble},
                 {canonical(doc.readBool("s", "k")), c.asBool},
                 {canonical(editor.readInt("s", "k")), c.asInt},
                 {canonical(editor.readUint("s", "k")), c.asUint},
                 {canonical(editor.readDouble("s", "k")), c.asDouble},
                 {canonical(editor.readBool("s", "k")), c.asBool},
             }) {
            EXPECT_EQ(got, expected);
        }
        EXPECT_EQ(doc.readInt("s", "k").text, c.text);
    }
}

TEST(TypedValues, AbsentNotOfTypeAndDefaults) {
    const auto doc = loadText("[s]\nn = 42\nword = abc\nempty =\n");
    EXPECT_EQ(doc.readInt("s", "n").status, ini::IniReadStatus::value);
    EXPECT_EQ(doc.readInt("s", "n").valueOr(7), 42);
    EXPECT_EQ(doc.readInt("s", "missing").status, ini::IniReadStatus::absent);
    EXPECT_EQ(doc.readInt("missing", "n").status, ini::IniReadStatus::absent);
    EXPECT_EQ(doc.readInt("s", "empty").status, ini::IniReadStatus::absent);  // `k =` reads as absent
    EXPECT_EQ(doc.readInt("s", "missing").valueOr(7), 7);
    const auto word = doc.readBool("s", "word");
    EXPECT_EQ(word.status, ini::IniReadStatus::notOfType);
    EXPECT_EQ(word.text, "abc");
    EXPECT_FALSE(word);
    EXPECT_TRUE(word.valueOr(true));
    // Under a dialect that reads `k =` as the empty value, it is present and
    // not a number.
    const ini::IniEditor editor("[s]\nempty =\n", ini::IniDialect::python());
    for (const auto& read : {editor.readInt("s", "empty").status, editor.readUint("s", "empty").status,
                             editor.readDouble("s", "empty").status, editor.readBool("s", "empty").status}) {
        EXPECT_EQ(read, ini::IniReadStatus::notOfType);
    }
}

// What the typed writes write reads back as the same value, bit for bit.
TEST(TypedValues, WritesReadBackExactly) {
    std::mt19937_64 random(7);
    std::vector<double> doubles = {0.1,
                                   -0.0,
                                   1e-320,
                                   std::numeric_limits<double>::max(),
                                   -std::numeric_limits<double>::min(),
                                   1.0 / 3,
                                   123456789012345678.0,
                                   std::numeric_limits<double>::infinity()};
    for (int i = 0; i < 2000; ++i) {
        const std::uint64_t bits = random();
        double value = 0;
        std::memcpy(&value, &bits, sizeof value);
        if (std::isfinite(value)) {
            doubles.push_back(value);
        }
    }
    const auto sameBits = [](double a, double b) {
        std::uint64_t x = 0;
        std::uint64_t y = 0;
        std::memcpy(&x, &a, sizeof a);
        std::memcpy(&y, &b, sizeof b);
        return x == y;
    };
    ini::IniFileIndex doc;
    ini::IniEditor editor("[s]\n");
    for (const double value : doubles) {
        for (const int digits : {0, 17}) {
            doc.writeDouble("s", "d", value, digits);
            ASSERT_TRUE(sameBits(doc.readDouble("s", "d").value, value)) << doc.read("s", "d", "");
            ASSERT_EQ(editor.writeDouble("s", "d", value, digits).status == ini::IniEditStatus::refused,
                      false);
            ASSERT_TRUE(sameBits(editor.readDouble("s", "d").value, value)) << editor.read("s", "d", "");
        }
    }
    EXPECT_EQ(ini::formatDouble(0.1, 17), "0.10000000000000001");
    EXPECT_EQ(ini::formatDouble(0.1, 3), "0.1");
    // Rounded up beyond the largest double, the text would not read back.
    for (const double big : {DBL_MAX, -DBL_MAX, 1.7e308}) {
        for (const int digits : {1, 2, 6}) {
            const std::string text = ini::formatDouble(big, digits);
            EXPECT_TRUE(ini::parseDouble(text).has_value()) << text;
        }
    }
    EXPECT_EQ(ini::formatDouble(DBL_MAX, 1), "1.79769e+308");  // the fewest digits that read back
    for (const std::int64_t value : {std::numeric_limits<std::int64_t>::min(), std::int64_t{-1},
                                     std::int64_t{0}, std::numeric_limits<std::int64_t>::max()}) {
        doc.writeInt("s", "i", value);
        EXPECT_EQ(doc.readInt("s", "i").value, value);
        editor.writeInt("s", "i", value);
        EXPECT_EQ(editor.readInt("s", "i").value, value);
    }
    doc.writeUint("s", "u", std::numeric_limits<std::uint64_t>::max());
    EXPECT_EQ(doc.read("s", "u", ""), "18446744073709551615");
    editor.writeDouble("s", "d", 0.5);
    editor.writeBool("s", "b", false);
    EXPECT_EQ(editor.read("s", "b", ""), "false");
    EXPECT_EQ(editor.text(), "[s]\nd = 0.5\ni = 9223372036854775807\nb = false\n");
}

struct EditCase {
    const char* name;
    std::string input;
    std::function<void(ini::IniFileIndex&)> edit;
    std::string expected;  // dump() after the edit
};

void expectEdits(const std::vector<EditCase>& cases) {
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto doc = loadText(c.input);
        c.edit(doc);
        EXPECT_EQ(ini_test::invariantViolation(doc), "");
        EXPECT_EQ(dump(doc), c.expected);
    }
}

TEST(Write, CreatesAppendsOrChangesOnlyTheValue) {
    expectEdits({
        {"new section and key", "", [](auto& d) { d.write("s", "k", "v"); }, "[s]\n  k=v\n"},
        {"appended in order", "[s]\na=1\n",
         [](auto& d) {
             d.write("t", "x", "1");
             d.write("s", "b", "2");
         },
         "[s]\n  a=1\n  b=2\n[t]\n  x=1\n"},
        {"existing key keeps place and comments", "[s]\n; c\nk = v ; note\nj = 2\n",
         [](auto& d) { d.write("s", "k", "w"); }, "[s]\n  k=w c=; c\\n i=; note\n  j=2\n"},
        {"empty value is stored", "", [](auto& d) { d.write("s", "k", ""); }, "[s]\n  k=\n"},
        {"value taken verbatim", "", [](auto& d) { d.write(" S ", " k\t", "\"a ; b\"\n"); },
         "[ S ]\n   k\\t=\"a ; b\"\\n\n"},
        {"empty section name on a fresh document is listed", "", [](auto& d) { d.write("", "k", "v"); },
         "[]\n  k=v\n"},
        {"unlisted top section stays unlisted, new key listed", "k=v\n[s]\n",
         [](auto& d) { d.write("", "j", "w"); }, "[s]\n?[]\n  k=v\n  j=w\n"},
        {"unlisted key stays unlisted", "[s]\nk = \"\" ; c\n", [](auto& d) { d.write("s", "k", "v"); },
         "[s]\n  ?k=v i=; c\nT=k = \"\" ; c\\n\n"},
        {"section named with [ stays unlisted", "[a[b]\nk=v\n", [](auto& d) { d.write("a[b", "j", "w"); },
         "?[a[b]\n  k=v\n  j=w\nT=[a[b]\\nk=v\\n\n"},
        {"deleted then written goes to the end, without comments", "; s\n[s]\n; c\nk=1\nj=2\n",
         [](auto& d) {
             d.delKey("s", "k");
             d.write("s", "k", "3");
         },
         "[s] c=; s\\n\n  j=2\n  k=3\n"},
    });
}

TEST(Write, FloatTextForm) {
    const float inf = std::numeric_limits<float>::infinity();
    const float nan = std::numeric_limits<float>::quiet_NaN();
    struct Case {
        float value;
        const char* expected;
    };
    for (const auto& c : std::vector<Case>{
             {0.0F, "0"},
             {-0.0F, "-0"},
             {2.5F, "2.5"},
             {250.0F, "250"},
             {0.1F, "0.1"},
             {0.0001F, "0.0001"},  // just below 1e-4, rounds back to fixed notation
             {0.00001F, "1e-05"},
             {3.14159265F, "3.14159"},
             {1e6F, "1e+06"},
             {999999.0F, "999999"},
             {999999.5F, "1e+06"},  // rounding to six digits raises the exponent
             {1.234567e6F, "1.23457e+06"},
             {-2.75F, "-2.75"},
             {16777217.0F, "1.67772e+07"},
             {std::numeric_limits<float>::max(), "3.40282e+38"},
             {std::numeric_limits<float>::denorm_min(), "1.4013e-45"},
             {inf, "inf"},
             {-inf, "-inf"},
             {nan, "nan"},
             {-nan, "-nan"},
         }) {
        SCOPED_TRACE(c.expected);
        ini::IniFileIndex doc;
        doc.write("s", "k", c.value);
        EXPECT_EQ(doc.read("s", "k", ""), c.expected);
    }
}

TEST(Write, FloatTextFormMatchesPrintfAcrossBitPatterns) {
    std::mt19937 random(12345);
    ini::IniFileIndex doc;
    for (int i = 0; i < 200000; ++i) {
        const std::uint32_t bits = i < 65536 ? static_cast<std::uint32_t>(i) << 16 : random();
        float value = 0;
        std::memcpy(&value, &bits, sizeof value);
        if (std::isnan(value)) {
            continue;  // checked above: C libraries differ in printing a NaN's sign
        }
        std::array<char, 64> expected{};
        std::snprintf(expected.data(), expected.size(), "%.6g", static_cast<double>(value));
        doc.write("s", "k", value);
        ASSERT_EQ(doc.read("s", "k", ""), expected.data()) << "bits " << bits;
    }
}

TEST(Write, FloatReadsBackRoundedToSixDigits) {
    ini::IniFileIndex doc;
    doc.write("s", "k", 3.14159265F);
    EXPECT_EQ(doc.read("s", "k", ""), "3.14159");
    EXPECT_EQ(doc.read("s", "k", 0.0F), 3.14159F);
}

TEST(Delete, KeysAndSections) {
    expectEdits({
        {"only key removes the section", "[s]\nk=1\n[t]\nj=2\n", [](auto& d) { d.delKey("s", "k"); },
         "[t]\n  j=2\n"},
        {"section comes back at the end, without its comment", "; c\n[s]\nk=1\n[t]\nj=2\n",
         [](auto& d) {
             d.delKey("s", "k");
             d.write("s", "k", "v");
         },
         "[t]\n  j=2\n[s]\n  k=v\n"},
        {"unlisted key keeps the section", "[s]\nk = \"\" ;c\nj=1\n", [](auto& d) { d.delKey("s", "j"); },
         "[s]\n  ?k= i=;c\n"},
        {"unlisted key can be deleted", "[s]\nk = \"\" ;c\nj=1\n", [](auto& d) { d.delKey("s", "k"); },
         "[s]\n  j=1 c=k = \"\" ;c\\n\n"},  // its line stays as text
        {"absent names and bare headers are left alone", "[s]\n[t]\nk=v\n",
         [](auto& d) {
             d.delKey("s", "k");
             d.delKey("u", "k");
             d.delKey("t", "x");
             d.delKey("T", "k");
             d.delSection("u");
             d.delSection(" t");
         },
         "[s]\n[t]\n  k=v\n"},
        {"section with its comment and keys", "; c\n[s]\nk=v\n[t]\n", [](auto& d) { d.delSection("s"); },
         "[t]\n"},
        {"unlisted section", "k=v\n[s]\n", [](auto& d) { d.delSection(""); }, "[s]\n"},
        {"names viewing the document's own strings", "[s]\nk=1\nj=2\n[t]\nx=1\n",
         [](auto& d) {
             d.write("u", d.sectionOrder.front(), d.sections.at("s").keyOrder.front());
             d.delKey("s", d.sections.at("s").keyOrder.front());
             d.delSection(d.sectionOrder.front());
         },
         "[t]\n  x=1\n[u]\n  s=k\n"},
    });
}

TEST(Exists, AsksTheMapsExactly) {
    const auto doc = loadText("k = v\n[s]\nj = \"\" ; c\n[a[b]\nx = 1\n[e]\n");
    struct Case {
        const char* section;
        const char* key;  // null: test the section only
        bool expected;
    };
    for (const auto& c : std::vector<Case>{
             {"s", nullptr, true},
             {"S", nullptr, false},
             {" s", nullptr, false},
             {"e", nullptr, true},    // bare header
             {"", nullptr, true},     // unlisted: keys above the first header
             {"a[b", nullptr, true},  // unlisted: name holding '['
             {"", "k", true},
             {"s", "j", true},  // unlisted key
             {"s", "J", false},
             {"a[b", "x", true},
             {"e", "x", false},
             {"missing", "k", false},
         }) {
        SCOPED_TRACE(std::string(c.section) + "/" + (c.key ? c.key : "-"));
        EXPECT_EQ(c.key ? doc.keyExists(c.section, c.key) : doc.sectionExists(c.section), c.expected);
    }
    EXPECT_EQ(doc.sections.size(), 4U);  // the tests create nothing
}

struct RenderCase {
    const char* name;
    std::string input;
    std::string expected;  // toString() of the loaded document
};

TEST(Render, NormalisesWhatWasLoaded) {
    for (const auto& c : std::vector<RenderCase>{
             {"empty", "", ""},
             {"trailing comment only", "; a\n\n; b", "; a\n\n; b\n"},
             {"spacing around =", "[s]\nk=v;c\n", "[s]\nk = v ;c\n"},
             {"quotes dropped when not needed", "[s]\n  x   =   \"abc\"   ;  c2\n", "[s]\nx = abc ;  c2\n"},
             {"blanks keep quotes", "[s]\ny = \"  \"\n", "[s]\ny = \"  \"\n"},
             {"comment char keeps quotes", "[s]\nz = \"a;b\"\n", "[s]\nz = \"a;b\"\n"},
             {"text after header dropped", "[ s ]  ; after header\n", "[ s ]\n"},
             {"repeated header merged, its line kept", "[s]\na=1\n[t]\n[s]\nb=2\n",
              "[s]\na = 1\nb = 2\n[t]\n[s]\n"},
             {"line without = kept", "[s]\ngarbage\nk=v\n", "[s]\ngarbage\nk = v\n"},
             {"key lines storing nothing kept", "[s]\n; c\nk =\n; d\nj = \"\"\n",
              "[s]\n; c\nk =\n; d\nj = \"\"\n"},
             {"repeated key kept where it stood", "[s]\nk=1\nj=2\nk=3\n", "[s]\nk = 1\nj = 2\nk=3\n"},
             {"repeated section with new and repeated keys", "[s]\na=1\n[t]\nx=1\n[s]\na=2\nb=3\n[u]\ny=1\n",
              "[s]\na = 1\nb = 3\n[t]\nx = 1\n[s]\na=2\n[u]\ny = 1\n"},
             {"byte order marks dropped", "\xEF\xBB\xBF\xEF\xBB\xBF[s]\nk=v\n", "[s]\nk = v\n"},
             {"CRLF: header and keys lose the CR, comments keep it", "[s]\r\nk = v\r\n; c\r\n\r\n",
              "[s]\nk = v\n; c\r\n\r\n"},
             {"last line gets a newline", "[s]\nk = v", "[s]\nk = v\n"},
             {"no blank lines added between sections", "[a]\nx=1\n[b]\ny=2\n", "[a]\nx = 1\n[b]\ny = 2\n"},
             {"unlisted key and section kept as text", "[s]\nk = \"\" ;c\n[a[b]\nx=1\n",
              "[s]\nk = \"\" ;c\n[a[b]\nx=1\n"},
             {"keys above the first header stay there", "; top\nroot = true\n\n; star\n[*]\nindent = 2\n",
              "; top\nroot = true\n\n; star\n[*]\nindent = 2\n"},
             {"listed [] keeps its header and place", "[a]\nx=1\n[]\nk=v\n", "[a]\nx = 1\n[]\nk = v\n"},
             {"inline comments of top keys", "k = v ; c\n", "k = v ; c\n"},
             // A load skips the marks that start a text: an empty line keeps
             // the key's own mark from being taken for one.
             {"key that is a byte order mark", " \xEF\xBB\xBF=L", "\n\xEF\xBB\xBF = L\n"},
             {"kept line that starts with a mark", "k=1\n\xEF\xBB\xBF[b]\nj=2\n",
              "k = 1\n\xEF\xBB\xBF[b]\nj = 2\n"},
         }) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(loadText(c.input).toString(), c.expected);
    }
}

TEST(Render, EditedDocuments) {
    // A loaded file with edits: new values, a new section, a padded value.
    auto doc = loadText("; top\n[settings]\n; the first command\ncmd1 = echo hi ; greet\nms=250\n");
    doc.write("settings", "cmd2", " two ");
    doc.write("extra", "a", "1");
    EXPECT_EQ(doc.toString(),
              "; top\n"
              "[settings]\n"
              "; the first command\n"
              "cmd1 = echo hi ; greet\n"
              "ms = 250\n"
              "cmd2 = \" two \"\n"
              "[extra]\n"
              "a = 1\n");

    for (const auto& c : std::vector<EditCase>{
             {"empty value", "", [](auto& d) { d.write("s", "k", ""); }, "[s]\nk = \n"},
             {"emptied value keeps inline comment", "[s]\nk = v ; note\n",
              [](auto& d) { d.write("s", "k", ""); }, "[s]\nk =  ; note\n"},
             {"section keeping only an unlisted key", "[s]\nk = \"\" ;c\nj=1\n",
              [](auto& d) { d.delKey("s", "j"); }, "[s]\n"},
             {"deleted last key removes the header", "[s]\nj=1\n[t]\n", [](auto& d) { d.delKey("s", "j"); },
              "[t]\n"},
             {"deletion that brings a byte order mark to the start", "k=1\n\xEF\xBB\xBF[b]\nj=2\n",
              [](auto& d) { d.delKey("", "k"); }, "\n\xEF\xBB\xBF[b]\nj = 2\n"},
             {"new keys above the first header", "k=v\n[s]\n", [](auto& d) { d.write("", "j", "w"); },
              "k = v\nj = w\n[s]\n"},
             {"special names written verbatim", "", [](auto& d) { d.write("a]b", " k", "\"abc\""); },
              "[a]b]\n k = \"abc\"\n"},
         }) {
        SCOPED_TRACE(c.name);
        auto edited = loadText(c.input);
        c.edit(edited);
        EXPECT_EQ(edited.toString(), c.expected);
    }
}

TEST(Render, QuotesOnlyWhatTheLoaderWouldTrimOrCut) {
    struct Case {
        char commentChar;
        const char* value;
        const char* written;
    };
    for (const auto& c : std::vector<Case>{
             {';', "abc", "abc"},
             {';', "", ""},
             {';', " padded ", "\" padded \""},
             {';', "\tx", "\"\tx\""},
             {';', "x\t", "\"x\t\""},
             {';', "a;b", "\"a;b\""},
             {';', ";x", "\";x\""},
             {';', "say \"hi\"", "say \"hi\""},
             {';', "#x", "#x"},
             {';', "x\r", "x\r"},  // a CR at an end does not cause quoting
             {'#', "a;b", "a;b"},  // the document's own comment character counts
             {'#', "#x", "\"#x\""},
         }) {
        SCOPED_TRACE(std::string(1, c.commentChar) + c.value);
        auto doc = loadText("", c.commentChar);
        doc.write("s", "k", c.value);
        EXPECT_EQ(doc.toString(), "[s]\nk = "s + c.written + "\n");
    }
}

TEST(Render, WhatDoesNotReadBack) {
    // Values and names outside what the text form can carry come back changed.
    struct Case {
        const char* section;
        const char* key;
        const char* value;
        const char* readBack;  // dump() of the reloaded document
    };
    for (const auto& c : std::vector<Case>{
             {"s", "k", "\"abc\"", "[s]\n  k=abc\n"},
             {"s", "k", " say \"hi\"", "[s]\nT=k = \" say \"hi\"\"\\n\n"},
             {"a]b", "k", "v", "[a]\n  k=v\n"},
             {"s", " k", "v", "[s]\n  k=v\n"},
             {"s", "k", "", "[s]\nT=k = \\n\n"},
         }) {
        SCOPED_TRACE(c.readBack);
        ini::IniFileIndex doc;
        doc.write(c.section, c.key, c.value);
        EXPECT_EQ(dump(loadText(doc.toString())), c.readBack);
    }
    auto doc = loadText("[s]\nk = v ; note\n");
    doc.write("s", "k", "");
    EXPECT_EQ(dump(loadText(doc.toString())), "[s]\n  k=; note\n");
}

using SaveToFile = ScratchDirTest;

TEST_F(SaveToFile, WritesTheRenderedText) {
    const auto doc = loadText("; c\r\n[s]\nk = v ; n\n; end");
    const auto file = put("out.ini", "much longer old content that must be replaced entirely\n");
    ASSERT_TRUE(doc.saveToFile(file));
    EXPECT_EQ(contents(file), "; c\r\n[s]\nk = v ; n\n; end\n");
}

TEST_F(SaveToFile, EmptyDocumentCreatesNothingButEmptiesAnExistingFile) {
    const ini::IniFileIndex empty;
    EXPECT_TRUE(empty.saveToFile(path("none.ini")));
    EXPECT_FALSE(std::filesystem::exists(path("none.ini")));
    EXPECT_TRUE(empty.saveToFile(path("missing-dir/none.ini")));  // nothing to read, so nothing to do

    EXPECT_TRUE(empty.saveToFile(put("old.ini", "[old]\n")));
    EXPECT_EQ(contents("old.ini"), "");
}

TEST_F(SaveToFile, UnlistedSectionsCountAsContent) {
    // Only an unlisted key in the unlisted top section: nothing to render,
    // yet the file is created.
    ini::IniFileIndex doc;
    doc.sections[""].values["k"] = {};
    ASSERT_TRUE(doc.saveToFile(path("top.ini")));
    EXPECT_EQ(contents("top.ini"), "");
}

// Both ways of saving, for the rules they share.
struct SaveWay {
    const char* name;
    bool (ini::IniFileIndex::*save)(const std::string&) const;
};
const SaveWay saveWays[] = {{"in place", &ini::IniFileIndex::saveToFile},
                            {"atomically", &ini::IniFileIndex::saveToFileAtomically}};

// The names in the scratch directory, sorted: a failed atomic save must not
// leave its temporary file behind.
std::vector<std::string> namesIn(const std::filesystem::path& dir) {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(dir)) {
        names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

#ifndef _WIN32
// Runs `body` in a child process and returns its exit status (-1 when it did
// not exit normally).
template <typename Body>
int exitStatusOf(Body body) {
    const pid_t child = ::fork();
    if (child == 0) {
        ::_exit(body());
    }
    int status = 0;
    if (child < 0 || ::waitpid(child, &status, 0) != child || !WIFEXITED(status)) {
        return -1;
    }
    return WEXITSTATUS(status);
}
#endif

TEST_F(SaveToFile, FailuresAreReported) {
    const auto doc = loadText("[s]\nk = v\n");
    for (const auto& way : saveWays) {
        SCOPED_TRACE(way.name);
        EXPECT_FALSE((doc.*way.save)(path("missing-dir/out.ini")));
        EXPECT_FALSE(std::filesystem::exists(path("missing-dir")));
        EXPECT_FALSE((doc.*way.save)(dir_.string()));  // a directory where the file should be
        std::filesystem::create_directory(path("sub"));
        EXPECT_FALSE((doc.*way.save)(path("sub")));
        EXPECT_EQ(namesIn(dir_), std::vector<std::string>{"sub"});
        std::filesystem::remove(path("sub"));
    }
#ifdef _WIN32
    // Windows cannot rename over a file that another handle holds open
    // without sharing deletion (as the C runtime opens files): the atomic
    // save fails after its retries and leaves the file whole.
    const auto held = put("held.ini", "[old]\n");
    {
        const std::ifstream open(held, std::ios::binary);
        EXPECT_FALSE(doc.saveToFileAtomically(held));
    }
    EXPECT_EQ(contents("held.ini"), "[old]\n");
    EXPECT_EQ(namesIn(dir_), std::vector<std::string>{"held.ini"});
    EXPECT_TRUE(doc.saveToFileAtomically(held));
    EXPECT_EQ(contents("held.ini"), "[s]\nk = v\n");
#else
    // Opens fine, then every write fails: must not be reported as success.
    EXPECT_FALSE(doc.saveToFile("/dev/full"));
    EXPECT_FALSE(loadText("; only a comment\n").saveToFile("/dev/full"));
#endif
}

TEST_F(SaveToFile, SpaceThatRunsOutLeavesTheOldFileWhole) {
#ifdef _WIN32
    GTEST_SKIP() << "needs a file-size limit (RLIMIT_FSIZE), which Windows does not have";
#else
    // The new text is larger than the file-size limit of the child; the old
    // file is smaller. Root is bound by RLIMIT_FSIZE too.
    const std::string old = "[old]\nk = v\n";
    const auto doc = loadText("[s]\nk = " + std::string(std::size_t{256} * 1024, 'x') + "\n");
    for (const auto& way : saveWays) {
        SCOPED_TRACE(way.name);
        const auto file = put("limited.ini", old);
        const int status = exitStatusOf([&] {
            std::signal(SIGXFSZ, SIG_IGN);
            const rlimit cap{rlim_t{64} * 1024, rlim_t{64} * 1024};
            ::setrlimit(RLIMIT_FSIZE, &cap);
            return (doc.*way.save)(file) ? 1 : 0;
        });
        EXPECT_EQ(status, 0) << "the save did not report the failure";
        EXPECT_EQ(contents("limited.ini"), old);
        EXPECT_EQ(namesIn(dir_), std::vector<std::string>{"limited.ini"});

        // A file that was not there is not left behind, empty or cut.
        const int missing = exitStatusOf([&] {
            std::signal(SIGXFSZ, SIG_IGN);
            const rlimit cap{rlim_t{64} * 1024, rlim_t{64} * 1024};
            ::setrlimit(RLIMIT_FSIZE, &cap);
            return (doc.*way.save)(path("new.ini")) ? 1 : 0;
        });
        EXPECT_EQ(missing, 0);
        EXPECT_EQ(namesIn(dir_), std::vector<std::string>{"limited.ini"});
    }
#endif
}

TEST_F(SaveToFile, InPlaceKeepsTheFileItself) {
    const auto file = put("a.ini", "[old]\nk = a much longer old value than the new one\n");
    std::filesystem::create_hard_link(file, path("b.ini"));
    ASSERT_TRUE(loadText("[s]\nk = v\n").saveToFile(file));
    EXPECT_EQ(contents("a.ini"), "[s]\nk = v\n");
    EXPECT_EQ(contents("b.ini"), "[s]\nk = v\n");  // the same inode
}

TEST_F(SaveToFile, AtomicKeepsLinksModeAndTheRest) {
    const auto doc = loadText("[s]\nk = v\n");
#ifdef _WIN32
    // File modes and symbolic links are POSIX; other hard links keep the
    // old content on Windows too.
    const auto file = put("a.ini", "[old]\n");
    std::filesystem::create_hard_link(file, path("other.ini"));
    ASSERT_TRUE(doc.saveToFileAtomically(file));
    EXPECT_EQ(contents("a.ini"), "[s]\nk = v\n");
    EXPECT_EQ(contents("other.ini"), "[old]\n");
    EXPECT_EQ(namesIn(dir_), (std::vector<std::string>{"a.ini", "other.ini"}));

    // The new file has the old one's attributes and access list, not those
    // it would inherit from the directory.
    const std::wstring hidden = std::filesystem::path(put("desktop.ini", "[old]\n")).wstring();
    PSECURITY_DESCRIPTOR wanted = nullptr;
    ASSERT_NE(::ConvertStringSecurityDescriptorToSecurityDescriptorW(L"D:P(A;;FA;;;WD)", SDDL_REVISION_1,
                                                                     &wanted, nullptr),
              0);
    BOOL present = FALSE;
    BOOL defaulted = FALSE;
    PACL dacl = nullptr;
    ASSERT_NE(::GetSecurityDescriptorDacl(wanted, &present, &dacl, &defaulted), 0);
    std::wstring name = hidden;
    ASSERT_EQ(::SetNamedSecurityInfoW(name.data(), SE_FILE_OBJECT,
                                      DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION,
                                      nullptr, nullptr, dacl, nullptr),
              0U);
    ::LocalFree(wanted);
    ASSERT_NE(::SetFileAttributesW(hidden.c_str(), FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM), 0);
    const auto daclText = [&] {
        PSECURITY_DESCRIPTOR descriptor = nullptr;
        PACL read = nullptr;
        EXPECT_EQ(::GetNamedSecurityInfoW(hidden.c_str(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr,
                                          nullptr, &read, nullptr, &descriptor),
                  0U);
        wchar_t* text = nullptr;
        EXPECT_NE(::ConvertSecurityDescriptorToStringSecurityDescriptorW(
                      descriptor, SDDL_REVISION_1, DACL_SECURITY_INFORMATION, &text, nullptr),
                  0);
        std::wstring out = text != nullptr ? text : L"";
        ::LocalFree(text);
        ::LocalFree(descriptor);
        return out;
    };
    const std::wstring before = daclText();
    ASSERT_TRUE(doc.saveToFileAtomically(path("desktop.ini")));
    EXPECT_EQ(contents("desktop.ini"), "[s]\nk = v\n");
    const DWORD attributes = ::GetFileAttributesW(hidden.c_str());
    EXPECT_EQ(attributes & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM),
              static_cast<DWORD>(FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM));
    EXPECT_EQ(daclText(), before);
    ::SetFileAttributesW(hidden.c_str(), FILE_ATTRIBUTE_NORMAL);
#else
    // A symbolic link stays a link; the file it names gets the text.
    const auto target = put("target.ini", "[old]\n");
    std::filesystem::create_symlink("target.ini", path("link.ini"));
    ASSERT_TRUE(doc.saveToFileAtomically(path("link.ini")));
    EXPECT_TRUE(std::filesystem::is_symlink(path("link.ini")));
    EXPECT_EQ(contents("target.ini"), "[s]\nk = v\n");

    // The mode is kept; other hard links keep the old content.
    const auto file = put("mode.ini", "[old]\n");
    ASSERT_EQ(::chmod(file.c_str(), 0640), 0);
    std::filesystem::create_hard_link(file, path("other.ini"));
    ASSERT_TRUE(doc.saveToFileAtomically(file));
    struct stat info {};
    ASSERT_EQ(::stat(file.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0640U);
    EXPECT_EQ(contents("other.ini"), "[old]\n");

    // A new file gets 0666 less the umask, as any other program's would.
    const mode_t mask = ::umask(027);
    const bool saved = doc.saveToFileAtomically(path("new.ini"));
    ::umask(mask);
    ASSERT_TRUE(saved);
    ASSERT_EQ(::stat(path("new.ini").c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0640U);

    // A dangling link is saved through: the file it names is created.
    std::filesystem::create_symlink("made.ini", path("dangling.ini"));
    ASSERT_TRUE(doc.saveToFileAtomically(path("dangling.ini")));
    EXPECT_EQ(contents("made.ini"), "[s]\nk = v\n");
    EXPECT_EQ(namesIn(dir_), (std::vector<std::string>{"dangling.ini", "link.ini", "made.ini", "mode.ini",
                                                       "new.ini", "other.ini", "target.ini"}));
#endif
}

#if defined(__SANITIZE_ADDRESS__)
#define INI_TEST_ADDRESS_SANITIZER 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define INI_TEST_ADDRESS_SANITIZER 1
#endif
#endif

#if !defined(INI_TEST_ADDRESS_SANITIZER) && !defined(_WIN32)
// The size of this process's address space in bytes.
std::size_t addressSpaceSize() {
    std::ifstream statm("/proc/self/statm");
    std::size_t pages = 0;
    statm >> pages;
    return pages * static_cast<std::size_t>(::sysconf(_SC_PAGESIZE));
}
#endif

TEST_F(SaveToFile, RenderingThatFailsLeavesTheFileAlone) {
#ifdef INI_TEST_ADDRESS_SANITIZER
    GTEST_SKIP() << "AddressSanitizer reserves more address space than the limit this test sets";
#elif defined(_WIN32)
    GTEST_SKIP() << "needs an address-space limit (RLIMIT_AS) in a forked child, which Windows does not have";
#else
    const auto file = put("keep.ini", "[old]\nk = v\n");
    const pid_t child = ::fork();
    ASSERT_NE(child, -1);
    if (child == 0) {
        // A 64 MiB value, then too little address space left to render it.
        ini::IniFileIndex doc;
        doc.write("s", "k", std::string(std::size_t{64} << 20, 'x'));
        const rlim_t limit = addressSpaceSize() + (std::size_t{16} << 20);
        const rlimit cap{limit, limit};
        ::setrlimit(RLIMIT_AS, &cap);
        try {
            static_cast<void>(doc.saveToFile(file));
            ::_exit(1);  // rendering should not have fit
        } catch (const std::bad_alloc&) {
            ::_exit(0);
        }
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << "the child could render a 64 MiB document within the limit";
    EXPECT_EQ(contents("keep.ini"), "[old]\nk = v\n");
#endif
}

// The real INI files of tests/corpus, each loaded with ';' and with '#' as
// the comment character.
class Corpus : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(std::filesystem::is_directory(dir_)) << dir_; }
    template <typename Check>
    int forEachFile(Check check) const {
        int files = 0;
        for (const auto& entry : std::filesystem::recursive_directory_iterator(dir_)) {
            const auto extension = entry.path().extension();
            if (!entry.is_regular_file() || extension == ".md" || extension == ".tsv") {
                continue;
            }
            ++files;
            for (const char commentChar : {';', '#'}) {
                SCOPED_TRACE(entry.path().string() + " with " + commentChar);
                std::ifstream in(entry.path(), std::ios::binary);
                ini::IniFileIndex doc;
                doc.load(in, commentChar);
                check(doc);
            }
        }
        return files;
    }
    const std::filesystem::path dir_ = INI_CORPUS_DIR;
};

// Loading the rendering gives back every listed entry, and rendering is then
// stable.
TEST_F(Corpus, RoundTrips) {
    forEachFile([](const ini::IniFileIndex& first) {
        const std::string text = first.toString();
        const auto second = loadText(text, first.commentChar);
        EXPECT_EQ(second.toString(), text);
        EXPECT_EQ(second.trailingComment, first.trailingComment);
        ASSERT_EQ(second.sectionOrder, first.sectionOrder);
        for (const auto& [name, section] : first.sections) {
            if (!name.empty() && std::find(first.sectionOrder.begin(), first.sectionOrder.end(), name) ==
                                     first.sectionOrder.end()) {
                continue;  // unlisted sections are not written
            }
            const auto& again = second.sections.at(name);
            EXPECT_EQ(again.comment, section.comment) << name;
            ASSERT_EQ(again.keyOrder, section.keyOrder) << name;
            for (const auto& key : section.keyOrder) {
                const auto& a = section.values.at(key);
                const auto& b = again.values.at(key);
                EXPECT_EQ(b.value, a.value) << name << "/" << key;
                EXPECT_EQ(b.comment, a.comment) << name << "/" << key;
                EXPECT_EQ(b.inlineComment, a.inlineComment) << name << "/" << key;
            }
        }
    });
}

// The invariants hold and every listed key reads back.
TEST_F(Corpus, LoadsRealFiles) {
    const int files = forEachFile([](const ini::IniFileIndex& doc) {
        EXPECT_EQ(ini_test::invariantViolation(doc), "");
        for (const auto& name : doc.sectionOrder) {
            for (const auto& key : doc.sections.at(name).keyOrder) {
                EXPECT_EQ(doc.read(name, key, "\x01missing"), doc.sections.at(name).values.at(key).value);
            }
        }
    });
    EXPECT_GT(files, 40);
}

// Every non-blank line of every file, read with the comment character its
// MANIFEST.tsv row names first, comes back in the rendering of an unedited
// load: byte for byte, or as the normal form of its header ("[name]") or key
// line ("key = ...").
TEST_F(Corpus, RenderingKeepsEveryLine) {
    int files = 0;
    for (const auto& file : ini_test::corpusFiles(dir_)) {
        SCOPED_TRACE(file.path + " with " + file.commentChar);
        const std::string& input = file.text;
        const std::string text = loadText(input, file.commentChar).toString();
        std::set<std::string_view> rendered;
        for (std::string_view rest = text; !rest.empty();) {
            const auto end = rest.find('\n');
            rendered.insert(rest.substr(0, end));
            rest.remove_prefix(end == std::string_view::npos ? rest.size() : end + 1);
        }
        const auto normalFormIsThere = [&](std::string_view line) {
            const auto first = line.find_first_not_of(" \t\r");
            line.remove_prefix(first);
            if (line.front() == '[') {
                return rendered.count(line.substr(0, line.find(']') + 1)) != 0;
            }
            std::string key(line.substr(0, line.find('=')));
            key.erase(key.find_last_not_of(" \t") + 1);
            const auto candidate = rendered.lower_bound(key + " = ");
            return candidate != rendered.end() && candidate->substr(0, key.size() + 3) == key + " = ";
        };
        int lost = 0;
        for (std::string_view rest = input; !rest.empty();) {
            const auto end = rest.find('\n');
            const std::string_view line = rest.substr(0, end);
            rest.remove_prefix(end == std::string_view::npos ? rest.size() : end + 1);
            if (line.find_first_not_of(" \t\r") != std::string_view::npos && rendered.count(line) == 0 &&
                !normalFormIsThere(line)) {
                ADD_FAILURE() << "line lost: " << line;
                ++lost;
            }
        }
        EXPECT_EQ(lost, 0);
        ++files;
    }
    EXPECT_GT(files, 40);
}

TEST_F(Corpus, SpotChecks) {
    std::ifstream in(dir_ / "0ad-data-common/default.cfg", std::ios::binary);
    ini::IniFileIndex doc;
    doc.load(in, ';');
    EXPECT_FALSE(doc.sectionOrder.empty());
    EXPECT_FALSE(doc.sections.at("").values.empty());  // keys before the first header
}

}  // namespace
