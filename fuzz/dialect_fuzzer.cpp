// Edits text under every dialect preset and checks, for any text (the first
// byte picks the preset, then the text, then a sequence of edits on names
// from a small set or arbitrary bytes):
// - the editor's lookups agree with themselves: read() is the first or last
//   of values() as the dialect says, and a fresh editor over the edited text
//   reads what the editing one reads;
// - a refused, unchanged or absent edit leaves the text byte for byte;
// - after set, set --all and add the key reads back as written (set and
//   set --all: read() gives the value; set --all: it is the only value; add:
//   it is the last value); after a value's deletion the key holds it no more;
//   after a key's deletion the key is gone;
// - every other key reads as before, with all of its values;
// - after a key is commented out it is gone; after uncomment it has a value;
//   after its comment or inline comment is set, they read back as written
//   and the key's values are as before;
// - after a typed write the key reads back as the value's canonical text;
//   after a section's comment is set, every key reads as before;
// - after a section's deletion its keys are gone and every key of the other
//   sections reads as before (those seen through the default section aside,
//   when that is the one deleted);
// - after a list of values is set the key holds exactly them (in any
//   order, when it held them before); after a key is made one without a
//   value it reads as one; after a section is made sure of it exists;
// - an edit never makes the owner reject a text it accepted;
// - every finding of diagnose() lies inside the text, its line and column
//   are those of its first byte, and a rejected line is one problems()
//   reports.
#include "IniDiagnostics.h"
#include "IniEditor.h"
#include "IniScanner.h"
#include "IniTypes.h"
#include "fuzz_support.h"

#include <algorithm>
#include <map>
#include <vector>

namespace {

using Reading = std::map<std::pair<std::string, std::string>, std::vector<std::string>>;

// Every key with every value, under names folded as the dialect compares
// them, so that one key spelled two ways is one entry.
std::string folded(std::string name, bool fold) {
    if (fold) {
        std::transform(name.begin(), name.end(), name.begin(),
                       [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; });
    }
    return name;
}

Reading everyValue(const ini::IniEditor& editor) {
    const ini::IniDialect& d = editor.dialect();
    Reading out;
    std::vector<std::string> sections = editor.sectionNames();
    sections.emplace_back();
    for (const auto& section : sections) {
        for (const auto& [key, value] : editor.entries(section)) {
            const auto values = editor.values(section, key);
            if (!values.empty()) {
                fuzz::require(value == (d.lastValueWins ? values.back() : values.front()),
                              "read() is the first or last value",
                              "[" + section + "] " + key + " = " + value + "\n" + editor.text());
            }
            out[{folded(section, d.caseInsensitiveSections), folded(key, d.caseInsensitiveKeys)}] = values;
        }
    }
    return out;
}

void forget(Reading& values, const ini::IniDialect& d, const std::string& section, const std::string& key) {
    values.erase({folded(section, d.caseInsensitiveSections), folded(key, d.caseInsensitiveKeys)});
}

void forgetSection(Reading& values, const ini::IniDialect& d, const std::string& section) {
    const std::string name = folded(section, d.caseInsensitiveSections);
    for (auto it = values.begin(); it != values.end();) {
        it = it->first.first == name ? values.erase(it) : std::next(it);
    }
}

void checkFindings(const ini::IniEditor& editor) {
    const std::string& text = editor.text();
    std::vector<std::size_t> rejected;
    for (const ini::IniFinding& f : ini::diagnose(text, editor.dialect())) {
        const std::string what = editor.dialect().name + ": " + ini::findingName(f.kind) + " at " +
                                 std::to_string(f.line) + ":" + std::to_string(f.column) + "\n" + text;
        fuzz::require(f.begin <= f.end && f.end <= text.size(), "a finding lies inside the text", what);
        const auto lineStart = text.rfind('\n', f.begin == 0 ? 0 : f.begin - 1);
        const std::size_t start = f.begin == 0 || lineStart == std::string::npos ? 0 : lineStart + 1;
        fuzz::require(f.line == static_cast<std::size_t>(std::count(
                                    text.begin(), text.begin() + static_cast<std::ptrdiff_t>(start), '\n')) +
                                    1 &&
                          f.column == f.begin - start + 1,
                      "a finding's line and column are those of its first byte", what);
        if (f.kind == ini::IniFindingKind::rejected) {
            rejected.push_back(f.line);
        }
    }
    std::vector<std::size_t> problems;
    for (const ini::IniProblem& problem : editor.problems()) {
        problems.push_back(problem.line);
    }
    fuzz::require(rejected == problems, "the rejected lines are the problems",
                  editor.dialect().name + "\n" + text);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzz::Input in(data, size);
    const auto presets = ini::IniDialect::presetNames();
    ini::IniDialect dialect;
    ini::IniDialect::byName(presets[in.byte() % presets.size()], dialect);
    ini::IniEditor editor(in.text(4096), dialect);
    const bool accepted = editor.problems().empty();
    checkFindings(editor);

    for (int step = 0; step < 16 && !in.empty(); ++step) {
        const std::string before = editor.text();
        Reading othersBefore = everyValue(editor);
        const std::uint8_t op = in.byte() % 15;
        const std::string section = in.name();
        const std::string key = in.name();
        const std::string value = in.byte() % 2 == 0 ? in.name() : in.text(16);
        const std::vector<std::string> list{value, in.name()};
        ini::IniEditResult result;
        switch (op) {
        case 0:
            result = editor.write(section, key, value);
            break;
        case 1:
            result = editor.writeAll(section, key, value);
            break;
        case 2:
            result = editor.add(section, key, value);
            break;
        case 3:
            result = editor.delValue(section, key, value);
            break;
        case 4:
            result = editor.delKey(section, key);
            break;
        case 5:
            result = editor.commentOut(section, key);
            break;
        case 6:
            result = value.size() % 2 == 0 ? editor.uncomment(section, key, value)
                                           : editor.uncomment(section, key);
            break;
        case 7:
            result = editor.setComment(section, key, value);
            break;
        case 8:
            result = editor.setInlineComment(section, key, value);
            break;
        case 9:
            result = editor.delSection(section);
            break;
        case 10:
            result = editor.setSectionComment(section, value);
            break;
        case 11:
            result = editor.writeInt(section, key, static_cast<std::int64_t>(value.size()) - 8);
            break;
        case 12:
            result = editor.writeValues(section, key, list);
            break;
        case 13:
            result = editor.writeNoValue(section, key);
            break;
        default:
            result = editor.addSection(section);
            break;
        }
        const std::string what = dialect.name + ": op " + std::to_string(op) + " on [" + section + "] " +
                                 key + " = " + value + " (list: " + list[0] + " | " + list[1] + ")\n" +
                                 before + "\n=>\n" + editor.text();
        if (result.status != ini::IniEditStatus::changed) {
            fuzz::require(editor.text() == before, "an edit that changes nothing leaves the text", what);
        }
        const ini::IniEditor reread(editor.text(), dialect);
        Reading othersAfter = everyValue(reread);
        fuzz::require(othersAfter == everyValue(editor), "a fresh editor reads what the editing one reads",
                      what);
        const auto values = reread.values(section, key);
        if (result.status == ini::IniEditStatus::changed || result.status == ini::IniEditStatus::unchanged) {
            switch (op) {
            case 0:
                fuzz::require(reread.read(section, key, "\x01") == value, "a set reads back", what);
                break;
            case 1:
                fuzz::require(values == std::vector<std::string>{value} ||
                                  (value.empty() && dialect.emptyValueResetsList && values.empty()),
                              "set --all leaves one value", what);
                break;
            case 2:
                fuzz::require((value.empty() && dialect.emptyValueResetsList) ||
                                  (!values.empty() && values.back() == value),
                              "an added value is the last", what);
                break;
            case 3:
                fuzz::require(std::find(values.begin(), values.end(), value) == values.end() ||
                                  !reread.dialect().defaultSection.empty(),
                              "a deleted value is gone", what);
                break;
            case 4:
            case 5:
                fuzz::require(reread.values(section, key).empty() || !reread.dialect().defaultSection.empty(),
                              "a deleted or commented-out key is gone", what);
                break;
            case 6:
                fuzz::require(!values.empty() || dialect.emptyValueResetsList,
                              "an uncommented key has a value", what);
                break;
            case 7: {
                // One line per line of the text, read without the blanks at
                // its ends.
                std::vector<std::string> lines;
                for (std::size_t at = 0; !value.empty() && at <= value.size();) {
                    const std::size_t end = std::min(value.find('\n', at), value.size());
                    const std::string line = value.substr(at, end - at);
                    const std::size_t first = line.find_first_not_of(" \t");
                    lines.push_back(first == std::string::npos
                                        ? std::string()
                                        : line.substr(first, line.find_last_not_of(" \t") - first + 1));
                    at = end + 1;
                }
                const auto comment = reread.comment(section, key);
                fuzz::require(comment.has_value() && comment->lines == lines, "a comment reads back", what);
                break;
            }
            case 8:
                fuzz::require(reread.comment(section, key)->inlineText == value,
                              "an inline comment reads back", what);
                break;
            case 9:
                fuzz::require(!reread.sectionExists(section) || !reread.dialect().defaultSection.empty(),
                              "a deleted section is gone", what);
                break;
            case 10:
                break;
            case 11:
                fuzz::require(reread.read(section, key, "\x01") ==
                                  ini::formatInt(static_cast<std::int64_t>(value.size()) - 8),
                              "a typed write reads back", what);
                break;
            case 12: {
                auto held = values;
                auto wanted = list;
                std::sort(held.begin(), held.end());
                std::sort(wanted.begin(), wanted.end());
                fuzz::require(held == wanted, "a key holds the list of values set", what);
                if (result.status == ini::IniEditStatus::changed) {
                    fuzz::require(values == list, "a list set anew is in its order", what);
                }
                break;
            }
            case 13:
                fuzz::require(reread.hasNoValue(section, key), "a key set without a value has none", what);
                break;
            default:
                fuzz::require(reread.sectionExists(section) || section.empty(),
                              "a section made sure of exists", what);
                break;
            }
        }
        if (op <= 6 || op == 11 || op == 12 || op == 13) {
            forget(othersBefore, dialect, section, key);
            forget(othersAfter, dialect, section, key);
        }
        if (op == 9 && result.status == ini::IniEditStatus::changed) {
            if (dialect.sameSection(section, dialect.defaultSection) && !dialect.defaultSection.empty()) {
                othersBefore = othersAfter;  // every section saw its keys
            }
            forgetSection(othersBefore, dialect, section);
            forgetSection(othersAfter, dialect, section);
        }
        fuzz::require(othersBefore == othersAfter, "every other key reads as before", what);
        if (accepted) {
            fuzz::require(reread.problems().empty(), "an edit keeps the text acceptable to its owner", what);
        }
    }
    return 0;
}
