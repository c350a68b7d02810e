// Numbers as the library reads them: what C's strtod reads in the "C"
// locale, checked against glibc's strtod itself over millions of generated
// texts. Where glibc is not the C library (a Windows build), the same texts
// are read and their results folded into a digest that must equal the one
// recorded from the run against glibc.
#include "IniTextRules.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <string>

#if defined(__GLIBC__)
#include <locale.h>
#include <stdlib.h>
#endif

namespace {

// A small generator whose sequence is the same with every compiler and C
// library (splitmix64).
struct Generator {
    std::uint64_t state;
    std::uint64_t next() {
        std::uint64_t z = (state += 0x9E3779B97F4A7C15ULL);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
        return z ^ (z >> 31);
    }
    std::size_t below(std::size_t n) { return static_cast<std::size_t>(next() % n); }
    bool chance(std::size_t in) { return below(in) == 0; }
    char pick(const char* from) { return from[below(std::strlen(from))]; }
};

void append_digits(Generator& g, std::string& out, std::size_t most, const char* digits) {
    const std::size_t count = g.below(most + 1);
    for (std::size_t i = 0; i < count; ++i) {
        out += g.chance(4) ? '0' : g.pick(digits);
    }
}

// One text: blanks, signs, a decimal, hexadecimal or special number with
// exponents near and far beyond the limits of a double, and what may follow
// it; or a run of characters from the alphabet numbers are made of.
std::string generate(Generator& g) {
    std::string out;
    while (g.chance(6)) {
        out += g.pick(" \t\n\v\f\r");
    }
    if (g.chance(3)) {
        out += g.pick("+-");
        if (g.chance(30)) {
            out += g.pick("+- ");
        }
    }
    switch (g.below(8)) {
    case 0: {  // any run of the characters numbers are made of
        const std::size_t length = g.below(12);
        for (std::size_t i = 0; i < length; ++i) {
            out += g.pick("0123456789.eEpPxX+-aAfFiInNtTyY() \t");
        }
        break;
    }
    case 1: {  // inf, infinity or nan in any case, sometimes cut short
        static const char* const words[] = {"inf",       "infinity",   "nan",   "nan(", "nan()",
                                            "nan(0x1f)", "nan(abc_9)", "infin", "na"};
        for (const char* c = words[g.below(9)]; *c != '\0'; ++c) {
            out += g.chance(2) ? static_cast<char>(*c & ~0x20 & 0x7F) : *c;
        }
        break;
    }
    case 2:
    case 3: {  // hexadecimal with a binary exponent
        out += g.chance(2) ? "0x" : "0X";
        append_digits(g, out, g.chance(4) ? 20 : 4, "0123456789abcdefABCDEF");
        if (g.chance(2)) {
            out += '.';
            append_digits(g, out, 6, "0123456789abcdef");
        }
        if (!g.chance(4)) {
            out += g.pick("pP");
            if (g.chance(2)) {
                out += g.pick("+-");
            }
            out += std::to_string(g.chance(3) ? 1000 + g.below(120) : g.below(1200));
        }
        break;
    }
    default: {  // decimal, exponents around the limits of a double
        append_digits(g, out, g.chance(5) ? 40 : 8, "0123456789");
        if (g.chance(2)) {
            out += '.';
            append_digits(g, out, g.chance(5) ? 40 : 8, "0123456789");
        }
        if (!g.chance(3)) {
            out += g.pick("eE");
            if (g.chance(2)) {
                out += g.pick("+-");
            }
            const std::size_t size = g.below(4);
            out += size == 0   ? std::to_string(290 + g.below(50))
                   : size == 1 ? std::to_string(g.below(30))
                   : size == 2 ? std::to_string(g.below(100000))
                               : std::string("99999999999999999999");
        }
        break;
    }
    }
    if (g.chance(4)) {
        out += g.pick("xe.pP+-( 9;#,");
    }
    return out;
}

// The bits of a result, every NaN taken as one value of its sign (payloads
// are not part of what a stored number means).
std::uint64_t bits_of(double value) {
    if (std::isnan(value)) {
        return std::signbit(value) ? 1 : 2;
    }
    std::uint64_t bits = 0;
    std::memcpy(&bits, &value, sizeof bits);
    return bits;
}

constexpr std::size_t generatedTexts = 3'000'000;
constexpr std::uint64_t glibcDigest = 8839680611451246510ULL;  // recorded from a run against glibc

}  // namespace

TEST(Numbers, ReadAsStrtodReads) {
    const struct {
        const char* text;
        double value;
    } cases[] = {
        {"1.5", 1.5},
        {"  \t-2.5e1x", -25},
        {"+.5", 0.5},
        {"0x10", 16},
        {"0X1.8p1", 3},
        {"-0x.8", -0.5},
        {"0x", 0},
        {"0xg", 0},
        {"0x1p", 1},
        {"0x1p+-2", 1},  // a second sign ends the number before its exponent
        {"1e-+2", 1},
        {"0x1P-", 1},
        {"1e", 1},
        {"1e+", 1},
        {"12abc", 12},
        {"", 0},
        {".", 0},
        {"+-1", 0},
        {"- 1", 0},
        {"1,5", 1},
        {"1e309", HUGE_VAL},
        {"-1e999999999999", -HUGE_VAL},
        {"1e-400", 0},
        {"0x1p-1080", 0},
        {"0x1p1024", HUGE_VAL},
        {"INF", HUGE_VAL},
        {"-Infinity", -HUGE_VAL},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(bits_of(ini::detail::parseNumber(c.text)), bits_of(c.value));
    }
    EXPECT_TRUE(std::isnan(ini::detail::parseNumber(" nan(1)")));
    EXPECT_TRUE(std::signbit(ini::detail::parseNumber("-nan")));
    EXPECT_EQ(bits_of(ini::detail::parseNumber("1e-400")), bits_of(0.0));  // positive zero
    EXPECT_EQ(bits_of(ini::detail::parseNumber("-1e-400")), bits_of(-0.0));
}

TEST(Numbers, GeneratedTextsReadAsGlibcStrtod) {
    Generator g{20261208};
    std::uint64_t digest = 0xCBF29CE484222325ULL;  // FNV-1a over the results' bits
#if defined(__GLIBC__)
    const locale_t cLocale = newlocale(LC_ALL_MASK, "C", locale_t{});
    ASSERT_NE(cLocale, locale_t{});
    std::size_t differences = 0;
#endif
    for (std::size_t i = 0; i < generatedTexts; ++i) {
        const std::string text = generate(g);
        const std::uint64_t ours = bits_of(ini::detail::parseNumber(text.c_str()));
        for (int shift = 0; shift < 64; shift += 8) {
            digest = (digest ^ ((ours >> shift) & 0xFF)) * 0x100000001B3ULL;
        }
#if defined(__GLIBC__)
        const std::uint64_t theirs = bits_of(strtod_l(text.c_str(), nullptr, cLocale));
        if (ours != theirs && ++differences <= 10) {
            ADD_FAILURE() << "'" << text << "': " << ours << " against strtod's " << theirs;
        }
#endif
    }
#if defined(__GLIBC__)
    freelocale(cLocale);
    EXPECT_EQ(differences, 0U);
#endif
    EXPECT_EQ(digest, glibcDigest) << "digest of " << generatedTexts << " results";
}
