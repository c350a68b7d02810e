// The text model behind IniEditor (IniEditorIndex.h): reading the text into
// lines as lookups need them, indexing sections and keys, keeping both up to
// date as lines change, and assembling the edited text.
#include "IniEditorIndex.h"

#include <algorithm>

namespace ini {

using detail::defines;
using detail::LineId;
using detail::nameMap;
using detail::NameMap;
using detail::noLine;
using detail::trimmedSize;

namespace detail {

// Every header and every line that gives a key a value, as (section, key,
// value) with names folded as the dialect compares them, leaving out those of
// `key` in `section` (with no key, of the whole section): what must not
// change when only that key or section is edited.
OtherValues otherValues(std::string_view text, const IniDialect& dialect, std::string_view section,
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

}  // namespace detail

IniEditor::Index::Index(std::string text, IniDialect rules)
    : original(std::move(text)),
      dialect(std::move(rules)),
      reader(original, dialect),
      sections(nameMap<Section>(dialect.caseInsensitiveSections)) {
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
    added.blank = line.kind == IniLineKind::comment && trimmedSize(added.content) == 0;
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
    line.blank = line.kind == IniLineKind::comment && trimmedSize(line.content) == 0;
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
                            std::make_unique<NameMap<LineId>>(nameMap<LineId>(dialect.caseInsensitiveKeys));
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

}  // namespace ini
