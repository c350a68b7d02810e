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

std::vector<std::string> IniDialect::presetNames() {
    std::vector<std::string> names;
    for (const Preset& preset : presets) {
        names.emplace_back(preset.name);
    }
    return names;
}

}  // namespace ini
