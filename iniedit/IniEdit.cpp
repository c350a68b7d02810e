// iniedit: reads, tests and edits INI files from the command line, changing
// only the lines an edit is about. See iniedit.1 for the whole interface.
#include "IniDiagnostics.h"
#include "IniEditor.h"
#include "IniFileSave.h"
#include "IniTypes.h"
#include "IniVersion.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <iterator>
#include <optional>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

namespace {

// The exit statuses, each with its meaning in the manual page.
enum Status : int {
    success = 0,
    notFound = 1,
    usageError = 2,
    refusedUnsafe = 3,
    ioFailure = 4,
    notDurable = 5,
};

// Ends the run with `status` and one line on standard error.
struct Failure {
    Status status;
    std::string message;
};

[[noreturn]] void fail(Status status, const std::string& message) { throw Failure{status, message}; }

const char* const usage =
    "usage: iniedit [OPTIONS] get    FILE SECTION KEY\n"
    "       iniedit [OPTIONS] set    FILE SECTION KEY VALUE\n"
    "       iniedit [OPTIONS] add    FILE SECTION KEY VALUE\n"
    "       iniedit [OPTIONS] del    FILE SECTION [KEY [VALUE]]\n"
    "       iniedit [OPTIONS] exists FILE SECTION [KEY]\n"
    "       iniedit [OPTIONS] list   FILE [SECTION]\n"
    "       iniedit [OPTIONS] dump   FILE\n"
    "       iniedit [OPTIONS] comment   FILE SECTION KEY\n"
    "       iniedit [OPTIONS] uncomment FILE SECTION KEY [VALUE]\n"
    "       iniedit [OPTIONS] check  FILE            (1 when it finds something)\n"
    "       iniedit [OPTIONS] batch  FILE            (operations on standard input)\n"
    "\n"
    "SECTION \"\" names the keys above the first header; FILE - is standard input,\n"
    "and an edited result then goes to standard output; so do /dev/stdin,\n"
    "/dev/fd/N and named pipes.\n"
    "\n"
    "options (before the verb):\n"
    "      --dialect NAME     classic (default), python, php, mysql, desktop or systemd\n"
    "  -c, --comment-char C   the comment characters (default: the dialect's)\n"
    "      --format F         get, list, dump and check: value (default), sh or json\n"
    "      --type T           get: print the value as int, uint, float or bool (3 when it\n"
    "                         is not one); set: write only a value of that type\n"
    "      --all              get and dump: every value of a key; set: replace them all\n"
    "  -0                     list: end each name with NUL instead of newline\n"
    "      --existing         set and del: fail with 1 when the section or key is absent\n"
    "      --create           a missing FILE counts as empty and may be created\n"
    "  -o, --output FILE|-    write the edited text there instead of to FILE\n"
    "      --in-place         rewrite FILE's own inode (hard links, bind mounts); not atomic\n"
    "      --dry-run          write nothing; report changed or unchanged on standard error\n"
    "  -q, --quiet            no message for status 1 and no dry-run report\n"
    "      --help, --version\n"
    "\n"
    "batch reads one operation per line, fields separated by tabs:\n"
    "  set<TAB>SECTION<TAB>KEY<TAB>VALUE   (VALUE is the rest of the line)\n"
    "  add<TAB>SECTION<TAB>KEY<TAB>VALUE\n"
    "  del<TAB>SECTION[<TAB>KEY[<TAB>VALUE]]\n"
    "Empty lines and lines starting with '#' are skipped.\n"
    "\n"
    "exit status: 0 done (exists: true; check: nothing found), 1 not found (check: found),\n"
    "2 usage error, "
    "3 refused as unsafe or a line the dialect's owner rejects (nothing written), 4 input or output failure "
    "(file untouched),\n"
    "5 written, but its directory could not be flushed (a crash may undo the edit)\n";

enum class Format { value, sh, json };

// What --type names: how a value is read and printed.
struct ValueType {
    const char* name;
    const char* description;
    // The value's canonical text, or std::nullopt with `reason` set.
    std::optional<std::string> (*canonical)(std::string_view text, const char** reason);
};

template <class T, std::optional<T> (*parse)(std::string_view, const char**), std::string (*format)(T)>
std::optional<std::string> canonical(std::string_view text, const char** reason) {
    const auto value = parse(text, reason);
    return value ? std::optional<std::string>(format(*value)) : std::nullopt;
}

std::string shortest(double value) { return ini::formatDouble(value); }

constexpr ValueType valueTypes[] = {
    {"int", "a 64-bit signed integer", canonical<std::int64_t, ini::parseInt, ini::formatInt>},
    {"uint", "a 64-bit unsigned integer", canonical<std::uint64_t, ini::parseUint, ini::formatUint>},
    {"float", "a floating-point number", canonical<double, ini::parseDouble, shortest>},
    {"bool", "a boolean", canonical<bool, ini::parseBool, ini::formatBool>},
};

// The command line, parsed.
struct Options {
    std::string verb;
    std::string file;
    std::vector<std::string> operands;  // after FILE
    ini::IniDialect dialect = ini::IniDialect::classic();
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
};

bool is_edit(const std::string& verb) {
    return verb == "set" || verb == "add" || verb == "del" || verb == "batch" || verb == "comment" ||
           verb == "uncomment";
}

// Options come before the verb, so that a value such as "-5" after it is
// never read as an option.
Options parse_arguments(int argc, char** argv) {
    Options options;
    int i = 1;
    const auto optionValue = [&](std::string_view name) -> std::string {
        if (i + 1 >= argc) {
            fail(usageError, std::string(name) + " needs a value");
        }
        return argv[++i];
    };
    for (; i < argc && argv[i][0] == '-' && argv[i][1] != '\0'; ++i) {
        const std::string_view arg = argv[i];
        if (arg == "--") {
            ++i;
            break;
        }
        if (arg == "--help" || arg == "--version") {
            if (arg == "--help") {
                std::fputs(usage, stdout);
            } else {
                std::printf("iniedit %s\n", ini::version);
            }
            if (std::fflush(stdout) != 0 || std::ferror(stdout) != 0) {
                fail(ioFailure, "standard output: cannot write: " + std::string(std::strerror(errno)));
            }
            std::exit(success);
        } else if (arg == "-c" || arg == "--comment-char" || arg.substr(0, 15) == "--comment-char=") {
            const std::string c = arg.size() > 15 ? std::string(arg.substr(15)) : optionValue(arg);
            if (c.empty()) {
                fail(usageError, "the comment characters must be at least one byte");
            }
            options.commentChars = c;
        } else if (arg == "--dialect" || arg.substr(0, 10) == "--dialect=") {
            const std::string name = arg.size() > 10 ? std::string(arg.substr(10)) : optionValue(arg);
            if (!ini::IniDialect::byName(name, options.dialect)) {
                std::string known;
                for (const auto& preset : ini::IniDialect::presetNames()) {
                    known += (known.empty() ? "" : ", ") + preset;
                }
                fail(usageError, "unknown dialect '" + name + "' (known: " + known + ")");
            }
        } else if (arg == "--type" || arg.substr(0, 7) == "--type=") {
            const std::string name = arg.size() > 7 ? std::string(arg.substr(7)) : optionValue(arg);
            for (const auto& type : valueTypes) {
                options.type = name == type.name ? &type : options.type;
            }
            if (options.type == nullptr) {
                fail(usageError, "unknown type '" + name + "' (known: int, uint, float, bool)");
            }
        } else if (arg == "--all") {
            options.all = true;
        } else if (arg == "--format" || arg.substr(0, 9) == "--format=") {
            const std::string format = arg.size() > 9 ? std::string(arg.substr(9)) : optionValue(arg);
            if (format == "value") {
                options.format = Format::value;
            } else if (format == "sh") {
                options.format = Format::sh;
            } else if (format == "json") {
                options.format = Format::json;
            } else {
                fail(usageError, "unknown format '" + std::string(format) + "'");
            }
        } else if (arg == "-0") {
            options.nulSeparated = true;
        } else if (arg == "--existing") {
            options.existing = true;
        } else if (arg == "--create") {
            options.create = true;
        } else if (arg == "-o" || arg == "--output" || arg.substr(0, 9) == "--output=") {
            options.output = arg.size() > 9 && arg[8] == '=' ? std::string(arg.substr(9)) : optionValue(arg);
        } else if (arg == "--in-place") {
            options.inPlace = true;
        } else if (arg == "--dry-run") {
            options.dryRun = true;
        } else if (arg == "-q" || arg == "--quiet") {
            options.quiet = true;
        } else {
            fail(usageError, "unknown option '" + std::string(arg) + "'");
        }
    }
    if (i >= argc) {
        fail(usageError, "no verb given");
    }
    options.verb = argv[i++];

    struct Arity {
        const char* verb;
        std::size_t least;
        std::size_t most;
    };
    static constexpr Arity arities[] = {{"get", 2, 2},     {"set", 3, 3},      {"add", 3, 3},
                                        {"del", 1, 3},     {"exists", 1, 2},   {"list", 0, 1},
                                        {"dump", 0, 0},    {"batch", 0, 0},    {"check", 0, 0},
                                        {"comment", 2, 2}, {"uncomment", 2, 3}};
    const Arity* arity = nullptr;
    for (const auto& a : arities) {
        arity = options.verb == a.verb ? &a : arity;
    }
    if (arity == nullptr) {
        fail(usageError, "unknown verb '" + options.verb + "'");
    }
    if (i >= argc) {
        fail(usageError, options.verb + ": no FILE given");
    }
    options.file = argv[i++];
    options.operands.assign(argv + i, argv + argc);
    if (options.operands.size() < arity->least || options.operands.size() > arity->most) {
        std::string hint;
        for (std::size_t extra = arity->most; extra < options.operands.size() && hint.empty(); ++extra) {
            if (options.operands[extra].size() > 1 && options.operands[extra][0] == '-') {
                hint =
                    " ('" + options.operands[extra] + "' looks like an option: options go before the verb)";
            }
        }
        fail(usageError, options.verb + ": wrong number of arguments" + hint);
    }
    if (options.commentChars) {
        options.dialect.setCommentChars(*options.commentChars);
    }
    if ((options.output || options.inPlace) && !is_edit(options.verb)) {
        fail(usageError, "--output and --in-place are for set, add, del, comment, uncomment and batch");
    }
    if (options.format != Format::value && options.verb != "get" && options.verb != "list" &&
        options.verb != "dump" && options.verb != "check") {
        fail(usageError, "--format is for get, list, dump and check");
    }
    if (options.all && options.verb != "get" && options.verb != "set" && options.verb != "dump") {
        fail(usageError, "--all is for get, set and dump");
    }
    if (options.all && options.format == Format::sh) {
        fail(usageError, "--format=sh holds one value per key: not with --all");
    }
    if (options.format == Format::sh && (options.verb == "dump" || options.verb == "check")) {
        fail(usageError, options.verb + ": --format is value or json");
    }
    if (options.type != nullptr && options.verb != "get" && options.verb != "set") {
        fail(usageError, "--type is for get and set");
    }
    if (options.type != nullptr && options.format == Format::sh) {
        fail(usageError, "--type prints a value or JSON: not with --format=sh");
    }
    if (options.nulSeparated && options.verb != "list") {
        fail(usageError, "-0 is for list");
    }
    if (options.file == "-" && options.verb == "batch") {
        fail(usageError, "batch reads its operations from standard input, so FILE cannot be -");
    }
    return options;
}

// ---- reading

std::string read_all(int fd, const std::string& name) {
    std::string text;
    std::string error;
    if (!ini::readDescriptor(fd, text, &error)) {
        fail(ioFailure, name + ": " + error);
    }
    return text;
}

// Text that is not 8-bit text the loader can read is refused rather than
// edited into something else.
void check_text(const std::string& text, const std::string& name) {
    const auto startsWith = [&](std::string_view prefix) {
        return text.compare(0, prefix.size(), prefix) == 0;
    };
    if (startsWith(std::string_view("\x00\x00\xFE\xFF", 4)) || startsWith("\xFF\xFE") ||
        startsWith("\xFE\xFF")) {
        fail(refusedUnsafe, name + ": UTF-16 or UTF-32 text; convert it to UTF-8 first");
    }
    if (text.find('\0') != std::string::npos) {
        fail(refusedUnsafe, name + ": holds NUL bytes; not a text file");
    }
}

// The descriptor that a path names in this process (/dev/stdin, /dev/stdout,
// /dev/stderr, /dev/fd/N, /proc/self/fd/N), or -1. Such paths are read and
// written through the descriptor, as "-" is: resolving them would give a
// pipe's pseudo-name or the file behind the descriptor, which a save would
// then replace.
int descriptor_path(std::string_view path) {
    static constexpr std::pair<std::string_view, int> named[] = {
        {"/dev/stdin", 0}, {"/dev/stdout", 1}, {"/dev/stderr", 2}};
    for (const auto& [name, fd] : named) {
        if (path == name) {
            return fd;
        }
    }
    for (const std::string_view prefix : {"/dev/fd/", "/proc/self/fd/"}) {
        const std::string_view digits = path.substr(std::min(path.size(), prefix.size()));
        if (path.substr(0, prefix.size()) == prefix && !digits.empty() && digits.size() <= 9 &&
            digits.find_first_not_of("0123456789") == std::string_view::npos) {
            return std::stoi(std::string(digits));
        }
    }
    return -1;
}

// The file being worked on: its text, and what an edit must know of it.
struct Source {
    std::string path;  // after symbolic links; empty for a stream
    std::string text;
    bool exists = false;
    // Read as a stream (standard input, a descriptor, a pipe or a device):
    // an edit's result goes to standard output unless -o says otherwise.
    bool stream = false;
    unsigned long links = 1;
    // The edit lock that ini::openFile took, held until the process ends.
    ini::IniFileLock lock;
};

Source read_stream(int fd, const std::string& name) {
    Source source;
    source.text = read_all(fd, name);
    source.exists = source.stream = true;
    check_text(source.text, name);
    return source;
}

// Opens FILE, locking it for an edit so that concurrent edits each see the
// one before.
Source open_source(const Options& options) {
    if (options.file == "-") {
        return read_stream(0, "standard input");
    }
    if (const int fd = descriptor_path(options.file); fd >= 0) {
        return read_stream(fd, options.file);
    }
    Source source;
    std::string refusal;
    source.path = ini::resolveSymlinks(options.file, &refusal);
    if (source.path.empty()) {
        fail(refusedUnsafe, refusal);
    }
    const bool locking = is_edit(options.verb) && !options.dryRun;
    ini::IniOpenedFile file;
    std::string error;
    switch (ini::openFile(source.path, locking, options.create, file, &error)) {
    case ini::IniOpenResult::opened:
        break;
    case ini::IniOpenResult::missing:
        fail(ioFailure, options.file + ": No such file or directory (--create allows a new file)");
    case ini::IniOpenResult::notRegularFile:
        fail(refusedUnsafe, options.file + ": not a regular file");
    case ini::IniOpenResult::failed:
        fail(ioFailure, options.file + ": " + error);
    case ini::IniOpenResult::keptChanging:
        fail(ioFailure, options.file + ": keeps being replaced; cannot lock it");
    }
    source.text = std::move(file.text);
    source.exists = file.exists;
    source.stream = file.stream;
    source.links = file.links;
    source.lock = std::move(file.lock);
    if (source.exists) {
        check_text(source.text, options.file);
    }
    return source;
}

// ---- output formats

bool is_shell_name(std::string_view name) {
    if (name.empty() || (name[0] >= '0' && name[0] <= '9')) {
        return false;
    }
    for (const char c : name) {
        if (!(c == '_' || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9'))) {
            return false;
        }
    }
    return true;
}

// Single quotes keep every byte but the quote itself, which is closed,
// escaped and reopened.
std::string shell_quoted(std::string_view text) {
    std::string out = "'";
    for (const char c : text) {
        out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    }
    return out + "'";
}

// The length of the valid UTF-8 sequence at the start of `s`, or 0.
std::size_t utf8_length(std::string_view s) {
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(s[i]); };
    const unsigned char lead = byte(0);
    std::size_t length = 0;
    unsigned min = 0;
    if (lead < 0x80) {
        return 1;
    }
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
        min = 0x80;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        min = 0x800;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        min = 0x10000;
    } else {
        return 0;
    }
    if (s.size() < length) {
        return 0;
    }
    unsigned code = lead & (0x7F >> length);
    for (std::size_t i = 1; i < length; ++i) {
        if ((byte(i) & 0xC0) != 0x80) {
            return 0;
        }
        code = code << 6 | (byte(i) & 0x3F);
    }
    const bool surrogate = code >= 0xD800 && code <= 0xDFFF;
    return code < min || code > 0x10FFFF || surrogate ? 0 : length;
}

// A JSON string; bytes that are not UTF-8 become U+FFFD, so the output is
// always valid JSON.
std::string json_quoted(std::string_view text) {
    std::string out = "\"";
    while (!text.empty()) {
        const std::size_t length = utf8_length(text);
        const unsigned char c = static_cast<unsigned char>(text[0]);
        if (length == 0) {
            out += "\\ufffd";
            text.remove_prefix(1);
            continue;
        }
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c < 0x20 || c == 0x7F) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
            out += escaped;
        } else {
            out.append(text.substr(0, length));
        }
        text.remove_prefix(length);
    }
    return out + "\"";
}

// ---- the verbs

void require_shell_name(std::string_view key, const std::string& file) {
    if (!is_shell_name(key)) {
        fail(refusedUnsafe, file + ": key '" + std::string(key) + "' is not a shell variable name");
    }
}

// `value` in the canonical form of --type (as JSON with --format=json:
// numbers and booleans bare, an infinity or NaN as a string); exit 3 when
// it is not of the type.
std::string typed(const Options& options, const std::string& value, const std::string& what) {
    const char* reason = nullptr;
    const auto text = options.type->canonical(value, &reason);
    if (!text) {
        fail(refusedUnsafe, options.file + ": " + what + "'" + value + "', not " + options.type->description +
                                " (" + reason + ")");
    }
    if (options.format == Format::json && std::string_view(options.type->name) == "float" &&
        !std::isfinite(*ini::parseDouble(*text))) {
        return json_quoted(*text);  // inf, nan: no JSON number
    }
    return *text;
}

int run_get(const Options& options, const ini::IniEditor& editor) {
    const std::string& section = options.operands[0];
    const std::string& key = options.operands[1];
    if (!editor.keyExists(section, key)) {
        fail(notFound, options.file + ": no key '" + key + "' in section '" + section + "'");
    }
    std::string out;
    if (options.type != nullptr) {
        std::vector<std::string> values =
            options.all ? editor.values(section, key) : std::vector{editor.read(section, key, "")};
        for (std::string& value : values) {
            value = typed(options, value, "key '" + key + "' in section '" + section + "' holds ");
        }
        for (std::size_t i = 0; i < values.size(); ++i) {
            out += options.format == Format::json ? (options.all ? (i == 0 ? "[" : ",") : "") + values[i]
                                                  : values[i] + '\n';
        }
        out += options.format == Format::json ? (!options.all ? "\n" : values.empty() ? "[]\n" : "]\n") : "";
        std::cout << out;
        return success;
    }
    if (options.all) {
        const std::vector<std::string> values = editor.values(section, key);
        for (std::size_t i = 0; i < values.size(); ++i) {
            out += options.format == Format::json ? (i == 0 ? "[" : ",") + json_quoted(values[i])
                                                  : values[i] + '\n';
        }
        out += options.format == Format::json ? (values.empty() ? "[]\n" : "]\n") : "";
        std::cout << out;
        return success;
    }
    const std::string value = editor.read(section, key, "");
    switch (options.format) {
    case Format::value:
        out = value + '\n';
        break;
    case Format::sh:
        require_shell_name(key, options.file);
        out = key + '=' + shell_quoted(value) + '\n';
        break;
    case Format::json:
        out = json_quoted(value) + '\n';
        break;
    }
    std::cout << out;
    return success;
}

// Every section and key as the dialect reads them, in text order: the keys
// above the first header under "", each section once (repeats merged), all
// from one reading of the text.
int run_dump(const Options& options, const ini::IniEditor& editor) {
    const bool json = options.format == Format::json;
    std::string out = json ? "{" : "";
    bool firstSection = true;
    for (const auto& [section, entries] : editor.allEntries()) {
        out += json ? (firstSection ? "" : ",") + json_quoted(section) + ":{" : "[" + section + "]\n";
        firstSection = false;
        for (std::size_t k = 0; k < entries.size(); ++k) {
            const auto& [key, value] = entries[k];
            const std::vector<std::string> values =
                options.all ? editor.values(section, key) : std::vector{value};
            if (!json) {
                // Each further line of a value starts with a tab, which no
                // key or header line of the dump starts with.
                for (const auto& each : values) {
                    out += key + "=";
                    for (const char c : each) {
                        out += c == '\n' ? std::string("\n\t") : std::string(1, c);
                    }
                    out += "\n";
                }
                continue;
            }
            out += (k == 0 ? "" : ",") + json_quoted(key) + ":";
            if (!options.all) {
                out += json_quoted(value);
                continue;
            }
            out += "[";
            for (std::size_t v = 0; v < values.size(); ++v) {
                out += (v == 0 ? "" : ",") + json_quoted(values[v]);
            }
            out += "]";
        }
        out += json ? "}" : "";
    }
    out += json ? "}\n" : "";
    std::cout << out;
    return success;
}

// What the dialect makes of lines a person may not expect, one per line as
// FILE:LINE:COLUMN: message [kind], or as a JSON array; 1 when anything is
// found.
int run_check(const Options& options, const std::string& text) {
    const std::vector<ini::IniFinding> findings = ini::diagnose(text, options.dialect);
    std::string out = options.format == Format::json ? "[" : "";
    for (std::size_t i = 0; i < findings.size(); ++i) {
        const ini::IniFinding& f = findings[i];
        if (options.format == Format::json) {
            out += (i == 0 ? "{\"kind\":" : ",{\"kind\":") + json_quoted(ini::findingName(f.kind)) +
                   ",\"line\":" + std::to_string(f.line) + ",\"column\":" + std::to_string(f.column) +
                   ",\"begin\":" + std::to_string(f.begin) + ",\"end\":" + std::to_string(f.end) +
                   ",\"message\":" + json_quoted(f.message) + "}";
        } else {
            out += options.file + ":" + std::to_string(f.line) + ":" + std::to_string(f.column) + ": " +
                   f.message + " [" + ini::findingName(f.kind) + "]\n";
        }
    }
    out += options.format == Format::json ? "]\n" : "";
    std::cout << out;
    return findings.empty() ? success : notFound;
}

int run_list(const Options& options, const ini::IniEditor& editor) {
    const bool keys = !options.operands.empty();
    const std::string section = keys ? options.operands[0] : std::string();
    if (keys && !editor.sectionExists(section)) {
        fail(notFound, options.file + ": no section '" + section + "'");
    }
    // Names and values come from one reading of the text.
    std::vector<std::pair<std::string, std::string>> entries;
    if (keys) {
        entries = editor.entries(section);
    } else {
        for (auto& name : editor.sectionNames()) {
            entries.emplace_back(std::move(name), std::string());
        }
    }
    std::string out;
    if (options.format == Format::json) {
        out = keys ? "{" : "[";
        for (std::size_t i = 0; i < entries.size(); ++i) {
            out += i == 0 ? "" : ",";
            out += json_quoted(entries[i].first);
            out += keys ? ":" + json_quoted(entries[i].second) : "";
        }
        out += keys ? "}\n" : "]\n";
    } else if (options.format == Format::sh && keys) {
        for (const auto& entry : entries) {
            require_shell_name(entry.first, options.file);
        }
        for (const auto& [name, value] : entries) {
            out += name + "=" + shell_quoted(value) + "\n";
        }
    } else {
        for (const auto& entry : entries) {
            out += options.format == Format::sh ? shell_quoted(entry.first) : entry.first;
            out += options.nulSeparated ? '\0' : '\n';
        }
    }
    std::cout << out;
    return success;
}

// One set, add or del on the editor; what --existing and a refusal make of it.
void apply_edit(const Options& options, ini::IniEditor& editor, const std::string& verb,
                const std::vector<std::string>& args, const std::string& where) {
    const std::string& section = args.at(0);
    ini::IniEditResult result;
    if (verb == "comment" || verb == "uncomment") {
        result = verb == "comment"  ? editor.commentOut(section, args.at(1))
                 : args.size() == 3 ? editor.uncomment(section, args[1], args[2])
                                    : editor.uncomment(section, args.at(1));
        if (result.status == ini::IniEditStatus::absent) {
            fail(notFound,
                 where + (verb == "comment" ? "no key '" + args[1] + "' in section '" + section + "'"
                                            : "no commented-out line of key '" + args[1] + "'" +
                                                  (args.size() == 3 ? " holding '" + args[2] + "'" : "") +
                                                  " in section '" + section + "'"));
        }
    } else if (verb == "set" || verb == "add") {
        if (options.type != nullptr) {
            typed(options, args.at(2), "the value to write is ");
        }
        if (options.existing && !editor.keyExists(section, args.at(1))) {
            fail(notFound, where + "no key '" + args[1] + "' in section '" + section + "' (--existing)");
        }
        result = verb == "add" ? editor.add(section, args.at(1), args.at(2))
                 : options.all ? editor.writeAll(section, args.at(1), args.at(2))
                               : editor.write(section, args.at(1), args.at(2));
    } else if (args.size() == 3) {
        result = editor.delValue(section, args[1], args[2]);
    } else if (args.size() == 2) {
        result = editor.delKey(section, args[1]);
    } else {
        result = editor.delSection(section);
    }
    if (result.status == ini::IniEditStatus::refused) {
        fail(refusedUnsafe, where + result.reason);
    }
    if (result.status == ini::IniEditStatus::absent && options.existing) {
        fail(notFound, where + (args.size() == 3 ? "no value '" + args[2] + "' of key '" + args[1] +
                                                       "' in section '" + section + "'"
                                : args.size() == 2 ? "no key '" + args[1] + "' in section '" + section + "'"
                                                   : "no section '" + section + "'"));
    }
}

// Applies batch operations, one a line: "verb<TAB>field<TAB>...", the value
// of set taking the rest of the line.
void run_batch(const Options& options, const std::string& operations, ini::IniEditor& editor) {
    std::istringstream lines(operations);
    std::string line;
    for (int number = 1; std::getline(lines, line); ++number) {
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        if (line.empty() || line[0] == '#') {
            continue;
        }
        const std::string where = options.file + ": batch line " + std::to_string(number) + ": ";
        if (line.find('\0') != std::string::npos) {
            fail(refusedUnsafe, where + "a NUL byte cannot be written to an INI file");
        }
        // The value of set is the rest of the line, tabs included; del's
        // fields are split at every tab, so an extra field is an error.
        std::vector<std::string> fields;
        const std::string verb = line.substr(0, line.find('\t'));
        const std::size_t most = verb == "del" ? std::string::npos : 3;
        std::size_t at = line.find('\t');
        while (at != std::string::npos) {
            const std::size_t next = fields.size() + 1 == most ? std::string::npos : line.find('\t', at + 1);
            fields.push_back(
                line.substr(at + 1, next == std::string::npos ? std::string::npos : next - at - 1));
            at = next;
        }
        const bool valid = ((verb == "set" || verb == "add") && fields.size() == 3) ||
                           (verb == "del" && !fields.empty() && fields.size() <= 3);
        if (!valid) {
            fail(usageError, where +
                                 "expected set or add<TAB>SECTION<TAB>KEY<TAB>VALUE, or "
                                 "del<TAB>SECTION[<TAB>KEY[<TAB>VALUE]]");
        }
        apply_edit(options, editor, verb, fields, where);
    }
}

// Writes all of `text` to the descriptor `fd`.
void write_descriptor(int fd, std::string_view text, const std::string& name) {
    std::string error;
    if (!ini::writeDescriptor(fd, text, &error)) {
        fail(ioFailure, name + ": " + error);
    }
}

void write_output(const Options& options, const Source& source, const std::string& text) {
    const std::string destination = options.output.value_or(source.stream ? "-" : options.file);
    if (destination == "-") {
        write_descriptor(1, text, "standard output");
        return;
    }
    if (const int fd = descriptor_path(destination); fd >= 0) {
        write_descriptor(fd, text, destination);
        return;
    }
    const bool sameFile = !options.output;
    const std::string path = sameFile ? source.path : destination;
    if (sameFile && source.exists) {
        // The file's own write protection holds, as for any editor; root
        // keeps its usual powers.
        if (ini::isWriteProtected(path)) {
            fail(ioFailure, options.file + ": permission denied");
        }
        if (source.links > 1 && !options.inPlace) {
            fail(refusedUnsafe, options.file +
                                    ": has other hard links, which a save by rename would leave "
                                    "behind; use --in-place");
        }
    }
    std::string error;
    const bool saved = options.inPlace ? ini::writeFileInPlace(path, text, &error)
                                       : ini::writeFileAtomically(path, text, &error);
    if (!saved) {
        fail(ioFailure, destination + ": " + error);
    }
    if (!error.empty()) {
        fail(notDurable,
             destination + ": written, but " + error + "; a crash may still bring back the old file");
    }
}

int run(const Options& options) {
    // A batch's operations are read whole before the file is opened and
    // locked: a read error is reported as one, and other edits of the file
    // do not wait on whoever writes the operations.
    std::string operations;
    if (options.verb == "batch") {
        if (descriptor_path(options.file) == 0) {
            fail(usageError,
                 "batch reads its operations from standard input, so FILE cannot be " + options.file);
        }
        operations = read_all(0, "standard input");
    }
    Source source = open_source(options);
    if (options.verb == "check") {
        return run_check(options, source.text);
    }
    ini::IniEditor editor(source.text, options.dialect);
    // A file its owner rejects is not guessed at.
    if (const auto problems = editor.problems(); !problems.empty()) {
        fail(refusedUnsafe, options.file + ":" + std::to_string(problems.front().line) + ": " +
                                problems.front().what + " (" + options.dialect.name + " rejects the file)");
    }
    if (options.verb == "get") {
        return run_get(options, editor);
    }
    if (options.verb == "dump") {
        return run_dump(options, editor);
    }
    if (options.verb == "list") {
        return run_list(options, editor);
    }
    if (options.verb == "exists") {
        const auto& args = options.operands;
        const bool found =
            args.size() == 2 ? editor.keyExists(args[0], args[1]) : editor.sectionExists(args[0]);
        return found ? success : notFound;
    }
    if (options.verb == "batch") {
        run_batch(options, operations, editor);
    } else {
        apply_edit(options, editor, options.verb, options.operands, options.file + ": ");
    }

    const bool changed = editor.text() != source.text;
    if (options.dryRun) {
        if (!options.quiet) {
            std::fprintf(stderr, "%s\n", changed ? "changed" : "unchanged");
        }
        return success;
    }
    // An unchanged result is not written at all (the file's time stays),
    // unless it must go somewhere else.
    if (changed || options.output || source.stream) {
        write_output(options, source, editor.text());
    }
    return success;
}

}  // namespace

int main(int argc, char** argv) {
    if (!ini::prepareStandardStreams()) {
        return ioFailure;
    }
    ini::reportFileSizeLimitAsError();
    std::vector<std::string> arguments = ini::commandLineArguments(argc, argv);
    std::vector<char*> pointers;
    pointers.reserve(arguments.size() + 1);
    for (auto& argument : arguments) {
        pointers.push_back(argument.data());
    }
    pointers.push_back(nullptr);
    std::ios::sync_with_stdio(false);
    Options options;
    try {
        options = parse_arguments(static_cast<int>(arguments.size()), pointers.data());
        const int status = run(options);
        // What get and list printed is only done once it is written.
        if (!std::cout.flush()) {
            fail(ioFailure, "standard output: cannot write: " + std::string(std::strerror(errno)));
        }
        return status;
    } catch (const Failure& failure) {
        if (failure.status != notFound || !options.quiet) {
            std::fprintf(stderr, "iniedit: %s%s\n", failure.message.c_str(),
                         failure.status == usageError ? " (see iniedit --help)" : "");
        }
        return failure.status;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "iniedit: %s: %s\n", options.file.c_str(), e.what());
        return ioFailure;
    }
}
