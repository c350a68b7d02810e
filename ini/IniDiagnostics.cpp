#include "IniDiagnostics.h"

#include "IniScanner.h"

#include <algorithm>
#include <map>
#include <utility>

namespace ini {
namespace {

bool is_blank(char c) { return c == ' ' || c == '\t'; }

std::string folded(std::string_view name, bool fold) {
    std::string out(name);
    if (fold) {
        for (char& c : out) {
            c = c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
        }
    }
    return out;
}

std::string quoted(std::string_view name) { return "'" + std::string(name) + "'"; }

// Turns byte offsets into line and column numbers.
class Locator {
public:
    explicit Locator(std::string_view text) {
        starts_.push_back(0);
        for (std::size_t at = text.find('\n'); at != std::string_view::npos; at = text.find('\n', at + 1)) {
            starts_.push_back(at + 1);
        }
    }
    std::size_t line(std::size_t offset) const {
        return static_cast<std::size_t>(std::upper_bound(starts_.begin(), starts_.end(), offset) -
                                        starts_.begin());
    }
    std::size_t column(std::size_t offset) const { return offset - starts_[line(offset) - 1] + 1; }

private:
    std::vector<std::size_t> starts_;
};

class Diagnosis {
public:
    Diagnosis(std::string_view text, const IniDialect& dialect) : text_(text), dialect_(dialect), at_(text) {}

    std::vector<IniFinding> run() {
        if (const std::size_t bom = byteOrderMarkLength(text_); bom > 0) {
            add(IniFindingKind::byteOrderMark, 0, bom,
                dialect_.skipsByteOrderMark
                    ? "a byte order mark, which is skipped"
                    : "a byte order mark, which " + dialect_.name + " reads as part of the first line");
        }
        lineEndings();
        IniScanner scanner(text_, dialect_);
        for (IniLine line; scanner.next(line);) {
            if (line.problem != nullptr) {
                add(IniFindingKind::rejected, line.begin, line.end,
                    std::string(line.problem) + " (" + dialect_.name + " rejects the file)");
            } else if (line.kind == IniLineKind::header) {
                header(line);
            } else if (line.kind == IniLineKind::key) {
                key(line);
            } else if (line.kind == IniLineKind::other) {
                other(line);
            }
        }
        if (headerSeen_) {
            for (IniFinding& finding : above_) {
                found_.push_back(std::move(finding));
            }
        }
        if (!text_.empty() && text_.back() != '\n') {
            add(IniFindingKind::noFinalNewline, text_.size(), text_.size(),
                "no line ending after the last line");
        }
        std::stable_sort(found_.begin(), found_.end(),
                         [](const IniFinding& a, const IniFinding& b) { return a.begin < b.begin; });
        return std::move(found_);
    }

private:
    IniFinding finding(IniFindingKind kind, std::size_t begin, std::size_t end, std::string message) const {
        return {kind, at_.line(begin), at_.column(begin), begin, end, std::move(message)};
    }
    void add(IniFindingKind kind, std::size_t begin, std::size_t end, std::string message) {
        found_.push_back(finding(kind, begin, end, std::move(message)));
    }

    // The first line whose ending differs from the first line's, once.
    void lineEndings() {
        std::size_t crlf = 0;
        std::size_t lf = 0;
        std::size_t firstOther = std::string_view::npos;
        bool firstIsCrlf = false;
        for (std::size_t at = text_.find('\n'); at != std::string_view::npos; at = text_.find('\n', at + 1)) {
            const bool isCrlf = at > 0 && text_[at - 1] == '\r';
            if (crlf + lf == 0) {
                firstIsCrlf = isCrlf;
            } else if (isCrlf != firstIsCrlf && firstOther == std::string_view::npos) {
                firstOther = isCrlf ? at - 1 : at;
            }
            ++(isCrlf ? crlf : lf);
        }
        if (firstOther != std::string_view::npos) {
            add(IniFindingKind::mixedLineEndings, firstOther, text_.find('\n', firstOther) + 1,
                std::string("this line ends in ") + (firstIsCrlf ? "LF" : "CRLF") + ", the first in " +
                    (firstIsCrlf ? "CRLF" : "LF") + " (" + std::to_string(crlf) + " lines end in CRLF, " +
                    std::to_string(lf) + " in LF)");
        }
    }

    void header(const IniLine& line) {
        headerSeen_ = true;
        const std::size_t nameBegin = static_cast<std::size_t>(line.section.data() - text_.data());
        const std::size_t close = text_.find(']', nameBegin + line.section.size());
        const std::size_t lineEnd = std::min(line.end, text_.find('\n', line.begin));
        std::size_t rest = close == std::string_view::npos ? lineEnd : close + 1;
        while (rest < lineEnd && (is_blank(text_[rest]) || text_[rest] == '\r')) {
            ++rest;
        }
        if (rest < lineEnd && !dialect_.isComment(text_[rest]) && !dialect_.isInlineComment(text_[rest])) {
            std::size_t end = lineEnd;
            while (end > rest && (is_blank(text_[end - 1]) || text_[end - 1] == '\r')) {
                --end;
            }
            add(IniFindingKind::ignoredText, rest, end, "text after the header's ']' is ignored");
        }
        if (!line.registers) {
            return;
        }
        const auto [first, isNew] =
            sections_.emplace(folded(line.section, dialect_.caseInsensitiveSections), at_.line(line.begin));
        if (!isNew) {
            add(IniFindingKind::repeatedSection, line.begin, lineEnd,
                "section " + quoted(line.section) + " again (first at line " + std::to_string(first->second) +
                    (dialect_.repeatedSectionsReplace ? "), whose keys this one drops"
                                                      : "); its keys join that section's"));
        }
    }

    void key(const IniLine& line) {
        const std::size_t keyBegin = static_cast<std::size_t>(line.key.data() - text_.data());
        const std::size_t keyEnd = keyBegin + line.key.size();
        if (!headerSeen_) {
            above_.push_back(
                finding(IniFindingKind::keyAboveFirstHeader, keyBegin, keyEnd,
                        "key " + quoted(line.key) + " is above the first header, outside every section"));
        }
        if (!line.key.empty() && (line.key.front() == '#' || line.key.front() == ';')) {
            add(IniFindingKind::commentedKey, keyBegin, keyBegin + 1, commentedKeyMessage(line.key));
        }
        if (!line.hasValue && !line.setsInlineComment) {
            // Only a quoted value can leave a line without a value although
            // it holds one: a quote left open, or text after the closing one.
            const std::string_view written = text_.substr(line.valueBegin, line.valueEnd - line.valueBegin);
            const bool unreadable = !written.empty() && written.front() == '"' &&
                                    (written.size() == 1 || written.back() != '"' || textAfterValue(line));
            if (unreadable) {
                add(IniFindingKind::storesNothing, line.valueBegin, line.end,
                    "a value the format cannot read (text after its closing quote, or no closing quote): the "
                    "line stores nothing");
            } else if (!dialect_.emptyValueIsValue) {
                add(IniFindingKind::storesNothing, keyBegin, line.valueEnd,
                    "key " + quoted(line.key) + " has no value: it reads as absent");
            }
            return;
        }
        // A repeated key where one value is kept (a dialect whose empty
        // assignment resets a list keeps them all).
        if (line.hasValue && !dialect_.emptyValueResetsList) {
            const auto [first, isNew] =
                keys_.emplace(std::make_pair(folded(line.section, dialect_.caseInsensitiveSections),
                                             folded(line.key, dialect_.caseInsensitiveKeys)),
                              at_.line(line.begin));
            if (!isNew) {
                add(IniFindingKind::repeatedKey, keyBegin, keyEnd,
                    "key " + quoted(line.key) + " again (first at line " + std::to_string(first->second) +
                        (dialect_.lastValueWins ? "): this value replaces the earlier ones"
                                                : "): the first value wins, this one is ignored"));
            }
        }
        commentCharacters(line);
        const std::string_view written = text_.substr(line.valueBegin, line.valueEnd - line.valueBegin);
        const bool quote = written.size() >= 2 &&
                           (written.front() == '"' ||
                            (written.front() == '\'' && dialect_.quotes == IniDialect::Quotes::mysql));
        if (dialect_.quotes != IniDialect::Quotes::none && quote && written.back() == written.front() &&
            is_blank(written[written.size() - 2])) {
            std::size_t blanks = line.valueEnd - 1;
            while (blanks > line.valueBegin + 1 && is_blank(text_[blanks - 1])) {
                --blanks;
            }
            add(IniFindingKind::blanksInsideQuotes, blanks, line.valueEnd - 1,
                "blanks before the closing quote are part of the value");
        }
    }

    // A key that starts with a comment character of other rules was most
    // likely commented out: the message names the rules that read it so.
    static std::string commentedKeyMessage(std::string_view key) {
        std::string presets;
        for (const std::string& name : IniDialect::presetNames()) {
            IniDialect preset;
            if (IniDialect::byName(name, preset) && preset.isComment(key.front())) {
                presets += (presets.empty() ? "" : ", ") + name;
            }
        }
        return "key " + quoted(key) + " starts with '" + std::string(1, key.front()) +
               "', which starts a comment under the dialects " + presets +
               " (or with the comment characters \"" + std::string(1, key.front()) +
               "\"): was it commented out?";
    }

    // Whether anything but blanks and a CR follows a line's value.
    bool textAfterValue(const IniLine& line) const {
        for (std::size_t at = line.valueEnd; at < line.end; ++at) {
            if (!is_blank(text_[at]) && text_[at] != '\r') {
                return true;
            }
        }
        return false;
    }

    // A comment character right after a value's text, which cuts it there;
    // or one after a blank inside a value, which reads as text.
    void commentCharacters(const IniLine& line) {
        if (line.commentBegin < line.commentEnd && line.commentBegin > line.valueBegin &&
            line.valueEnd > line.valueBegin && !is_blank(text_[line.commentBegin - 1])) {
            add(IniFindingKind::commentCharInValue, line.commentBegin, line.commentBegin + 1,
                quoted(text_.substr(line.commentBegin, 1)) +
                    " starts a comment here: the value ends before it");
        }
        const std::string_view written = text_.substr(line.valueBegin, line.valueEnd - line.valueBegin);
        if (written.empty() || written.front() == '"' || written.front() == '\'') {
            return;
        }
        const std::string_view first = written.substr(0, written.find('\n'));
        for (std::size_t i = 1; i < first.size(); ++i) {
            if (is_blank(first[i - 1]) && dialect_.isComment(first[i])) {
                add(IniFindingKind::commentCharInValue, line.valueBegin + i, line.valueBegin + i + 1,
                    quoted(first.substr(i, 1)) + " after a blank is part of the value: " + dialect_.name +
                        " reads no comment there");
                return;
            }
        }
    }

    void other(const IniLine& line) {
        std::size_t begin = line.begin;
        const std::size_t end = std::min(line.end, text_.find('\n', line.begin));
        while (begin < end && is_blank(text_[begin])) {
            ++begin;
        }
        // Lines that look like comments of another format are read as
        // intended: they store nothing. So are directives.
        if (begin == end || text_[begin] == '#' || text_[begin] == ';' ||
            (dialect_.directiveChar != '\0' && text_[begin] == dialect_.directiveChar)) {
            return;
        }
        add(IniFindingKind::storesNothing, begin, end,
            text_[begin] == '['
                ? std::string("a header without its closing ']': the line stores nothing")
                : "no '" + std::string(1, dialect_.delimiters.empty() ? '=' : dialect_.delimiters.front()) +
                      "' on this line: it stores nothing");
    }

    std::string_view text_;
    const IniDialect& dialect_;
    Locator at_;
    bool headerSeen_ = false;
    std::vector<IniFinding> found_;
    std::vector<IniFinding> above_;  // kept once a header follows
    std::map<std::string, std::size_t> sections_;
    std::map<std::pair<std::string, std::string>, std::size_t> keys_;
};

}  // namespace

std::vector<IniFinding> diagnose(std::string_view text, const IniDialect& dialect) {
    return Diagnosis(text, dialect).run();
}

const char* findingName(IniFindingKind kind) {
    switch (kind) {
    case IniFindingKind::rejected:
        return "rejected";
    case IniFindingKind::storesNothing:
        return "stores-nothing";
    case IniFindingKind::ignoredText:
        return "ignored-text";
    case IniFindingKind::repeatedKey:
        return "repeated-key";
    case IniFindingKind::repeatedSection:
        return "repeated-section";
    case IniFindingKind::keyAboveFirstHeader:
        return "key-above-first-header";
    case IniFindingKind::byteOrderMark:
        return "byte-order-mark";
    case IniFindingKind::mixedLineEndings:
        return "mixed-line-endings";
    case IniFindingKind::noFinalNewline:
        return "no-final-newline";
    case IniFindingKind::commentCharInValue:
        return "comment-char-in-value";
    case IniFindingKind::blanksInsideQuotes:
        return "blanks-inside-quotes";
    case IniFindingKind::commentedKey:
        return "commented-key";
    }
    return "unknown";
}

}  // namespace ini
