// An independent reading of INI text that records only what lookups see:
// sections and keys, their values, their order and inline comments, and no
// comment blocks. The load target checks that the document's lookups equal
// these whatever lines the document keeps as text.
#ifndef FUZZ_REFERENCE_LOOKUPS_H
#define FUZZ_REFERENCE_LOOKUPS_H

#include "IniFileIndex.h"

#include <string>
#include <string_view>

namespace fuzz {

// A document whose comment blocks and trailing comment stay empty.
inline ini::IniFileIndex referenceLookups(std::string_view text, char commentChar) {
    constexpr std::string_view trimSet = " \t\r";
    const auto trim = [&](std::string_view s) {
        const auto first = s.find_first_not_of(trimSet);
        if (first == std::string_view::npos) {
            return std::string_view{};
        }
        return s.substr(first, s.find_last_not_of(trimSet) - first + 1);
    };
    constexpr std::string_view bom = "\xEF\xBB\xBF";
    while (text.substr(0, bom.size()) == bom) {
        text.remove_prefix(bom.size());
    }

    ini::IniFileIndex doc;
    doc.commentChar = commentChar;
    std::string current;
    while (!text.empty()) {
        const auto end = text.find('\n');
        const std::string_view line = trim(text.substr(0, end));
        text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
        if (line.empty() || line.front() == commentChar) {
            continue;
        }
        if (line.front() == '[') {
            const auto close = line.find(']', 1);
            if (close == std::string_view::npos) {
                continue;
            }
            current = std::string(line.substr(1, close - 1));
            if (doc.sections.count(current) == 0 && current.find('[') == std::string::npos) {
                doc.sections[current];
                doc.sectionOrder.push_back(current);
            }
            continue;
        }
        const auto equals = line.find('=');
        if (equals == std::string_view::npos) {
            continue;
        }
        const std::string key(trim(line.substr(0, equals)));
        std::string_view rest = trim(line.substr(equals + 1));
        std::string_view value;
        if (!rest.empty() && rest.front() == '"') {
            const auto closing = rest.find('"', 1);
            if (closing == std::string_view::npos) {
                rest = {};
            } else {
                value = rest.substr(1, closing - 1);
                rest = trim(rest.substr(closing + 1));
            }
        } else if (const auto mark = rest.find(commentChar, 1); mark == std::string_view::npos) {
            value = rest;
            rest = {};
        } else {
            value = trim(rest.substr(0, mark));
            rest = trim(rest.substr(mark));
        }
        if ((rest.empty() || rest.front() == commentChar) && !value.empty()) {
            auto& section = doc.sections[current];
            if (section.values.count(key) == 0) {
                section.values[key].value = std::string(value);
                section.keyOrder.push_back(key);
            }
        }
        if ((rest.empty() ? '\0' : rest.front()) == commentChar) {
            doc.sections[current].values[key].inlineComment = std::string(rest);
        }
    }
    return doc;
}

}  // namespace fuzz

#endif  // FUZZ_REFERENCE_LOOKUPS_H
