#include "IniFileIndex.h"

#include "IniFileSave.h"
#include "IniScanner.h"
#include "IniTextRules.h"

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <istream>
#include <set>
#include <system_error>

namespace ini {
namespace {

// The state of one `load`: the current section and the comment block that
// waits for the next header or key line.
//
// Every line that does not register a new listed section or store a new key
// in a written section (a listed one, or the headerless one above the first
// header) joins the pending block byte for byte, as comment lines do, so a
// rendering keeps it where it stood. Lookups are the same as if such lines
// were not there.
class Loader {
public:
    Loader(IniFileIndex& doc, char commentChar) : doc_(doc), rules_(IniDialect::classic(commentChar)) {}

    void line(std::string_view raw);
    // The last line, which has no newline after it.
    void lastLine(std::string_view raw);
    const std::string& pending() const { return pending_; }

private:
    void header(std::string_view raw, std::string_view name);
    void keyLine(std::string_view raw, const IniLine& line);
    void keep(std::string_view raw) {
        pending_.append(raw);
        pending_.push_back('\n');
    }
    IniFileSection& currentSection();

    IniFileIndex& doc_;
    const IniDialect rules_;  // built once: a line is scanned with it
    std::string currentName_;
    // The section named currentName_, or null while it does not exist yet;
    // map nodes are stable, and load never removes one.
    IniFileSection* current_ = nullptr;
    // True after a header that registered nothing new (a repeated header):
    // new keys then join the first occurrence of the section without taking
    // the pending block, which starts with that header line and flows on to
    // the next new header, so the lines of the repeated section stay after
    // its header when the rendering is read back.
    bool reentered_ = false;
    // Whether toString writes the keys of the current section: a listed
    // section, or the headerless one above the first header (written first
    // while it is unlisted).
    bool currentWritten_ = true;
    bool firstLine_ = true;
    std::string pending_;
    // The names in sectionOrder, gathered at the first repeated header so
    // that each later one is a search rather than a walk of the order.
    std::set<std::string_view> listed_;
    bool listedKnown_ = false;
};

void Loader::line(std::string_view raw) {
    if (firstLine_) {
        firstLine_ = false;
        raw.remove_prefix(byteOrderMarkLength(raw));
    }
    const IniLine scanned = scanLine(raw, rules_);
    switch (scanned.kind) {
    case IniLineKind::header:
        header(raw, scanned.section);
        break;
    case IniLineKind::key:
        keyLine(raw, scanned);
        break;
    case IniLineKind::comment:
    case IniLineKind::other:
        keep(raw);
        break;
    }
}

void Loader::lastLine(std::string_view raw) {
    // A text of byte order marks alone is an empty text, not an empty line.
    if (firstLine_ && byteOrderMarkLength(raw) == raw.size()) {
        return;
    }
    line(raw);
}

void Loader::header(std::string_view raw, std::string_view name) {
    currentName_.assign(name);
    auto slot = doc_.sections.lower_bound(name);
    const bool exists = slot != doc_.sections.end() && slot->first == name;
    current_ = exists ? &slot->second : nullptr;
    // A name holding '[' becomes current but is never listed; a repeated
    // header switches back to the existing section.
    if (!exists && name.find('[') == std::string_view::npos) {
        slot = doc_.sections.emplace_hint(slot, currentName_, IniFileSection{});
        current_ = &slot->second;
        current_->comment = pending_;
        doc_.sectionOrder.push_back(currentName_);
        if (listedKnown_) {
            listed_.insert(slot->first);
        }
        pending_.clear();
        reentered_ = false;
        currentWritten_ = true;
        return;
    }
    reentered_ = exists;
    if (exists && !listedKnown_) {
        // The views stay valid: they name map keys, which load never removes.
        for (const auto& listed : doc_.sectionOrder) {
            listed_.insert(doc_.sections.find(listed)->first);
        }
        listedKnown_ = true;
    }
    currentWritten_ = name.empty() || (exists && listed_.count(name) != 0);
    keep(raw);
}

void Loader::keyLine(std::string_view raw, const IniLine& line) {
    bool stored = false;
    if (line.hasValue) {
        IniFileSection& section = currentSection();
        auto slot = section.values.lower_bound(line.key);
        if (slot == section.values.end() || slot->first != line.key) {  // the first value wins
            slot = section.values.emplace_hint(slot, std::string(line.key), IniValue{});
            slot->second.value.assign(line.value);
            stored = currentWritten_;
            if (stored && !reentered_) {
                // Copied rather than moved: the copy is sized to the block,
                // and the pending buffer keeps its capacity for the next one.
                slot->second.comment = pending_;
                pending_.clear();
            }
            section.keyOrder.push_back(slot->first);
        }
    }
    if (!stored) {
        keep(raw);
    }

    // Independent of the store above: a repeated key takes the later line's
    // inline comment, and `k = "" ; c` creates an entry that is not listed.
    if (line.setsInlineComment) {
        IniFileSection& section = currentSection();
        auto found = section.values.find(line.key);
        if (found == section.values.end()) {
            found = section.values.emplace(std::string(line.key), IniValue{}).first;
        }
        found->second.inlineComment.assign(
            raw.substr(line.commentBegin, line.commentEnd - line.commentBegin));
    }
}

// Sections created by key lines (keys before the first header, or under a
// name holding '[') are not listed in sectionOrder.
IniFileSection& Loader::currentSection() {
    if (current_ == nullptr) {
        current_ = &doc_.sections[currentName_];
    }
    return *current_;
}

void append_key_line(std::string& out, const std::string& key, const IniValue& entry, char commentChar) {
    out += entry.comment;
    out += key;
    out += " = ";
    detail::appendValue(out, entry.value, commentChar);
    if (!entry.inlineComment.empty()) {
        out += ' ';
        out += entry.inlineComment;
    }
    out += '\n';
}

}  // namespace

void IniFileIndex::load(std::istream& in, char newCommentChar) {
    commentChar = newCommentChar;
    Loader loader(*this, newCommentChar);

    // Lines are cut out of large blocks; only a line that straddles two
    // blocks is copied. The blocks come straight from the stream buffer, so
    // an exception mask on the stream (failbit is a common one) cannot throw
    // away the last, short block.
    constexpr std::size_t blockSize = 1 << 16;
    std::string block(blockSize, '\0');
    std::string partial;
    std::streambuf* const source = in.good() ? in.rdbuf() : nullptr;
    bool readError = false;
    // As istream::read does, a stream buffer that throws (a file that is a
    // directory) ends the input and is reported through badbit.
    const auto nextBlock = [&]() -> std::size_t {
        try {
            return static_cast<std::size_t>(
                source->sgetn(block.data(), static_cast<std::streamsize>(blockSize)));
        } catch (...) {
            readError = true;
            return 0;
        }
    };
    while (source != nullptr) {
        const auto got = nextBlock();
        if (got == 0) {
            break;
        }
        const char* pos = block.data();
        const char* const end = pos + got;
        while (pos != end) {
            const auto* newline =
                static_cast<const char*>(std::memchr(pos, '\n', static_cast<std::size_t>(end - pos)));
            if (newline == nullptr) {
                partial.append(pos, end);
                break;
            }
            if (partial.empty()) {
                loader.line(std::string_view(pos, static_cast<std::size_t>(newline - pos)));
            } else {
                partial.append(pos, newline);
                loader.line(partial);
                partial.clear();
            }
            pos = newline + 1;
        }
    }
    // A last line without a newline still counts; a final newline is not
    // followed by an empty line.
    if (!partial.empty()) {
        loader.lastLine(partial);
    }
    trailingComment = loader.pending();
    // At end of input, as after any read to the end; the failbit that such a
    // read also sets is left out, so a mask that holds it does not throw.
    // A read error sets badbit, which throws only when the mask asks for it.
    if (readError) {
        in.setstate(std::ios::badbit);
    } else if (source != nullptr && (in.exceptions() & std::ios::eofbit) == 0) {
        in.setstate(std::ios::eofbit);
    }
}

void IniFileIndex::clear() {
    sections.clear();
    sectionOrder.clear();
    trailingComment.clear();
}

const IniValue* IniFileIndex::find(std::string_view section, std::string_view key) const {
    const auto s = sections.find(section);
    if (s == sections.end()) {
        return nullptr;
    }
    const auto k = s->second.values.find(key);
    return k == s->second.values.end() ? nullptr : &k->second;
}

std::string IniFileIndex::read(std::string_view section, std::string_view key,
                               std::string_view defaultValue) const {
    const IniValue* entry = find(section, key);
    return std::string(entry != nullptr ? std::string_view(entry->value) : defaultValue);
}

float IniFileIndex::read(std::string_view section, std::string_view key, float defaultValue) const {
    const IniValue* entry = find(section, key);
    if (entry == nullptr) {
        return defaultValue;
    }
    return static_cast<float>(detail::parseNumber(entry->value.c_str()));
}

std::optional<std::string> IniFileIndex::lookup(std::string_view section, std::string_view key) const {
    const IniValue* entry = find(section, key);
    return entry != nullptr ? std::optional<std::string>(entry->value) : std::nullopt;
}

IniRead<std::int64_t> IniFileIndex::readInt(std::string_view section, std::string_view key) const {
    return readIntFrom(lookup(section, key));
}
IniRead<std::uint64_t> IniFileIndex::readUint(std::string_view section, std::string_view key) const {
    return readUintFrom(lookup(section, key));
}
IniRead<double> IniFileIndex::readDouble(std::string_view section, std::string_view key) const {
    return readDoubleFrom(lookup(section, key));
}
IniRead<bool> IniFileIndex::readBool(std::string_view section, std::string_view key) const {
    return readBoolFrom(lookup(section, key));
}

bool IniFileIndex::sectionExists(std::string_view section) const {
    return sections.find(section) != sections.end();
}

bool IniFileIndex::keyExists(std::string_view section, std::string_view key) const {
    return find(section, key) != nullptr;
}

void IniFileIndex::write(std::string_view section, std::string_view key, std::string_view newValue) {
    // The arguments may view strings of this document. Map nodes never move,
    // but the order vectors may reallocate, so they grow last.
    auto s = sections.find(section);
    const bool newSection = s == sections.end();
    if (newSection) {
        s = sections.emplace(std::string(section), IniFileSection{}).first;
    }
    IniFileSection& target = s->second;
    auto k = target.values.find(key);
    const bool newKey = k == target.values.end();
    if (newKey) {
        k = target.values.emplace(std::string(key), IniValue{}).first;
    }
    k->second.value.assign(newValue);
    if (newSection) {
        sectionOrder.push_back(s->first);
    }
    if (newKey) {
        target.keyOrder.push_back(k->first);
    }
}

void IniFileIndex::write(std::string_view section, std::string_view key, float newValue) {
    write(section, key, detail::formatNumber(newValue));
}

void IniFileIndex::writeInt(std::string_view section, std::string_view key, std::int64_t newValue) {
    write(section, key, formatInt(newValue));
}
void IniFileIndex::writeUint(std::string_view section, std::string_view key, std::uint64_t newValue) {
    write(section, key, formatUint(newValue));
}
void IniFileIndex::writeDouble(std::string_view section, std::string_view key, double newValue,
                               int significantDigits) {
    write(section, key, formatDouble(newValue, significantDigits));
}
void IniFileIndex::writeBool(std::string_view section, std::string_view key, bool newValue) {
    write(section, key, formatBool(newValue));
}

void IniFileIndex::delKey(std::string_view section, std::string_view key) {
    const auto s = sections.find(section);
    if (s == sections.end()) {
        return;
    }
    IniFileSection& target = s->second;
    const auto k = target.values.find(key);
    if (k == target.values.end()) {
        return;
    }
    // `key` may view a string of this document; from here on only the
    // map entry found above names it.
    const auto listed = std::find(target.keyOrder.begin(), target.keyOrder.end(), k->first);
    if (listed != target.keyOrder.end()) {
        target.keyOrder.erase(listed);
    }
    target.values.erase(k);
    // An unlisted key keeps the section alive.
    if (target.values.empty()) {
        delSection(s->first);
    }
}

void IniFileIndex::delSection(std::string_view section) {
    const auto s = sections.find(section);
    if (s == sections.end()) {
        return;
    }
    const auto listed = std::find(sectionOrder.begin(), sectionOrder.end(), s->first);
    if (listed != sectionOrder.end()) {
        sectionOrder.erase(listed);
    }
    sections.erase(s);
}

std::string IniFileIndex::toString() const {
    // One walk looks every entry up and sums the sizes, so the text is built
    // in a single allocation without copies from growing.
    struct Line {
        const std::string* name;
        const IniValue* entry;       // null for a header line
        const std::string* comment;  // a header's comment block
    };
    std::vector<Line> lines;
    std::size_t size = trailingComment.size();
    const auto addKeys = [&](const IniFileSection& section) {
        for (const auto& key : section.keyOrder) {
            const IniValue& entry = section.values.find(key)->second;
            lines.push_back({&key, &entry, nullptr});
            size += entry.comment.size() + key.size() + 3 + entry.value.size() + 2 + 1 +
                    (entry.inlineComment.empty() ? 0 : entry.inlineComment.size() + 1);
        }
    };
    // Keys that stood above the first header live in the unlisted section
    // with the empty name; written first and without a header, they read
    // back to where they were.
    const auto top = sections.find(std::string_view{});
    if (top != sections.end() &&
        std::find(sectionOrder.begin(), sectionOrder.end(), top->first) == sectionOrder.end()) {
        addKeys(top->second);
    }
    for (const auto& name : sectionOrder) {
        const IniFileSection& section = sections.find(name)->second;
        lines.push_back({&name, nullptr, &section.comment});
        size += section.comment.size() + name.size() + 3;
        addKeys(section);
    }

    std::string out;
    out.reserve(size);
    for (const Line& line : lines) {
        if (line.entry != nullptr) {
            append_key_line(out, *line.name, *line.entry, commentChar);
        } else {
            out += *line.comment;
            out += '[';
            out += *line.name;
            out += "]\n";
        }
    }
    out += trailingComment;
    // Byte order marks at the start of a text are skipped when it is read,
    // so a rendering that would start with one (a key or a kept line that
    // begins with it) starts with an empty line instead.
    if (byteOrderMarkLength(out) > 0) {
        out.insert(0, "\n");
    }
    return out;
}

bool IniFileIndex::saveToFile(const std::string& path) const {
    if (nothingToSave(path)) {
        return true;
    }
    // Rendered before the file is touched: if rendering fails (memory), the
    // file keeps its old content.
    return writeFileInPlace(path, toString());
}

bool IniFileIndex::saveToFileAtomically(const std::string& path) const {
    if (nothingToSave(path)) {
        return true;
    }
    return writeFileAtomically(path, toString());
}

bool IniFileIndex::nothingToSave(const std::string& path) const {
    // Nothing to write: do not create a file, but do empty one that is there.
    std::error_code error;
    return sections.empty() && trailingComment.empty() &&
           !std::filesystem::exists(std::filesystem::u8path(path), error);
}

}  // namespace ini
