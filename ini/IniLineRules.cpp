// The rules by which a dialect's owner rejects a line that the grammar
// reads (IniLineRules.h): reserved words, statements split at tabs, and
// brackets in keys.
#include "IniLineRules.h"

#include <algorithm>

namespace ini::detail {
namespace {

// `s` without the blanks at its end.
std::string_view trim_end(std::string_view s) {
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r')) {
        s.remove_suffix(1);
    }
    return s;
}

bool is_reserved(std::string_view word, const IniDialect& d) {
    for (const std::string& reserved : d.reservedWords) {
        if (equalsIgnoringCase(word, reserved)) {
            return true;
        }
    }
    return false;
}

// Whether a statement the owner starts at `part` (a tab-separated piece of a
// line, before any delimiter) is a reserved word: the word alone, or followed
// by blanks and then a tab or the end.
bool starts_with_reserved(std::string_view part, const IniDialect& d) {
    const std::size_t tab = part.find('\t');
    return is_reserved(trim_end(part.substr(0, tab)), d);
}

// Under owners with tab-separated statements, whether a statement of `text`
// (a line's content before its delimiter) is a reserved word. A line
// indented with blanks only starts with a name that holds them, so its first
// piece counts only when it is not indented; after a tab, blanks are skipped.
bool holds_reserved_statement(std::string_view text, const IniDialect& d) {
    if (d.reservedWords.empty()) {
        return false;
    }
    if (starts_with_reserved(text, d)) {
        return true;
    }
    for (std::size_t tab = text.find('\t'); tab != std::string_view::npos; tab = text.find('\t', tab + 1)) {
        const std::size_t start = text.find_first_not_of(" \t", tab);
        if (start != std::string_view::npos && starts_with_reserved(text.substr(start), d)) {
            return true;
        }
    }
    return false;
}

bool is_locale_byte(char c) {
    const auto byte = static_cast<unsigned char>(c);
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' ||
           c == '_' || c == '.' || c == '@' || byte >= 0x80;
}

}  // namespace

const char* bareLineProblem(std::string_view line, const IniDialect& d) {
    if (!d.forbiddenBareLineChars.empty() &&
        line.find_first_of(d.forbiddenBareLineChars) != std::string_view::npos) {
        return "a line without '=' holding a character its owner rejects";
    }
    if (holds_reserved_statement(line, d)) {
        return reservedLineProblem;
    }
    return nullptr;
}

const char* keyProblem(std::string_view key, std::string_view written, const IniDialect& d) {
    if (d.tabsSeparateStatements && key.find('\t') != std::string_view::npos) {
        return "a tab inside a key, which its owner reads as two statements";
    }
    if (holds_reserved_statement(written, d)) {
        return "a key its owner reserves (true, on, null ...)";
    }
    if (d.keySuffix == IniDialect::KeySuffix::none) {
        return nullptr;
    }
    const std::size_t open = key.find('[');
    if (open == std::string_view::npos) {
        return d.keySuffix == IniDialect::KeySuffix::locale && key.find(']') != std::string_view::npos
                   ? "a ']' in a key without its '['"
                   : nullptr;
    }
    const std::string_view name = key.substr(0, open);
    const std::string_view suffix = key.substr(open + 1);
    if (name.empty() || name.find(']') != std::string_view::npos || suffix.empty() || suffix.back() != ']' ||
        suffix.find_first_of("[]") != suffix.size() - 1) {
        return "a key whose brackets its owner rejects";
    }
    if (name.back() == ' ' || name.back() == '\t') {
        return "a key whose brackets its owner reads otherwise";  // PHP: "k [x]" is "k[x]"
    }
    const std::string_view inside = suffix.substr(0, suffix.size() - 1);
    if (d.keySuffix == IniDialect::KeySuffix::locale) {
        return std::all_of(inside.begin(), inside.end(), is_locale_byte)
                   ? nullptr
                   : "a key whose locale its owner rejects";
    }
    // PHP drops blanks after '[' and resolves quotes inside the brackets.
    if ((!inside.empty() && (inside.front() == ' ' || inside.front() == '\t')) ||
        inside.find_first_of("\"'") != std::string_view::npos) {
        return "a key whose brackets its owner reads otherwise";
    }
    return nullptr;
}

bool endsInFinalWord(std::string_view line, const IniDialect& d) {
    const std::size_t tab = line.rfind('\t');
    const std::string_view before = tab == std::string_view::npos ? std::string_view() : line.substr(0, tab);
    std::string_view last = tab == std::string_view::npos ? line : line.substr(tab + 1);
    if (tab != std::string_view::npos) {
        last = last.substr(std::min(last.find_first_not_of(' '), last.size()));
    }
    const std::size_t end = last.find_last_not_of(' ');
    return end != std::string_view::npos && is_reserved(last.substr(0, end + 1), d) &&
           !holds_reserved_statement(before, d);
}

}  // namespace ini::detail
