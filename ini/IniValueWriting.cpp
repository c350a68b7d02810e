// How a value is written under a dialect (IniValueWriting.h): which spelling
// reads back, quoting and escapes, continuation lines, and the names and
// values each format refuses.
#include "IniValueWriting.h"

#include "IniEditorIndex.h"
#include "IniTextRules.h"

namespace ini::detail {

std::optional<std::string> writtenValue(std::string_view value, const IniDialect& dialect,
                                        std::string& reason) {
    // Python's continuation lines and the mysql reader's "\n" can hold a
    // newline; no other owner's value can.
    if (value.find('\n') != std::string_view::npos &&
        dialect.continuation != IniDialect::Continuation::indented &&
        dialect.escapes != IniDialect::Escapes::mysql) {
        reason = "a value cannot hold a newline in this format";
        return std::nullopt;
    }
    if (dialect.crBreaksLines && value.find('\r') != std::string_view::npos) {
        reason = "a value cannot hold a CR, which its owner reads as a line break";
        return std::nullopt;
    }
    if (dialect.quotes != IniDialect::Quotes::classic) {
        return std::string(value);  // checked, and quoted when need be, by the caller
    }
    if (value.empty()) {
        reason = "an empty value is read as no value";
        return std::nullopt;
    }
    bool quoted = isTrimmed(value.front()) || isTrimmed(value.back()) || value.front() == '"';
    for (const char c : dialect.commentChars) {
        quoted = quoted || detail::valueNeedsQuotes(value, c);
    }
    if (quoted && value.find('"') != std::string_view::npos) {
        reason = "a value that needs quotes cannot hold '\"'";
        return std::nullopt;
    }
    return quoted ? "\"" + std::string(value) + "\"" : std::string(value);
}

namespace {

// Why a key cannot be written, or "".
std::string keyProblem(std::string_view key, const IniDialect& dialect) {
    if (key.find('=') != std::string_view::npos || key.find('\n') != std::string_view::npos) {
        return "a key cannot hold '=' or a newline";
    }
    if (dialect.crBreaksLines && key.find('\r') != std::string_view::npos) {
        return "a key cannot hold a CR, which its owner reads as a line break";
    }
    if (!key.empty() && (key.front() == '[' || dialect.isComment(key.front()))) {
        return "a key cannot start with '[' or the comment character";
    }
    if (byteOrderMarkLength(key) > 0) {
        return "a key cannot start with a byte order mark";  // skipped at the start of a text
    }
    if (key.empty() && dialect.isComment('=')) {
        return "with '=' as the comment character the empty key would start a comment";
    }
    if (!key.empty() && (isTrimmed(key.front()) || isTrimmed(key.back()))) {
        return "a key cannot start or end with a blank, tab or CR";
    }
    return {};
}

}  // namespace

std::string sectionProblem(std::string_view section, const IniDialect& dialect) {
    if (section.find_first_of("[]\n") != std::string_view::npos) {
        return "a section name cannot hold '[', ']' or a newline";
    }
    if (dialect.crBreaksLines && section.find('\r') != std::string_view::npos) {
        return "a section name cannot hold a CR, which its owner reads as a line break";
    }
    if (dialect.isComment('[')) {
        return "with '[' as the comment character a header would be a comment";
    }
    const std::string line = "[" + std::string(section) + "]";
    const IniLine header = scanLine(line, dialect);
    if (header.kind != IniLineKind::header || header.section != section || header.problem != nullptr) {
        return "the section name would not read back";
    }
    return {};
}

std::string keyLine(std::string_view model, std::string_view key, std::string_view value,
                    const IniDialect& dialect) {
    model = model.substr(0, model.find('\n'));
    std::string out;
    bool spaced = dialect.blanksAroundNewDelimiter;
    char delimiter = dialect.delimiters.empty() ? '=' : dialect.delimiters.front();
    if (!model.empty()) {
        out.assign(model.substr(0, indentation(model, dialect)));
        const auto at = model.find_first_of(dialect.delimiters);
        if (at != std::string_view::npos) {
            delimiter = model[at];
            spaced = at > 0 && (model[at - 1] == ' ' || model[at - 1] == '\t');
        }
    }
    out += key;
    out += spaced ? std::string(" ") + delimiter + " " : std::string(1, delimiter);
    out += value;
    return out;
}

namespace {

// The indentation that checkedValue gives each further line of a value
// under indented continuation; spread() replaces it by the key's own.
constexpr std::string_view furtherLineIndent = "    ";

// `written` (a value as checkedValue gives it) with each further line after
// `eol` and indented by `indent`, empty lines left empty.
std::string spread(std::string_view written, std::string_view indent, std::string_view eol) {
    std::size_t newline = written.find('\n');
    std::string out(written.substr(0, newline));
    while (newline != std::string_view::npos) {
        const std::size_t next = written.find('\n', newline + 1);
        const std::string_view line = written.substr(newline + 1, next - newline - 1);
        out += eol;
        if (!line.empty()) {
            out += indent;
            out += line.substr(furtherLineIndent.size());
        }
        newline = next;
    }
    return out;
}

// The indentation of the further lines of a value written for the key line
// `content`: that of its own first continuation line, or four blanks deeper
// than the key.
std::string continuation_indent(std::string_view content, const IniDialect& dialect) {
    const std::string_view first = content.substr(0, content.find('\n'));
    const std::size_t depth = indentation(first, dialect);
    for (std::size_t at = content.find('\n'); at != std::string_view::npos; at = content.find('\n', at + 1)) {
        const std::string_view line = content.substr(at + 1, content.find('\n', at + 1) - at - 1);
        const std::size_t own = indentation(line, dialect);
        if (own < line.size() && line[own] != '\r' && !dialect.isComment(line[own]) && own > depth) {
            return std::string(line.substr(0, own));
        }
    }
    return std::string(first.substr(0, depth)) + std::string(furtherLineIndent);
}

}  // namespace

std::string_view firstLine(std::string_view written) { return written.substr(0, written.find('\n')); }

std::string furtherLines(std::string_view written, std::string_view keyText, const IniDialect& dialect,
                         std::string_view eol) {
    const std::size_t newline = written.find('\n');
    return newline == std::string_view::npos || dialect.continuation != IniDialect::Continuation::indented
               ? std::string()
               : spread(written, continuation_indent(keyText, dialect), eol).substr(newline);
}

std::vector<std::string> valueCandidates(std::string_view value, const IniDialect& dialect) {
    if (dialect.continuation == IniDialect::Continuation::indented &&
        value.find('\n') != std::string_view::npos) {
        // Each further line indented, an empty one left empty.
        std::string out;
        for (std::size_t at = 0;;) {
            const std::size_t end = value.find('\n', at);
            const std::string_view line = value.substr(at, end - at);
            out += at == 0 || line.empty() ? "" : furtherLineIndent;
            out += line;
            if (end == std::string_view::npos) {
                return {out};
            }
            out += '\n';
            at = end + 1;
        }
    }
    std::vector<std::string> out{std::string(value)};
    std::string escaped;
    if (dialect.escapes == IniDialect::Escapes::mysql) {
        for (const char c : value) {
            escaped += c == '\\' || c == '"' || c == '\'' ? "\\" : "";
            escaped += c == '\t'   ? std::string("\\t")
                       : c == '\r' ? std::string("\\r")
                       : c == '\n' ? std::string("\\n")
                                   : std::string(1, c);
        }
        out.push_back(escaped);
    } else {
        escaped = value;
    }
    if (dialect.quotes == IniDialect::Quotes::php || dialect.quotes == IniDialect::Quotes::mysql) {
        out.push_back('"' + escaped + '"');
    }
    if (dialect.quotes == IniDialect::Quotes::mysql) {
        out.push_back('\'' + escaped + '\'');
    }
    return out;
}

bool readsBack(std::string_view line, std::string_view key, std::string_view value,
               const IniDialect& dialect) {
    if (dialect.continuation == IniDialect::Continuation::none && line.find('\n') != std::string_view::npos) {
        return false;  // the owner reads a line after the newline
    }
    const IniLine scanned = scanLine(line, dialect);
    return scanned.kind == IniLineKind::key && scanned.problem == nullptr && scanned.key == key &&
           scanned.hasValue && !scanned.noValue && valueOf(scanned, dialect) == value;
}

std::optional<std::string> checkedValue(std::string_view key, std::string_view value,
                                        const IniDialect& dialect, std::string& reason) {
    const auto written = writtenValue(value, dialect, reason);
    if (!written) {
        return std::nullopt;
    }
    if (reason = keyProblem(key, dialect); !reason.empty()) {
        return std::nullopt;
    }
    if (key.empty() && dialect.emptyKeyIsError) {
        reason = "the empty key is not read as a key";
        return std::nullopt;
    }
    for (const std::string& candidate : valueCandidates(*written, dialect)) {
        if (dialect.quotes == IniDialect::Quotes::classic) {
            return candidate;  // the rules above are complete for this format
        }
        if (readsBack(keyLine({}, key, candidate, dialect), key, value, dialect)) {
            return candidate;
        }
    }
    reason = "the format cannot write this key and value so that they read back";
    return std::nullopt;
}

}  // namespace ini::detail
