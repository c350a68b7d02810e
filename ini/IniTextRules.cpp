#include "IniTextRules.h"

#include <array>
#include <charconv>
#include <cstdlib>
#include <limits>

#include <locale.h>
#include <stdlib.h>

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

// The process locale (set by any program that calls setlocale) must not
// change what a stored number means.
double parseNumber(const char* text) {
    static const locale_t cLocale = newlocale(LC_ALL_MASK, "C", locale_t{});
    if (cLocale == locale_t{}) {
        return std::atof(text);  // cannot happen for "C"; keeps the plain reading
    }
    return strtod_l(text, nullptr, cLocale);
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
