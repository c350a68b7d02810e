// Runs a sequence of operations decoded from the input on one document:
// load, write (text or float), delete a key or a section, read, test,
// render, clear. Names come from a small set, from arbitrary bytes, or from
// the document's own strings (so that arguments alias what an edit changes).
// After every step the invariants must hold, and each edit must follow the
// listed/unlisted rules:
// - write: an absent section or key is appended to its order, an existing
//   one keeps its place and listing; the value is set, comments are kept;
// - delKey: the key is gone from the map and its order; the section is gone
//   too exactly when no key is left in its map;
// - delSection: the section is gone from the map and the order, others stay;
// - read and the tests agree with the maps and change nothing;
// - toString never fails and changes nothing.
#include "fuzz_support.h"

#include <algorithm>
#include <cmath>
#include <sstream>

namespace {

using Doc = ini::IniFileIndex;

bool listed(const std::vector<std::string>& order, std::string_view name) {
    return std::find(order.begin(), order.end(), name) != order.end();
}

// A name of the document itself, or a fresh one when the document has none.
std::string_view ownName(const Doc& doc, fuzz::Input& in, std::string& fallback) {
    const std::uint8_t pick = in.byte();
    if (!doc.sectionOrder.empty() && pick % 2 == 0) {
        const auto& name = doc.sectionOrder[pick / 2 % doc.sectionOrder.size()];
        const auto& keys = doc.sections.at(name).keyOrder;
        if (pick % 4 == 0 && !keys.empty()) {
            return keys[pick / 4 % keys.size()];
        }
        return name;
    }
    fallback = in.name();
    return fallback;
}

void checkWrite(Doc& doc, std::string_view section, std::string_view key, fuzz::Input& in, bool real) {
    const std::string s(section);
    const std::string k(key);
    const auto sectionsBefore = doc.sectionOrder;
    const bool hadSection = doc.sections.count(s) != 0;
    const bool hadKey = hadSection && doc.sections.at(s).values.count(k) != 0;
    const bool keyWasListed = hadKey && listed(doc.sections.at(s).keyOrder, k);
    const auto keysBefore = hadSection ? doc.sections.at(s).keyOrder : std::vector<std::string>{};
    const ini::IniValue old = hadKey ? doc.sections.at(s).values.at(k) : ini::IniValue{};

    std::string expected;
    if (real) {
        const float value = in.real();
        char text[32];
        std::snprintf(text, sizeof text, "%.6g", static_cast<double>(value));
        expected = text;
        doc.write(section, key, value);
    } else {
        expected = in.text();
        doc.write(section, key, expected);
    }

    const auto& target = doc.sections.at(s);
    const auto& entry = target.values.at(k);
    fuzz::require(entry.value == expected, "write sets the value", expected);
    fuzz::require(entry.comment == old.comment && entry.inlineComment == old.inlineComment,
                  "write keeps the comments", k);
    auto expectedSections = sectionsBefore;
    if (!hadSection) {
        expectedSections.push_back(s);
    }
    fuzz::require(doc.sectionOrder == expectedSections, "write appends only a new section", s);
    auto expectedKeys = keysBefore;
    if (!hadKey) {
        expectedKeys.push_back(k);
    }
    fuzz::require(target.keyOrder == expectedKeys, "write appends only a new key", k);
    fuzz::require(listed(target.keyOrder, k) == (keyWasListed || !hadKey), "write keeps the key's listing",
                  k);
}

void checkDelKey(Doc& doc, std::string_view section, std::string_view key) {
    const std::string s(section);
    const std::string k(key);
    const auto before = doc.sections;
    const auto orderBefore = doc.sectionOrder;
    doc.delKey(section, key);

    const auto was = before.find(s);
    if (was == before.end() || was->second.values.count(k) == 0) {
        fuzz::require(doc.sections.size() == before.size() && doc.sectionOrder == orderBefore,
                      "delKey of an absent key changes nothing", s + "/" + k);
        return;
    }
    if (was->second.values.size() == 1) {
        fuzz::require(doc.sections.count(s) == 0 && !listed(doc.sectionOrder, s),
                      "delKey of the last key removes the section", s);
        return;
    }
    const auto& now = doc.sections.at(s);
    fuzz::require(now.values.count(k) == 0 && !listed(now.keyOrder, k), "delKey removes the key", k);
    fuzz::require(now.values.size() + 1 == was->second.values.size(), "delKey removes one key", k);
    fuzz::require(doc.sectionOrder == orderBefore, "delKey keeps the section order", s);
}

void checkDelSection(Doc& doc, std::string_view section) {
    const std::string s(section);
    const auto sizeBefore = doc.sections.size();
    auto expectedOrder = doc.sectionOrder;
    expectedOrder.erase(std::remove(expectedOrder.begin(), expectedOrder.end(), s), expectedOrder.end());
    const bool had = doc.sections.count(s) != 0;
    doc.delSection(section);
    fuzz::require(doc.sections.count(s) == 0, "delSection removes the section", s);
    fuzz::require(doc.sections.size() + (had ? 1 : 0) == sizeBefore, "delSection removes one section", s);
    fuzz::require(doc.sectionOrder == expectedOrder, "delSection keeps the other sections' order", s);
}

void checkQueries(const Doc& doc, const std::string& section, const std::string& key) {
    const auto s = doc.sections.find(section);
    const bool hasSection = s != doc.sections.end();
    const bool hasKey = hasSection && s->second.values.count(key) != 0;
    fuzz::require(doc.sectionExists(section) == hasSection, "sectionExists asks the map", section);
    fuzz::require(doc.keyExists(section, key) == hasKey, "keyExists asks the map", key);
    const std::string value = doc.read(section, key,
                                       "\x01"
                                       "default");
    fuzz::require(value == (hasKey ? s->second.values.at(key).value
                                   : "\x01"
                                     "default"),
                  "read", key);
    const float real = doc.read(section, key, 1.5F);
    if (!hasKey) {
        fuzz::require(real == 1.5F, "float read of an absent key gives the default", key);
    } else {
        const float expected = static_cast<float>(std::atof(value.c_str()));
        fuzz::require(real == expected || (std::isnan(real) && std::isnan(expected)), "float read", value);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzz::Input in(data, size);
    Doc doc;
    std::string fallbackSection;
    std::string fallbackKey;
    for (int step = 0; step < 64 && !in.empty(); ++step) {
        const std::uint8_t op = in.byte();
        switch (op % 9) {
        case 0: {
            const char commentChar = static_cast<char>(in.byte());
            std::istringstream text(in.text(4096));
            doc.load(text, commentChar);
            fuzz::require(doc.commentChar == commentChar, "load sets the comment character");
            break;
        }
        case 1:
        case 2: {
            const std::string_view section = ownName(doc, in, fallbackSection);
            const std::string_view key = ownName(doc, in, fallbackKey);
            checkWrite(doc, section, key, in, op % 9 == 2);
            break;
        }
        case 3: {
            const std::string_view section = ownName(doc, in, fallbackSection);
            checkDelKey(doc, section, ownName(doc, in, fallbackKey));
            break;
        }
        case 4:
            checkDelSection(doc, ownName(doc, in, fallbackSection));
            break;
        case 5:
        case 6: {
            const std::string section(ownName(doc, in, fallbackSection));
            checkQueries(doc, section, std::string(ownName(doc, in, fallbackKey)));
            break;
        }
        case 7: {
            const std::string before = ini_test::dump(doc);
            const std::string text = doc.toString();
            fuzz::require(ini_test::dump(doc) == before, "toString changes nothing");
            fuzz::require(text.size() >= doc.trailingComment.size(),
                          "toString ends with the trailing comment");
            fuzz::require(text.compare(text.size() - doc.trailingComment.size(), std::string::npos,
                                       doc.trailingComment) == 0,
                          "toString ends with the trailing comment", text);
            break;
        }
        default: {
            const char commentChar = doc.commentChar;
            doc.clear();
            fuzz::require(doc.sections.empty() && doc.sectionOrder.empty() && doc.trailingComment.empty() &&
                              doc.commentChar == commentChar,
                          "clear empties all but the comment character");
            break;
        }
        }
        fuzz::requireInvariants(doc);
    }
    return 0;
}
