// Edits text with the source-preserving editor and checks, for any text
// (the first byte is the comment character, then the text, then a sequence
// of edits on names from a small set or arbitrary bytes):
// - the editor's lookups (sections, listed keys and their order, values,
//   float reads, existence) equal the document's on the same text, before
//   and after every edit;
// - a refused or unchanged edit leaves the text byte for byte;
// - setting an existing key changes exactly one line; adding a key adds one
//   line and leaves every other line; adding a section only appends; a
//   deletion only removes lines (and keeps an empty line before a line that
//   would start the text with a byte order mark);
// - after a set the key reads as set; after a deletion the key or section
//   is gone;
// - every other key reads as before: an edit changes no value, and makes no
//   key appear or vanish, but the one it is about (for a section deletion,
//   the keys of that section).
#include "IniEditor.h"
#include "IniScanner.h"
#include "fuzz_support.h"

#include <algorithm>
#include <cmath>
#include <iterator>
#include <map>
#include <vector>

namespace {

// The lines of `text` without their line endings (a CR before the '\n'
// too: a last line without a newline gets the text's line ending when a line
// is added after it).
// A byte order mark that the text started with belongs to no line; one that
// a deletion brings to the start is compared as it is.
std::vector<std::string_view> linesOf(std::string_view text, std::size_t byteOrderMark) {
    text.remove_prefix(std::min(byteOrderMark, ini::byteOrderMarkLength(text)));
    std::vector<std::string_view> lines;
    while (!text.empty()) {
        const auto end = text.find('\n');
        std::string_view line = text.substr(0, end);
        if (!line.empty() && line.back() == '\r') {
            line.remove_suffix(1);
        }
        lines.push_back(line);
        text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
    }
    return lines;
}

// Every key the document reads in `text`, with its value.
std::map<std::pair<std::string, std::string>, std::string> everyValue(const std::string& text,
                                                                      char commentChar) {
    std::map<std::pair<std::string, std::string>, std::string> values;
    const auto doc = ini_test::loadText(text, commentChar);
    for (const auto& [name, section] : doc.sections) {
        for (const auto& [key, entry] : section.values) {
            values[{name, key}] = entry.value;
        }
    }
    return values;
}

// Drops what an edit is about from `values`: one key, or a whole section.
void forget(std::map<std::pair<std::string, std::string>, std::string>& values, const std::string& section,
            const std::string* key) {
    for (auto it = values.begin(); it != values.end();) {
        const bool about = it->first.first == section && (key == nullptr || it->first.second == *key);
        it = about ? values.erase(it) : std::next(it);
    }
}

bool sameFloat(float a, float b) { return a == b || (std::isnan(a) && std::isnan(b)); }

void requireSameLookups(const ini::IniEditor& editor, const std::string& what) {
    const auto doc = ini_test::loadText(editor.text(), editor.commentChar());
    const std::string& text = editor.text();
    fuzz::require(editor.sectionNames() == doc.sectionOrder, "section order as the document's", what + text);
    for (const auto& [name, section] : doc.sections) {
        fuzz::require(editor.sectionExists(name), "section exists as in the document", what + text);
        fuzz::require(editor.keyNames(name) == section.keyOrder, "key order as the document's", what + text);
        for (const auto& [key, entry] : section.values) {
            fuzz::require(editor.read(name, key, "\x01") == entry.value, "value as the document's",
                          what + text);
            fuzz::require(sameFloat(editor.read(name, key, 0.5F), doc.read(name, key, 0.5F)),
                          "float as the document's", what + text);
        }
    }
    for (const std::string name : {"", "s", "t", "a[b", " s"}) {
        fuzz::require(editor.sectionExists(name) == doc.sectionExists(name), "existence as the document's",
                      what + text);
        fuzz::require(editor.keyExists(name, "k") == doc.keyExists(name, "k"),
                      "key existence as the document's", what + text);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzz::Input in(data, size);
    const char commentChar = static_cast<char>(in.byte());
    ini::IniEditor editor(in.text(4096), commentChar);
    requireSameLookups(editor, "loaded\n");

    for (int step = 0; step < 16 && !in.empty(); ++step) {
        const std::string before = editor.text();
        auto othersBefore = everyValue(before, commentChar);
        const std::uint8_t op = in.byte() % 5;
        const std::string section = in.name();
        const std::string key = in.name();
        const bool hadSection = editor.sectionExists(section);
        const bool hadKey = editor.keyExists(section, key);
        ini::IniEditResult result;
        std::string value;
        switch (op) {
        case 0:
        case 1:
            value = op == 0 ? in.text(16) : "";
            if (op == 1) {
                const float number = in.real();
                result = editor.write(section, key, number);
                value = editor.read(section, key, "");
            } else {
                result = editor.write(section, key, value);
            }
            break;
        case 2:
        case 3:
            result = editor.delKey(section, key, op == 3);
            break;
        default:
            result = editor.delSection(section);
            break;
        }
        const std::string what =
            "op " + std::to_string(op) + " on [" + section + "] " + key + "\n" + before + "\n=>\n";
        const std::size_t byteOrderMark = ini::byteOrderMarkLength(before);
        const auto oldLines = linesOf(before, byteOrderMark);
        auto newLines = linesOf(editor.text(), byteOrderMark);
        if (op >= 2 && newLines.size() >= 2 && newLines[0].empty() &&
            ini::byteOrderMarkLength(newLines[1]) > 0) {
            newLines.erase(newLines.begin());  // the empty line that guards a byte order mark
        }
        auto othersAfter = everyValue(editor.text(), commentChar);
        forget(othersBefore, section, op == 4 ? nullptr : &key);
        forget(othersAfter, section, op == 4 ? nullptr : &key);
        fuzz::require(othersBefore == othersAfter, "every other key reads as before", what + editor.text());
        switch (result.status) {
        case ini::IniEditStatus::refused:
        case ini::IniEditStatus::unchanged:
        case ini::IniEditStatus::absent:
            fuzz::require(editor.text() == before, "an edit that changes nothing leaves the text", what);
            break;
        case ini::IniEditStatus::changed:
            if (op <= 1) {
                fuzz::require(editor.read(section, key, "\x01") == value, "a set reads back",
                              what + editor.text());
                std::size_t changed = 0;
                for (std::size_t i = 0; i < oldLines.size() && oldLines.size() == newLines.size(); ++i) {
                    changed += oldLines[i] != newLines[i] ? 1 : 0;
                }
                const bool oneLineChanged = oldLines.size() == newLines.size() && changed == 1;
                // A new key is one line; a new section two, and a blank line
                // before it when the text separates its sections so.
                const bool linesAdded = newLines.size() > oldLines.size() &&
                                        newLines.size() <= oldLines.size() + (hadSection ? 1 : 3) &&
                                        ini_test::onlyRemoved(newLines, oldLines);
                fuzz::require(hadKey ? oneLineChanged : oneLineChanged || linesAdded,
                              "a set changes one line or adds its own", what + editor.text());
            } else {
                fuzz::require(ini_test::onlyRemoved(oldLines, newLines), "a deletion only removes lines",
                              what + editor.text());
                if (op <= 3) {
                    fuzz::require(!editor.keyExists(section, key), "a deleted key is gone",
                                  what + editor.text());
                } else {
                    fuzz::require(!editor.sectionExists(section), "a deleted section is gone",
                                  what + editor.text());
                }
            }
            break;
        }
        requireSameLookups(editor, what);
    }
    return 0;
}
