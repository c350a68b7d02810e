// An INI document that keeps its comments.
//
// IniFileIndex loads INI text, remembers the order in which sections and keys
// first appeared and the comment and blank lines that stood before each header
// and key, answers lookups with a default, and (see below) edits and renders
// the document back to INI text with those comments in place.
//
// Names and values are byte strings compared exactly and case-sensitively; no
// encoding is applied, and the empty string is a valid section name and key.
#ifndef INI_INIFILEINDEX_H
#define INI_INIFILEINDEX_H

#include <iosfwd>
#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace ini {

// One key's entry.
struct IniValue {
    // The value text as loaded; quotes around a quoted value are not kept.
    std::string value;
    // The comment and blank lines that stood before the key line, each line
    // followed by '\n', byte for byte (a CR at the end of a line is kept).
    std::string comment;
    // The comment after the value on the key's own line, starting with the
    // comment character and trimmed; empty when there was none.
    std::string inlineComment;
};

// One section. `values` is the lookup table; `keyOrder` is the order in which
// keys are written out. A key can be in `values` without being in `keyOrder`
// (an "unlisted" key): it can be read and tested for but is never written.
struct IniFileSection {
    // The comment and blank lines that stood before the header line.
    std::string comment;
    std::map<std::string, IniValue, std::less<>> values;
    std::vector<std::string> keyOrder;
};

// The document. Every name in `sectionOrder` is a key of `sections` and every
// name in a `keyOrder` is a key of its section's `values`, each at most once;
// the reverse need not hold (unlisted entries, see IniFileSection).
class IniFileIndex {
public:
    std::map<std::string, IniFileSection, std::less<>> sections;
    std::vector<std::string> sectionOrder;
    // Comment and blank lines after the last header or key line of the last
    // load.
    std::string trailingComment;
    // The comment character given to the last load; ';' before any load.
    char commentChar = ';';

    // Reads `in` to its end and adds what it finds to this document; it does
    // not clear first. On a non-empty document the first occurrence of every
    // section and key keeps its comment, value and place, and
    // `trailingComment` is replaced. Malformed lines are dropped silently.
    // Linear in the size of the input.
    void load(std::istream& in, char commentChar);

    // Empties the document; `commentChar` stays.
    void clear();

    // The value of `key` in `section`, or `defaultValue` when either is absent.
    std::string read(std::string_view section, std::string_view key,
                     std::string_view defaultValue) const;

    // The value read as the C library's atof reads it (so "2.5abc" gives 2.5,
    // "abc" gives 0, "0x10" gives 16) and rounded to float; `defaultValue`
    // when the section or key is absent.
    float read(std::string_view section, std::string_view key, float defaultValue) const;

private:
    const IniValue* find(std::string_view section, std::string_view key) const;
};

}  // namespace ini

#endif  // INI_INIFILEINDEX_H
