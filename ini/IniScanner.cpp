#include "IniScanner.h"

#include <cstring>

namespace ini {
namespace {

// Blank, tab and carriage return: a CR from a CRLF line is trimmed like a
// blank wherever a line or a part of it is trimmed.
constexpr bool is_trimmed(char c) { return c == ' ' || c == '\t' || c == '\r'; }

// Trimming keeps the view's place: an all-blank string trims to an empty
// view at its end, so positions can still be taken from it.
std::string_view ltrim(std::string_view s) {
    std::size_t first = 0;
    while (first < s.size() && is_trimmed(s[first])) {
        ++first;
    }
    return s.substr(first);
}

std::string_view rtrim(std::string_view s) {
    std::size_t size = s.size();
    while (size > 0 && is_trimmed(s[size - 1])) {
        --size;
    }
    return s.substr(0, size);
}

std::string_view trim(std::string_view s) { return rtrim(ltrim(s)); }

std::size_t offset(std::string_view part, const char* base) {
    return static_cast<std::size_t>(part.data() - base);
}

// Offsets are taken from `base`: the line for scanLine, the whole text for
// IniScanner.
void scanKey(IniLine& out, const char* base, std::string_view line, std::size_t equals, char commentChar) {
    out.kind = IniLineKind::key;
    out.key = trim(line.substr(0, equals));
    std::string_view rest = trim(line.substr(equals + 1));
    std::string_view written = rest.substr(0, 0);
    std::string_view value;
    if (!rest.empty() && rest.front() == '"') {
        // Quoted: everything up to the next quote, verbatim, no escapes.
        const auto closing = rest.find('"', 1);
        if (closing == std::string_view::npos) {
            written = rest;
            rest = rest.substr(rest.size());
        } else {
            written = rest.substr(0, closing + 1);
            value = rest.substr(1, closing - 1);
            rest = trim(rest.substr(closing + 1));
        }
    } else {
        // A comment character in the first position belongs to the value.
        const auto mark = rest.find(commentChar, 1);
        if (mark == std::string_view::npos) {
            written = value = rest;
            rest = rest.substr(rest.size());
        } else {
            written = value = trim(rest.substr(0, mark));
            // Trimmed again: a blank comment character is trimmed away here,
            // which leaves the line without a valid value.
            rest = trim(rest.substr(mark));
        }
    }
    out.value = value;
    out.valueBegin = offset(written, base);
    out.valueEnd = out.valueBegin + written.size();
    // Anything but a comment after a quoted value makes the line invalid.
    out.hasValue = (rest.empty() || rest.front() == commentChar) && !value.empty();
    // An empty rest counts as a NUL byte, which matters when NUL is the
    // comment character.
    out.setsInlineComment = (rest.empty() ? '\0' : rest.front()) == commentChar;
    if (out.setsInlineComment) {
        out.commentBegin = offset(rest, base);
        out.commentEnd = out.commentBegin + rest.size();
    } else {
        out.commentBegin = out.commentEnd = out.valueEnd;
    }
}

// Fills every field of `out` that the kind of `raw` uses and resets the
// others; `base` is where offsets count from.
void classify(IniLine& out, std::string_view raw, const char* base, char commentChar) {
    out.begin = offset(raw, base);
    out.end = out.next = out.begin + raw.size();
    out.section = out.key = out.value = {};
    out.valueBegin = out.valueEnd = out.commentBegin = out.commentEnd = 0;
    out.hasValue = out.setsInlineComment = out.stores = false;
    // Comments are recognised before headers, so with '[' as the comment
    // character every header line is a comment. Only the start of a line
    // decides that, so comment lines are not trimmed at their end.
    const std::string_view left = ltrim(raw);
    if (left.empty() || left.front() == commentChar) {
        out.kind = IniLineKind::comment;
        return;
    }
    out.kind = IniLineKind::other;
    const std::string_view line = rtrim(left);
    if (line.front() == '[') {
        const auto close = line.find(']', 1);
        if (close != std::string_view::npos) {
            out.kind = IniLineKind::header;
            out.section = line.substr(1, close - 1);
        }
    } else if (const auto equals = line.find('='); equals != std::string_view::npos) {
        scanKey(out, base, line, equals, commentChar);
    }
}

}  // namespace

IniLine scanLine(std::string_view raw, char commentChar) {
    IniLine out;
    classify(out, raw, raw.data(), commentChar);
    return out;
}

std::size_t byteOrderMarkLength(std::string_view text) {
    constexpr std::string_view bom = "\xEF\xBB\xBF";
    std::size_t length = 0;
    while (text.substr(length, bom.size()) == bom) {
        length += bom.size();
    }
    return length;
}

IniScanner::IniScanner(std::string_view text, char commentChar, bool trackStores)
    : text_(text), commentChar_(commentChar), pos_(byteOrderMarkLength(text)), trackStores_(trackStores) {}

// The loader's rules for what it keeps: a header registers a section that
// does not exist yet unless its name holds '['; a key line stores when it
// has a value, its key has no entry in the section yet, and the section is
// written. A key line creates its section and its entry, storing or not,
// when it has a value or sets an inline comment.
void IniScanner::track(IniLine& line) {
    line.stores = false;
    if (line.kind == IniLineKind::header) {
        const bool exists = sections_.count(line.section) != 0;
        const bool registers = !exists && line.section.find('[') == std::string_view::npos;
        if (registers) {
            sections_.insert(line.section);
            listed_.insert(line.section);
        }
        line.stores = registers;
        currentWritten_ = line.section.empty() || listed_.count(line.section) != 0;
    } else if (line.kind == IniLineKind::key && (line.hasValue || line.setsInlineComment)) {
        sections_.insert(line.section);
        const bool isNew = entries_.insert({line.section, line.key}).second;
        line.stores = isNew && line.hasValue && currentWritten_;
    }
}

bool IniScanner::next(IniLine& line) {
    if (pos_ >= text_.size()) {
        return false;
    }
    const char* start = text_.data() + pos_;
    const auto* newline = static_cast<const char*>(std::memchr(start, '\n', text_.size() - pos_));
    const std::size_t end =
        newline == nullptr ? text_.size() : static_cast<std::size_t>(newline - text_.data());
    classify(line, text_.substr(pos_, end - pos_), text_.data(), commentChar_);
    if (newline != nullptr) {
        line.next = end + 1;
    }
    if (line.kind == IniLineKind::header) {
        section_ = line.section;
    } else {
        line.section = section_;
    }
    if (trackStores_) {
        track(line);
    }
    pos_ = line.next;
    return true;
}

}  // namespace ini
