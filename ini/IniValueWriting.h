// How a value is written under a dialect: which spelling of a value reads
// back as it was given (plain, escaped or quoted), values over several
// lines, a key line in the style of the lines around it, and the names and
// values a format cannot carry. Internal to the library: not installed.
#ifndef INI_INIVALUEWRITING_H
#define INI_INIVALUEWRITING_H

#include "IniDialect.h"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace ini::detail {

// The value as it must be written so that the loader reads `value` back, or
// a reason why it cannot be. Quotes protect blanks, tabs and CRs at the ends
// (the loader trims them), comment characters, and a leading quote.
std::optional<std::string> writtenValue(std::string_view value, const IniDialect& dialect,
                                        std::string& reason);

// Why a new section called `section` cannot be written, or "".
std::string sectionProblem(std::string_view section, const IniDialect& dialect);

// "key = value" in the style of `model` (its indentation, its delimiter, and
// blanks around it or none, all on its first line), or in the plain style
// when there is no model.
std::string keyLine(std::string_view model, std::string_view key, std::string_view value,
                    const IniDialect& dialect);

// The first line of a value as checkedValue gives it.
std::string_view firstLine(std::string_view written);

// The further lines of `written` (a value as checkedValue gives it) for the
// key line `keyText`, each after `eol`; empty for a value of one line.
std::string furtherLines(std::string_view written, std::string_view keyText, const IniDialect& dialect,
                         std::string_view eol);

// The ways a value may be written, plainest first: as it is, and under
// owners with quotes or escapes, escaped and quoted.
std::vector<std::string> valueCandidates(std::string_view value, const IniDialect& dialect);

// Whether `line`, alone, is a line of `key` in every dialect-relevant way
// and reads as `value`.
bool readsBack(std::string_view line, std::string_view key, std::string_view value,
               const IniDialect& dialect);

// `value` as written after the delimiter so that `key` reads it back, or a
// reason why no writing can.
std::optional<std::string> checkedValue(std::string_view key, std::string_view value,
                                        const IniDialect& dialect, std::string& reason);

}  // namespace ini::detail

#endif  // INI_INIVALUEWRITING_H
