// IniEditor's lookups and value edits: every key read as the dialect reads
// it, and set, add, set --all and the deletions, with where new lines go.
// The text model is in IniEditorIndex, value writing in IniValueWriting,
// comment edits in IniEditorComments.
#include "IniEditor.h"

#include "IniEditorIndex.h"
#include "IniTextRules.h"
#include "IniValueWriting.h"

#include <algorithm>

namespace ini {

using detail::checkedValue;
using detail::defines;
using detail::firstLine;
using detail::furtherLines;
using detail::keyLine;
using detail::LineId;
using detail::nameMap;
using detail::NameMap;
using detail::noLine;
using detail::otherValues;
using detail::OtherValues;
using detail::readsBack;
using detail::refused;
using detail::sectionProblem;
using detail::trimmedSize;
using detail::valueCandidates;
using detail::writtenValue;

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
    std::vector<std::string> found;
    for (auto& value : valueLines(section, key)) {
        found.push_back(value ? std::move(*value) : std::string());
    }
    return found;
}

std::vector<std::optional<std::string>> IniEditor::valueLines(std::string_view section,
                                                              std::string_view key) const {
    Index& index = *index_;
    index.readAll();
    std::vector<std::optional<std::string>> found;
    if (const Index::Key* entry = index.findKey(section, key)) {
        for (LineId id = entry->first; id != noLine; id = index.lines[id].nextOfKey) {
            const IniLine line = index.scan(id);
            if (!line.hasValue) {
                continue;
            }
            std::string value = valueOf(line, index.dialect);
            if (value.empty() && index.dialect.emptyValueResetsList) {
                found.clear();
            } else if (line.noValue) {
                found.emplace_back();
            } else {
                found.emplace_back(std::move(value));
            }
        }
    }
    if (found.empty() && !index.dialect.defaultSection.empty() &&
        !index.dialect.sameSection(section, index.dialect.defaultSection) && index.sectionExists(section)) {
        return valueLines(index.dialect.defaultSection, key);
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
    auto seen = nameMap<bool>(dialect.caseInsensitiveSections);
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
        : dialect_(&dialect), seen_(nameMap<std::size_t>(dialect.caseInsensitiveKeys)) {}

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
    auto listOf = nameMap<std::size_t>(dialect.caseInsensitiveSections);
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
    if (!checkedValue(key, value, index_->dialect, reason)) {
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
    const auto written = checkedValue(key, value, index_->dialect, reason);
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
        return eol.size() == 2 && readsBack(line + "\r", key, value, dialect) ? line + "\r" : line;
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
        std::string line = keyLine(model, key, firstLine(*written), dialect);
        line += furtherLines(*written, line, dialect, eol);
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
        const std::size_t end = defining ? valueEnd : std::max(at, trimmedSize(content));
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
            const std::string further = furtherLines(text, content, dialect, eol);
            return further.empty() ? text : std::string(firstLine(text)) + further;
        };
        std::string replaced = replacedWith(shaped(*written), {});
        if (dialect.quotes != IniDialect::Quotes::classic && !readsBack(replaced, line.key, value, dialect)) {
            // What follows the value (an inline comment) may read otherwise
            // next to it: a quote in the value may take the comment in. Try
            // the other ways to write the value, and a blank before the
            // comment.
            std::string ignored;
            bool fits = false;
            for (const std::string& candidate :
                 valueCandidates(*writtenValue(value, dialect, ignored), dialect)) {
                for (const std::string_view after : {std::string_view{}, std::string_view(" ")}) {
                    if (!fits &&
                        readsBack(replacedWith(shaped(candidate), after), line.key, value, dialect)) {
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
        std::string line = keyLine(modelText, key, firstLine(*written), dialect);
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
        line += furtherLines(*written, line, dialect, eol);
        const LineId id = index.newLine(last ? line : ended(line), !last);
        index.insertAfter(id, index.closeContinuation(after, eol));
        // The section exists unless it is a new "", whose name views nothing.
        index.addKeyLine(*target, index.scan(id).key, id);
        if (commented == noLine || index.endsFirstRegion(id, top ? noLine : target->headers.front())) {
            (top ? index.topLastKey : target->lastKey) = id;
        }
        return {IniEditStatus::changed, {}};
    }

    if (reason = sectionProblem(section, dialect); !reason.empty()) {
        return refused(reason);
    }
    const LineId model = index.lastKeyLine();
    const std::string modelText(model == noLine ? std::string_view{} : index.lines[model].content);
    Index::Section& added = index.sectionOf(index.scan(appendSection(section)).section);
    std::string line = keyLine(modelText, key, firstLine(*written), dialect);
    line += furtherLines(*written, line, dialect, eol);
    const LineId id = index.newLine(ended(line), true);
    index.insertAfter(id, index.tail);
    index.addKeyLine(added, index.scan(id).key, id);
    added.lastKey = id;
    return {IniEditStatus::changed, {}};
}

std::size_t IniEditor::appendSection(std::string_view section) {
    Index& index = *index_;
    const std::string_view eol = index.lineEnding();
    if (index.tail != noLine && !index.lines[index.tail].newline) {
        index.terminate(index.tail, eol);
    }
    index.closeContinuation(index.tail, eol);
    // A blank line before the header when the text separates its sections so.
    const std::string carriageReturn = eol.size() == 2 ? "\r" : "";
    if (index.tail != noLine && index.blankBeforeHeader > 0 && !index.lines[index.tail].blank) {
        index.insertAfter(index.newLine(carriageReturn, true), index.tail);
    }
    const LineId header = index.newLine("[" + std::string(section) + "]" + carriageReturn, true);
    index.insertAfter(header, index.tail);
    // A new name, or one whose section was deleted: either way its keys
    // need no reading.
    Index::Section& added = index.sectionOf(index.scan(header).section);
    added.indexed = true;
    added.headers.push_back(header);
    return header;
}

IniEditResult IniEditor::addSection(std::string_view section) {
    if (index_->sectionExists(section) || section.empty()) {
        return {IniEditStatus::unchanged, {}};
    }
    index_->readAll();
    if (const std::string reason = sectionProblem(section, index_->dialect); !reason.empty()) {
        return refused(reason);
    }
    appendSection(section);
    return {IniEditStatus::changed, {}};
}

bool IniEditor::hasNoValue(std::string_view section, std::string_view key) const {
    const auto found = index_->readingLine(section, key);
    return found && found->second.noValue;
}

IniEditResult IniEditor::writeNoValue(std::string_view section, std::string_view key) {
    Index& index = *index_;
    const IniDialect& dialect = index.dialect;
    if (dialect.noDelimiter != IniDialect::NoDelimiter::noValue) {
        return refused("its owner has no keys without a value");
    }
    // An absent key is placed as set places it, with a stand-in value that
    // the bare line then replaces.
    auto found = index.readingLine(section, key);
    if (found && found->second.noValue) {
        return {IniEditStatus::unchanged, {}};
    }
    std::optional<std::string> before;
    if (!found || !dialect.sameSection(index.sectionOfLine(found->first), section)) {
        before = text();
        if (IniEditResult placed = place(section, key, "1", Placement::readLine);
            placed.status == IniEditStatus::refused) {
            return placed;
        }
        found = index_->readingLine(section, key);
        if (!found) {
            reindex(&*before);
            return refused("the key would not read back as a key without a value");
        }
    }
    // The key as spelled and its indentation stay; the delimiter and the
    // value go, and an inline comment stays when the bare line still reads
    // as the key with it.
    const std::string_view content = index.lines[found->first].content;
    const IniLine& line = found->second;
    const std::size_t keyEnd = static_cast<std::size_t>(line.key.data() - content.data()) + line.key.size();
    const std::size_t lineEnd = content.size() - (!content.empty() && content.back() == '\r' ? 1 : 0);
    std::string bare(content.substr(0, keyEnd));
    if (line.commentEnd > line.commentBegin) {
        std::string commented =
            bare + " " + std::string(content.substr(line.commentBegin, lineEnd - line.commentBegin));
        const IniLine scanned = scanLine(commented, dialect);
        if (scanned.kind == IniLineKind::key && scanned.noValue && scanned.key == line.key) {
            bare = std::move(commented);
        }
    }
    bare += content.substr(lineEnd);
    const IniLine scanned = scanLine(bare, dialect);
    if (scanned.kind != IniLineKind::key || !scanned.noValue || !dialect.sameKey(scanned.key, key) ||
        scanned.problem != nullptr) {
        if (before) {
            reindex(&*before);
        }
        return refused("the key would not read back as a key without a value");
    }
    index.setContent(found->first, std::move(bare));
    return {IniEditStatus::changed, {}};
}

IniEditResult IniEditor::writeValues(std::string_view section, std::string_view key,
                                     const std::vector<std::string>& values) {
    std::string reason;
    for (const std::string& value : values) {
        if (!checkedValue(key, value, index_->dialect, reason)) {
            return refused(reason);
        }
        if (value.empty() && index_->dialect.emptyValueResetsList) {
            return refused("an empty value would drop the values before it from the list");
        }
    }
    if (values.empty()) {
        const IniEditResult result = delKey(section, key);
        return result.status == IniEditStatus::absent ? IniEditResult{} : result;
    }
    if (values.size() > 1 && !index_->dialect.keysRepeat) {
        return refused("its owner keeps one value per key");
    }
    // Holding the same values in another order counts as done, as
    // configuration management compares lists.
    const std::vector<std::string> current = this->values(section, key);
    std::vector<std::string> have = current;
    std::vector<std::string> want = values;
    std::sort(have.begin(), have.end());
    std::sort(want.begin(), want.end());
    if (have == want && keyExists(section, key) && !hasNoValue(section, key)) {
        return {IniEditStatus::unchanged, {}};
    }
    // Values already there in order keep their lines; the rest follow.
    // Should the owner refuse one of them, the text is put back whole.
    const std::string before = text();
    std::size_t kept = current.size();
    if (current.empty() || current.size() >= values.size() ||
        !std::equal(current.begin(), current.end(), values.begin())) {
        IniEditResult first = writeAll(section, key, values.front());
        if (first.status == IniEditStatus::refused) {
            return first;
        }
        kept = 1;
    }
    for (std::size_t i = kept; i < values.size(); ++i) {
        IniEditResult added = add(section, key, values[i]);
        if (added.status == IniEditStatus::refused) {
            reindex(&before);
            return added;
        }
    }
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
        holdsSomething = defines(line) || trimmedSize(index.lines[id].content) > line.valueBegin;
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
        check ? otherValues(before, index.dialect, section, std::nullopt) : OtherValues{};
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
    // The comment lines kept from the section's regions now belong to the
    // section before them: every section's commented-out keys are read anew.
    for (auto& [name, entry] : index.sections) {
        entry.commentedOut.reset();
        entry.commentedOutRead = false;
    }
    IniEditResult result = finishDeletion(eol);
    if (check && otherValues(index_->text(), index_->dialect, section, std::nullopt) != othersBefore) {
        reindex(&before);
        return refused("deleting the section would join the lines after it to a value before it");
    }
    return result;
}

void IniEditor::reindex(const std::string* restore) {
    std::string text = restore != nullptr ? *restore : index_->text();
    const std::size_t scanned = index_->scanned + text.size();
    index_ = std::make_unique<Index>(std::move(text), index_->dialect);
    index_->scanned = scanned;
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
