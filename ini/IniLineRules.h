// The rules by which a dialect's owner rejects a line that the grammar
// reads: reserved words, statements split at tabs, and brackets in keys.
// The scanner asks them; nothing else does. Internal to the library: not
// installed.
#ifndef INI_INILINERULES_H
#define INI_INILINERULES_H

#include "IniDialect.h"

#include <string_view>

namespace ini::detail {

// One object, so that the scanner can tell this problem by its address.
inline constexpr char reservedLineProblem[] = "a line holding a word its owner reserves (true, on, null ...)";

// Why the owner rejects `line`, a line without a delimiter (comment cut), or
// null.
const char* bareLineProblem(std::string_view line, const IniDialect& d);

// Why the owner rejects the key `key` (trimmed from `written`, the line up
// to its delimiter), beyond its forbidden bytes, or null.
const char* keyProblem(std::string_view key, std::string_view written, const IniDialect& d);

// Whether `line`, the last line of a text without a '\n' after it, ends in
// a reserved word followed by nothing but blanks: PHP reads such a last
// word as a name, though anywhere else it rejects it.
bool endsInFinalWord(std::string_view line, const IniDialect& d);

}  // namespace ini::detail

#endif  // INI_INILINERULES_H
