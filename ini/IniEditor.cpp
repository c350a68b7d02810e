#include "IniEditor.h"

#include "IniScanner.h"
#include "IniTextRules.h"

#include <algorithm>
#include <array>
#include <deque>
#include <optional>
#include <set>
#include <unordered_map>
#include <utility>

namespace ini {
namespace {

using LineId = std::size_t;
constexpr LineId noLine = static_cast<LineId>(-1);

bool defines(const IniLine& line) { return line.hasValue || line.setsInlineComment; }

bool is_trimmed(char c) { return c == ' ' || c == '\t' || c == '\r'; }

// The length of `s` without the blanks, tabs and CRs at its end.
std::size_t trimmed_size(std::string_view s) {
    std::size_t size = s.size();
    while (size > 0 && is_trimmed(s[size - 1])) {
        --size;
    }
    return size;
}

IniEditResult refused(std::string reason) { return {IniEditStatus::refused, std::move(reason)}; }

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
NameMap<T> name_map(bool fold) {
    return NameMap<T>(8, NameHash{fold}, NameEqual{fold});
}

// The value as it must be written so that the loader reads `value` back, or
// a reason why it cannot be. Quotes protect blanks, tabs and CRs at the ends
// (the loader trims them), comment characters, and a leading quote.
std::optional<std::string> written_value(std::string_view value, const IniDialect& dialect,
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
    bool quoted = is_trimmed(value.front()) || is_trimmed(value.back()) || value.front() == '"';
    for (const char c : dialect.commentChars) {
        quoted = quoted || detail::valueNeedsQuotes(value, c);
    }
    if (quoted && value.find('"') != std::string_view::npos) {
        reason = "a value that needs quotes cannot hold '\"'";
        return std::nullopt;
    }
    return quoted ? "\"" + std::string(value) + "\"" : std::string(value);
}

std::string key_problem(std::string_view key, const IniDialect& dialect) {
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
    if (!key.empty() && (is_trimmed(key.front()) || is_trimmed(key.back()))) {
        return "a key cannot start or end with a blank, tab or CR";
    }
    return {};
}

std::string section_problem(std::string_view section, const IniDialect& dialect) {
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

// "key = value" in the style of `model` (its indentation, its delimiter, and
// blanks around it or none, all on its first line), or in the plain style
// when there is no model.
std::string key_line(std::string_view model, std::string_view key, std::string_view value,
                     const IniDialect& dialect) {
    model = model.substr(0, model.find('\n'));
    std::string out;
    bool spaced = true;
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

// The indentation that checked_value gives each further line of a value
// under indented continuation; spread() replaces it by the key's own.
constexpr std::string_view continuationIndent = "    ";

// `written` (a value as checked_value gives it) with each further line after
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
            out += line.substr(continuationIndent.size());
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
    return std::string(first.substr(0, depth)) + std::string(continuationIndent);
}

std::string_view first_line(std::string_view written) { return written.substr(0, written.find('\n')); }

// The further lines of `written` (a value as checked_value gives it) for the
// key line `keyLine`, each after `eol`; empty for a value of one line.
std::string further_lines(std::string_view written, std::string_view keyLine, const IniDialect& dialect,
                          std::string_view eol) {
    const std::size_t newline = written.find('\n');
    return newline == std::string_view::npos || dialect.continuation != IniDialect::Continuation::indented
               ? std::string()
               : spread(written, continuation_indent(keyLine, dialect), eol).substr(newline);
}

// The ways a value may be written, plainest first: as it is, and under
// owners with quotes or escapes, escaped and quoted.
std::vector<std::string> value_candidates(std::string_view value, const IniDialect& dialect) {
    if (dialect.continuation == IniDialect::Continuation::indented &&
        value.find('\n') != std::string_view::npos) {
        // Each further line indented, an empty one left empty.
        std::string out;
        for (std::size_t at = 0;;) {
            const std::size_t end = value.find('\n', at);
            const std::string_view line = value.substr(at, end - at);
            out += at == 0 || line.empty() ? "" : continuationIndent;
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

// Whether `line`, alone, is a line of `key` in every dialect-relevant way
// and reads as `value`.
bool reads_back(std::string_view line, std::string_view key, std::string_view value,
                const IniDialect& dialect) {
    if (dialect.continuation == IniDialect::Continuation::none && line.find('\n') != std::string_view::npos) {
        return false;  // the owner reads a line after the newline
    }
    const IniLine scanned = scanLine(line, dialect);
    return scanned.kind == IniLineKind::key && scanned.problem == nullptr && scanned.key == key &&
           scanned.hasValue && !scanned.noValue && valueOf(scanned, dialect) == value;
}

// `value` as written after the delimiter so that `key` reads it back, or a
// reason why no writing can.
std::optional<std::string> checked_value(std::string_view key, std::string_view value,
                                         const IniDialect& dialect, std::string& reason) {
    const auto written = written_value(value, dialect, reason);
    if (!written) {
        return std::nullopt;
    }
    if (reason = key_problem(key, dialect); !reason.empty()) {
        return std::nullopt;
    }
    if (key.empty() && dialect.emptyKeyIsError) {
        reason = "the empty key is not read as a key";
        return std::nullopt;
    }
    for (const std::string& candidate : value_candidates(*written, dialect)) {
        if (dialect.quotes == IniDialect::Quotes::classic) {
            return candidate;  // the rules above are complete for this format
        }
        if (reads_back(key_line({}, key, candidate, dialect), key, value, dialect)) {
            return candidate;
        }
    }
    reason = "the format cannot write this key and value so that they read back";
    return std::nullopt;
}

using OtherValues = std::vector<std::array<std::string, 3>>;

// Every header and every line that gives a key a value, as (section, key,
// value) with names folded as the dialect compares them, leaving out those of
// `key` in `section` (with no key, of the whole section): what must not
// change when only that key or section is edited.
OtherValues other_values(std::string_view text, const IniDialect& dialect, std::string_view section,
                         std::optional<std::string_view> key) {
    const auto folded = [](std::string_view name, bool fold) {
        std::string out(name);
        for (char& c : out) {
            c = fold ? lower(c) : c;
        }
        return out;
    };
    std::vector<std::array<std::string, 3>> out;
    IniScanner scanner(text, dialect);
    for (IniLine line; scanner.next(line);) {
        const bool excluded =
            dialect.sameSection(line.section, section) && (!key || dialect.sameKey(line.key, *key));
        if (line.kind == IniLineKind::header && !excluded) {
            out.push_back({folded(line.section, dialect.caseInsensitiveSections), "[", ""});
        }
        if (line.kind == IniLineKind::key && line.hasValue && !excluded) {
            out.push_back({folded(line.section, dialect.caseInsensitiveSections),
                           folded(line.key, dialect.caseInsensitiveKeys), valueOf(line, dialect)});
        }
    }
    return out;
}

}  // namespace

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
        LineId prev = noLine;
        LineId next = noLine;
        LineId nextOfKey = noLine;  // the key's next line, in text order
        LineId prevOfKey = noLine;
        IniLineKind kind = IniLineKind::other;
        bool newline = false;
        bool newlineFollows = false;  // the content's own '\n' follows it in memory
        bool original = false;        // the content is its range of the original text
        bool rewritten = false;       // an original line whose content was replaced
        bool removed = false;
        bool blank = false;  // a comment line of blanks, tabs and CRs only
    };
    struct Key {
        LineId first = noLine;  // every key line of the key, chained
        LineId last = noLine;
    };
    struct Section {
        std::vector<LineId> headers;  // in text order
        // Its keys, filled at the first lookup in the section by reading its
        // lines (for "" those above the first header too), then kept up to
        // date; a key whose lines are all deleted stays, with none.
        NameMap<Key> keys;
        bool indexed = false;
        std::size_t keyLines = 0;  // once indexed
        // The last key line after the first header and before the next one.
        LineId lastKey = noLine;
        // Each key's last commented-out line in the section (see
        // IniEditor::uncomment), read when a new key first asks; keyed by
        // views into the lines, and null while there is none.
        bool commentedOutRead = false;
        std::unique_ptr<NameMap<LineId>> commentedOut;
    };

    Index(std::string text, IniDialect rules);

    // The original text is read into the list as far as lookups need it:
    // a key found early is set without reading the rest. Reads one more
    // line (its id, or noLine at the end), or all that is left.
    LineId readLine();
    void readAll();

    IniLine scan(LineId id) const {
        scanned += lines[id].content.size();
        return scanLine(lines[id].content, dialect);
    }
    std::string valueAt(LineId id) const { return valueOf(scan(id), dialect); }
    // The section called `name`, created without lines when new.
    Section& sectionOf(std::string_view name) {
        return sections
            .try_emplace(
                name,
                Section{{}, name_map<Key>(dialect.caseInsensitiveKeys), false, 0, noLine, false, nullptr})
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
    void addKeyLine(Section& owner, std::string_view key, LineId id);
    // Takes a removed line out of its key's chain; walking on from it still
    // works.
    void dropKeyLine(Section& owner, Key& entry, LineId id);
    // The line read() reads for the key: the first or the last that defines
    // it, in the section or else in the default section.
    std::optional<std::pair<LineId, IniLine>> readingLine(std::string_view section, std::string_view key);
    // The name of the section a line is in.
    std::string_view sectionOfLine(LineId id) const;
    // A key line that ends the text still open for a continuation line (its
    // last line ends in '\\') would take in whatever follows: an empty line
    // closes it. Returns the line to insert after.
    LineId closeContinuation(LineId after, std::string_view eol);
    // The line that gives the key its entry: the first that defines it.
    std::optional<std::pair<LineId, IniLine>> definingLine(std::string_view section, std::string_view key);
    bool sectionExists(std::string_view section);

    LineId newLine(std::string content, bool newline);
    void setContent(LineId id, std::string content);
    void insertAfter(LineId id, LineId after);
    void unlink(LineId id);
    // Unlinks a line of `section`, moving the section's or the top's last
    // key line back when it was this one.
    void remove(LineId id, Section* section);
    // Gives the last line (which has none) a line ending.
    void terminate(LineId id, std::string_view eol);
    // Reads the first line when nothing was read yet.
    std::string_view lineEnding();
    LineId firstKeyLine() const;
    LineId lastKeyLine() const;

    // Calls `each` with every line under the section's headers (up to the
    // next header) in text order, and for "" with those above the first.
    template <typename Each>
    void forEachRegionLine(std::string_view section, Each each);
    // A comment line without its comment character and the blanks right
    // after it (its indentation kept), and the bytes removed; 0 removed for
    // any other line.
    std::pair<std::string, std::size_t> uncommented(LineId id) const;
    // The last commented-out line of `key` in the section (holding `value`
    // when given) that gives the key a value, or noLine. Reads the whole
    // text.
    LineId commentedOut(std::string_view section, std::string_view key,
                        std::optional<std::string_view> value);
    // The line read() reads for the key, when it is in the section itself.
    std::optional<std::pair<LineId, IniLine>> ownLine(std::string_view section, std::string_view key);
    // The comment lines directly above a line, in text order.
    std::vector<LineId> commentAbove(LineId id) const;
    // Those lines as an IniComment, without an inline comment.
    IniComment commentBlock(LineId id) const;
    // The key line before a line, up to the header above it; or noLine.
    LineId keyLineBefore(LineId id) const;
    // Whether a key line is the last key line under `header` before the
    // next header (with noLine: above the first header).
    bool endsFirstRegion(LineId id, LineId header) const;
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
    LineId head = noLine;
    LineId tail = noLine;
    NameMap<Section> sections;   // filled in as lookups need them
    LineId topLastKey = noLine;  // the last key line above the first header
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
        LineId id;
    };
    std::vector<Rewrite> rewrites;
    std::string assembled;
    bool assembledCurrent = false;
    mutable std::size_t scanned = 0;  // counted by scan(), which lookups call

private:
    bool blankThenHeader(LineId a, LineId b) const {
        return a != noLine && b != noLine && lines[a].blank && lines[b].kind == IniLineKind::header;
    }
};

IniEditor::Index::Index(std::string text, IniDialect rules)
    : original(std::move(text)),
      dialect(std::move(rules)),
      reader(original, dialect),
      sections(name_map<Section>(dialect.caseInsensitiveSections)) {
    byteOrderMark =
        std::string_view(original).substr(0, dialect.skipsByteOrderMark ? byteOrderMarkLength(original) : 0);
    // Room for lines of 32 bytes on average, which most texts do not reach.
    lines.reserve(original.size() / 32 + 16);
}

LineId IniEditor::Index::readLine() {
    IniLine line;
    if (!reader.next(line)) {
        return noLine;
    }
    Line added;
    added.content = std::string_view(original).substr(line.begin, line.end - line.begin);
    added.newline = added.newlineFollows = line.next > line.end;
    added.original = true;
    added.kind = line.kind;
    added.blank = line.kind == IniLineKind::comment && trimmed_size(added.content) == 0;
    added.prev = tail;
    scanned += added.content.size() + (added.newline ? 1 : 0);
    const LineId id = lines.size();
    lines.push_back(added);
    blankBeforeHeader += blankThenHeader(tail, id) ? 1 : 0;
    (tail == noLine ? head : lines[tail].next) = id;
    tail = id;
    readSectionName = line.section;
    if (line.kind == IniLineKind::header) {
        readSection = &sectionOf(line.section);
        readFirstRegion = readSection->headers.empty();
        readSection->headers.push_back(id);
    } else if (line.kind == IniLineKind::key) {
        if (readSection == nullptr) {
            topLastKey = id;
        } else if (readFirstRegion) {
            readSection->lastKey = id;
        }
        // A section already indexed gets its new lines as they are read.
        Section* owner = readSection != nullptr ? readSection : findSection(std::string_view{});
        if (owner != nullptr && owner->indexed) {
            addKeyLine(*owner, line.key, id);
        }
    }
    return id;
}

void IniEditor::Index::readAll() {
    while (readLine() != noLine) {
    }
}

IniEditor::Index::Section* IniEditor::Index::indexedSection(std::string_view name) {
    // Key lines above the first header make "" without any header.
    Section* found = name.empty() ? &sectionOf(std::string_view{}) : findSection(name);
    if (found == nullptr) {
        return nullptr;
    }
    Section& section = *found;
    if (!section.indexed) {
        section.indexed = true;
        const auto region = [&](LineId from) {
            for (LineId at = from; at != noLine && lines[at].kind != IniLineKind::header;
                 at = lines[at].next) {
                if (lines[at].kind == IniLineKind::key) {
                    addKeyLine(section, scan(at).key, at);
                }
            }
        };
        if (name.empty()) {
            region(head);
        }
        for (const LineId header : section.headers) {
            region(lines[header].next);
        }
    }
    return &section;
}

IniEditor::Index::Key* IniEditor::Index::findKey(std::string_view section, std::string_view key) {
    Section* owner = indexedSection(section);
    if (owner == nullptr) {
        return nullptr;
    }
    const auto found = owner->keys.find(key);
    return found == owner->keys.end() ? nullptr : &found->second;
}

void IniEditor::Index::addKeyLine(Section& owner, std::string_view key, LineId id) {
    Key& entry = owner.keys[key];
    (entry.first == noLine ? entry.first : lines[entry.last].nextOfKey) = id;
    lines[id].prevOfKey = entry.last;
    entry.last = id;
    lines[id].nextOfKey = noLine;
    ++owner.keyLines;
}

void IniEditor::Index::dropKeyLine(Section& owner, Key& entry, LineId id) {
    const LineId before = lines[id].prevOfKey;
    const LineId after = lines[id].nextOfKey;
    (before == noLine ? entry.first : lines[before].nextOfKey) = after;
    (after == noLine ? entry.last : lines[after].prevOfKey) = before;
    --owner.keyLines;
}

LineId IniEditor::Index::closeContinuation(LineId after, std::string_view eol) {
    if (after == noLine || lines[after].kind != IniLineKind::key ||
        !awaitsContinuation(lines[after].content, dialect)) {
        return after;
    }
    if (!lines[after].newline) {
        terminate(after, eol);
    }
    const LineId blank = newLine(eol.size() == 2 ? "\r" : "", true);
    insertAfter(blank, after);
    return blank;
}

std::string_view IniEditor::Index::sectionOfLine(LineId id) const {
    for (LineId at = lines[id].prev; at != noLine; at = lines[at].prev) {
        if (lines[at].kind == IniLineKind::header) {
            return scan(at).section;
        }
    }
    return {};
}

std::optional<std::pair<LineId, IniLine>> IniEditor::Index::definingLine(std::string_view section,
                                                                         std::string_view key) {
    if (const Key* entry = findKey(section, key)) {
        for (LineId id = entry->first; id != noLine; id = lines[id].nextOfKey) {
            const IniLine line = scan(id);
            if (defines(line)) {
                return std::make_pair(id, line);
            }
        }
    }
    // Not among the lines read so far: read on until the first that defines
    // it, which is then the first in the text.
    for (LineId id = readLine(); id != noLine; id = readLine()) {
        if (lines[id].kind == IniLineKind::key && dialect.sameSection(readSectionName, section)) {
            const IniLine line = scan(id);
            if (dialect.sameKey(line.key, key) && defines(line)) {
                return std::make_pair(id, line);
            }
        }
    }
    return std::nullopt;
}

bool IniEditor::Index::sectionExists(std::string_view section) {
    // A header registers a section unless its name holds '['; a key line
    // that gives a key an entry creates its section. A header already read
    // answers without reading the rest.
    const auto registered = [&] {
        const Section* named = findSection(section);
        return named != nullptr && !named->headers.empty() &&
               (dialect.bracketInSectionNameRegisters || section.find('[') == std::string_view::npos);
    };
    if (registered()) {
        return true;
    }
    readAll();
    if (registered()) {
        return true;
    }
    const Section* owner = indexedSection(section);
    if (owner == nullptr) {
        return false;
    }
    for (const auto& entry : owner->keys) {
        for (LineId id = entry.second.first; id != noLine; id = lines[id].nextOfKey) {
            if (defines(scan(id))) {
                return true;
            }
        }
    }
    return false;
}

LineId IniEditor::Index::newLine(std::string content, bool newline) {
    added.push_back(std::move(content));
    Line line;
    line.content = added.back();
    line.newline = newline;
    scanned += line.content.size();
    line.kind = scanLine(line.content, dialect).kind;
    line.blank = line.kind == IniLineKind::comment && trimmed_size(line.content) == 0;
    lines.push_back(line);
    return lines.size() - 1;
}

void IniEditor::Index::setContent(LineId id, std::string content) {
    Line& line = lines[id];
    if (line.original) {
        rewrites.push_back(
            {static_cast<std::size_t>(line.content.data() - original.data()), line.content.size(), id});
        line.original = false;
        line.rewritten = true;
    } else if (!line.rewritten) {
        relinked = true;  // a line that is not in the original: assemble line by line
    }
    added.push_back(std::move(content));
    line.content = added.back();
    line.newlineFollows = false;
    assembledCurrent = false;
}

void IniEditor::Index::insertAfter(LineId id, LineId after) {
    const LineId before = after == noLine ? head : lines[after].next;
    blankBeforeHeader -= blankThenHeader(after, before) ? 1 : 0;
    blankBeforeHeader += (blankThenHeader(after, id) ? 1 : 0) + (blankThenHeader(id, before) ? 1 : 0);
    lines[id].prev = after;
    lines[id].next = before;
    (after == noLine ? head : lines[after].next) = id;
    (before == noLine ? tail : lines[before].prev) = id;
    relinked = true;
    assembledCurrent = false;
}

void IniEditor::Index::unlink(LineId id) {
    Line& line = lines[id];
    const LineId before = line.prev;
    const LineId after = line.next;
    blankBeforeHeader -= (blankThenHeader(before, id) ? 1 : 0) + (blankThenHeader(id, after) ? 1 : 0);
    blankBeforeHeader += blankThenHeader(before, after) ? 1 : 0;
    (before == noLine ? head : lines[before].next) = after;
    (after == noLine ? tail : lines[after].prev) = before;
    line.prev = line.next = noLine;
    line.removed = true;
    relinked = true;
    assembledCurrent = false;
}

void IniEditor::Index::remove(LineId id, Section* section) {
    // The previous key line, up to the header that starts the region (or
    // the start of the text for the top).
    const auto previousKey = [&](LineId from) {
        for (LineId at = lines[from].prev; at != noLine; at = lines[at].prev) {
            if (lines[at].kind == IniLineKind::key) {
                return at;
            }
            if (lines[at].kind == IniLineKind::header) {
                return noLine;
            }
        }
        return noLine;
    };
    if (section != nullptr && section->lastKey == id) {
        section->lastKey = previousKey(id);
    }
    if (topLastKey == id) {
        topLastKey = previousKey(id);
    }
    unlink(id);
}

void IniEditor::Index::terminate(LineId id, std::string_view eol) {
    // Under a dialect that keeps blanks at a value's end, a CR would join
    // the value: the line gets a bare '\n'.
    const std::string_view content = lines[id].content;
    if (eol.size() == 2 && dialect.trimValueEnd && (content.empty() || content.back() != '\r')) {
        setContent(id, std::string(content) + '\r');
    }
    lines[id].newline = true;
    lines[id].newlineFollows = false;
    relinked = true;
    assembledCurrent = false;
}

// The line ending the text uses: that of its first line.
std::string_view IniEditor::Index::lineEnding() {
    if (head == noLine) {
        readLine();
    }
    if (head == noLine || !lines[head].newline) {
        return "\n";
    }
    const std::string_view content = lines[head].content;
    return !content.empty() && content.back() == '\r' ? "\r\n" : "\n";
}

LineId IniEditor::Index::firstKeyLine() const {
    LineId at = head;
    while (at != noLine && lines[at].kind != IniLineKind::key) {
        at = lines[at].next;
    }
    return at;
}

LineId IniEditor::Index::lastKeyLine() const {
    LineId at = tail;
    while (at != noLine && lines[at].kind != IniLineKind::key) {
        at = lines[at].prev;
    }
    return at;
}

template <typename Each>
void IniEditor::Index::forEachRegionLine(std::string_view section, Each each) {
    readAll();
    const auto region = [&](LineId from) {
        for (LineId at = from; at != noLine && lines[at].kind != IniLineKind::header; at = lines[at].next) {
            each(at);
        }
    };
    if (section.empty()) {
        region(head);
    }
    if (const Section* owner = findSection(section)) {
        for (const LineId header : owner->headers) {
            region(lines[header].next);
        }
    }
}

std::pair<std::string, std::size_t> IniEditor::Index::uncommented(LineId id) const {
    const std::string_view content = lines[id].content;
    std::size_t at = 0;
    while (at < content.size() && (content[at] == ' ' || content[at] == '\t')) {
        ++at;
    }
    if (lines[id].kind != IniLineKind::comment || at == content.size() || !dialect.isComment(content[at])) {
        return {std::string(content), 0};
    }
    std::size_t rest = at + 1;
    while (rest < content.size() && (content[rest] == ' ' || content[rest] == '\t')) {
        ++rest;
    }
    return {std::string(content.substr(0, at)).append(content.substr(rest)), rest - at};
}

LineId IniEditor::Index::commentedOut(std::string_view section, std::string_view key,
                                      std::optional<std::string_view> value) {
    // A comment line that reads, once uncommented, as a line of a key: that
    // key, where it starts in the line, and its value.
    struct Commented {
        std::string key;
        std::size_t keyAt;
        std::string value;
    };
    const auto commented = [&](LineId id) -> std::optional<Commented> {
        if (lines[id].kind != IniLineKind::comment || lines[id].blank ||
            (dialect.noDelimiter != IniDialect::NoDelimiter::noValue &&
             lines[id].content.find_first_of(dialect.delimiters) == std::string_view::npos)) {
            return std::nullopt;  // prose: no key line in it
        }
        const auto [text, removed] = uncommented(id);
        if (removed == 0) {
            return std::nullopt;
        }
        scanned += text.size();
        const IniLine line = scanLine(text, dialect);
        // Only a line that would give the key a value counts (not `k =`
        // under classic, which reads as absent).
        if (line.kind != IniLineKind::key || line.problem != nullptr || !line.hasValue) {
            return std::nullopt;
        }
        // The key follows the removed bytes.
        const auto at = static_cast<std::size_t>(line.key.data() - text.data()) + removed;
        return Commented{std::string(line.key), at, value ? valueOf(line, dialect) : std::string()};
    };
    if (value) {
        LineId found = noLine;
        forEachRegionLine(section, [&](LineId id) {
            const auto line = commented(id);
            if (line && dialect.sameKey(line->key, key) && line->value == *value) {
                found = id;
            }
        });
        return found;
    }
    readAll();
    Section* owner = section.empty() ? &sectionOf(std::string_view{}) : findSection(section);
    if (owner == nullptr) {
        return noLine;
    }
    for (int attempt = 0; attempt < 2; ++attempt) {
        if (!owner->commentedOutRead) {
            owner->commentedOutRead = true;
            forEachRegionLine(section, [&](LineId id) {
                if (const auto line = commented(id)) {
                    if (!owner->commentedOut) {
                        owner->commentedOut =
                            std::make_unique<NameMap<LineId>>(name_map<LineId>(dialect.caseInsensitiveKeys));
                    }
                    (*owner->commentedOut)[lines[id].content.substr(line->keyAt, line->key.size())] = id;
                }
            });
        }
        if (!owner->commentedOut) {
            return noLine;
        }
        const auto found = owner->commentedOut->find(key);
        if (found == owner->commentedOut->end()) {
            return noLine;
        }
        if (!lines[found->second].removed) {
            return found->second;
        }
        owner->commentedOut.reset();  // deleted since: look again
        owner->commentedOutRead = false;
    }
    return noLine;
}

std::optional<std::pair<LineId, IniLine>> IniEditor::Index::ownLine(std::string_view section,
                                                                    std::string_view key) {
    auto found = readingLine(section, key);
    if (found && !dialect.defaultSection.empty() &&
        !dialect.sameSection(sectionOfLine(found->first), section)) {
        found.reset();
    }
    return found;
}

LineId IniEditor::Index::keyLineBefore(LineId id) const {
    for (LineId at = lines[id].prev; at != noLine && lines[at].kind != IniLineKind::header;
         at = lines[at].prev) {
        if (lines[at].kind == IniLineKind::key) {
            return at;
        }
    }
    return noLine;
}

bool IniEditor::Index::endsFirstRegion(LineId id, LineId header) const {
    for (LineId at = lines[id].next; at != noLine && lines[at].kind != IniLineKind::header;
         at = lines[at].next) {
        if (lines[at].kind == IniLineKind::key) {
            return false;
        }
    }
    LineId at = lines[id].prev;
    while (at != noLine && lines[at].kind != IniLineKind::header) {
        at = lines[at].prev;
    }
    return at == header;
}

std::vector<LineId> IniEditor::Index::commentAbove(LineId id) const {
    std::vector<LineId> block;
    for (LineId at = lines[id].prev;
         at != noLine && lines[at].kind == IniLineKind::comment && !lines[at].blank; at = lines[at].prev) {
        block.push_back(at);
    }
    std::reverse(block.begin(), block.end());
    return block;
}

const std::string& IniEditor::Index::text() {
    if (!relinked && rewrites.empty()) {
        return original;
    }
    if (!assembledCurrent && !relinked) {
        std::sort(rewrites.begin(), rewrites.end(),
                  [](const Rewrite& a, const Rewrite& b) { return a.offset < b.offset; });
        std::string out;
        out.reserve(original.size() + rewrites.size() * 16);
        std::size_t copied = 0;
        for (const Rewrite& rewrite : rewrites) {
            out.append(original, copied, rewrite.offset - copied);
            out.append(lines[rewrite.id].content);
            copied = rewrite.offset + rewrite.size;
        }
        out.append(original, copied);
        assembled = std::move(out);
        assembledCurrent = true;
    }
    if (!assembledCurrent) {
        readAll();
        std::size_t size = byteOrderMark.size();
        for (LineId at = head; at != noLine; at = lines[at].next) {
            size += lines[at].content.size() + 1;
        }
        std::string out;
        out.reserve(size);
        out.append(byteOrderMark);
        // Lines that still follow each other in the original text are
        // copied as one run.
        const char* runStart = nullptr;
        const char* runEnd = nullptr;
        const auto flush = [&] {
            if (runStart != runEnd) {
                out.append(runStart, static_cast<std::size_t>(runEnd - runStart));
            }
            runStart = runEnd = nullptr;
        };
        for (LineId at = head; at != noLine; at = lines[at].next) {
            const Line& line = lines[at];
            if (line.content.data() != runEnd) {
                flush();
                runStart = line.content.data();
            }
            runEnd = line.content.data() + line.content.size();
            if (line.newlineFollows) {
                ++runEnd;
            } else if (line.newline) {
                flush();
                out += '\n';
            }
        }
        flush();
        assembled = std::move(out);
        assembledCurrent = true;
    }
    return assembled;
}

IniEditor::IniEditor(std::string text, char commentChar)
    : IniEditor(std::move(text), IniDialect::classic(commentChar)) {}

IniEditor::IniEditor(std::string text, IniDialect dialect)
    : index_(std::make_unique<Index>(std::move(text), std::move(dialect))) {
    const std::string comments = index_->dialect.commentChars;
    commentChar_ = comments.empty() ? '\0' : comments.front();
}

IniEditor::IniEditor(const IniEditor& other) : IniEditor(other.text(), other.dialect()) {}

IniEditor& IniEditor::operator=(const IniEditor& other) {
    if (this != &other) {
        IniEditor copy(other);
        *this = std::move(copy);
    }
    return *this;
}

IniEditor::IniEditor(IniEditor&& other) noexcept = default;
IniEditor& IniEditor::operator=(IniEditor&& other) noexcept = default;
IniEditor::~IniEditor() = default;

const std::string& IniEditor::text() const { return index_->text(); }

const IniDialect& IniEditor::dialect() const { return index_->dialect; }

std::size_t IniEditor::bytesScanned() const { return index_->scanned; }

std::optional<std::pair<LineId, IniLine>> IniEditor::Index::readingLine(std::string_view section,
                                                                        std::string_view key) {
    if (!dialect.lastValueWins) {
        auto found = definingLine(section, key);
        if (found || dialect.defaultSection.empty()) {
            return found;
        }
    } else {
        readAll();
        if (const Key* entry = findKey(section, key)) {
            std::optional<std::pair<LineId, IniLine>> last;
            for (LineId id = entry->last; id != noLine && !last; id = lines[id].prevOfKey) {
                if (const IniLine line = scan(id); defines(line)) {
                    last.emplace(id, line);
                }
            }
            if (last || dialect.defaultSection.empty()) {
                return last;
            }
        }
    }
    // Every section sees the keys of the default one.
    if (!dialect.defaultSection.empty() && !dialect.sameSection(section, dialect.defaultSection) &&
        sectionExists(section)) {
        return readingLine(dialect.defaultSection, key);
    }
    return std::nullopt;
}

std::string IniEditor::read(std::string_view section, std::string_view key,
                            std::string_view defaultValue) const {
    const auto found = index_->readingLine(section, key);
    if (!found) {
        return std::string(defaultValue);
    }
    return valueOf(found->second, index_->dialect);
}

float IniEditor::read(std::string_view section, std::string_view key, float defaultValue) const {
    const auto found = index_->readingLine(section, key);
    if (!found) {
        return defaultValue;
    }
    const std::string value = valueOf(found->second, index_->dialect);
    return static_cast<float>(detail::parseNumber(value.c_str()));
}

std::optional<std::string> IniEditor::lookup(std::string_view section, std::string_view key) const {
    const auto found = index_->readingLine(section, key);
    return found ? std::optional<std::string>(valueOf(found->second, index_->dialect)) : std::nullopt;
}

IniRead<std::int64_t> IniEditor::readInt(std::string_view section, std::string_view key) const {
    return readIntFrom(lookup(section, key));
}
IniRead<std::uint64_t> IniEditor::readUint(std::string_view section, std::string_view key) const {
    return readUintFrom(lookup(section, key));
}
IniRead<double> IniEditor::readDouble(std::string_view section, std::string_view key) const {
    return readDoubleFrom(lookup(section, key));
}
IniRead<bool> IniEditor::readBool(std::string_view section, std::string_view key) const {
    return readBoolFrom(lookup(section, key));
}

std::vector<std::string> IniEditor::values(std::string_view section, std::string_view key) const {
    Index& index = *index_;
    index.readAll();
    std::vector<std::string> found;
    if (const Index::Key* entry = index.findKey(section, key)) {
        for (LineId id = entry->first; id != noLine; id = index.lines[id].nextOfKey) {
            const IniLine line = index.scan(id);
            if (!line.hasValue) {
                continue;
            }
            std::string value = valueOf(line, index.dialect);
            if (value.empty() && index.dialect.emptyValueResetsList) {
                found.clear();
            } else {
                found.push_back(std::move(value));
            }
        }
    }
    if (found.empty() && !index.dialect.defaultSection.empty() &&
        !index.dialect.sameSection(section, index.dialect.defaultSection) && index.sectionExists(section)) {
        return values(index.dialect.defaultSection, key);
    }
    return found;
}

bool IniEditor::keyExists(std::string_view section, std::string_view key) const {
    return index_->readingLine(section, key).has_value();
}

bool IniEditor::sectionExists(std::string_view section) const { return index_->sectionExists(section); }

std::vector<IniProblem> IniEditor::problems() const {
    // Dialects without any rule that rejects a line need no reading.
    std::vector<IniProblem> found;
    if (!index_->dialect.rejectsLines()) {
        return found;
    }
    const std::string& all = text();
    index_->scanned += all.size();
    IniScanner scanner(all, index_->dialect);
    std::size_t number = 1;
    std::size_t counted = 0;
    for (IniLine line; scanner.next(line);) {
        if (line.problem != nullptr) {
            number += static_cast<std::size_t>(
                std::count(all.begin() + static_cast<std::ptrdiff_t>(counted),
                           all.begin() + static_cast<std::ptrdiff_t>(line.begin), '\n'));
            counted = line.begin;
            found.push_back({number, line.problem});
        }
    }
    return found;
}

std::vector<std::string> IniEditor::sectionNames() const {
    // As the loader lists them: a header whose name is new and registers;
    // "" is not new once a key line above the first header created it.
    const IniDialect& dialect = index_->dialect;
    std::vector<std::string> names;
    auto seen = name_map<bool>(dialect.caseInsensitiveSections);
    bool topCreated = false;
    const std::string& all = text();
    index_->scanned += all.size();
    IniScanner scanner(all, dialect);
    for (IniLine line; scanner.next(line);) {
        if (line.kind == IniLineKind::key && line.section.empty() && defines(line)) {
            topCreated = true;
        }
        if (line.kind == IniLineKind::header && line.registers && !(line.section.empty() && topCreated) &&
            seen.emplace(line.section, true).second) {
            names.emplace_back(line.section);
        }
    }
    return names;
}

namespace {

// The keys of one section with the values read() gives, gathered line by
// line: a key is listed when the line that created it stored a value.
class EntryList {
public:
    explicit EntryList(const IniDialect& dialect)
        : dialect_(&dialect), seen_(name_map<std::size_t>(dialect.caseInsensitiveKeys)) {}

    void add(const IniLine& line) {
        const auto [at, isNew] = seen_.emplace(line.key, line.hasValue ? entries_.size() : unlisted);
        if (isNew && line.hasValue) {
            entries_.emplace_back(line.key, valueOf(line, *dialect_));
        } else if (!isNew && dialect_->lastValueWins && line.hasValue && at->second != unlisted) {
            entries_[at->second].second = valueOf(line, *dialect_);
        }
    }
    std::vector<std::pair<std::string, std::string>>& entries() { return entries_; }

private:
    static constexpr std::size_t unlisted = static_cast<std::size_t>(-1);
    const IniDialect* dialect_;
    NameMap<std::size_t> seen_;
    std::vector<std::pair<std::string, std::string>> entries_;
};

}  // namespace

std::vector<std::pair<std::string, std::string>> IniEditor::entries(std::string_view section) const {
    const IniDialect& dialect = index_->dialect;
    EntryList list(dialect);
    const std::string& all = text();
    index_->scanned += all.size();
    IniScanner scanner(all, dialect);
    for (IniLine line; scanner.next(line);) {
        if (line.kind == IniLineKind::key && dialect.sameSection(line.section, section) && defines(line)) {
            list.add(line);
        }
    }
    return std::move(list.entries());
}

std::vector<std::pair<std::string, std::vector<std::pair<std::string, std::string>>>> IniEditor::allEntries()
    const {
    const IniDialect& dialect = index_->dialect;
    const std::vector<std::string> names = sectionNames();
    // One list per section, found by its name as the dialect compares names.
    auto listOf = name_map<std::size_t>(dialect.caseInsensitiveSections);
    std::vector<EntryList> lists;
    const std::string& all = text();
    index_->scanned += all.size();
    IniScanner scanner(all, dialect);
    for (IniLine line; scanner.next(line);) {
        if (line.kind == IniLineKind::key && defines(line)) {
            const auto [at, isNew] = listOf.emplace(line.section, lists.size());
            if (isNew) {
                lists.emplace_back(dialect);
            }
            lists[at->second].add(line);
        }
    }
    std::vector<std::pair<std::string, std::vector<std::pair<std::string, std::string>>>> out;
    const auto take = [&](const std::string& name) {
        const auto found = listOf.find(name);
        out.emplace_back(name, found == listOf.end() ? std::vector<std::pair<std::string, std::string>>{}
                                                     : std::move(lists[found->second].entries()));
    };
    const auto top = listOf.find(std::string_view{});
    const bool topListed = top != listOf.end() && !lists[top->second].entries().empty();
    if (topListed) {
        take({});
    }
    for (const std::string& name : names) {
        if (!name.empty() || !topListed) {
            take(name);
        }
    }
    return out;
}

std::vector<std::string> IniEditor::keyNames(std::string_view section) const {
    std::vector<std::string> names;
    for (auto& entry : entries(section)) {
        names.push_back(std::move(entry.first));
    }
    return names;
}

IniEditResult IniEditor::write(std::string_view section, std::string_view key, std::string_view value) {
    return place(section, key, value, Placement::readLine);
}

IniEditResult IniEditor::add(std::string_view section, std::string_view key, std::string_view value) {
    return place(section, key, value, Placement::newLine);
}

IniEditResult IniEditor::writeAll(std::string_view section, std::string_view key, std::string_view value) {
    std::string reason;
    if (!checked_value(key, value, index_->dialect, reason)) {
        return refused(reason);
    }
    // The line read() gives takes the value; every other line of the key goes.
    IniEditResult result = place(section, key, value, Placement::readLine);
    Index& index = *index_;
    index.readAll();
    const auto kept = index.readingLine(section, key);
    Index::Key* entry = index.findKey(section, key);
    Index::Section* owner = index.findSection(section);
    if (!kept || entry == nullptr || owner == nullptr) {
        return result;
    }
    bool removed = false;
    const std::string_view eol = index.lineEnding();
    for (LineId id = entry->first; id != noLine; id = index.lines[id].nextOfKey) {
        if (id != kept->first && !index.lines[id].removed) {
            index.remove(id, owner);
            index.dropKeyLine(*owner, *entry, id);
            removed = true;
        }
    }
    if (!removed) {
        return result;
    }
    return finishDeletion(eol);
}

IniEditResult IniEditor::delValue(std::string_view section, std::string_view key, std::string_view value) {
    Index& index = *index_;
    index.readAll();
    Index::Key* entry = index.findKey(section, key);
    Index::Section* owner = index.findSection(section);
    if (entry == nullptr || owner == nullptr) {
        return {IniEditStatus::absent, {}};
    }
    const std::string_view eol = index.lineEnding();
    bool removed = false;
    for (LineId id = entry->first; id != noLine; id = index.lines[id].nextOfKey) {
        const IniLine line = index.scan(id);
        if (defines(line) && line.hasValue && valueOf(line, index.dialect) == value) {
            index.remove(id, owner);
            index.dropKeyLine(*owner, *entry, id);
            removed = true;
        }
    }
    if (!removed) {
        return {IniEditStatus::absent, {}};
    }
    return finishDeletion(eol);
}

IniEditResult IniEditor::place(std::string_view section, std::string_view key, std::string_view value,
                               Placement placement) {
    std::string reason;
    const auto written = checked_value(key, value, index_->dialect, reason);
    if (!written) {
        return refused(reason);
    }
    Index& index = *index_;
    const IniDialect& dialect = index.dialect;

    // A line of the key: the one read() reads, or else the first, which
    // stores nothing (`k =`, or text the format cannot read) and takes the
    // value in its place up to the end of the line. Only an absent key needs
    // the whole text read, which looking for it has then done. A new value
    // of a key that has lines goes after its last line.
    if (placement == Placement::newLine) {
        index.readAll();
    }
    const std::string_view eol = index.lineEnding();
    // A new key line ends as the text's lines do, unless the dialect would
    // read the CR as part of the value.
    const auto ended = [&](const std::string& line) {
        return eol.size() == 2 && reads_back(line + "\r", key, value, dialect) ? line + "\r" : line;
    };
    auto found = placement == Placement::readLine ? index.readingLine(section, key) : std::nullopt;
    if (found && !dialect.defaultSection.empty() &&
        !dialect.sameSection(index.sectionOfLine(found->first), section)) {
        found.reset();  // read from the default section: this section gets its own line
    }
    const bool defining = found.has_value();
    Index::Key* entry = defining ? nullptr : index.findKey(section, key);
    if (placement == Placement::newLine && entry != nullptr && entry->first != noLine) {
        if (!dialect.keysRepeat) {
            return refused("its owner keeps one value per key: a second line would replace the first");
        }
        Index::Section* owner = index.findSection(section);
        const LineId after = entry->last;
        const bool last = !index.lines[after].newline;
        if (last) {
            index.terminate(after, eol);
        }
        const std::string_view model = index.lines[after].content;
        std::string line = key_line(model, key, first_line(*written), dialect);
        line += further_lines(*written, line, dialect, eol);
        const LineId id = index.newLine(last ? line : ended(line), !last);
        index.insertAfter(id, index.closeContinuation(after, eol));
        index.addKeyLine(*owner, index.scan(id).key, id);
        if (owner->lastKey == after) {
            owner->lastKey = id;
        }
        if (index.topLastKey == after) {
            index.topLastKey = id;
        }
        return {IniEditStatus::changed, {}};
    }
    if (defining || (placement == Placement::readLine && entry != nullptr && entry->first != noLine)) {
        if (!defining) {
            found.emplace(entry->first, index.scan(entry->first));
        }
        const LineId id = found->first;
        const IniLine& line = found->second;
        // A key without a value already holds the empty value.
        if (line.hasValue && (line.noValue ? value.empty() : valueOf(line, dialect) == value)) {
            return {IniEditStatus::unchanged, {}};
        }
        const std::string_view content = index.lines[id].content;
        // Blanks other than blank and tab before the value (the CR of a
        // line left empty after its delimiter, under owners whose value
        // goes on below) stay out of the rewritten line.
        std::size_t at = line.valueBegin;
        const std::size_t valueEnd = line.valueEnd;
        while (at > 0 && content[at - 1] != ' ' && content[at - 1] != '\t' &&
               (content[at - 1] == '\r' || dialect.extraBlanks.find(content[at - 1]) != std::string::npos)) {
            --at;
        }
        const std::size_t end = defining ? valueEnd : std::max(at, trimmed_size(content));
        // A key without a delimiter gets one; a line without any value gets
        // a blank before it when its '=' has one.
        const bool below = at < content.size() && (content[at] == '\n' || content[at] == '\r');
        const bool blank = !line.noValue && (at == end || below) && at >= 2 &&
                           dialect.delimiters.find(content[at - 1]) != std::string::npos &&
                           (content[at - 2] == ' ' || content[at - 2] == '\t');
        const auto replacedWith = [&](std::string_view text, std::string_view after) {
            std::string replaced(content.substr(0, at));
            if (line.noValue) {
                replaced += dialect.delimiters.empty() ? '=' : dialect.delimiters.front();
            }
            replaced += blank ? " " : "";
            replaced.append(text).append(after).append(content.substr(end));
            return replaced;
        };
        // The further lines of a value take the indentation of the key's.
        const auto shaped = [&](const std::string& text) {
            return text.find('\n') == std::string::npos ||
                           dialect.continuation != IniDialect::Continuation::indented
                       ? text
                       : spread(text, continuation_indent(content, dialect), eol);
        };
        std::string replaced = replacedWith(shaped(*written), {});
        if (dialect.quotes != IniDialect::Quotes::classic &&
            !reads_back(replaced, line.key, value, dialect)) {
            // What follows the value (an inline comment) may read otherwise
            // next to it: a quote in the value may take the comment in. Try
            // the other ways to write the value, and a blank before the
            // comment.
            std::string ignored;
            bool fits = false;
            for (const std::string& candidate :
                 value_candidates(*written_value(value, dialect, ignored), dialect)) {
                for (const std::string_view after : {std::string_view{}, std::string_view(" ")}) {
                    if (!fits &&
                        reads_back(replacedWith(shaped(candidate), after), line.key, value, dialect)) {
                        replaced = replacedWith(shaped(candidate), after);
                        fits = true;
                    }
                }
            }
            if (!fits) {
                return refused("the value would not read back before what follows it on its line");
            }
        }
        index.setContent(id, std::move(replaced));
        return {IniEditStatus::changed, {}};
    }

    const std::string carriageReturn = eol.size() == 2 ? "\r" : "";
    Index::Section* target = index.indexedSection(section);
    // Keys of "" go above the first header when "" has key lines or no
    // header of its own; other keys go into the first occurrence of their
    // section, after its last key line.
    const bool top =
        section.empty() && (target == nullptr || target->keyLines > 0 || target->headers.empty());
    if (top && dialect.keysAboveFirstHeaderAreErrors) {
        return refused("this format has no keys outside a section");
    }
    if (top || (target != nullptr && !target->headers.empty())) {
        const LineId lastKey = top ? index.topLastKey : target->lastKey;
        // A commented-out line of the key: the new line goes right after
        // it, in its style.
        const LineId commented = index.commentedOut(section, key, std::nullopt);
        const LineId after = commented != noLine ? commented
                             : lastKey != noLine ? lastKey
                                                 : (top ? noLine : target->headers.front());
        const LineId model = lastKey != noLine ? lastKey : index.firstKeyLine();
        const std::string modelText = commented != noLine ? index.uncommented(commented).first
                                      : model == noLine   ? std::string()
                                                          : std::string(index.lines[model].content);
        const bool last = after != noLine && !index.lines[after].newline;
        if (last) {
            index.terminate(after, eol);  // a last line without a newline
        }
        std::string line = key_line(modelText, key, first_line(*written), dialect);
        const LineId previousKey = commented == noLine ? lastKey : index.keyLineBefore(commented);
        if (dialect.continuation == IniDialect::Continuation::indented && previousKey != noLine) {
            // Deeper than the key line before it, the new line would be
            // that key's continuation: it takes that line's indentation.
            const std::string_view previous = index.lines[previousKey].content;
            const std::size_t depth = indentation(previous.substr(0, previous.find('\n')), dialect);
            if (indentation(line, dialect) > depth) {
                line = std::string(previous.substr(0, depth)) + line.substr(indentation(line, dialect));
            }
        }
        if ((lastKey == noLine || commented != noLine) &&
            dialect.continuation == IniDialect::Continuation::indented) {
            // A deeper line that follows (right after a header, or after a
            // comment line) would become the new key's continuation: the key
            // takes its indentation.
            const LineId start = after == noLine ? index.head : index.lines[after].next;
            for (LineId at = start; at != noLine; at = index.lines[at].next) {
                if (index.lines[at].kind != IniLineKind::comment) {
                    const std::string_view next = index.lines[at].content;
                    const std::size_t depth = indentation(next.substr(0, next.find('\n')), dialect);
                    const std::size_t own = indentation(line, dialect);
                    if (depth > own) {
                        line = std::string(next.substr(0, depth)) + line.substr(own);
                    }
                    break;
                }
            }
        }
        line += further_lines(*written, line, dialect, eol);
        const LineId id = index.newLine(last ? line : ended(line), !last);
        index.insertAfter(id, index.closeContinuation(after, eol));
        // The section exists unless it is a new "", whose name views nothing.
        index.addKeyLine(*target, index.scan(id).key, id);
        if (commented == noLine || index.endsFirstRegion(id, top ? noLine : target->headers.front())) {
            (top ? index.topLastKey : target->lastKey) = id;
        }
        return {IniEditStatus::changed, {}};
    }

    if (reason = section_problem(section, dialect); !reason.empty()) {
        return refused(reason);
    }
    const LineId model = index.lastKeyLine();
    const std::string modelText(model == noLine ? std::string_view{} : index.lines[model].content);
    if (index.tail != noLine && !index.lines[index.tail].newline) {
        index.terminate(index.tail, eol);
    }
    index.closeContinuation(index.tail, eol);
    if (index.tail != noLine && index.blankBeforeHeader > 0 && !index.lines[index.tail].blank) {
        index.insertAfter(index.newLine(carriageReturn, true), index.tail);
    }
    const LineId header = index.newLine("[" + std::string(section) + "]" + carriageReturn, true);
    index.insertAfter(header, index.tail);
    std::string line = key_line(modelText, key, first_line(*written), dialect);
    line += further_lines(*written, line, dialect, eol);
    const LineId id = index.newLine(ended(line), true);
    index.insertAfter(id, index.tail);
    // A new name, or one whose section was deleted: either way its keys
    // need no reading.
    Index::Section* added = &index.sectionOf(index.scan(header).section);
    added->indexed = true;
    added->headers.push_back(header);
    index.addKeyLine(*added, index.scan(id).key, id);
    added->lastKey = id;
    return {IniEditStatus::changed, {}};
}

IniEditResult IniEditor::write(std::string_view section, std::string_view key, float value) {
    return write(section, key, detail::formatNumber(value));
}

IniEditResult IniEditor::writeInt(std::string_view section, std::string_view key, std::int64_t value) {
    return write(section, key, formatInt(value));
}
IniEditResult IniEditor::writeUint(std::string_view section, std::string_view key, std::uint64_t value) {
    return write(section, key, formatUint(value));
}
IniEditResult IniEditor::writeDouble(std::string_view section, std::string_view key, double value,
                                     int significantDigits) {
    return write(section, key, formatDouble(value, significantDigits));
}
IniEditResult IniEditor::writeBool(std::string_view section, std::string_view key, bool value) {
    return write(section, key, formatBool(value));
}

IniEditResult IniEditor::delKey(std::string_view section, std::string_view key, bool withComment) {
    Index& index = *index_;
    index.readAll();
    Index::Key* found = index.findKey(section, key);
    Index::Section* owner = index.findSection(section);
    if (owner == nullptr || found == nullptr) {
        return {IniEditStatus::absent, {}};
    }
    // `k =` alone is no key to delete; any other line of the key is, even
    // one the format cannot read.
    bool holdsSomething = false;
    for (LineId id = found->first; id != noLine && !holdsSomething; id = index.lines[id].nextOfKey) {
        const IniLine line = index.scan(id);
        holdsSomething = defines(line) || trimmed_size(index.lines[id].content) > line.valueBegin;
    }
    if (!holdsSomething) {
        return {IniEditStatus::absent, {}};
    }
    const std::string_view eol = index.lineEnding();
    Index::Key& entry = *found;
    for (LineId id = entry.first; id != noLine; id = index.lines[id].nextOfKey) {
        // Unlinking leaves a line's place in its key's chain, so the walk
        // goes on from a removed line; the comment lines above go first.
        for (LineId above = index.lines[id].prev;
             withComment && above != noLine && index.lines[above].kind == IniLineKind::comment &&
             !index.lines[above].blank;
             above = index.lines[id].prev) {
            index.unlink(above);
        }
        index.remove(id, owner);
        --owner->keyLines;
    }
    entry.first = entry.last = noLine;
    return finishDeletion(eol);
}

IniEditResult IniEditor::delSection(std::string_view section) {
    Index& index = *index_;
    index.readAll();
    if (!index.sectionExists(section)) {
        return {IniEditStatus::absent, {}};
    }
    const std::string_view eol = index.lineEnding();
    // Under indented continuation, a deeper line after the section (even a
    // header) would continue the key before it: checked after the edit.
    const bool check = index.dialect.continuation == IniDialect::Continuation::indented;
    const std::string before = check ? index.text() : std::string();
    const auto othersBefore =
        check ? other_values(before, index.dialect, section, std::nullopt) : OtherValues{};
    Index::Section& target = *index.indexedSection(section);
    for (const LineId header : target.headers) {
        // Up to the next header, less the comment and blank lines that lead
        // up to it (or to the end): those belong to what follows.
        std::vector<LineId> region{header};
        for (LineId at = index.lines[header].next;
             at != noLine && index.lines[at].kind != IniLineKind::header; at = index.lines[at].next) {
            region.push_back(at);
        }
        while (region.size() > 1 && index.lines[region.back()].kind == IniLineKind::comment) {
            region.pop_back();
        }
        for (const LineId id : region) {
            index.unlink(id);
        }
    }
    // Every key line of the section is gone with its regions, but for ""
    // those above the first header, which go too.
    for (auto& [name, entry] : target.keys) {
        for (LineId id = entry.first; id != noLine; id = index.lines[id].nextOfKey) {
            if (!index.lines[id].removed) {
                index.unlink(id);
            }
        }
        entry.first = entry.last = noLine;
    }
    if (section.empty()) {
        index.topLastKey = noLine;
    }
    target.headers.clear();
    target.keyLines = 0;
    target.lastKey = noLine;
    IniEditResult result = finishDeletion(eol);
    if (check && other_values(index_->text(), index_->dialect, section, std::nullopt) != othersBefore) {
        reindex(&before);
        return refused("deleting the section would join the lines after it to a value before it");
    }
    return result;
}

namespace {

// A comment's text: without indentation, the comment character, the blanks
// after it and a CR at its end.
std::string comment_text(std::string_view line, const IniDialect& dialect) {
    std::size_t at = 0;
    while (at < line.size() &&
           (is_trimmed(line[at]) || dialect.extraBlanks.find(line[at]) != std::string::npos)) {
        ++at;
    }
    at += at < line.size() ? 1 : 0;
    while (at < line.size() && (line[at] == ' ' || line[at] == '\t')) {
        ++at;
    }
    return std::string(line.substr(at, trimmed_size(line) > at ? trimmed_size(line) - at : 0));
}

}  // namespace

IniComment IniEditor::Index::commentBlock(LineId id) const {
    IniComment out;
    for (const LineId above : commentAbove(id)) {
        out.lines.push_back(comment_text(lines[above].content, dialect));
        out.raw.append(lines[above].content).append("\n");
    }
    return out;
}

void IniEditor::reindex(const std::string* restore) {
    std::string text = restore != nullptr ? *restore : index_->text();
    const std::size_t scanned = index_->scanned + text.size();
    index_ = std::make_unique<Index>(std::move(text), index_->dialect);
    index_->scanned = scanned;
}

std::optional<IniComment> IniEditor::comment(std::string_view section, std::string_view key) const {
    Index& index = *index_;
    const auto found = index.ownLine(section, key);
    if (!found) {
        return std::nullopt;
    }
    IniComment out = index.commentBlock(found->first);
    const IniLine& line = found->second;
    if (line.commentBegin < line.commentEnd) {
        const std::string_view content = index.lines[found->first].content;
        out.inlineRaw = content.substr(line.commentBegin, line.commentEnd - line.commentBegin);
        out.inlineText = comment_text(out.inlineRaw, index.dialect);
    }
    return out;
}

std::optional<IniComment> IniEditor::sectionComment(std::string_view section) const {
    Index& index = *index_;
    index.readAll();
    const Index::Section* owner = index.findSection(section);
    if (owner == nullptr || owner->headers.empty()) {
        return std::nullopt;
    }
    return index.commentBlock(owner->headers.front());
}

IniEditResult IniEditor::replaceComment(std::size_t target, std::string_view text) {
    Index& index = *index_;
    if (commentChar_ == '\0') {
        return refused("this format has no comments");
    }
    if (text.find('\r') != std::string_view::npos) {
        return refused("a comment cannot hold a CR");
    }
    const std::string_view eol = index.lineEnding();
    const std::string_view content = index.lines[target].content;
    const std::string indent(
        content.substr(0, indentation(content.substr(0, content.find('\n')), index.dialect)));
    std::vector<std::string> wanted;
    for (std::size_t at = 0; !text.empty() && at <= text.size();) {
        const std::size_t end = std::min(text.find('\n', at), text.size());
        const std::string_view piece = text.substr(at, end - at);
        wanted.push_back(indent + commentChar_ + (piece.empty() ? "" : " ") + std::string(piece) +
                         (eol.size() == 2 ? "\r" : ""));
        at = end + 1;
    }
    const std::vector<LineId> block = index.commentAbove(target);
    std::vector<std::string> texts;
    texts.reserve(block.size());
    for (const LineId id : block) {
        texts.push_back(comment_text(index.lines[id].content, index.dialect));
    }
    std::vector<std::string> wantedTexts;
    wantedTexts.reserve(wanted.size());
    for (const std::string& line : wanted) {
        wantedTexts.push_back(comment_text(line, index.dialect));
    }
    if (texts == wantedTexts) {
        return {IniEditStatus::unchanged, {}};
    }
    for (const LineId id : block) {
        index.unlink(id);
    }
    LineId after = index.lines[target].prev;
    for (std::string& line : wanted) {
        const LineId id = index.newLine(std::move(line), true);
        index.insertAfter(id, after);
        after = id;
    }
    reindex();
    return {IniEditStatus::changed, {}};
}

IniEditResult IniEditor::setComment(std::string_view section, std::string_view key, std::string_view text) {
    const auto found = index_->ownLine(section, key);
    if (!found) {
        return {IniEditStatus::absent, {}};
    }
    return replaceComment(found->first, text);
}

IniEditResult IniEditor::setSectionComment(std::string_view section, std::string_view text) {
    Index& index = *index_;
    index.readAll();
    const Index::Section* owner = index.findSection(section);
    if (owner == nullptr || owner->headers.empty()) {
        return {IniEditStatus::absent, {}};
    }
    return replaceComment(owner->headers.front(), text);
}

IniEditResult IniEditor::setInlineComment(std::string_view section, std::string_view key,
                                          std::string_view text) {
    Index& index = *index_;
    const IniDialect& dialect = index.dialect;
    if (dialect.inlineComments == IniDialect::InlineComments::none || dialect.inlineCommentChars.empty()) {
        return refused("this format has no inline comments");
    }
    if (text.find_first_of("\r\n") != std::string_view::npos) {
        return refused("an inline comment is one line");
    }
    const auto found = index.ownLine(section, key);
    if (!found) {
        return {IniEditStatus::absent, {}};
    }
    const auto& [id, line] = *found;
    const std::string_view content = index.lines[id].content;
    if (content.find('\n') != std::string_view::npos) {
        return refused("the value is on several lines");
    }
    const bool hasComment = line.commentBegin < line.commentEnd;
    if (comment_text(content.substr(line.commentBegin, line.commentEnd - line.commentBegin), dialect) ==
            text &&
        hasComment == !text.empty()) {
        return {IniEditStatus::unchanged, {}};
    }
    // The comment replaces the old one where it stood, or follows the value
    // after a blank; removing it takes the blanks before it too.
    const std::size_t from = hasComment && !text.empty() ? line.commentBegin : line.valueEnd;
    std::string replaced(content.substr(0, from));
    if (!text.empty()) {
        replaced += hasComment ? "" : " ";
        replaced += dialect.inlineCommentChars.front();
        replaced += " ";
        replaced += text;
    }
    replaced.append(content.substr(hasComment ? line.commentEnd : line.valueEnd));
    const IniLine scanned = scanLine(replaced, dialect);
    if (scanned.kind != IniLineKind::key || scanned.key != line.key || scanned.problem != nullptr ||
        valueOf(scanned, dialect) != valueOf(line, dialect) ||
        comment_text(std::string_view(replaced).substr(scanned.commentBegin,
                                                       scanned.commentEnd - scanned.commentBegin),
                     dialect) != text) {
        return refused("the line would not read as before with this comment");
    }
    index.setContent(id, std::move(replaced));
    return {IniEditStatus::changed, {}};
}

IniEditResult IniEditor::commentOut(std::string_view section, std::string_view key) {
    Index& index = *index_;
    index.readAll();
    const Index::Key* entry = index.findKey(section, key);
    if (entry == nullptr || entry->first == noLine) {
        return {IniEditStatus::absent, {}};
    }
    if (commentChar_ == '\0') {
        return refused("this format has no comments");
    }
    const std::string before = index.text();
    const std::size_t problemsBefore = problems().size();
    const auto othersBefore = other_values(before, index.dialect, section, key);
    for (LineId id = entry->first; id != noLine; id = index.lines[id].nextOfKey) {
        // Each line of the key, continuation lines included, gets the
        // comment character in front.
        std::string commented(1, commentChar_);
        for (const char c : index.lines[id].content) {
            commented += c;
            commented += c == '\n' ? std::string(1, commentChar_) : std::string();
        }
        index.setContent(id, std::move(commented));
    }
    reindex();
    index_->readAll();
    const Index::Key* left = index_->findKey(section, key);
    if ((left != nullptr && left->first != noLine) || problems().size() > problemsBefore ||
        other_values(index_->text(), index_->dialect, section, key) != othersBefore) {
        reindex(&before);
        return refused("commenting out the key would not remove it, or would change how other lines read");
    }
    return {IniEditStatus::changed, {}};
}

IniEditResult IniEditor::uncomment(std::string_view section, std::string_view key,
                                   std::optional<std::string_view> value) {
    Index& index = *index_;
    const LineId id = index.commentedOut(section, key, value);
    if (id == noLine) {
        return {IniEditStatus::absent, {}};
    }
    const auto countLines = [&] {
        std::size_t count = 0;
        index_->readAll();
        if (const Index::Key* entry = index_->findKey(section, key)) {
            for (LineId at = entry->first; at != noLine; at = index_->lines[at].nextOfKey) {
                ++count;
            }
        }
        return count;
    };
    const std::size_t linesBefore = countLines();
    const std::size_t problemsBefore = problems().size();
    const std::string before = index.text();
    const auto othersBefore = other_values(before, index.dialect, section, key);
    index.setContent(id, index.uncommented(id).first);
    reindex();
    // The line must now be a line of the key in the section, not the
    // continuation of another, and one the owner accepts where it stands
    // (systemd rejects a key above the first header).
    if (countLines() != linesBefore + 1) {
        reindex(&before);
        return refused("the uncommented line would not read as a line of the key");
    }
    if (problems().size() > problemsBefore) {
        reindex(&before);
        return refused("the owner would reject the uncommented line");
    }
    if (other_values(index_->text(), index_->dialect, section, key) != othersBefore) {
        reindex(&before);
        return refused("the uncommented line would change how the lines after it read");
    }
    return {IniEditStatus::changed, {}};
}

IniEditResult IniEditor::finishDeletion(std::string_view eol) {
    // The byte order marks that start a text are skipped; a line that now
    // comes first and starts with one would be read without it.
    Index& index = *index_;
    if (index.head != noLine && byteOrderMarkLength(index.lines[index.head].content) > 0) {
        index.insertAfter(index.newLine(eol.size() == 2 ? "\r" : "", true), noLine);
    }
    return {IniEditStatus::changed, {}};
}

}  // namespace ini
