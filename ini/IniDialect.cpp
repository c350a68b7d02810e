#include "IniDialect.h"

#include <algorithm>
#include <functional>

namespace ini {
namespace {

constexpr char lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

// The presets, one row each, with the program whose reading they imitate.
struct Preset {
    const char* name;
    IniDialect (*make)();
};
const Preset presets[] = {
    {"classic", [] { return IniDialect::classic(); }},
    {"python", IniDialect::python},    // Python's configparser
    {"php", IniDialect::php},          // PHP's ini parser, raw mode
    {"mysql", IniDialect::mysql},      // MariaDB/MySQL option files
    {"desktop", IniDialect::desktop},  // GLib key files, desktop entries
    {"systemd", IniDialect::systemd},  // systemd units and *.conf
};

}  // namespace

bool equalsIgnoringCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() &&
           std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) { return lower(x) == lower(y); });
}

void IniDialect::setCommentChars(std::string_view chars) {
    commentChars = std::string(chars);
    if (inlineComments != InlineComments::none || quotes == Quotes::classic) {
        inlineCommentChars = commentChars;
    }
}

bool IniDialect::sameSection(std::string_view a, std::string_view b) const {
    return caseInsensitiveSections ? equalsIgnoringCase(a, b) : a == b;
}

bool IniDialect::rejectsLines() const {
    return noDelimiter == NoDelimiter::error || unclosedHeaderIsError || indentedHeaderIsError ||
           headers == Headers::wholeLine || repeatedSectionsReplace || emptyKeyIsError ||
           !forbiddenKeyChars.empty() || keysAboveFirstHeaderAreErrors || textAfterHeaderIsError ||
           emptySectionIsError || keySuffix != KeySuffix::none || !forbiddenBareLineChars.empty() ||
           !reservedWords.empty() || tabsSeparateStatements || crBreaksLines || maxLineLength != 0;
}

bool IniDialect::isListKey(std::string_view key) const {
    if (listKeySuffix && key.size() >= 2 && key.substr(key.size() - 2) == "[]") {
        return true;
    }
    return std::any_of(listKeys.begin(), listKeys.end(),
                       [&](const std::string& k) { return sameKey(k, key); });
}

bool IniDialect::sameKey(std::string_view a, std::string_view b) const {
    return caseInsensitiveKeys ? equalsIgnoringCase(a, b) : a == b;
}

IniDialect IniDialect::classic(char commentChar) {
    IniDialect d;
    d.name = "classic";
    d.commentChars = std::string(1, commentChar);
    d.inlineCommentChars = d.commentChars;
    d.inlineComments = InlineComments::anywhere;
    d.quotes = Quotes::classic;
    d.emptyValueIsValue = false;
    d.bracketInSectionNameRegisters = false;
    return d;
}

IniDialect IniDialect::python() {
    IniDialect d;
    d.name = "python";
    d.commentChars = "#;";
    d.delimiters = "=:";
    d.continuation = Continuation::indented;
    d.noDelimiter = NoDelimiter::error;
    d.lastValueWins = true;
    d.caseInsensitiveKeys = true;
    d.keysAboveFirstHeaderAreErrors = true;
    d.defaultSection = "DEFAULT";
    d.headers = Headers::lastClose;
    d.emptyKeyIsError = true;
    d.extraBlanks = "\v\f\x1c\x1d\x1e\x1f";
    d.crBreaksLines = true;  // files are read with universal newlines
    d.keysRepeat = false;    // strict parsers reject a repeated key, others keep the last
    return d;
}

IniDialect IniDialect::php() {
    IniDialect d;
    d.name = "php";
    d.commentChars = ";";
    d.inlineCommentChars = ";";
    d.inlineComments = InlineComments::anywhere;
    d.quotes = Quotes::php;
    d.lastValueWins = true;
    d.unclosedHeaderIsError = true;
    d.indentedHeaderIsError = true;  // blanks before '[' make a key "[...]" without '='
    d.tabIndentsHeaders = true;      // a tab is whitespace between statements
    d.textAfterHeaderIsError = true;
    d.repeatedSectionsReplace = true;
    d.emptyKeyIsError = true;
    d.forbiddenKeyChars = "{}|&~!()^\"$";
    d.keySuffix = KeySuffix::offset;
    d.forbiddenBareLineChars = "{}|&~![]()^\"$";
    d.reservedWords = {"true", "on", "yes", "false", "off", "no", "none", "null"};
    d.tabsSeparateStatements = true;
    d.crBreaksLines = true;
    d.listKeys = {"extension", "zend_extension"};
    d.listKeySuffix = true;
    return d;
}

IniDialect IniDialect::mysql() {
    IniDialect d;
    d.name = "mysql";
    d.commentChars = "#;";
    d.inlineCommentChars = "#";
    d.inlineComments = InlineComments::anywhere;
    d.quotes = Quotes::mysql;
    d.escapes = Escapes::mysql;
    d.noDelimiter = NoDelimiter::noValue;
    d.lastValueWins = true;
    d.caseInsensitiveSections = true;
    d.keysAboveFirstHeaderAreErrors = true;
    d.unclosedHeaderIsError = true;
    d.trimSectionNames = true;
    d.skipsByteOrderMark = false;
    d.directiveChar = '!';
    d.extraBlanks = "\v\f\xA0";  // latin1's blanks
    d.maxLineLength = 4095;      // read in pieces of that size
    return d;
}

IniDialect IniDialect::desktop() {
    IniDialect d;
    d.name = "desktop";
    d.commentChars = "#";
    d.noDelimiter = NoDelimiter::error;
    d.lastValueWins = true;
    d.keysAboveFirstHeaderAreErrors = true;
    d.extraBlanks = "\v\f";
    d.headers = Headers::wholeLine;
    d.trimValueEnd = false;
    d.skipsByteOrderMark = false;
    d.emptyKeyIsError = true;
    d.emptySectionIsError = true;
    d.keySuffix = KeySuffix::locale;
    d.keysRepeat = false;
    d.blanksAroundNewDelimiter = false;
    return d;
}

IniDialect IniDialect::systemd() {
    IniDialect d;
    d.name = "systemd";
    d.commentChars = "#;";
    d.continuation = Continuation::backslash;
    d.lastValueWins = true;
    d.emptyValueResetsList = true;
    d.keysAboveFirstHeaderAreErrors = true;
    d.headers = Headers::wholeLine;
    d.emptyKeyIsError = true;
    d.crBreaksLines = true;
    d.blanksAroundNewDelimiter = false;
    return d;
}

bool IniDialect::byName(std::string_view name, IniDialect& out) {
    for (const Preset& preset : presets) {
        if (name == preset.name) {
            out = preset.make();
            return true;
        }
    }
    return false;
}

namespace {

bool endsWith(std::string_view s, std::string_view end) {
    return s.size() >= end.size() && s.substr(s.size() - end.size()) == end;
}

// The unit types whose files and drop-in directories systemd reads, and
// the network files of its network daemons.
constexpr std::string_view unitSuffixes[] = {".service", ".socket",  ".timer",  ".mount", ".automount",
                                             ".swap",    ".path",    ".target", ".slice", ".scope",
                                             ".device",  ".network", ".netdev", ".link",  ".nspawn"};

}  // namespace

IniDialect IniDialect::forPath(std::string_view path, std::string* why) {
    // The directories above the file, nearest first, and its own name.
    std::vector<std::string_view> parts;
    for (std::size_t at = 0; at <= path.size();) {
        const std::size_t slash = std::min(path.find('/', at), path.size());
        if (slash > at) {
            parts.push_back(path.substr(at, slash - at));
        }
        at = slash + 1;
    }
    const std::string_view name = parts.empty() ? std::string_view{} : parts.back();
    const std::string_view parent = parts.size() < 2 ? std::string_view{} : parts[parts.size() - 2];
    const auto under = [&](std::string_view directory) {
        return parts.size() >= 2 && std::find(parts.begin(), parts.end() - 1, directory) != parts.end() - 1;
    };
    const auto chosen = [&](IniDialect (*make)(), const std::string& rule) {
        if (why != nullptr) {
            *why = rule;
        }
        return make();
    };
    for (const std::string_view suffix : unitSuffixes) {
        if (endsWith(name, suffix)) {
            return chosen(systemd, "a unit file (*" + std::string(suffix) + ")");
        }
        if (endsWith(parent, std::string(suffix) + ".d") && endsWith(name, ".conf")) {
            return chosen(systemd, "a drop-in (*" + std::string(suffix) + ".d/*.conf)");
        }
    }
    if (endsWith(name, ".conf") && under("systemd")) {
        return chosen(systemd, "a *.conf file under a systemd directory");
    }
    if (endsWith(name, ".desktop") || endsWith(name, ".directory") || name == "mimeapps.list") {
        return chosen(desktop, "a desktop entry or key file (*.desktop, *.directory, mimeapps.list)");
    }
    if (name == "php.ini" || (name.substr(0, 4) == "php-" && endsWith(name, ".ini"))) {
        return chosen(php, "PHP's configuration (php.ini, php-*.ini)");
    }
    if (endsWith(name, ".ini") && parent == "conf.d" && under("php")) {
        return chosen(php, "a PHP scan directory (php/.../conf.d/*.ini)");
    }
    if (endsWith(name, ".cnf")) {
        return chosen(mysql, "a MariaDB/MySQL option file (*.cnf)");
    }
    for (const std::string_view tool :
         {"setup.cfg", "tox.ini", "pytest.ini", ".flake8", "mypy.ini", ".coveragerc", "pip.conf"}) {
        if (name == tool) {
            return chosen(python, "a Python tool's configuration (" + std::string(tool) + ")");
        }
    }
    return chosen([] { return classic(); }, "no rule matches the file name");
}

std::vector<std::string> IniDialect::presetNames() {
    std::vector<std::string> names;
    for (const Preset& preset : presets) {
        names.emplace_back(preset.name);
    }
    return names;
}

}  // namespace ini
