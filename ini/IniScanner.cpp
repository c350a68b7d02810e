#include "IniScanner.h"

#include "IniLineRules.h"

#include <algorithm>
#include <cstring>

namespace ini {
namespace {

// Blank, tab and carriage return: a CR from a CRLF line is trimmed like a
// blank wherever a line or a part of it is trimmed. Some owners trim more.
struct Blanks {
    std::string_view extra;  // control characters only
    bool operator()(char c) const {
        const auto byte = static_cast<unsigned char>(c);
        return c == ' ' || c == '\t' || c == '\r' ||
               ((byte < 0x20 || byte >= 0x80) && !extra.empty() && extra.find(c) != std::string_view::npos);
    }
};

// The first of `chars` in `s`: one memchr for a single character.
[[gnu::always_inline]] inline std::size_t find_any(std::string_view s, std::string_view chars) {
    if (chars.empty()) {
        return std::string_view::npos;
    }
    if (chars.size() == 1) {
        return s.find(chars.front());
    }
    for (std::size_t i = 0; i < s.size(); ++i) {
        if (chars.find(s[i]) != std::string_view::npos) {
            return i;
        }
    }
    return std::string_view::npos;
}

// Trimming keeps the view's place: an all-blank string trims to an empty
// view at its end, so positions can still be taken from it.
// Blank, tab and CR only: the rule of most owners, and the fast path.
struct PlainBlanks {
    bool operator()(char c) const { return c == ' ' || c == '\t' || c == '\r'; }
};

template <typename Blank>
[[gnu::always_inline]] inline std::string_view ltrim(std::string_view s, Blank blank) {
    std::size_t first = 0;
    while (first < s.size() && blank(s[first])) {
        ++first;
    }
    return s.substr(first);
}

template <typename Blank>
[[gnu::always_inline]] inline std::string_view rtrim(std::string_view s, Blank blank) {
    std::size_t size = s.size();
    while (size > 0 && blank(s[size - 1])) {
        --size;
    }
    return s.substr(0, size);
}

template <typename Blank>
[[gnu::always_inline]] inline std::string_view trim(std::string_view s, Blank blank) {
    return rtrim(ltrim(s, blank), blank);
}

std::size_t offset(std::string_view part, const char* base) {
    return static_cast<std::size_t>(part.data() - base);
}

// A physical line without the CR of a CRLF line ending.
std::string_view without_cr(std::string_view line) {
    return !line.empty() && line.back() == '\r' ? line.substr(0, line.size() - 1) : line;
}

// Whether a physical line (without its line ending) continues on the next
// under backslash continuation: it ends in a '\\' that no other escapes, as
// systemd reads it; a blank after the backslash ends the value.
bool continues(std::string_view line) {
    std::size_t run = 0;
    while (run < line.size() && line[line.size() - 1 - run] == '\\') {
        ++run;
    }
    return run % 2 == 1;
}

// Where the value in `rest` ends before an inline comment, or npos. Quotes
// protect comment characters under the owners that read them so.
std::size_t inline_comment(std::string_view rest, const IniDialect& d) {
    if (d.inlineComments == IniDialect::InlineComments::none) {
        return std::string_view::npos;
    }
    char quote = 0;
    bool escaped = false;                        // mysql: a backslash inside quotes protects the next byte
    std::size_t found = std::string_view::npos;  // php: the comment so far
    const std::size_t start = rest.find_first_not_of(" \t");
    const bool quoted_start = start != std::string_view::npos && rest[start] == '"';
    for (std::size_t i = 0; i < rest.size(); ++i) {
        const char c = rest[i];
        if (d.quotes == IniDialect::Quotes::mysql) {
            // As MariaDB's option reader: a quote that is not escaped opens
            // or closes; a backslash escapes only inside quotes.
            if ((c == '"' || c == '\'') && !escaped) {
                if (quote == 0) {
                    quote = c;
                } else if (quote == c) {
                    quote = 0;
                }
            } else if (quote == 0 && d.isInlineComment(c) &&
                       (d.inlineComments == IniDialect::InlineComments::anywhere ||
                        (i > 0 && (rest[i - 1] == ' ' || rest[i - 1] == '\t')))) {
                return i;
            }
            escaped = quote != 0 && c == '\\' && !escaped;
            continue;
        }
        if (d.quotes == IniDialect::Quotes::php && c == '"') {
            // PHP: only in a value that starts with a quote, and there every
            // quote cancels a comment character seen before it.
            if (quoted_start) {
                found = std::string_view::npos;
            }
        } else if (d.quotes == IniDialect::Quotes::php && d.isInlineComment(c)) {
            found = found == std::string_view::npos ? i : found;
        } else if (quote == 0 && d.isInlineComment(c) &&
                   (d.inlineComments == IniDialect::InlineComments::anywhere ||
                    (i > 0 && (rest[i - 1] == ' ' || rest[i - 1] == '\t')))) {
            return i;
        }
    }
    return found;
}

// The classic value: quoted verbatim, or bare up to the comment character
// (which in the first position belongs to the value). Offsets from `base`.
template <typename Rules>
[[gnu::always_inline]] inline void scan_classic_value(IniLine& out, const char* base, std::string_view rest,
                                                      const Rules& d) {
    const PlainBlanks blank{};
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
            rest = trim(rest.substr(closing + 1), blank);
        }
    } else {
        std::size_t mark =
            rest.empty() ? std::string_view::npos : find_any(rest.substr(1), d.inlineCommentChars());
        mark = mark == std::string_view::npos ? mark : mark + 1;
        if (mark == std::string_view::npos) {
            written = value = rest;
            rest = rest.substr(rest.size());
        } else {
            written = value = trim(rest.substr(0, mark), blank);
            // Trimmed again: a blank comment character is trimmed away here,
            // which leaves the line without a valid value.
            rest = trim(rest.substr(mark), blank);
        }
    }
    out.value = value;
    out.valueBegin = offset(written, base);
    out.valueEnd = out.valueBegin + written.size();
    // Anything but a comment after a quoted value makes the line invalid. An
    // empty rest counts as a NUL byte, which matters when NUL is the comment
    // character.
    const char after = rest.empty() ? '\0' : rest.front();
    out.hasValue = (rest.empty() || d.isInlineComment(after)) && !value.empty();
    out.setsInlineComment = d.isInlineComment(after);
    if (out.setsInlineComment) {
        out.commentBegin = offset(rest, base);
        out.commentEnd = out.commentBegin + rest.size();
    } else {
        out.commentBegin = out.commentEnd = out.valueEnd;
    }
}

// Every other owner: the value runs to an inline comment or the end of the
// line (with its continuation lines); quotes and escapes are resolved by
// valueOf.
void scan_value(IniLine& out, const char* base, std::string_view rest, const IniDialect& d) {
    const Blanks blank{d.extraBlanks};
    const std::size_t mark = inline_comment(rest, d);
    std::string_view written = ltrim(rest.substr(0, mark), blank);
    if (d.trimValueEnd) {
        written = rtrim(written, blank);
    }
    out.value = written;
    out.valueBegin = offset(written, base);
    out.valueEnd = out.valueBegin + written.size();
    out.hasValue = !written.empty() || d.emptyValueIsValue;
    if (mark != std::string_view::npos) {
        const std::string_view comment = rtrim(rest.substr(mark), blank);
        out.commentBegin = offset(comment, base);
        out.commentEnd = out.commentBegin + comment.size();
    } else {
        out.commentBegin = out.commentEnd = out.valueEnd;
    }
}

// The header in `line` (trimmed, starting with '['), or false when the
// dialect does not read it as one.
bool scan_header(IniLine& out, std::string_view line, const IniDialect& d) {
    const Blanks blank{d.extraBlanks};
    std::size_t close = std::string_view::npos;
    switch (d.headers) {
    case IniDialect::Headers::firstClose:
        close = line.find(']', 1);
        break;
    case IniDialect::Headers::lastClose:
        close = line.rfind(']');
        close = close != std::string_view::npos && close > 1 ? close : std::string_view::npos;
        break;
    case IniDialect::Headers::wholeLine:
        close = line.back() == ']' && line.size() > 1 ? line.size() - 1 : std::string_view::npos;
        break;
    }
    if (close == std::string_view::npos) {
        if (d.unclosedHeaderIsError || d.headers == IniDialect::Headers::wholeLine) {
            out.problem = "a header without its closing ']'";
        }
        return d.headers != IniDialect::Headers::lastClose;
    }
    if (d.textAfterHeaderIsError) {
        // What follows is read as another statement: a name alone stores
        // nothing, but a key or a header would.
        std::string_view after = line.substr(close + 1);
        after = after.substr(0, find_any(after, d.commentChars));
        after = after.substr(std::min(after.find_first_not_of(" \t"), after.size()));
        const char* problem = detail::bareLineProblem(after, d);
        if (after.find_first_of("=[") != std::string_view::npos) {
            problem = "a key or header after a header's ']', on the same line";
        }
        if (problem != nullptr) {
            out.problem = problem;
            return true;
        }
    }
    if (close == 1 && d.emptySectionIsError) {
        out.problem = "a header without a name";
        return true;
    }
    out.kind = IniLineKind::header;
    out.section = line.substr(1, close - 1);
    if (d.trimSectionNames) {
        out.section = rtrim(out.section, blank);
    }
    out.registers = d.bracketInSectionNameRegisters || out.section.find('[') == std::string_view::npos;
    if (d.headers == IniDialect::Headers::wholeLine) {
        for (const char c : out.section) {
            if (c == '[' || c == ']' || static_cast<unsigned char>(c) < 0x20) {
                out.kind = IniLineKind::other;
                out.problem = "a section name holding a bracket or a control character";
                break;
            }
        }
    }
    return true;
}

// How classify reads a dialect's rules. DialectRules reads them from the
// dialect; ClassicRules holds those of the classic format as constants, so
// that the compiler drops every test that cannot apply to it. Both run the
// one grammar below.
struct DialectRules {
    const IniDialect& d;
    const IniDialect& dialect() const { return d; }
    bool isComment(char c) const { return d.isComment(c); }
    bool isInlineComment(char c) const { return d.isInlineComment(c); }
    std::string_view inlineCommentChars() const { return d.inlineCommentChars; }
    std::string_view delimiters() const { return d.delimiters; }
    std::string_view forbiddenKeyChars() const { return d.forbiddenKeyChars; }
    IniDialect::Continuation continuation() const { return d.continuation; }
    IniDialect::Quotes quotes() const { return d.quotes; }
    IniDialect::NoDelimiter noDelimiter() const { return d.noDelimiter; }
    bool indentedHeaderIsError() const { return d.indentedHeaderIsError; }
    bool emptyKeyIsError() const { return d.emptyKeyIsError; }
    bool trimValueEnd() const { return d.trimValueEnd; }
    char directiveChar() const { return d.directiveChar; }
};

struct ClassicRules {
    const IniDialect& d;  // classic, with one comment character
    char comment;
    const IniDialect& dialect() const { return d; }
    bool isComment(char c) const { return c == comment; }
    bool isInlineComment(char c) const { return c == comment; }
    std::string_view inlineCommentChars() const { return {&comment, 1}; }
    static constexpr std::string_view delimiters() { return "="; }
    static constexpr std::string_view forbiddenKeyChars() { return {}; }
    static constexpr IniDialect::Continuation continuation() { return IniDialect::Continuation::none; }
    static constexpr IniDialect::Quotes quotes() { return IniDialect::Quotes::classic; }
    static constexpr IniDialect::NoDelimiter noDelimiter() { return IniDialect::NoDelimiter::text; }
    static constexpr bool indentedHeaderIsError() { return false; }
    static constexpr bool emptyKeyIsError() { return false; }
    static constexpr bool trimValueEnd() { return true; }
    static constexpr char directiveChar() { return '\0'; }
};

// Whether `d` holds exactly the classic format's rules (any one comment
// character).
bool is_classic_shaped(const IniDialect& d) {
    return d.quotes == IniDialect::Quotes::classic && d.commentChars.size() == 1 &&
           d.inlineCommentChars == d.commentChars &&
           d.inlineComments == IniDialect::InlineComments::anywhere && d.delimiters == "=" &&
           d.continuation == IniDialect::Continuation::none &&
           d.noDelimiter == IniDialect::NoDelimiter::text && d.headers == IniDialect::Headers::firstClose &&
           !d.unclosedHeaderIsError && !d.indentedHeaderIsError && !d.trimSectionNames &&
           !d.bracketInSectionNameRegisters && !d.emptyKeyIsError && d.forbiddenKeyChars.empty() &&
           d.trimValueEnd && d.directiveChar == '\0' && d.extraBlanks.empty() && !d.emptyValueIsValue &&
           !d.textAfterHeaderIsError && !d.emptySectionIsError &&
           d.keySuffix == IniDialect::KeySuffix::none && d.forbiddenBareLineChars.empty() &&
           d.reservedWords.empty() && !d.tabsSeparateStatements && !d.crBreaksLines && d.maxLineLength == 0;
}

template <typename Rules, typename Blank>
void classify_content(IniLine& out, std::string_view raw, std::string_view first, std::string_view left,
                      const char* base, const Rules& d, Blank blank);

// Fills every field of `out` that the kind of `raw` uses and resets the
// others; `base` is where offsets count from. `raw` may run on over
// continuation lines: its first line decides what it is.
template <typename Rules, typename Blank>
[[gnu::always_inline]] inline void classify_as(IniLine& out, std::string_view raw, const char* base,
                                               const Rules& d, Blank blank) {
    out.begin = offset(raw, base);
    out.end = out.next = out.begin + raw.size();
    // Each reset separately: a chained one reads back what it just stored.
    out.section = {};
    out.key = {};
    out.value = {};
    out.valueBegin = 0;
    out.valueEnd = 0;
    out.commentBegin = 0;
    out.commentEnd = 0;
    out.hasValue = false;
    out.setsInlineComment = false;
    out.stores = false;
    out.noValue = false;
    out.registers = false;
    out.problem = nullptr;
    const std::size_t firstEnd =
        d.continuation() == IniDialect::Continuation::none ? raw.size() : raw.find('\n');
    const std::string_view first = raw.substr(0, firstEnd);
    // Comments are recognised before headers, so with '[' as a comment
    // character every header line is a comment. Only the start of a line
    // decides that, so comment lines are not trimmed at their end.
    const std::string_view left = ltrim(first, blank);
    if (left.empty() || d.isComment(left.front())) {
        out.kind = IniLineKind::comment;
        return;
    }
    classify_content(out, raw, first, left, base, d, blank);
}

// The rest of classify_as, for a line that is no comment.
template <typename Rules, typename Blank>
[[gnu::always_inline]] inline void classify_content(IniLine& out, std::string_view raw,
                                                    std::string_view first, std::string_view left,
                                                    const char* base, const Rules& d, Blank blank) {
    const std::size_t firstEnd = first.size() == raw.size() ? std::string_view::npos : first.size();
    out.kind = IniLineKind::other;
    const std::string_view line = rtrim(left, blank);
    if (line.front() == '[' && left.size() != first.size() && d.indentedHeaderIsError() &&
        !(d.dialect().tabIndentsHeaders &&
          first.substr(0, first.size() - left.size()).find('\t') != std::string_view::npos)) {
        out.problem = "a header after blanks";
        return;
    }
    if (line.front() == '[' && scan_header(out, line, d.dialect())) {
        return;
    }
    if (line.front() == d.directiveChar() && d.directiveChar() != '\0') {
        return;  // "!include" and the like: not followed here
    }
    // The text before the delimiter is the key; under owners that cut
    // inline comments first, a comment can leave a line without one.
    std::string_view whole = line;
    if (d.quotes() == IniDialect::Quotes::php || d.quotes() == IniDialect::Quotes::mysql) {
        whole = rtrim(whole.substr(0, inline_comment(whole, d.dialect())), blank);
    }
    const auto delimiter = find_any(whole, d.delimiters());
    if (delimiter == std::string_view::npos) {
        if (whole.empty()) {
            return;
        }
        if (const char* problem = detail::bareLineProblem(
                first.substr(0, offset(whole, first.data()) + whole.size()), d.dialect());
            problem != nullptr) {
            out.problem = problem;
            return;
        }
        if (d.noDelimiter() == IniDialect::NoDelimiter::noValue) {
            out.kind = IniLineKind::key;
            out.key = whole;
            out.noValue = out.hasValue = true;
            out.valueBegin = out.valueEnd = out.commentBegin = out.commentEnd =
                offset(whole, base) + whole.size();
        } else if (d.noDelimiter() == IniDialect::NoDelimiter::error) {
            out.problem = "a line that is neither a header, a key nor a comment";
        }
        return;
    }
    out.key = trim(whole.substr(0, delimiter), blank);
    if (out.key.empty() && d.emptyKeyIsError()) {
        out.problem = "a key line without a key";
        return;
    }
    const std::string_view written = first.substr(0, offset(whole, first.data()) + delimiter);
    if (const char* problem = detail::keyProblem(out.key, written, d.dialect()); problem != nullptr) {
        out.problem = problem;
        return;
    }
    if (!d.forbiddenKeyChars().empty() &&
        find_any(out.key, d.forbiddenKeyChars()) != std::string_view::npos) {
        out.problem = "a key holding a character its owner rejects";
        return;
    }
    out.kind = IniLineKind::key;
    if (d.quotes() == IniDialect::Quotes::classic) {
        scan_classic_value(out, base, trim(line.substr(delimiter + 1), blank), d);
        return;
    }
    // The value runs over the continuation lines to the end of `raw`.
    const std::size_t from = offset(line, raw.data()) + delimiter + 1;
    std::size_t to = raw.size();
    if (firstEnd >= raw.size()) {
        to = d.trimValueEnd() ? offset(line, raw.data()) + line.size()
                              : first.size() - (!first.empty() && first.back() == '\r' ? 1 : 0);
    }
    scan_value(out, base, raw.substr(from, to - from), d.dialect());
}

// `classic` says whether `d` is classic-shaped (see is_classic_shaped),
// which a scanner finds out once.
void classify(IniLine& out, std::string_view raw, const char* base, const IniDialect& d, bool classic) {
    if (classic) {
        classify_as(out, raw, base, ClassicRules{d, d.commentChars.front()}, PlainBlanks{});
        return;
    }
    if (d.extraBlanks.empty()) {
        classify_as(out, raw, base, DialectRules{d}, PlainBlanks{});
    } else {
        classify_as(out, raw, base, DialectRules{d}, Blanks{d.extraBlanks});
    }
    if (d.crBreaksLines) {
        // A CR ends a line for such owners unless a '\n' follows it; one at
        // the end of `raw` is followed by the '\n' or the end of the text.
        // The file is rejected for it whatever else the line holds.
        for (std::size_t cr = raw.find('\r'); cr != std::string_view::npos; cr = raw.find('\r', cr + 1)) {
            if (cr + 1 < raw.size() && raw[cr + 1] != '\n') {
                out.problem = "a CR without '\\n', which its owner reads as a line break";
                break;
            }
        }
    }
    if (out.problem == nullptr && d.maxLineLength != 0 && raw.size() + 1 > d.maxLineLength) {
        out.problem = "a line longer than its owner reads at once";
    }
}

// Decodes the escapes of `value` into `out`.
void unescape(std::string& out, std::string_view value) {
    for (std::size_t i = 0; i < value.size(); ++i) {
        const char c = value[i];
        if (c != '\\' || i + 1 == value.size()) {
            out += c;
            continue;
        }
        const char next = value[++i];
        char decoded = 0;
        switch (next) {
        case 'n':
            decoded = '\n';
            break;
        case 't':
            decoded = '\t';
            break;
        case 'r':
            decoded = '\r';
            break;
        case 's':
            decoded = ' ';
            break;
        case '\\':
            decoded = '\\';
            break;
        case 'b':
            decoded = '\b';
            break;
        case '"':
        case '\'':
            decoded = next;
            break;
        default:
            break;
        }
        if (decoded == 0) {
            out += '\\';
            out += next;
        } else {
            out += decoded;
        }
    }
}

}  // namespace

IniLine scanLine(std::string_view raw, char commentChar) {
    // The comment character is the rules' own; the dialect gives the rest.
    static const IniDialect classic = IniDialect::classic();
    IniLine out;
    classify_as(out, raw, raw.data(), ClassicRules{classic, commentChar}, PlainBlanks{});
    return out;
}

IniLine scanLine(std::string_view raw, const IniDialect& dialect) {
    IniLine out;
    classify(out, raw, raw.data(), dialect, is_classic_shaped(dialect));
    return out;
}

std::string valueOf(const IniLine& line, const IniDialect& d) {
    std::string_view value = line.value;
    if (line.kind != IniLineKind::key || !line.hasValue || line.noValue) {
        return {};
    }
    const Blanks blank{d.extraBlanks};
    std::string joined;
    if (d.continuation != IniDialect::Continuation::none && value.find('\n') != std::string_view::npos) {
        // Continuation lines, comment lines left out. Indented ones are
        // trimmed and join with '\n', keeping empty lines inside the value;
        // backslash ones are appended as they are, each backslash that
        // continues replaced by a blank, and the whole is trimmed.
        const bool indented = d.continuation == IniDialect::Continuation::indented;
        std::size_t at = 0;
        bool firstLine = true;
        while (at <= value.size()) {
            const std::size_t newline = value.find('\n', at);
            const std::string_view physical = value.substr(at, newline - at);
            const std::string_view part = trim(physical, blank);
            const bool comment = !firstLine && !part.empty() && d.isComment(part.front());
            if (!comment && indented) {
                joined += firstLine ? "" : "\n";
                joined += part;
            } else if (!comment) {
                // A backslash ending the last line continues onto nothing
                // (the end of the text, or an empty line an edit put after).
                const std::string_view appended = without_cr(physical);
                const bool more = continues(appended);
                joined += more ? appended.substr(0, appended.size() - 1) : appended;
                joined += more ? " " : "";
            }
            firstLine = false;
            if (newline == std::string_view::npos) {
                break;
            }
            at = newline + 1;
        }
        if (indented) {
            joined.resize(rtrim(joined, Blanks{"\n\v\f"}).size());
            return joined;
        }
        return std::string(trim(joined, blank));
    }
    // A backslash that ends the last line of the text still continues it,
    // onto nothing; one with blanks after it is text. What follows the
    // value on its line (a CR, or those blanks) is in the scanned text.
    const std::size_t after = line.end - line.valueEnd;
    if (d.continuation == IniDialect::Continuation::backslash && continues(value) &&
        (after == 0 || (after == 1 && value.data()[value.size()] == '\r'))) {
        value = rtrim(value.substr(0, value.size() - 1), blank);
    }
    if (d.quotes == IniDialect::Quotes::php || d.quotes == IniDialect::Quotes::mysql) {
        // A value wrapped whole in quotes loses them.
        const bool wrapped =
            value.size() >= 2 && value.front() == value.back() &&
            (value.front() == '"' || (d.quotes == IniDialect::Quotes::mysql && value.front() == '\''));
        if (wrapped) {
            value = value.substr(1, value.size() - 2);
        }
    }
    if (d.escapes == IniDialect::Escapes::none) {
        return std::string(value);
    }
    std::string out;
    unescape(out, value);
    return out;
}

std::size_t indentation(std::string_view line, const IniDialect& d) {
    return line.size() - ltrim(line, Blanks{d.extraBlanks}).size();
}

bool awaitsContinuation(std::string_view line, const IniDialect& d) {
    if (d.continuation != IniDialect::Continuation::backslash) {
        return false;
    }
    const Blanks blank{d.extraBlanks};
    std::string_view last;
    for (bool first = true; first || !line.empty(); first = false) {
        const std::size_t newline = line.find('\n');
        const std::string_view physical = line.substr(0, newline);
        line = newline == std::string_view::npos ? std::string_view{} : line.substr(newline + 1);
        const std::string_view left = ltrim(physical, blank);
        if (first || left.empty() || !d.isComment(left.front())) {
            last = without_cr(physical);
        }
    }
    return continues(last);
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
    : text_(text),
      dialect_(IniDialect::classic(commentChar)),
      classic_(true),
      pos_(byteOrderMarkLength(text)),
      trackStores_(trackStores) {}

IniScanner::IniScanner(std::string_view text, IniDialect dialect)
    : text_(text),
      dialect_(std::move(dialect)),
      classic_(is_classic_shaped(dialect_)),
      pos_(dialect_.skipsByteOrderMark ? byteOrderMarkLength(text) : 0),
      trackStores_(false) {}

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

std::size_t IniScanner::lineEnd(std::size_t from) const {
    const auto* newline =
        static_cast<const char*>(std::memchr(text_.data() + from, '\n', text_.size() - from));
    return newline == nullptr ? text_.size() : static_cast<std::size_t>(newline - text_.data());
}

// Where the continuation lines of the key line `line` end: indented ones
// (deeper than the key; comment and empty lines between them belong to the
// value too) or those after a line ending in '\' (comment lines between
// them are skipped).
std::size_t IniScanner::continuationEnd(const IniLine& line) const {
    const Blanks blank{dialect_.extraBlanks};
    std::size_t end = line.end;
    std::size_t at = line.next;
    if (dialect_.continuation == IniDialect::Continuation::indented) {
        const std::string_view first = text_.substr(line.begin, line.end - line.begin);
        const std::size_t indent = indentation(first, dialect_);
        while (at < text_.size()) {
            const std::size_t stop = lineEnd(at);
            const std::string_view physical = text_.substr(at, stop - at);
            const std::string_view left = ltrim(physical, blank);
            const bool skipped = left.empty() || dialect_.isComment(left.front());
            if (!skipped && physical.size() - left.size() <= indent) {
                break;
            }
            if (!skipped) {
                end = stop;
            }
            at = stop + 1;
        }
    } else if (dialect_.continuation == IniDialect::Continuation::backslash) {
        std::string_view last = without_cr(text_.substr(line.begin, line.end - line.begin));
        while (continues(last) && at < text_.size()) {
            const std::size_t stop = lineEnd(at);
            const std::string_view physical = text_.substr(at, stop - at);
            const std::string_view left = ltrim(physical, blank);
            end = stop;
            at = stop + 1;
            if (left.empty() || !dialect_.isComment(left.front())) {
                last = without_cr(physical);
            }
        }
    }
    return end;
}

bool IniScanner::next(IniLine& line) {
    if (pos_ >= text_.size()) {
        return false;
    }
    std::size_t end = lineEnd(pos_);
    if (classic_) {
        // The classic format has neither continuation lines nor lines it rejects.
        classify(line, text_.substr(pos_, end - pos_), text_.data(), dialect_, true);
        line.next = end < text_.size() ? end + 1 : end;
        if (line.kind == IniLineKind::header) {
            section_ = line.section;
        } else {
            line.section = section_;
        }
    } else {
        nextOfDialect(line, end);
    }
    if (trackStores_) {
        track(line);
    }
    pos_ = line.next;
    return true;
}

void IniScanner::nextOfDialect(IniLine& line, std::size_t end) {
    classify(line, text_.substr(pos_, end - pos_), text_.data(), dialect_, false);
    if (line.problem == detail::reservedLineProblem && line.kind == IniLineKind::other &&
        end == text_.size() && detail::endsInFinalWord(text_.substr(pos_, end - pos_), dialect_)) {
        line.problem = nullptr;
    }
    if (line.kind == IniLineKind::key && dialect_.continuation != IniDialect::Continuation::none) {
        line.next = end < text_.size() ? end + 1 : end;
        const std::size_t joined = continuationEnd(line);
        if (joined != end) {
            end = joined;
            classify(line, text_.substr(pos_, end - pos_), text_.data(), dialect_, false);
        }
    }
    line.next = end < text_.size() ? end + 1 : end;
    if (!dialect_.trimValueEnd && end == text_.size() && line.kind == IniLineKind::key &&
        line.problem == nullptr && text_.back() == '\r') {
        // Every line is read without the CR of its CRLF ending; this one
        // has no '\n', so its owner keeps the CR in the value.
        line.problem = "a CR ending the text, which its owner keeps in the value";
    }
    if (line.kind == IniLineKind::header) {
        section_ = line.section;
        headerSeen_ = true;
        if (dialect_.repeatedSectionsReplace && !headersSeen_.insert(line.section).second) {
            line.problem = "a repeated section, which drops what the earlier one held";
        }
    } else {
        line.section = section_;
        if (line.kind == IniLineKind::key && !headerSeen_ && dialect_.keysAboveFirstHeaderAreErrors) {
            line.problem = "a key above the first header";
        }
    }
}

}  // namespace ini
