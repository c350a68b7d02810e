// Typed values: integers, doubles and booleans read strictly and written so
// that they read back exactly, the same on every system and in every locale.
//
// A typed read tells three outcomes apart:
//
//     const ini::IniRead<std::int64_t> port = editor.readInt("server", "port");
//     if (port) { use(port.value); }
//     else if (port.status == ini::IniReadStatus::notOfType) { report(port.text, port.reason); }
//     const std::int64_t timeout = editor.readInt("server", "timeout").valueOr(30);
//
// The forms accepted, after blanks and tabs at either end:
// - integers: an optional sign, then decimal digits, or "0x"/"0X" and hex
//   digits ("010" is ten: no octal); a value outside the type's range is not
//   of the type, never wrapped; an unsigned integer takes no '-' at all;
// - doubles: an optional sign, then decimal digits with an optional '.' and
//   exponent, or "inf", "infinity" or "nan" (any case), always with '.' as
//   the decimal point; a finite text beyond the double's range ("1e309") or
//   that rounds to zero although it is not ("1e-400") is not of the type;
// - booleans: true/false, yes/no, on/off, 1/0, in any ASCII case.
#ifndef INI_INITYPES_H
#define INI_INITYPES_H

#include "IniExport.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace ini {

enum class IniReadStatus {
    value,      // the key holds a value of the type
    absent,     // no such key (or section)
    notOfType,  // the key holds text that is not of the type
};

template <class T>
struct IniRead {
    IniReadStatus status = IniReadStatus::absent;
    T value{};                     // when status is value
    std::string text;              // the text read, when the key is present
    const char* reason = nullptr;  // why the text is not of the type

    explicit operator bool() const { return status == IniReadStatus::value; }
    T valueOr(T fallback) const { return status == IniReadStatus::value ? value : fallback; }
};

// The strict readings; std::nullopt when `text` is not of the type, with
// `reason` (when given) set to why.
INI_API std::optional<std::int64_t> parseInt(std::string_view text, const char** reason = nullptr);
INI_API std::optional<std::uint64_t> parseUint(std::string_view text, const char** reason = nullptr);
INI_API std::optional<double> parseDouble(std::string_view text, const char** reason = nullptr);
INI_API std::optional<bool> parseBool(std::string_view text, const char** reason = nullptr);

// Canonical text: integers in decimal; booleans as "true" or "false";
// doubles as the shortest text that reads back to the same double ("0.1",
// "1e+300", "-0", "inf", "nan"), or with `significantDigits` (1 to 17)
// significant digits as printf's "%.*g" writes them in the "C" locale: 17
// always reads back exactly.
INI_API std::string formatInt(std::int64_t value);
INI_API std::string formatUint(std::uint64_t value);
INI_API std::string formatDouble(double value, int significantDigits = 0);
INI_API std::string formatBool(bool value);

// A lookup's text (std::nullopt when absent) read as a type.
INI_API IniRead<std::int64_t> readIntFrom(std::optional<std::string> text);
INI_API IniRead<std::uint64_t> readUintFrom(std::optional<std::string> text);
INI_API IniRead<double> readDoubleFrom(std::optional<std::string> text);
INI_API IniRead<bool> readBoolFrom(std::optional<std::string> text);

}  // namespace ini

#endif  // INI_INITYPES_H
