// The verbs that print: get, list, dump and check, in each output format
// (a value, sh assignments, JSON, the text dump, findings).
#ifndef INIEDIT_OUTPUT_H
#define INIEDIT_OUTPUT_H

#include "IniEditor.h"
#include "Options.h"

#include <string>

namespace iniedit {

int runGet(const Options& options, const ini::IniEditor& editor);
int runDump(const Options& options, const ini::IniEditor& editor);
int runList(const Options& options, const ini::IniEditor& editor);
int runCheck(const Options& options, const std::string& text);

// `value` in the canonical form of --type (as JSON with --format=json:
// numbers and booleans bare, an infinity or NaN as a string); a Failure
// (status 3) when it is not of the type. `what` names the value.
std::string typed(const Options& options, const std::string& value, const std::string& what);

// `text` as a JSON string (bytes that are not UTF-8 as U+FFFD).
std::string jsonString(std::string_view text);

}  // namespace iniedit

#endif  // INIEDIT_OUTPUT_H
