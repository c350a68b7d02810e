// Loads arbitrary text (the first byte is the comment character), renders
// it, loads the rendering and checks what the text form guarantees:
// - the invariants hold for every document;
// - every listed section comes back in the same order with the same comment,
//   and so does the trailing comment;
// - every listed key whose value the text form can carry comes back with the
//   same value, comment and inline comment, and no key appears that was not
//   listed before;
// - when every listed value can be carried, the second rendering equals the
//   first;
// - the same holds from the second document to a third loaded from its
//   rendering, so where the values allow it the rendering is stable.
// The comparisons apply when the comment character is printable and not
// '[', '=' or '"', the characters the grammar gives another meaning.
#include "fuzz_support.h"

#include <algorithm>
#include <sstream>

namespace {

bool commentCharRoundTrips(char c) { return c > ' ' && c < 0x7F && c != '[' && c != '=' && c != '"'; }

// Whether `value` reads back unchanged from `key = <written value>`: a quoted
// value cannot hold '"', and an unquoted one cannot start with '"' or start
// or end with a CR (the loader trims it). Empty values are not stored.
bool valueRoundTrips(const std::string& value, char commentChar) {
    if (value.empty()) {
        return false;
    }
    const auto blank = [](char c) { return c == ' ' || c == '\t'; };
    const bool quoted =
        blank(value.front()) || blank(value.back()) || value.find(commentChar) != std::string::npos;
    if (quoted) {
        return value.find('"') == std::string::npos;
    }
    return value.front() != '"' && value.front() != '\r' && value.back() != '\r';
}

bool listed(const std::vector<std::string>& order, const std::string& name) {
    return std::find(order.begin(), order.end(), name) != order.end();
}

// The sections whose listed keys are written: the listed ones and the
// unlisted top section.
std::vector<std::string> writtenSections(const ini::IniFileIndex& doc) {
    std::vector<std::string> names = doc.sectionOrder;
    if (doc.sections.count("") != 0 && !listed(doc.sectionOrder, "")) {
        names.emplace_back();
    }
    return names;
}

void checkRoundTrip(const ini::IniFileIndex& first, const ini::IniFileIndex& second,
                    const std::string& text) {
    fuzz::require(second.sectionOrder == first.sectionOrder, "section order survives", text);
    fuzz::require(second.trailingComment == first.trailingComment, "trailing comment survives", text);
    bool everyValue = true;
    for (const auto& name : writtenSections(first)) {
        const auto& before = first.sections.at(name);
        const auto again = second.sections.find(name);
        if (again == second.sections.end()) {
            // Only the unlisted top section can vanish: when none of its
            // key lines stores anything.
            for (const auto& key : before.keyOrder) {
                fuzz::require(!valueRoundTrips(before.values.at(key).value, first.commentChar),
                              "top section survives", key);
                everyValue = false;
            }
            continue;
        }
        if (listed(first.sectionOrder, name)) {
            fuzz::require(again->second.comment == before.comment, "section comment survives", name);
        }
        for (const auto& key : again->second.keyOrder) {
            fuzz::require(listed(before.keyOrder, key), "no key appears", key);
        }
        for (const auto& key : before.keyOrder) {
            const auto& value = before.values.at(key);
            if (!valueRoundTrips(value.value, first.commentChar)) {
                everyValue = false;
                continue;
            }
            const auto found = again->second.values.find(key);
            fuzz::require(found != again->second.values.end() && listed(again->second.keyOrder, key),
                          "key survives", key);
            fuzz::require(found->second.value == value.value, "value survives", key);
            fuzz::require(found->second.comment == value.comment, "key comment survives", key);
            fuzz::require(found->second.inlineComment == value.inlineComment, "inline comment survives", key);
        }
    }
    if (everyValue) {
        fuzz::require(second.toString() == text, "rendering reproduces itself", text);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) {
        return 0;
    }
    const char commentChar = static_cast<char>(data[0]);
    const auto first =
        ini_test::loadText(std::string_view(reinterpret_cast<const char*>(data + 1), size - 1), commentChar);
    fuzz::requireInvariants(first);

    const std::string text = first.toString();
    const auto second = ini_test::loadText(text, commentChar);
    fuzz::requireInvariants(second);
    if (commentCharRoundTrips(commentChar)) {
        checkRoundTrip(first, second, text);
        // The second document can still hold values the text form cannot
        // carry (a quoted value with a CR, read back unquoted and holding
        // '"'); the same guarantees apply to it in turn.
        const std::string normalised = second.toString();
        checkRoundTrip(second, ini_test::loadText(normalised, commentChar), normalised);
    }
    return 0;
}
