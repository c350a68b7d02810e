#include "IniTypes.h"

#include "IniDialect.h"

#include <array>
#include <charconv>
#include <cmath>
#include <limits>
#include <system_error>
#include <utility>

namespace ini {
namespace {

std::string_view trimmed(std::string_view text) {
    const auto blank = [](char c) { return c == ' ' || c == '\t'; };
    while (!text.empty() && blank(text.front())) {
        text.remove_prefix(1);
    }
    while (!text.empty() && blank(text.back())) {
        text.remove_suffix(1);
    }
    return text;
}

template <class T>
std::optional<T> rejected(const char** reason, const char* why) {
    if (reason != nullptr) {
        *reason = why;
    }
    return std::nullopt;
}

// An optional sign, then the magnitude in decimal or 0x hex, all of `text`.
struct Magnitude {
    bool negative = false;
    std::uint64_t value = 0;
};

std::optional<Magnitude> parse_magnitude(std::string_view text, const char** reason) {
    Magnitude out;
    text = trimmed(text);
    if (!text.empty() && (text.front() == '+' || text.front() == '-')) {
        out.negative = text.front() == '-';
        text.remove_prefix(1);
    }
    int base = 10;
    if (text.size() >= 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        base = 16;
        text.remove_prefix(2);
    }
    // from_chars takes no sign of its own here: a second one is no digit.
    if (text.empty() || text.front() == '-' || text.front() == '+') {
        return rejected<Magnitude>(reason, "no digits");
    }
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), out.value, base);
    if (error == std::errc::result_out_of_range) {
        return rejected<Magnitude>(reason, "out of range");
    }
    if (error != std::errc{} || end != text.data() + text.size()) {
        return rejected<Magnitude>(reason, "unexpected characters");
    }
    return out;
}

template <class T, class Parse>
IniRead<T> read_from(std::optional<std::string> text, Parse parse) {
    IniRead<T> out;
    if (!text) {
        return out;
    }
    out.text = std::move(*text);
    if (const auto value = parse(out.text, &out.reason)) {
        out.status = IniReadStatus::value;
        out.value = *value;
    } else {
        out.status = IniReadStatus::notOfType;
    }
    return out;
}

}  // namespace

std::optional<std::int64_t> parseInt(std::string_view text, const char** reason) {
    const auto magnitude = parse_magnitude(text, reason);
    if (!magnitude) {
        return std::nullopt;
    }
    constexpr std::uint64_t largest = std::numeric_limits<std::int64_t>::max();
    if (magnitude->value > largest + (magnitude->negative ? 1 : 0)) {
        return rejected<std::int64_t>(reason, "out of range");
    }
    if (!magnitude->negative) {
        return static_cast<std::int64_t>(magnitude->value);
    }
    // -2^63 has no positive counterpart: negate in unsigned arithmetic.
    return magnitude->value == largest + 1 ? std::numeric_limits<std::int64_t>::min()
                                           : -static_cast<std::int64_t>(magnitude->value);
}

std::optional<std::uint64_t> parseUint(std::string_view text, const char** reason) {
    if (trimmed(text).substr(0, 1) == "-") {
        return rejected<std::uint64_t>(reason, "negative");
    }
    const auto magnitude = parse_magnitude(text, reason);
    if (!magnitude) {
        return std::nullopt;
    }
    return magnitude->value;
}

std::optional<double> parseDouble(std::string_view text, const char** reason) {
    text = trimmed(text);
    bool negative = false;
    if (!text.empty() && (text.front() == '+' || text.front() == '-')) {
        negative = text.front() == '-';
        text.remove_prefix(1);
    }
    if (text.empty() || text.front() == '-' || text.front() == '+') {
        return rejected<double>(reason, "no digits");
    }
    double value = 0;
    const auto [end, error] =
        std::from_chars(text.data(), text.data() + text.size(), value, std::chars_format::general);
    if (error == std::errc::result_out_of_range) {
        return rejected<double>(reason, "out of range");
    }
    if (error != std::errc{} || end != text.data() + text.size()) {
        return rejected<double>(reason, "unexpected characters");
    }
    return negative ? -value : value;
}

std::optional<bool> parseBool(std::string_view text, const char** reason) {
    text = trimmed(text);
    for (const char* yes : {"true", "yes", "on", "1"}) {
        if (equalsIgnoringCase(text, yes)) {
            return true;
        }
    }
    for (const char* no : {"false", "no", "off", "0"}) {
        if (equalsIgnoringCase(text, no)) {
            return false;
        }
    }
    return rejected<bool>(reason, "not true/false, yes/no, on/off or 1/0");
}

std::string formatInt(std::int64_t value) {
    std::array<char, 24> text{};
    const auto result = std::to_chars(text.data(), text.data() + text.size(), value);
    return std::string(text.data(), result.ptr);
}

std::string formatUint(std::uint64_t value) {
    std::array<char, 24> text{};
    const auto result = std::to_chars(text.data(), text.data() + text.size(), value);
    return std::string(text.data(), result.ptr);
}

std::string formatDouble(double value, int significantDigits) {
    // The longest "%.17g" is "-1.2345678901234567e-308"; to_chars is
    // locale-free, and its shortest form reads back exactly.
    std::array<char, 64> text{};
    if (significantDigits <= 0) {
        return std::string(text.data(), std::to_chars(text.data(), text.data() + text.size(), value).ptr);
    }
    // Rounded to fewer digits, a finite value near the largest double can
    // round beyond it ("2e+308"): more digits until the text reads back.
    for (int digits = std::min(significantDigits, 17);; ++digits) {
        const auto end =
            std::to_chars(text.data(), text.data() + text.size(), value, std::chars_format::general, digits)
                .ptr;
        double back = 0.0;
        const bool finite = std::from_chars(text.data(), end, back).ec == std::errc();
        if (finite || digits >= 17 || !std::isfinite(value)) {
            return std::string(text.data(), end);
        }
    }
}

std::string formatBool(bool value) { return value ? "true" : "false"; }

IniRead<std::int64_t> readIntFrom(std::optional<std::string> text) {
    return read_from<std::int64_t>(std::move(text), parseInt);
}
IniRead<std::uint64_t> readUintFrom(std::optional<std::string> text) {
    return read_from<std::uint64_t>(std::move(text), parseUint);
}
IniRead<double> readDoubleFrom(std::optional<std::string> text) {
    return read_from<double>(std::move(text), parseDouble);
}
IniRead<bool> readBoolFrom(std::optional<std::string> text) {
    return read_from<bool>(std::move(text), parseBool);
}

}  // namespace ini
