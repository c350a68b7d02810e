// iniedit's command line as one plain struct: the verb, FILE, the operands
// after it, and every option, parsed and checked before anything is read.
#ifndef INIEDIT_OPTIONS_H
#define INIEDIT_OPTIONS_H

#include "IniDialect.h"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace iniedit {

enum class Format { value, sh, json, ini };

// What --type names: how a value is read and printed.
struct ValueType {
    const char* name;
    const char* description;
    // The value's canonical text, or std::nullopt with `reason` set.
    std::optional<std::string> (*canonical)(std::string_view text, const char** reason);
};

// The command line, parsed.
struct Options {
    std::string verb;
    std::string file;
    std::vector<std::string> operands;  // after FILE
    ini::IniDialect dialect = ini::IniDialect::classic();
    // Why the dialect is the one it is, for -v: chosen from FILE's name
    // unless --dialect named one.
    std::string dialectReason;
    std::optional<std::string> commentChars;
    Format format = Format::value;
    const ValueType* type = nullptr;
    bool all = false;
    bool nulSeparated = false;
    bool existing = false;
    bool create = false;
    std::optional<std::string> output;
    bool inPlace = false;
    bool dryRun = false;
    bool quiet = false;
    bool verbose = false;
    bool noValue = false;  // set: a key without a value
    bool diff = false;     // print the edit as a unified diff
    // Seconds to wait for another process's edit lock; below 0, for ever.
    double wait = -1.0;
    // A stack of files instead of FILE: --layer files, or a preset
    // ("systemd-unit:NAME", "systemd-conf:NAME", "php:MAIN", "mysql[:FILE]").
    std::vector<std::string> layers;
    std::string stack;
    std::string root;               // --root: the presets' absolute paths under it
    std::string scanDir;            // --scan-dir: PHP's compiled-in scan directory
    bool origin = false;            // get and dump: where each value comes from
    std::optional<std::string> to;  // the file an edit of a stack goes to
    bool dialectGiven = false;
    bool usesStack() const { return !layers.empty() || !stack.empty(); }
};

// Whether `verb` edits the file (and may write it): set, add, del, comment,
// uncomment, merge and batch.
bool isEdit(const std::string& verb);

// The command line, or a Failure with status 2 (and --help and --version
// answered, status 0).
Options parseArguments(int argc, char** argv);

}  // namespace iniedit

#endif  // INIEDIT_OPTIONS_H
