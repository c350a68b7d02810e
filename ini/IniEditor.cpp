#include "IniEditor.h"

#include "IniScanner.h"
#include "IniTextRules.h"

#include <algorithm>
#include <optional>

namespace ini {
namespace {

bool defines(const IniLine& line) { return line.hasValue || line.setsInlineComment; }

// The line that gives `key` in `section` its entry, as the loader reads it:
// the first key line that stores a value or sets an inline comment.
std::optional<IniLine> defining_line(std::string_view text, char commentChar, std::string_view section,
                                     std::string_view key) {
    IniScanner scanner(text, commentChar);
    for (IniLine line; scanner.next(line);) {
        if (line.kind == IniLineKind::key && line.section == section && line.key == key && defines(line)) {
            return line;
        }
    }
    return std::nullopt;
}

std::vector<IniLine> all_lines(std::string_view text, char commentChar) {
    std::vector<IniLine> lines;
    IniScanner scanner(text, commentChar);
    for (IniLine line; scanner.next(line);) {
        lines.push_back(line);
    }
    return lines;
}

bool is_trimmed(char c) { return c == ' ' || c == '\t' || c == '\r'; }

bool is_blank_line(std::string_view text, const IniLine& line) {
    return line.kind == IniLineKind::comment &&
           text.substr(line.begin, line.end - line.begin).find_first_not_of(" \t\r") ==
               std::string_view::npos;
}

IniEditResult refused(std::string reason) { return {IniEditStatus::refused, std::move(reason)}; }

// The value as it must be written so that the loader reads `value` back, or
// a reason why it cannot be. Quotes protect blanks, tabs and CRs at the ends
// (the loader trims them), the comment character, and a leading quote.
std::optional<std::string> written_value(std::string_view value, char commentChar, std::string& reason) {
    if (value.empty()) {
        reason = "an empty value is read as no value";
        return std::nullopt;
    }
    if (value.find('\n') != std::string_view::npos) {
        reason = "a value cannot hold a newline";
        return std::nullopt;
    }
    const bool quoted = detail::valueNeedsQuotes(value, commentChar) || is_trimmed(value.front()) ||
                        is_trimmed(value.back()) || value.front() == '"';
    if (quoted && value.find('"') != std::string_view::npos) {
        reason = "a value that needs quotes cannot hold '\"'";
        return std::nullopt;
    }
    return quoted ? "\"" + std::string(value) + "\"" : std::string(value);
}

std::string key_problem(std::string_view key, char commentChar) {
    if (key.find('=') != std::string_view::npos || key.find('\n') != std::string_view::npos) {
        return "a key cannot hold '=' or a newline";
    }
    if (!key.empty() && (key.front() == '[' || key.front() == commentChar)) {
        return "a key cannot start with '[' or the comment character";
    }
    if (byteOrderMarkLength(key) > 0) {
        return "a key cannot start with a byte order mark";  // skipped at the start of a text
    }
    if (key.empty() && commentChar == '=') {
        return "with '=' as the comment character the empty key would start a comment";
    }
    if (!key.empty() && (is_trimmed(key.front()) || is_trimmed(key.back()))) {
        return "a key cannot start or end with a blank, tab or CR";
    }
    return {};
}

std::string section_problem(std::string_view section, char commentChar) {
    if (section.find_first_of("[]\n") != std::string_view::npos) {
        return "a section name cannot hold '[', ']' or a newline";
    }
    if (commentChar == '[') {
        return "with '[' as the comment character a header would be a comment";
    }
    return {};
}

// The line ending the text uses: that of its first line.
std::string_view line_ending(std::string_view text) {
    const auto newline = text.find('\n');
    return newline != std::string_view::npos && newline > 0 && text[newline - 1] == '\r' ? "\r\n" : "\n";
}

// What ends a last line that has no newline: `eol`, less its CR when the
// line already ends with one.
std::string_view line_end_after(std::string_view text, std::string_view eol) {
    return eol.size() == 2 && text.back() == '\r' ? eol.substr(1) : eol;
}

// "key = value" in the style of `model` (its indentation, and blanks around
// '=' or none), or in the plain style when there is no model.
std::string key_line(std::string_view text, const IniLine* model, std::string_view key,
                     std::string_view value) {
    std::string out;
    bool spaced = true;
    if (model != nullptr) {
        const std::string_view raw = text.substr(model->begin, model->end - model->begin);
        out.assign(raw.substr(0, raw.find_first_not_of(" \t")));
        const auto equals = raw.find('=');
        spaced = equals > 0 && (raw[equals - 1] == ' ' || raw[equals - 1] == '\t');
    }
    out += key;
    out += spaced ? " = " : "=";
    out += value;
    return out;
}

// Whether the text puts a blank line before its headers: some header that is
// not the first line follows an empty line.
bool blank_lines_between_sections(std::string_view text, const std::vector<IniLine>& lines) {
    for (std::size_t i = 1; i < lines.size(); ++i) {
        if (lines[i].kind == IniLineKind::header && is_blank_line(text, lines[i - 1])) {
            return true;
        }
    }
    return false;
}

// Puts `written` where `line` has its value. A line without any value
// (`k =`) gets a blank before it when its '=' has one before it.
void replace_value(std::string& text, const IniLine& line, const std::string& written) {
    std::string value = written;
    const std::size_t at = line.valueBegin;
    if (line.valueBegin == line.valueEnd && at >= 2 && text[at - 1] == '=' &&
        (text[at - 2] == ' ' || text[at - 2] == '\t')) {
        value.insert(0, " ");
    }
    text.replace(at, line.valueEnd - at, value);
}

}  // namespace

IniEditor::IniEditor(std::string text, char commentChar)
    : text_(std::move(text)), commentChar_(commentChar) {}

std::string IniEditor::read(std::string_view section, std::string_view key,
                            std::string_view defaultValue) const {
    const auto line = defining_line(text_, commentChar_, section, key);
    if (!line) {
        return std::string(defaultValue);
    }
    return std::string(line->hasValue ? line->value : std::string_view{});
}

float IniEditor::read(std::string_view section, std::string_view key, float defaultValue) const {
    const auto line = defining_line(text_, commentChar_, section, key);
    if (!line) {
        return defaultValue;
    }
    return static_cast<float>(detail::parseNumber(std::string(line->hasValue ? line->value : "").c_str()));
}

bool IniEditor::keyExists(std::string_view section, std::string_view key) const {
    return defining_line(text_, commentChar_, section, key).has_value();
}

bool IniEditor::sectionExists(std::string_view section) const {
    // A header registers a section unless its name holds '['; a key line
    // that gives a key an entry creates its section.
    IniScanner scanner(text_, commentChar_);
    for (IniLine line; scanner.next(line);) {
        if (line.section != section) {
            continue;
        }
        if ((line.kind == IniLineKind::header && section.find('[') == std::string_view::npos) ||
            (line.kind == IniLineKind::key && defines(line))) {
            return true;
        }
    }
    return false;
}

std::vector<std::string> IniEditor::sectionNames() const {
    // As the loader lists them: a header whose name is new and holds no '[';
    // "" is not new once a key line above the first header created it.
    std::vector<std::string> names;
    bool topCreated = false;
    IniScanner scanner(text_, commentChar_);
    for (IniLine line; scanner.next(line);) {
        if (line.kind == IniLineKind::key && line.section.empty() && defines(line)) {
            topCreated = true;
        }
        if (line.kind == IniLineKind::header && line.section.find('[') == std::string_view::npos &&
            !(line.section.empty() && topCreated) &&
            std::find(names.begin(), names.end(), line.section) == names.end()) {
            names.emplace_back(line.section);
        }
    }
    return names;
}

std::vector<std::string> IniEditor::keyNames(std::string_view section) const {
    // A key is listed when the line that created it stored a value.
    std::vector<std::string_view> seen;
    std::vector<std::string> names;
    IniScanner scanner(text_, commentChar_);
    for (IniLine line; scanner.next(line);) {
        if (line.kind == IniLineKind::key && line.section == section && defines(line) &&
            std::find(seen.begin(), seen.end(), line.key) == seen.end()) {
            seen.push_back(line.key);
            if (line.hasValue) {
                names.emplace_back(line.key);
            }
        }
    }
    return names;
}

IniEditResult IniEditor::write(std::string_view section, std::string_view key, std::string_view value) {
    std::string reason;
    const auto written = written_value(value, commentChar_, reason);
    if (!written) {
        return refused(reason);
    }
    if (reason = key_problem(key, commentChar_); !reason.empty()) {
        return refused(reason);
    }

    if (const auto line = defining_line(text_, commentChar_, section, key)) {
        if (line->hasValue && line->value == value) {
            return {IniEditStatus::unchanged, {}};
        }
        replace_value(text_, *line, *written);
        return {IniEditStatus::changed, {}};
    }

    const std::vector<IniLine> lines = all_lines(text_, commentChar_);
    // A line of the key that stores nothing only for want of a value
    // (`k =`, `k = ""`) takes the value where it stands.
    for (const IniLine& line : lines) {
        if (line.kind == IniLineKind::key && line.section == section && line.key == key &&
            line.value.empty() &&
            std::string_view(text_)
                    .substr(line.valueEnd, line.end - line.valueEnd)
                    .find_first_not_of(" \t\r") == std::string_view::npos) {
            replace_value(text_, line, *written);
            return {IniEditStatus::changed, {}};
        }
    }
    const std::string_view eol = line_ending(text_);
    // The region of the section: after its first header (or, for "", from
    // the start) up to the next header.
    std::size_t first = 0;
    bool found = section.empty();
    if (!section.empty() || std::none_of(lines.begin(), lines.end(), [](const IniLine& l) {
            return l.kind == IniLineKind::key && l.section.empty();
        })) {
        for (std::size_t i = 0; i < lines.size(); ++i) {
            if (lines[i].kind == IniLineKind::header && lines[i].section == section) {
                first = i + 1;
                found = true;
                break;
            }
        }
    }
    if (found) {
        const IniLine* lastKey = nullptr;
        for (std::size_t i = first; i < lines.size() && lines[i].kind != IniLineKind::header; ++i) {
            if (lines[i].kind == IniLineKind::key) {
                lastKey = &lines[i];
            }
        }
        const IniLine* model = lastKey;
        for (std::size_t i = 0; model == nullptr && i < lines.size(); ++i) {
            model = lines[i].kind == IniLineKind::key ? &lines[i] : nullptr;
        }
        std::size_t at = byteOrderMarkLength(text_);
        if (lastKey != nullptr) {
            at = lastKey->next;
        } else if (first > 0) {
            at = lines[first - 1].next;
        }
        std::string insert = key_line(text_, model, key, *written);
        if (at == text_.size() && at > byteOrderMarkLength(text_) && text_.back() != '\n') {
            insert.insert(0, line_end_after(text_, eol));  // after a last line without a newline
        } else {
            insert += eol;
        }
        text_.insert(at, insert);
        return {IniEditStatus::changed, {}};
    }

    if (reason = section_problem(section, commentChar_); !reason.empty()) {
        return refused(reason);
    }
    std::string added;
    if (text_.size() > byteOrderMarkLength(text_) && text_.back() != '\n') {
        added += line_end_after(text_, eol);
    }
    if (!lines.empty() && blank_lines_between_sections(text_, lines) && !is_blank_line(text_, lines.back())) {
        added += eol;
    }
    const IniLine* model = nullptr;
    for (const IniLine& line : lines) {
        if (line.kind == IniLineKind::key) {
            model = &line;
        }
    }
    added += "[";
    added += section;
    added += "]";
    added += eol;
    added += key_line(text_, model, key, *written);
    added += eol;
    text_ += added;
    return {IniEditStatus::changed, {}};
}

IniEditResult IniEditor::write(std::string_view section, std::string_view key, float value) {
    return write(section, key, detail::formatNumber(value));
}

IniEditResult IniEditor::delKey(std::string_view section, std::string_view key, bool withComment) {
    const std::vector<IniLine> lines = all_lines(text_, commentChar_);
    if (std::none_of(lines.begin(), lines.end(), [&](const IniLine& line) {
            return line.kind == IniLineKind::key && line.section == section && line.key == key &&
                   defines(line);
        })) {
        return {IniEditStatus::absent, {}};
    }
    std::string out;
    out.reserve(text_.size());
    std::size_t copied = 0;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        const IniLine& line = lines[i];
        if (line.kind != IniLineKind::key || line.section != section || line.key != key) {
            continue;
        }
        std::size_t from = line.begin;
        for (std::size_t j = i; withComment && j > 0; --j) {
            const IniLine& above = lines[j - 1];
            if (above.kind != IniLineKind::comment || is_blank_line(text_, above) || above.begin < copied) {
                break;
            }
            from = above.begin;
        }
        out.append(text_, copied, from - copied);
        copied = line.next;
    }
    out.append(text_, copied);
    text_ = std::move(out);
    return {IniEditStatus::changed, {}};
}

IniEditResult IniEditor::delSection(std::string_view section) {
    if (!sectionExists(section)) {
        return {IniEditStatus::absent, {}};
    }
    const std::vector<IniLine> lines = all_lines(text_, commentChar_);
    std::vector<bool> drop(lines.size(), false);
    for (std::size_t i = 0; i < lines.size(); ++i) {
        if (lines[i].kind != IniLineKind::header || lines[i].section != section) {
            continue;
        }
        // Up to the next header, less the comment and blank lines that lead
        // up to it (or to the end): those belong to what follows.
        std::size_t end = i + 1;
        while (end < lines.size() && lines[end].kind != IniLineKind::header) {
            ++end;
        }
        std::size_t keepFrom = end;
        while (keepFrom > i + 1 && lines[keepFrom - 1].kind == IniLineKind::comment) {
            --keepFrom;
        }
        std::fill(drop.begin() + static_cast<std::ptrdiff_t>(i),
                  drop.begin() + static_cast<std::ptrdiff_t>(keepFrom), true);
    }
    if (section.empty()) {
        // Keys above the first header belong to "" too.
        for (std::size_t i = 0; i < lines.size() && lines[i].kind != IniLineKind::header; ++i) {
            drop[i] = drop[i] || lines[i].kind == IniLineKind::key;
        }
    }
    std::string out;
    out.reserve(text_.size());
    std::size_t pos = 0;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        if (drop[i]) {
            out.append(text_, pos, lines[i].begin - pos);
            pos = lines[i].next;
        }
    }
    out.append(text_, pos);
    text_ = std::move(out);
    return {IniEditStatus::changed, {}};
}

}  // namespace ini
