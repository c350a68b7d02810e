// Loads arbitrary text (the first byte is the comment character) and checks:
// - the invariants hold for every document;
// - the lookups (sections, keys, values, their order, inline comments) equal
//   those of an independent reading that ignores every line it does not
//   store, so lines kept as text never change what is read;
// - every input line that does not register a section or store a key comes
//   back verbatim as a line of the rendering, and the scanner, tracking
//   stores, marks as many headers and keys as the document lists;
// - for comment characters the text form can carry (printable, not '[', '='
//   or '"') and values it can carry, loading the rendering gives the same
//   lookups and the same rendering again.
#include "IniScanner.h"
#include "fuzz_support.h"
#include "reference_lookups.h"

#include <algorithm>
#include <unordered_set>

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

// Compares everything a lookup can see; comment blocks are not compared.
void requireSameLookups(const ini::IniFileIndex& a, const ini::IniFileIndex& b, const char* what,
                        const std::string& text) {
    fuzz::require(a.sectionOrder == b.sectionOrder, what, "section order\n" + text);
    fuzz::require(a.sections.size() == b.sections.size(), what, "sections\n" + text);
    for (const auto& [name, section] : a.sections) {
        const auto other = b.sections.find(name);
        fuzz::require(other != b.sections.end(), what, "section " + name + "\n" + text);
        fuzz::require(section.keyOrder == other->second.keyOrder, what, "key order of " + name + "\n" + text);
        fuzz::require(section.values.size() == other->second.values.size(), what, "keys of " + name);
        for (const auto& [key, entry] : section.values) {
            const auto found = other->second.values.find(key);
            fuzz::require(found != other->second.values.end() && found->second.value == entry.value &&
                              found->second.inlineComment == entry.inlineComment,
                          what, name + "/" + key + "\n" + text);
        }
    }
}

// Whether the text form carries every listed value of the written sections.
bool everyValueRoundTrips(const ini::IniFileIndex& doc) {
    for (const auto& [name, section] : doc.sections) {
        if (!name.empty() && !listed(doc.sectionOrder, name)) {
            continue;  // never written
        }
        for (const auto& key : section.keyOrder) {
            if (!valueRoundTrips(section.values.at(key).value, doc.commentChar)) {
                return false;
            }
        }
    }
    return true;
}

// Whether `line` (trimmed) could have registered a section or stored a key:
// only such lines may be rewritten by the rendering.
bool mayBeStored(std::string_view raw, const ini::IniFileIndex& doc) {
    const auto first = raw.find_first_not_of(" \t\r");
    if (first == std::string_view::npos || raw[first] == doc.commentChar) {
        return false;
    }
    if (raw[first] == '[') {
        return raw.find(']', first) != std::string_view::npos;
    }
    return raw.find('=') != std::string_view::npos;
}

void requireKeptLines(std::string_view input, const ini::IniFileIndex& doc, const std::string& text) {
    std::unordered_set<std::string_view> rendered;
    for (std::string_view rest = text; !rest.empty();) {
        const auto end = rest.find('\n');
        rendered.insert(rest.substr(0, end));
        rest.remove_prefix(end == std::string_view::npos ? rest.size() : end + 1);
    }
    constexpr std::string_view bom = "\xEF\xBB\xBF";
    while (input.substr(0, bom.size()) == bom) {
        input.remove_prefix(bom.size());
    }
    while (!input.empty()) {
        const auto end = input.find('\n');
        const std::string_view line = input.substr(0, end);
        input.remove_prefix(end == std::string_view::npos ? input.size() : end + 1);
        if (rendered.count(line) == 0) {
            fuzz::require(mayBeStored(line, doc), "every line that stores nothing is kept",
                          std::string(line));
        }
    }
}

// The lines the scanner says the loader keeps as headers and keys are as
// many as the document lists in what it writes.
void requireStoresCounted(std::string_view input, const ini::IniFileIndex& doc) {
    std::size_t headers = 0;
    std::size_t keys = 0;
    ini::IniScanner scanner(input, doc.commentChar, true);
    for (ini::IniLine line; scanner.next(line);) {
        headers += line.stores && line.kind == ini::IniLineKind::header ? 1 : 0;
        keys += line.stores && line.kind == ini::IniLineKind::key ? 1 : 0;
    }
    std::size_t listedKeys = 0;
    for (const auto& [name, section] : doc.sections) {
        listedKeys += name.empty() || listed(doc.sectionOrder, name) ? section.keyOrder.size() : 0;
    }
    fuzz::require(headers == doc.sectionOrder.size(), "stored headers are the listed sections",
                  std::string(input));
    fuzz::require(keys == listedKeys, "stored key lines are the written keys", std::string(input));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) {
        return 0;
    }
    const char commentChar = static_cast<char>(data[0]);
    const std::string_view input(reinterpret_cast<const char*>(data + 1), size - 1);
    const auto first = ini_test::loadText(input, commentChar);
    fuzz::requireInvariants(first);
    requireSameLookups(first, fuzz::referenceLookups(input, commentChar),
                       "lookups as the reference reads them", std::string(input));

    const std::string text = first.toString();
    requireKeptLines(input, first, text);
    requireStoresCounted(input, first);
    if (commentCharRoundTrips(commentChar) && everyValueRoundTrips(first)) {
        const auto second = ini_test::loadText(text, commentChar);
        fuzz::requireInvariants(second);
        // Unlisted entries (a name holding '[', `k = "" ; c`) are not
        // written; only what the rendering carries is compared.
        for (const auto& name : second.sectionOrder) {
            fuzz::require(listed(first.sectionOrder, name), "no section appears", name);
        }
        fuzz::require(second.sectionOrder == first.sectionOrder, "section order survives", text);
        for (const auto& [name, section] : first.sections) {
            if (!name.empty() && !listed(first.sectionOrder, name)) {
                continue;
            }
            for (const auto& key : section.keyOrder) {
                fuzz::require(second.read(name, key, "\x01") == section.values.at(key).value,
                              "value survives", name + "/" + key + "\n" + text);
            }
        }
        fuzz::require(second.toString() == text, "rendering reproduces itself", text);
    }
    return 0;
}
