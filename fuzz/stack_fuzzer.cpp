// Merges layers of text under a dialect and checks, for any texts (the
// first byte picks the dialect, then up to four texts):
// - the stack agrees with a simple model: each file read alone by the
//   editor, in order, the later file's value of a key replacing an earlier
//   one (under classic, the last file whose lookup finds the key); every
//   key of every file is found, with that value;
// - every line a key came from lies inside its file, its line number is
//   that of its first byte, and its value is what the scanner reads there;
// - a key's deciding line is one of its lines, from the last file that
//   sets it.
#include "IniEditor.h"
#include "IniScanner.h"
#include "IniStack.h"
#include "fuzz_support.h"

#include <algorithm>
#include <map>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzz::Input in(data, size);
    // PHP's one namespace is left to the differential test against PHP.
    const char* const names[] = {"classic", "python", "mysql", "desktop", "systemd"};
    ini::IniDialect dialect;
    ini::IniDialect::byName(names[in.byte() % 5], dialect);
    std::vector<std::pair<std::string, std::string>> files;
    const int count = 1 + in.byte() % 4;
    for (int i = 0; i < count && !in.empty(); ++i) {
        files.emplace_back("f" + std::to_string(i), in.text(1024));
    }
    const ini::IniStack stack = ini::IniStack::fromTexts(files, dialect);
    const std::string what = dialect.name + ": " + std::to_string(files.size()) + " files";

    // The model: each file alone, the later one's value winning.
    std::map<std::pair<std::string, std::string>, std::pair<std::string, std::size_t>> model;
    const auto fold = [](std::string name, bool fold) {
        std::transform(name.begin(), name.end(), name.begin(), [fold](char c) {
            return fold && c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
        });
        return name;
    };
    std::vector<ini::IniEditor> editors;
    editors.reserve(files.size());
    for (const auto& file : files) {
        editors.emplace_back(file.second, dialect);
    }
    for (std::size_t f = 0; f < files.size(); ++f) {
        for (const auto& [section, entries] : editors[f].allEntries()) {
            for (const auto& [key, value] : entries) {
                model[{fold(section, dialect.caseInsensitiveSections),
                       fold(key, dialect.caseInsensitiveKeys)}] = {value, f};
            }
        }
    }
    // Under classic a file whose first line of a key only sets an inline
    // comment reads the key as empty without listing it: the last file
    // whose lookup finds the key decides.
    for (auto& [name, expected] : model) {
        for (std::size_t f = 0; dialect.name == "classic" && f < files.size(); ++f) {
            if (const auto value = editors[f].lookup(name.first, name.second)) {
                expected = {*value, f};
            }
        }
    }
    for (const auto& [name, expected] : model) {
        const ini::IniStackKey* key = stack.find(name.first, name.second);
        fuzz::require(key != nullptr, "every key of every file is found",
                      what + " [" + name.first + "] " + name.second);
        fuzz::require(stack.value(name.first, name.second) == expected.first,
                      "a key's value is the last file's", what + " [" + name.first + "] " + name.second);
        fuzz::require(key->lines[key->deciding()].file == expected.second,
                      "the deciding line is the last file's", what);
    }
    for (const ini::IniStackKey& key : stack.keys()) {
        fuzz::require(key.deciding() < key.lines.size(), "the deciding line is one of the key's", what);
        for (const ini::IniOrigin& origin : key.lines) {
            const std::string& text = stack.files()[origin.file].text;
            fuzz::require(origin.begin <= origin.end && origin.end <= text.size(), "a line lies in its file",
                          what);
            fuzz::require(
                origin.line ==
                    static_cast<std::size_t>(std::count(
                        text.begin(), text.begin() + static_cast<std::ptrdiff_t>(origin.begin), '\n')) +
                        1,
                "a line's number is that of its first byte", what);
            const ini::IniLine line = ini::scanLine(
                std::string_view(text).substr(origin.begin, origin.end - origin.begin), dialect);
            fuzz::require(line.kind == ini::IniLineKind::key, "a key's line is a key line", what);
        }
    }
    return 0;
}
