// How values are written and numbers read and written, shared by the
// document and the editor so that both follow the same rules. Internal to
// the library: not installed.
#ifndef INI_INITEXTRULES_H
#define INI_INITEXTRULES_H

#include <string>
#include <string_view>

namespace ini::detail {

// Whether the loader would trim (a blank or tab at either end) or cut (the
// comment character anywhere) `value` if it were written bare.
bool valueNeedsQuotes(std::string_view value, char commentChar);

// Appends `value` as it is written after "=": in double quotes when
// valueNeedsQuotes says so; nothing inside is escaped.
void appendValue(std::string& out, std::string_view value, char commentChar);

// atof's syntax and result in the "C" locale (hex, inf and nan included),
// whatever the process locale, on every system.
double parseNumber(const char* text);

// `value` as printf's "%.6g" writes it in the "C" locale.
std::string formatNumber(float value);

}  // namespace ini::detail

#endif  // INI_INITEXTRULES_H
