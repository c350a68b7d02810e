#include "IniTextRules.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <limits>
#include <system_error>

namespace ini::detail {

bool valueNeedsQuotes(std::string_view value, char commentChar) {
    const auto isBlank = [](char c) { return c == ' ' || c == '\t'; };
    return !value.empty() && (isBlank(value.front()) || isBlank(value.back()) ||
                              value.find(commentChar) != std::string_view::npos);
}

void appendValue(std::string& out, std::string_view value, char commentChar) {
    const bool quoted = valueNeedsQuotes(value, commentChar);
    if (quoted) {
        out += '"';
    }
    out += value;
    if (quoted) {
        out += '"';
    }
}

namespace {

bool is_c_space(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

bool is_digit(char c, bool hex) {
    return (c >= '0' && c <= '9') || (hex && ((c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F')));
}

// Whether the number at the start of `text` (digits in base 10 or, with
// `hex`, 16, an optional point, an optional exponent), which from_chars found
// beyond the range of a double, is too large rather than too small: the
// power of the base, or of two for hex, at its first non-zero digit is
// positive. Only the sign of that power matters, so the exponent saturates.
bool too_large(std::string_view text, bool hex) {
    bool seenPoint = false;
    bool seenNonZero = false;
    long long integerDigits = 0;
    long long leadingFractionZeros = 0;
    std::size_t i = 0;
    for (; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '.' && !seenPoint) {
            seenPoint = true;
        } else if (is_digit(c, hex)) {
            if (!seenPoint && (seenNonZero || c != '0')) {
                integerDigits += 1;
            } else if (seenPoint && !seenNonZero && c == '0') {
                leadingFractionZeros += 1;
            }
            seenNonZero = seenNonZero || c != '0';
        } else {
            break;
        }
    }
    // The power at the first non-zero digit.
    const long long place =
        (integerDigits > 0 ? integerDigits - 1 : -(leadingFractionZeros + 1)) * (hex ? 4 : 1);
    long long exponent = 0;
    const char mark = hex ? 'p' : 'e';
    if (i + 1 < text.size() && (text[i] | 0x20) == mark) {
        std::size_t j = i + 1;
        const bool negative = text[j] == '-';
        j += text[j] == '-' || text[j] == '+' ? 1 : 0;
        for (; j < text.size() && is_digit(text[j], false); ++j) {
            exponent = std::min<long long>(exponent * 10 + (text[j] - '0'), 1LL << 40);
        }
        exponent = negative ? -exponent : exponent;
    }
    return place + exponent > 0;
}

}  // namespace

// What C's strtod (and atof) reads in the "C" locale, without any locale
// API, so that the process locale never changes what a stored number means
// and the result is the same on every system: blanks skipped, an optional
// sign, then the longest prefix that is a decimal or 0x-hexadecimal number,
// inf, infinity or nan (in any case, nan with an optional parenthesised
// tail); 0 when there is none, an infinity beyond the range of a double, a
// zero below it.
double parseNumber(const char* text) {
    std::string_view rest(text);
    while (!rest.empty() && is_c_space(rest.front())) {
        rest.remove_prefix(1);
    }
    bool negative = false;
    if (!rest.empty() && (rest.front() == '+' || rest.front() == '-')) {
        negative = rest.front() == '-';
        rest.remove_prefix(1);
    }
    if (rest.empty() || rest.front() == '+' || rest.front() == '-') {
        return 0.0;  // from_chars would take a second '-'
    }
    // "0x" counts only when a hex digit follows, after a point or not;
    // otherwise the number is the "0" before the x.
    const auto hexDigitAt = [&](std::size_t i) { return i < rest.size() && is_digit(rest[i], true); };
    const bool hex = rest.size() > 2 && rest[0] == '0' && (rest[1] | 0x20) == 'x' &&
                     (hexDigitAt(2) || (rest[2] == '.' && hexDigitAt(3)));
    if (hex) {
        rest.remove_prefix(2);
    }
    // An exponent mark counts only with digits after its one optional sign;
    // otherwise the number ends before it ("0x1p+-2" is 1).
    std::size_t digits = 0;
    bool point = false;
    while (digits < rest.size() && (is_digit(rest[digits], hex) || (rest[digits] == '.' && !point))) {
        point = point || rest[digits] == '.';
        ++digits;
    }
    if (digits < rest.size() && (rest[digits] | 0x20) == (hex ? 'p' : 'e')) {
        std::size_t after = digits + 1;
        after += after < rest.size() && (rest[after] == '+' || rest[after] == '-') ? 1 : 0;
        if (after >= rest.size() || !is_digit(rest[after], false)) {
            rest = rest.substr(0, digits);
        }
    }
    double value = 0.0;
    const auto result = std::from_chars(rest.data(), rest.data() + rest.size(), value,
                                        hex ? std::chars_format::hex : std::chars_format::general);
    if (result.ec == std::errc::invalid_argument) {
        return 0.0;
    }
    if (result.ec == std::errc::result_out_of_range) {
        value = too_large(rest, hex) ? std::numeric_limits<double>::infinity() : 0.0;
    }
    return negative ? -value : value;
}

// On an IEEE platform the double-to-float conversion rounds to nearest and
// turns magnitudes beyond the largest float into infinities.
static_assert(std::numeric_limits<float>::is_iec559, "float must be IEEE 754 single precision");

std::string formatNumber(float value) {
    // "%.6g" fits in 16 characters ("-1.23457e+38"); to_chars is locale-free.
    std::array<char, 32> text{};
    const auto result = std::to_chars(text.data(), text.data() + text.size(), static_cast<double>(value),
                                      std::chars_format::general, 6);
    return std::string(text.data(), result.ptr);
}

}  // namespace ini::detail
