// Helpers shared by the test files: loading from a string and a compact,
// complete dump of a document (listed and unlisted entries alike).
#ifndef TESTS_TEST_SUPPORT_H
#define TESTS_TEST_SUPPORT_H

#include "IniFileIndex.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

namespace ini_test {

inline ini::IniFileIndex loadText(std::string_view text, char commentChar = ';') {
    std::istringstream in{std::string(text)};
    ini::IniFileIndex doc;
    doc.load(in, commentChar);
    return doc;
}

// Makes CR, LF, tab and NUL visible.
inline std::string escaped(std::string_view s) {
    std::string out;
    for (const char c : s) {
        switch (c) {
        case '\n':
            out += "\\n";
            break;
        case '\r':
            out += "\\r";
            break;
        case '\t':
            out += "\\t";
            break;
        case '\0':
            out += "\\0";
            break;
        default:
            out += c;
        }
    }
    return out;
}

template <typename Order, typename Map, typename Each>
void forEachInOrder(const Order& order, const Map& map, Each each) {
    for (const auto& name : order) {
        each(name, map.at(name), true);
    }
    for (const auto& [name, entry] : map) {
        if (std::find(order.begin(), order.end(), name) == order.end()) {
            each(name, entry, false);
        }
    }
}

// One line per section ("[name]") and per key ("  key=value"), listed entries
// in their order first, then unlisted ones in map order marked with '?'.
// Non-empty comments follow as " c=...", inline comments as " i=...", and a
// non-empty trailing comment ends the dump as "T=...".
inline std::string dump(const ini::IniFileIndex& doc) {
    std::string out;
    forEachInOrder(doc.sectionOrder, doc.sections,
                   [&](const std::string& name, const ini::IniFileSection& section, bool listed) {
                       out += listed ? "[" : "?[";
                       out += escaped(name) + "]";
                       if (!section.comment.empty()) out += " c=" + escaped(section.comment);
                       out += "\n";
                       forEachInOrder(section.keyOrder, section.values,
                                      [&](const std::string& key, const ini::IniValue& v, bool keyListed) {
                                          out += keyListed ? "  " : "  ?";
                                          out += escaped(key) + "=" + escaped(v.value);
                                          if (!v.comment.empty()) out += " c=" + escaped(v.comment);
                                          if (!v.inlineComment.empty())
                                              out += " i=" + escaped(v.inlineComment);
                                          out += "\n";
                                      });
                   });
    if (!doc.trailingComment.empty()) out += "T=" + escaped(doc.trailingComment) + "\n";
    return out;
}

// Empty when every listed name has its entry and no order lists a name twice;
// otherwise what is wrong.
inline std::string invariantViolation(const ini::IniFileIndex& doc) {
    auto firstProblem = [](const std::vector<std::string>& order, const auto& map) -> std::string {
        std::vector<std::string> sorted(order);
        std::sort(sorted.begin(), sorted.end());
        const auto twice = std::adjacent_find(sorted.begin(), sorted.end());
        if (twice != sorted.end()) return "listed twice: " + escaped(*twice);
        for (const auto& name : order) {
            if (map.count(name) == 0) return "listed without entry: " + escaped(name);
        }
        return "";
    };
    std::string problem = firstProblem(doc.sectionOrder, doc.sections);
    for (const auto& [name, section] : doc.sections) {
        if (!problem.empty()) break;
        problem = firstProblem(section.keyOrder, section.values);
    }
    return problem;
}

// Whether `after` is `before` with some lines taken out and nothing else
// (the lines may be strings or views).
template <typename Lines>
bool onlyRemoved(const Lines& before, const Lines& after) {
    std::size_t j = 0;
    for (std::size_t i = 0; i < before.size() && j < after.size(); ++i) {
        j += before[i] == after[j] ? 1 : 0;
    }
    return j == after.size();
}

// One file of the real-file corpus, with the comment character its
// MANIFEST.tsv row names first (';' when it names none).
struct CorpusFile {
    std::string path;  // relative to the corpus directory
    char commentChar;
    std::string text;
};

inline std::vector<CorpusFile> corpusFiles(const std::filesystem::path& dir) {
    std::vector<CorpusFile> files;
    std::ifstream manifest(dir / "MANIFEST.tsv");
    std::string row;
    std::getline(manifest, row);  // the column names
    while (std::getline(manifest, row)) {
        std::vector<std::string> columns;
        std::istringstream fields(row);
        for (std::string field; std::getline(fields, field, '\t');) {
            columns.push_back(field);
        }
        if (columns.size() < 8) {
            continue;
        }
        std::ifstream in(dir / columns[0], std::ios::binary);
        std::ostringstream whole;
        whole << in.rdbuf();
        files.push_back({columns[0], columns[7] == "none" ? ';' : columns[7].front(), whole.str()});
    }
    return files;
}

}  // namespace ini_test

#endif  // TESTS_TEST_SUPPORT_H
