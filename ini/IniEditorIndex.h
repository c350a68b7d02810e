// The text model behind IniEditor: the text as a linked list of lines
// with their bytes, and the index of where each section and key has its
// lines, which every edit keeps up to date, so that no caller sees a stale
// one. Internal to the library: not installed.
#ifndef INI_INIEDITORINDEX_H
#define INI_INIEDITORINDEX_H

#include "IniEditor.h"
#include "IniScanner.h"

#include <array>
#include <cstddef>
#include <deque>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

namespace ini {
namespace detail {

using LineId = std::size_t;
constexpr LineId noLine = static_cast<LineId>(-1);

inline bool defines(const IniLine& line) { return line.hasValue || line.setsInlineComment; }

inline bool isTrimmed(char c) { return c == ' ' || c == '\t' || c == '\r'; }

// The length of `s` without the blanks, tabs and CRs at its end.
inline std::size_t trimmedSize(std::string_view s) {
    std::size_t size = s.size();
    while (size > 0 && isTrimmed(s[size - 1])) {
        --size;
    }
    return size;
}

inline IniEditResult refused(std::string reason) { return {IniEditStatus::refused, std::move(reason)}; }

constexpr char lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

// Names hashed and compared with or without ASCII case, as the dialect says.
struct NameHash {
    bool fold = false;
    std::size_t operator()(std::string_view name) const {
        if (!fold) {
            return std::hash<std::string_view>{}(name);
        }
        std::size_t hash = 14695981039346656037ULL;
        for (const char c : name) {
            hash = (hash ^ static_cast<unsigned char>(lower(c))) * 1099511628211ULL;
        }
        return hash;
    }
};
struct NameEqual {
    bool fold = false;
    bool operator()(std::string_view a, std::string_view b) const {
        return fold ? equalsIgnoringCase(a, b) : a == b;
    }
};
template <typename T>
using NameMap = std::unordered_map<std::string_view, T, NameHash, NameEqual>;
template <typename T>
NameMap<T> nameMap(bool fold) {
    return NameMap<T>(8, NameHash{fold}, NameEqual{fold});
}

using OtherValues = std::vector<std::array<std::string, 3>>;

// Every header and every line that gives a key a value, as (section, key,
// value) with names folded as the dialect compares them, leaving out those of
// `key` in `section` (with no key, of the whole section): what must not
// change when only that key or section is edited.
OtherValues otherValues(std::string_view text, const IniDialect& dialect, std::string_view section,
                        std::optional<std::string_view> key);

}  // namespace detail

// The text as a doubly linked list of lines, and where each section and key
// has its lines. Line contents view the original text or a string of
// `added`, neither of which moves or shrinks, so the names the tables are
// keyed by stay valid as long as the index. Removed lines keep their slot.
//
// The original is read into the list a line at a time, as far as lookups
// need; reading keeps only lines and headers. A section's keys are indexed
// the first time a lookup or edit asks for that section (and, once indexed,
// as more of its lines are read), with each key's lines chained through the
// lines. A section's entry and its keys stay once created, with no lines
// once deleted. Every edit but a value's replacement reads the whole text
// first.
struct IniEditor::Index {
    struct Line {
        std::string_view content;  // without its '\n'; a CR before it is kept
        detail::LineId prev = detail::noLine;
        detail::LineId next = detail::noLine;
        detail::LineId nextOfKey = detail::noLine;  // the key's next line, in text order
        detail::LineId prevOfKey = detail::noLine;
        IniLineKind kind = IniLineKind::other;
        bool newline = false;
        bool newlineFollows = false;  // the content's own '\n' follows it in memory
        bool original = false;        // the content is its range of the original text
        bool rewritten = false;       // an original line whose content was replaced
        bool removed = false;
        bool blank = false;  // a comment line of blanks, tabs and CRs only
    };
    struct Key {
        detail::LineId first = detail::noLine;  // every key line of the key, chained
        detail::LineId last = detail::noLine;
    };
    struct Section {
        std::vector<detail::LineId> headers;  // in text order
        // Its keys, filled at the first lookup in the section by reading its
        // lines (for "" those above the first header too), then kept up to
        // date; a key whose lines are all deleted stays, with none.
        detail::NameMap<Key> keys;
        bool indexed = false;
        std::size_t keyLines = 0;  // once indexed
        // The last key line after the first header and before the next one.
        detail::LineId lastKey = detail::noLine;
        // Each key's last commented-out line in the section (see
        // IniEditor::uncomment), read when a new key first asks; keyed by
        // views into the lines, and null while there is none.
        bool commentedOutRead = false;
        std::unique_ptr<detail::NameMap<detail::LineId>> commentedOut;
    };

    Index(std::string text, IniDialect rules);

    // The original text is read into the list as far as lookups need it:
    // a key found early is set without reading the rest. Reads one more
    // line (its id, or detail::noLine at the end), or all that is left.
    detail::LineId readLine();
    void readAll();

    IniLine scan(detail::LineId id) const {
        scanned += lines[id].content.size();
        return scanLine(lines[id].content, dialect);
    }
    std::string valueAt(detail::LineId id) const { return valueOf(scan(id), dialect); }
    // The section called `name`, created without lines when new.
    Section& sectionOf(std::string_view name) {
        return sections
            .try_emplace(name, Section{{},
                                       detail::nameMap<Key>(dialect.caseInsensitiveKeys),
                                       false,
                                       0,
                                       detail::noLine,
                                       false,
                                       nullptr})
            .first->second;
    }
    Section* findSection(std::string_view name) {
        const auto found = sections.find(name);
        return found == sections.end() ? nullptr : &found->second;
    }
    // The section with its keys indexed, or null when it has no entry.
    Section* indexedSection(std::string_view name);
    // The entry of `key` in `section`, or null; with lines or not.
    Key* findKey(std::string_view section, std::string_view key);
    void addKeyLine(Section& owner, std::string_view key, detail::LineId id);
    // Takes a removed line out of its key's chain; walking on from it still
    // works.
    void dropKeyLine(Section& owner, Key& entry, detail::LineId id);
    // The line read() reads for the key: the first or the last that defines
    // it, in the section or else in the default section.
    std::optional<std::pair<detail::LineId, IniLine>> readingLine(std::string_view section,
                                                                  std::string_view key);
    // The name of the section a line is in.
    std::string_view sectionOfLine(detail::LineId id) const;
    // A key line that ends the text still open for a continuation line (its
    // last line ends in '\\') would take in whatever follows: an empty line
    // closes it. Returns the line to insert after.
    detail::LineId closeContinuation(detail::LineId after, std::string_view eol);
    // The line that gives the key its entry: the first that defines it.
    std::optional<std::pair<detail::LineId, IniLine>> definingLine(std::string_view section,
                                                                   std::string_view key);
    bool sectionExists(std::string_view section);

    detail::LineId newLine(std::string content, bool newline);
    void setContent(detail::LineId id, std::string content);
    void insertAfter(detail::LineId id, detail::LineId after);
    void unlink(detail::LineId id);
    // Unlinks a line of `section`, moving the section's or the top's last
    // key line back when it was this one.
    void remove(detail::LineId id, Section* section);
    // Gives the last line (which has none) a line ending.
    void terminate(detail::LineId id, std::string_view eol);
    // Reads the first line when nothing was read yet.
    std::string_view lineEnding();
    detail::LineId firstKeyLine() const;
    detail::LineId lastKeyLine() const;

    // Calls `each` with every line under the section's headers (up to the
    // next header) in text order, and for "" with those above the first.
    template <typename Each>
    void forEachRegionLine(std::string_view section, Each each);
    // A comment line without its comment character and the blanks right
    // after it (its indentation kept), and the bytes removed; 0 removed for
    // any other line.
    std::pair<std::string, std::size_t> uncommented(detail::LineId id) const;
    // The last commented-out line of `key` in the section (holding `value`
    // when given) that gives the key a value, or detail::noLine. Reads the whole
    // text.
    detail::LineId commentedOut(std::string_view section, std::string_view key,
                                std::optional<std::string_view> value);
    // The line read() reads for the key, when it is in the section itself.
    std::optional<std::pair<detail::LineId, IniLine>> ownLine(std::string_view section, std::string_view key);
    // The comment lines directly above a line, in text order.
    std::vector<detail::LineId> commentAbove(detail::LineId id) const;
    // Those lines as an IniComment, without an inline comment.
    IniComment commentBlock(detail::LineId id) const;
    // The key line before a line, up to the header above it; or detail::noLine.
    detail::LineId keyLineBefore(detail::LineId id) const;
    // Whether a key line is the last key line under `header` before the
    // next header (with detail::noLine: above the first header).
    bool endsFirstRegion(detail::LineId id, detail::LineId header) const;
    const std::string& text();

    std::string original;
    IniDialect dialect;
    IniScanner reader;               // where reading the original stands
    Section* readSection = nullptr;  // the section of the last line read
    std::string_view readSectionName;
    bool readFirstRegion = false;  // ... in the region of its first header
    std::deque<std::string> added;
    std::string_view byteOrderMark;
    std::vector<Line> lines;
    detail::LineId head = detail::noLine;
    detail::LineId tail = detail::noLine;
    detail::NameMap<Section> sections;           // filled in as lookups need them
    detail::LineId topLastKey = detail::noLine;  // the last key line above the first header
    // Headers that follow a blank line: whether the text separates its
    // sections with blank lines, which a new section then copies.
    std::size_t blankBeforeHeader = 0;
    // The text after edits, assembled when asked for. While no line was
    // added, removed or given a line ending, it is the original with the
    // lines in `rewrites` replaced, assembled from their offsets without
    // walking the lines; before any edit, `original` itself.
    bool relinked = false;
    struct Rewrite {
        std::size_t offset;
        std::size_t size;
        detail::LineId id;
    };
    std::vector<Rewrite> rewrites;
    std::string assembled;
    bool assembledCurrent = false;
    mutable std::size_t scanned = 0;  // counted by scan(), which lookups call

private:
    bool blankThenHeader(detail::LineId a, detail::LineId b) const {
        return a != detail::noLine && b != detail::noLine && lines[a].blank &&
               lines[b].kind == IniLineKind::header;
    }
};

}  // namespace ini

#endif  // INI_INIEDITORINDEX_H
