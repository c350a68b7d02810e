// Parsing iniedit's command line (Options.h), with the usage text.
#include "Options.h"

#include "Files.h"
#include "IniTypes.h"
#include "IniVersion.h"
#include "Status.h"

#include <cstdio>
#include <cstring>
#include <iostream>

namespace iniedit {
namespace {

const char* const usage =
    "usage: iniedit [OPTIONS] get    FILE SECTION KEY\n"
    "       iniedit [OPTIONS] set    FILE SECTION [KEY [VALUE...]]\n"
    "       iniedit [OPTIONS] add    FILE SECTION KEY VALUE\n"
    "       iniedit [OPTIONS] del    FILE SECTION [KEY [VALUE]]\n"
    "       iniedit [OPTIONS] exists FILE SECTION [KEY]\n"
    "       iniedit [OPTIONS] list   FILE [SECTION]\n"
    "       iniedit [OPTIONS] dump   FILE\n"
    "       iniedit [OPTIONS] comment   FILE SECTION KEY\n"
    "       iniedit [OPTIONS] uncomment FILE SECTION KEY [VALUE]\n"
    "       iniedit [OPTIONS] merge  FILE SNIPPET    (SNIPPET - is standard input)\n"
    "       iniedit [OPTIONS] check  FILE            (1 when it finds something)\n"
    "       iniedit [OPTIONS] batch  FILE            (operations on standard input)\n"
    "       iniedit --layer=FILE... | --stack=KIND:NAME [OPTIONS] VERB [SECTION [KEY [VALUE]]]\n"
    "                                   (a stack of files: no FILE; also files and cat)\n"
    "\n"
    "Every edit says what should hold and changes nothing when it already does:\n"
    "set without KEY makes sure the section exists; add adds VALUE unless the key\n"
    "holds it; uncomment does nothing when the key has an active line.\n"
    "SECTION \"\" names the keys above the first header; FILE - is standard input,\n"
    "and an edited result then goes to standard output; so do /dev/stdin,\n"
    "/dev/fd/N and named pipes.\n"
    "\n"
    "options (before the verb):\n"
    "      --dialect NAME     auto (default: chosen from FILE's name), classic, python,\n"
    "                         php, mysql, desktop or systemd\n"
    "  -c, --comment-char C   the comment characters (default: the dialect's)\n"
    "      --format F         get, list: value (default), sh or json; dump: value, sh,\n"
    "                         json or ini; check: value or json\n"
    "      --type T           get: print the value as int, uint, float or bool (3 when it\n"
    "                         is not one); set: write only a value of that type\n"
    "      --all              get and dump: every value of a key; set: the key holds\n"
    "                         exactly VALUE...; merge: repeated keys become lists\n"
    "      --no-value         set FILE SECTION KEY: a key without a value (mysql)\n"
    "  -0                     list: end each name with NUL instead of newline\n"
    "      --existing         set and del: fail with 1 when the section or key is absent\n"
    "      --create           a missing FILE counts as empty and may be created\n"
    "  -o, --output FILE|-    write the edited text there instead of to FILE\n"
    "      --in-place         rewrite FILE's own inode (hard links, bind mounts); not atomic\n"
    "      --dry-run          write nothing; report changed or unchanged on standard error\n"
    "      --diff             print the edit as a unified diff on standard output\n"
    "      --wait SECONDS     give up (status 4) when another edit holds FILE that long\n"
    "  -q, --quiet            no message for status 1 and no dry-run report\n"
    "  -v, --verbose          say which dialect was chosen and why\n"
    "      --layer FILE       a file of a stack, the later winning (repeatable)\n"
    "      --stack KIND:NAME  systemd-unit:UNIT, systemd-conf:NAME.conf, php:PHP.INI, mysql[:FILE]\n"
    "      --root DIR         a stack's absolute paths under DIR\n"
    "      --scan-dir DIR     php: the compiled-in scan directory (default: conf.d beside php.ini)\n"
    "      --origin           get and dump of a stack: the FILE:LINE each value comes from\n"
    "      --to FILE          the file of a stack an edit goes to\n"
    "      --help, --version\n"
    "\n"
    "batch reads one operation per line, fields separated by tabs (VALUE is the\n"
    "rest of the line):\n"
    "  set<TAB>SECTION[<TAB>KEY<TAB>VALUE]   setnovalue<TAB>SECTION<TAB>KEY\n"
    "  add<TAB>SECTION<TAB>KEY<TAB>VALUE     del<TAB>SECTION[<TAB>KEY[<TAB>VALUE]]\n"
    "  comment<TAB>SECTION<TAB>KEY           uncomment<TAB>SECTION<TAB>KEY[<TAB>VALUE]\n"
    "Empty lines and lines starting with '#' are skipped.\n"
    "\n"
    "exit status: 0 done (exists: true; check: nothing found), 1 not found (check: found),\n"
    "2 usage error, "
    "3 refused as unsafe or a line the dialect's owner rejects (nothing written), 4 input or output failure "
    "(file untouched),\n"
    "5 written, but its directory could not be flushed (a crash may undo the edit)\n";

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

}  // namespace

bool isEdit(const std::string& verb) {
    return verb == "set" || verb == "add" || verb == "del" || verb == "batch" || verb == "comment" ||
           verb == "uncomment" || verb == "merge";
}

// Options come before the verb, so that a value such as "-5" after it is
// never read as an option.
Options parseArguments(int argc, char** argv) {
    Options options;
    bool automatic = true;
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
            automatic = name == "auto";
            options.dialectGiven = !automatic;
            options.dialectReason = "--dialect=" + name;
            if (!automatic && !ini::IniDialect::byName(name, options.dialect)) {
                std::string known;
                for (const auto& preset : ini::IniDialect::presetNames()) {
                    known += (known.empty() ? "" : ", ") + preset;
                }
                fail(usageError, "unknown dialect '" + name + "' (known: auto, " + known + ")");
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
            } else if (format == "ini") {
                options.format = Format::ini;
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
        } else if (arg == "-v" || arg == "--verbose") {
            options.verbose = true;
        } else if (arg == "--layer" || arg.substr(0, 8) == "--layer=") {
            options.layers.push_back(arg.size() > 8 ? std::string(arg.substr(8)) : optionValue(arg));
        } else if (arg == "--stack" || arg.substr(0, 8) == "--stack=") {
            options.stack = arg.size() > 8 ? std::string(arg.substr(8)) : optionValue(arg);
        } else if (arg == "--root" || arg.substr(0, 7) == "--root=") {
            options.root = arg.size() > 7 ? std::string(arg.substr(7)) : optionValue(arg);
        } else if (arg == "--scan-dir" || arg.substr(0, 11) == "--scan-dir=") {
            options.scanDir = arg.size() > 11 ? std::string(arg.substr(11)) : optionValue(arg);
        } else if (arg == "--to" || arg.substr(0, 5) == "--to=") {
            options.to = arg.size() > 5 ? std::string(arg.substr(5)) : optionValue(arg);
        } else if (arg == "--origin") {
            options.origin = true;
        } else if (arg == "--no-value") {
            options.noValue = true;
        } else if (arg == "--diff") {
            options.diff = true;
        } else if (arg == "--wait" || arg.substr(0, 7) == "--wait=") {
            const std::string seconds = arg.size() > 7 ? std::string(arg.substr(7)) : optionValue(arg);
            const char* reason = nullptr;
            const auto parsed = ini::parseDouble(seconds, &reason);
            if (!parsed || !(*parsed >= 0) || *parsed > 1e9) {
                fail(usageError, "--wait needs a number of seconds, not '" + seconds + "'");
            }
            options.wait = *parsed;
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
    constexpr std::size_t many = static_cast<std::size_t>(-1);
    static constexpr Arity arities[] = {
        {"get", 2, 2},       {"set", 1, many}, {"add", 3, 3},   {"del", 1, 3},   {"exists", 1, 2},
        {"list", 0, 1},      {"dump", 0, 0},   {"batch", 0, 0}, {"check", 0, 0}, {"comment", 2, 2},
        {"uncomment", 2, 3}, {"merge", 1, 1},  {"files", 0, 0}, {"cat", 0, 0}};
    const Arity* arity = nullptr;
    for (const auto& a : arities) {
        arity = options.verb == a.verb ? &a : arity;
    }
    if (arity == nullptr) {
        fail(usageError, "unknown verb '" + options.verb + "'");
    }
    // A stack of files takes the place of FILE.
    const bool stacked = options.usesStack();
    if ((options.verb == "files" || options.verb == "cat") && !stacked) {
        fail(usageError, options.verb + " is for a stack (--layer or --stack)");
    }
    if (stacked && (options.verb == "merge" || (!options.layers.empty() && !options.stack.empty()))) {
        fail(usageError, !options.layers.empty() && !options.stack.empty()
                             ? "--layer or --stack, not both"
                             : "merge takes one FILE, not a stack");
    }
    if (!stacked && (options.origin || options.to || !options.root.empty() || !options.scanDir.empty())) {
        fail(usageError, "--origin, --to, --root and --scan-dir are for a stack (--layer or --stack)");
    }
    if (!stacked && i >= argc) {
        fail(usageError, options.verb + ": no FILE given");
    }
    options.file = stacked ? std::string() : argv[i++];
    options.operands.assign(argv + i, argv + argc);
    const std::size_t count = options.operands.size();
    // set names a section alone, a key without a value (--no-value), a key
    // and its value, or a key and its values (--all).
    const bool setFits = options.verb != "set" || count == 1 || (options.noValue ? count == 2 : count == 3) ||
                         (options.all && !options.noValue && count > 3);
    if (count < arity->least || count > arity->most || !setFits) {
        std::string hint;
        for (std::size_t extra = std::min(arity->most, std::size_t{3}); extra < count && hint.empty();
             ++extra) {
            if (options.operands[extra].size() > 1 && options.operands[extra][0] == '-') {
                hint =
                    " ('" + options.operands[extra] + "' looks like an option: options go before the verb)";
            }
        }
        fail(usageError, options.verb + ": wrong number of arguments" + hint);
    }
    if (automatic && stacked) {
        // A stack's preset has its owner's dialect; layers are read as
        // their first file's name says.
        std::string why;
        options.dialect =
            ini::IniDialect::forPath(options.layers.empty() ? std::string() : options.layers.front(), &why);
        options.dialectReason = "from the first layer's name: " + why;
    } else if (automatic) {
        // A stream has no name to go by.
        const bool named = options.file != "-" && descriptorPath(options.file) < 0;
        std::string why;
        options.dialect = named ? ini::IniDialect::forPath(options.file, &why) : ini::IniDialect::classic();
        options.dialectReason = named ? "from the file name: " + why : "standard input has no file name";
    }
    if (options.commentChars) {
        options.dialect.setCommentChars(*options.commentChars);
    }
    if ((options.output || options.inPlace || options.diff || options.wait >= 0) && !isEdit(options.verb)) {
        fail(usageError, "--output, --in-place, --diff and --wait are for the verbs that edit");
    }
    if (options.format != Format::value && options.verb != "get" && options.verb != "list" &&
        options.verb != "dump" && options.verb != "check") {
        fail(usageError, "--format is for get, list, dump and check");
    }
    if (options.all && options.verb != "get" && options.verb != "set" && options.verb != "dump" &&
        options.verb != "merge") {
        fail(usageError, "--all is for get, set, dump and merge");
    }
    if (options.all && options.format == Format::sh) {
        fail(usageError, "--format=sh holds one value per key: not with --all");
    }
    if ((options.format == Format::sh && options.verb == "check") ||
        (options.format == Format::ini && options.verb != "dump")) {
        fail(usageError, options.verb + ": no --format=" + (options.format == Format::sh ? "sh" : "ini"));
    }
    if (options.noValue && options.verb != "set") {
        fail(usageError, "--no-value is for set");
    }
    if (options.noValue && (options.all || options.type != nullptr)) {
        fail(usageError, "--no-value writes no value: not with --all or --type");
    }
    if (options.verb == "set" && count == 1 && (options.all || options.type != nullptr)) {
        fail(usageError, "set without KEY makes sure a section exists: no --all or --type");
    }
    if (options.diff && !options.output && (options.file == "-" || descriptorPath(options.file) >= 0)) {
        fail(usageError, "--diff prints on standard output, where an edited stream goes: give -o");
    }
    if (options.verb == "merge" && options.operands[0] == "-" &&
        (options.file == "-" || descriptorPath(options.file) == 0)) {
        fail(usageError, "merge: FILE and SNIPPET cannot both be standard input");
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
    if (options.origin && options.verb != "get" && options.verb != "dump") {
        fail(usageError, "--origin is for get and dump");
    }
    if (options.verb == "batch" && !stacked && (options.file == "-" || descriptorPath(options.file) == 0)) {
        fail(usageError, "batch reads its operations from standard input, so FILE cannot be " + options.file);
    }
    return options;
}

}  // namespace iniedit
