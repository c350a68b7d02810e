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

#include "IniExport.h"
#include "IniTypes.h"

#include <cstdint>
#include <iosfwd>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace ini {

// One key's entry.
struct IniValue {
    // The value text as loaded; quotes around a quoted value are not kept.
    std::string value;
    // The lines that stood before the key line and stored nothing (comments,
    // blank lines, and any other line the loader keeps as text), each line
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
    // The lines that stood before the header line and stored nothing, as for
    // IniValue::comment.
    std::string comment;
    std::map<std::string, IniValue, std::less<>> values;
    std::vector<std::string> keyOrder;
};

// The document. Every name in `sectionOrder` is a key of `sections` and every
// name in a `keyOrder` is a key of its section's `values`, each at most once;
// the reverse need not hold (unlisted entries, see IniFileSection).
class INI_API IniFileIndex {
public:
    std::map<std::string, IniFileSection, std::less<>> sections;
    std::vector<std::string> sectionOrder;
    // The lines after the last header or key line of the last load that
    // stored something.
    std::string trailingComment;
    // The comment character given to the last load; ';' before any load.
    char commentChar = ';';

    // Reads `in` to its end and adds what it finds to this document; it does
    // not clear first. On a non-empty document the first occurrence of every
    // section and key keeps its comment, value and place, and
    // `trailingComment` is replaced. Lines that store nothing (malformed
    // lines, repeats) are kept as text in the comment blocks, and UTF-8 byte
    // order marks at the start of the text are skipped.
    // Time: linear in the input's size, plus one map lookup (logarithmic in
    // the number of sections or keys) per header and key line. The stream is
    // read in 64 KiB blocks and never held whole, and is left at its end with
    // eofbit set; its exception mask is kept and throws only for badbit (a
    // read error).
    void load(std::istream& in, char commentChar);

    // Empties the document; `commentChar` stays.
    void clear();

    // The value of `key` in `section`, or `defaultValue` when either is absent.
    std::string read(std::string_view section, std::string_view key, std::string_view defaultValue) const;

    // The value read as the C library's atof reads it in the "C" locale,
    // whatever the process locale (so "2.5abc" gives 2.5, "abc" gives 0,
    // "0x10" gives 16, "1,5" gives 1) and rounded to float; `defaultValue`
    // when the section or key is absent.
    float read(std::string_view section, std::string_view key, float defaultValue) const;

    // The value read() gives, or std::nullopt when the key is absent.
    std::optional<std::string> lookup(std::string_view section, std::string_view key) const;
    // The same value read as a type (see IniTypes.h): absent, not of the
    // type (with the text), or the value; `.valueOr(d)` gives a default.
    IniRead<std::int64_t> readInt(std::string_view section, std::string_view key) const;
    IniRead<std::uint64_t> readUint(std::string_view section, std::string_view key) const;
    IniRead<double> readDouble(std::string_view section, std::string_view key) const;
    IniRead<bool> readBool(std::string_view section, std::string_view key) const;

    // True when the section exists, listed or not.
    bool sectionExists(std::string_view section) const;

    // True when the section exists and holds the key, listed or not.
    bool keyExists(std::string_view section, std::string_view key) const;

    // Sets the value of `key` in `section`. A section or key that is absent
    // is created with empty comments and appended to the written order; an
    // existing key keeps its place, comment and inline comment. An unlisted
    // entry stays unlisted. Any value is accepted; see toString for how it
    // is written.
    void write(std::string_view section, std::string_view key, std::string_view newValue);

    // As above, with the value written as printf's "%.6g" writes it in the
    // "C" locale: "2.5", "1e-05", "1.23457e+06", "-0", "inf", "nan".
    void write(std::string_view section, std::string_view key, float newValue);

    // As above, with the value's canonical text (see IniTypes.h), which reads
    // back as the same value; a double with `significantDigits` when not 0.
    void writeInt(std::string_view section, std::string_view key, std::int64_t newValue);
    void writeUint(std::string_view section, std::string_view key, std::uint64_t newValue);
    void writeDouble(std::string_view section, std::string_view key, double newValue,
                     int significantDigits = 0);
    void writeBool(std::string_view section, std::string_view key, bool newValue);

    // Removes the key with its comments; removes the section as well when
    // that leaves it without any key (listed or not). Absent names change
    // nothing. Linear in the section's number of keys.
    void delKey(std::string_view section, std::string_view key);

    // Removes the section with its comment and keys; absent names change
    // nothing. Linear in the number of sections.
    void delSection(std::string_view section);

    // The document as INI text: for each listed section its comment block,
    // "[name]" and its listed keys, each as its comment block, then
    // "key = value", then " " and the inline comment if any; then the
    // trailing comment. Keys of an unlisted section with the empty name (keys
    // that stood above the first header) come first, without a header.
    // Values that start or end with a blank or tab, or hold the comment
    // character, are written in double quotes; an empty value as nothing.
    // Nothing is escaped, so a value holding '"' or a newline, a key holding
    // '=' and a name holding ']' do not read back as they were. A text that
    // would start with a UTF-8 byte order mark (which a load skips) gets an
    // empty line first. Time: linear in the text's size, plus one lookup per
    // listed key.
    std::string toString() const;

    // Writes toString() to `path` in place: the file keeps its inode, links,
    // permissions and owner. The new size is reserved before anything is
    // overwritten, so a full disk, a quota or a file-size limit gives false
    // with the old content whole; false too when the file cannot be opened
    // or a write or the close fails (a crash mid-write can still leave a mix).
    // A document without any section and without trailing comment creates no
    // file: when none can be read at `path` the result is true and nothing is
    // touched.
    bool saveToFile(const std::string& path) const;

    // Writes toString() to a new file beside `path` and renames it over the
    // target (following symbolic links), keeping mode and, where permitted,
    // owner: a crash leaves either the old or the new file, never a mix.
    // Other hard links keep the old content. False, with nothing changed,
    // on any failure before the rename; true once the new file is in place
    // (even when flushing its directory then fails). A device or pipe at the
    // path is written through. The same rule as saveToFile for an empty
    // document.
    bool saveToFileAtomically(const std::string& path) const;

private:
    bool nothingToSave(const std::string& path) const;
    const IniValue* find(std::string_view section, std::string_view key) const;
};

}  // namespace ini

#endif  // INI_INIFILEINDEX_H
