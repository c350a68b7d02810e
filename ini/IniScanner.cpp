#include "IniScanner.h"

#include <cstring>

namespace ini {
namespace {

// Blank, tab and carriage return: a CR from a CRLF line is trimmed like a
// blank wherever a line or a part of it is trimmed.
constexpr std::string_view trimSet = " \t\r";

// Trimming keeps the view's place: an all-blank string trims to an empty
// view at its end, so positions can still be taken from it.
std::string_view ltrim(std::string_view s) {
    const auto first = s.find_first_not_of(trimSet);
    return s.substr(first == std::string_view::npos ? s.size() : first);
}

std::string_view rtrim(std::string_view s) {
    const auto last = s.find_last_not_of(trimSet);
    return s.substr(0, last == std::string_view::npos ? 0 : last + 1);
}

std::string_view trim(std::string_view s) { return rtrim(ltrim(s)); }

std::size_t offset(std::string_view part, std::string_view whole) {
    return static_cast<std::size_t>(part.data() - whole.data());
}

void scanKey(IniLine& out, std::string_view raw, std::string_view line, std::size_t equals,
             char commentChar) {
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
    out.valueBegin = offset(written, raw);
    out.valueEnd = out.valueBegin + written.size();
    // Anything but a comment after a quoted value makes the line invalid.
    out.hasValue = (rest.empty() || rest.front() == commentChar) && !value.empty();
    // An empty rest counts as a NUL byte, which matters when NUL is the
    // comment character.
    out.setsInlineComment = (rest.empty() ? '\0' : rest.front()) == commentChar;
    if (out.setsInlineComment) {
        out.commentBegin = offset(rest, raw);
        out.commentEnd = out.commentBegin + rest.size();
    } else {
        out.commentBegin = out.commentEnd = out.valueEnd;
    }
}

}  // namespace

IniLine scanLine(std::string_view raw, char commentChar) {
    IniLine out;
    out.end = out.next = raw.size();
    const std::string_view line = trim(raw);
    // Comments are recognised before headers, so with '[' as the comment
    // character every header line is a comment.
    if (line.empty() || line.front() == commentChar) {
        out.kind = IniLineKind::comment;
    } else if (line.front() == '[') {
        const auto close = line.find(']', 1);
        if (close != std::string_view::npos) {
            out.kind = IniLineKind::header;
            out.section = line.substr(1, close - 1);
        }
    } else if (const auto equals = line.find('='); equals != std::string_view::npos) {
        scanKey(out, raw, line, equals, commentChar);
    }
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

IniScanner::IniScanner(std::string_view text, char commentChar)
    : text_(text), commentChar_(commentChar), pos_(byteOrderMarkLength(text)) {}

bool IniScanner::next(IniLine& line) {
    if (pos_ >= text_.size()) {
        return false;
    }
    const char* start = text_.data() + pos_;
    const auto* newline = static_cast<const char*>(std::memchr(start, '\n', text_.size() - pos_));
    const std::size_t end =
        newline == nullptr ? text_.size() : static_cast<std::size_t>(newline - text_.data());
    line = scanLine(text_.substr(pos_, end - pos_), commentChar_);
    // From line-relative to text-relative offsets.
    line.begin = pos_;
    line.end = end;
    line.next = newline == nullptr ? end : end + 1;
    line.valueBegin += pos_;
    line.valueEnd += pos_;
    line.commentBegin += pos_;
    line.commentEnd += pos_;
    if (line.kind == IniLineKind::header) {
        section_ = line.section;
    } else {
        line.section = section_;
    }
    pos_ = line.next;
    return true;
}

}  // namespace ini
