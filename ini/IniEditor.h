// Edits INI text in place, changing only the lines an edit is about.
//
// IniEditor holds the text itself rather than a document: every byte that
// an edit does not concern (spacing, indentation, quoting, comments, line
// endings, a byte order mark, lines that store nothing) stays as it was.
// Under the classic dialect (the default) its lookups are those of
// IniFileIndex loading the same text, and after any edit the text loads back
// with exactly the lookups the editor reports; under another dialect they
// are those of the program that owns such files (see IniDialect.h).
//
// Use IniFileIndex to build or normalise documents; use IniEditor to change
// a file that people also edit by hand.
//
// The editor reads the text into a list of lines as far as its lookups need
// (a key found early is set without reading the rest; an absent one reads
// to the end), indexes a section's keys when a lookup or edit first asks
// for that section (linear in the section, once), and keeps the index up
// to date as it edits: a lookup or an edit then costs a hash lookup plus
// the lines it touches, so W edits of an N-byte text cost about N + W log N.
// text() assembles the text when it is asked for after an edit (linear once,
// then cached). As lookups may read and index, even a const editor must not
// be used from several threads at once.
#ifndef INI_INIEDITOR_H
#define INI_INIEDITOR_H

#include "IniDialect.h"
#include "IniExport.h"
#include "IniTypes.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace ini {

enum class IniEditStatus {
    changed,    // the text changed
    unchanged,  // the text already said so
    absent,     // a deletion found nothing to delete
    refused,    // the text form cannot carry the name or value; nothing changed
};

struct IniEditResult {
    IniEditStatus status = IniEditStatus::unchanged;
    std::string reason;  // why an edit was refused
};

// A line that the dialect's owner rejects.
struct IniProblem {
    std::size_t line = 0;  // counted from 1
    std::string what;
};

// The comment of a section or key: the comment lines directly above its
// header or line (no blank line between), and the inline comment after its
// value.
struct IniComment {
    // Each line's text without indentation, the comment character and the
    // blanks after it, and its line ending.
    std::vector<std::string> lines;
    std::string raw;  // those lines as written, line endings included
    // The inline comment without the comment character and the blanks after
    // it, and as written.
    std::string inlineText;
    std::string inlineRaw;
};

class INI_API IniEditor {
public:
    // Takes the text as it is; nothing is checked or rewritten.
    explicit IniEditor(std::string text = {}, char commentChar = ';');
    // Reads and edits as `dialect` says; lookups are then those of its owner.
    IniEditor(std::string text, IniDialect dialect);
    // A copy indexes the other's text anew.
    IniEditor(const IniEditor& other);
    IniEditor& operator=(const IniEditor& other);
    IniEditor(IniEditor&& other) noexcept;
    IniEditor& operator=(IniEditor&& other) noexcept;
    ~IniEditor();

    const std::string& text() const;
    char commentChar() const { return commentChar_; }
    const IniDialect& dialect() const;

    // Lookups, as IniFileIndex answers them for the same text under classic:
    // the first value of a key wins, `k =` is absent, keys above the first
    // header are in the section "". Other dialects read as their owner: the
    // last value may win, names may ignore case, a default section may be
    // seen from every other. Each is a search in the index.
    std::string read(std::string_view section, std::string_view key, std::string_view defaultValue) const;
    float read(std::string_view section, std::string_view key, float defaultValue) const;
    bool sectionExists(std::string_view section) const;
    // The value read() gives, or std::nullopt when the key is absent.
    std::optional<std::string> lookup(std::string_view section, std::string_view key) const;
    // The same value read as a type (see IniTypes.h): absent, not of the
    // type (with the text), or the value; `.valueOr(d)` gives a default.
    IniRead<std::int64_t> readInt(std::string_view section, std::string_view key) const;
    IniRead<std::uint64_t> readUint(std::string_view section, std::string_view key) const;
    IniRead<double> readDouble(std::string_view section, std::string_view key) const;
    IniRead<bool> readBool(std::string_view section, std::string_view key) const;
    // Every value of `key` in text order (after the last empty one where
    // the dialect resets lists so); empty when the key is absent.
    std::vector<std::string> values(std::string_view section, std::string_view key) const;
    // The same values, a key without a value (mysql's bare "key" line) as
    // std::nullopt.
    std::vector<std::optional<std::string>> valueLines(std::string_view section, std::string_view key) const;
    // The lines the dialect's owner rejects, in order; none under classic.
    std::vector<IniProblem> problems() const;
    bool keyExists(std::string_view section, std::string_view key) const;
    // The names of the sections that have a header, in order, each once.
    std::vector<std::string> sectionNames() const;
    // The keys of `section` in the order they first appear, each once.
    std::vector<std::string> keyNames(std::string_view section) const;
    // The same keys, each with the value read() gives, in one reading of the
    // text.
    std::vector<std::pair<std::string, std::string>> entries(std::string_view section) const;
    // entries() of every section, in one reading of the text: the keys above
    // the first header first when there are any, then the sections in the
    // order of sectionNames().
    std::vector<std::pair<std::string, std::vector<std::pair<std::string, std::string>>>> allEntries() const;
    // The bytes of text the editor has classified since it was built: the
    // whole text once, then the lines each lookup and edit looks at. Lets a
    // test tell linear from quadratic work without a clock.
    std::size_t bytesScanned() const;

    // Sets `key` in `section` to `value`. An existing key gets only the value
    // bytes of the line read() reads replaced (quoted only when the loader
    // needs it; continuation lines of that value go with it); spelling,
    // spacing, inline comment and line ending stay. A key whose only lines
    // read as no value (`k =`, or text the format cannot read, such as a
    // quoted value followed by more text) gets its first such line's value
    // replaced up to the end of the line. An absent key gets a line
    // after the section's last key line, in the style of that section; an
    // absent section is added at the end. Refused, with nothing changed, for
    // an empty value, a value holding a newline, or one that needs quotes and
    // holds '"'; a key holding '=' or a newline, starting with '[', the
    // comment character or a byte order mark, or with blanks at an end; a
    // new section whose name holds '[', ']' or a newline, or any new section
    // when '[' is the comment character; and, under any dialect, a key and
    // value that would not read back as written.
    IniEditResult write(std::string_view section, std::string_view key, std::string_view value);
    // As above, with the value written as printf's "%.6g" in the "C" locale.
    IniEditResult write(std::string_view section, std::string_view key, float value);
    // As above, with the value's canonical text (see IniTypes.h), which reads
    // back as the same value; a double with `significantDigits` when not 0.
    IniEditResult writeInt(std::string_view section, std::string_view key, std::int64_t value);
    IniEditResult writeUint(std::string_view section, std::string_view key, std::uint64_t value);
    IniEditResult writeDouble(std::string_view section, std::string_view key, double value,
                              int significantDigits = 0);
    IniEditResult writeBool(std::string_view section, std::string_view key, bool value);

    // Makes `key` a key without a value (a line of the key name alone) where
    // the dialect has such keys: the line read() reads loses its delimiter
    // and value, keeping its spelling, indentation and any inline comment;
    // an absent key gets such a line where write() would add one. Refused
    // under a dialect without such keys.
    IniEditResult writeNoValue(std::string_view section, std::string_view key);
    // Whether the line read() reads for `key` is a key without a value.
    bool hasNoValue(std::string_view section, std::string_view key) const;
    // Adds a header for `section` at the end of the text, in the text's
    // style, when the section does not exist; unchanged when it does (and
    // for "", which needs no header). Refused for a name write() refuses.
    IniEditResult addSection(std::string_view section);

    // Removes every key line of `key` in `section`, so that the key is gone;
    // the comment lines right above each go too when `withComment` is set.
    // Absent when no line of the key holds anything after its '='. Should
    // the deletion leave a line that starts with a byte order mark first in
    // the text (where it would be skipped), an empty line stays before it.
    IniEditResult delKey(std::string_view section, std::string_view key, bool withComment = false);

    // Removes each header of `section` and the lines under it up to the next
    // header, except the comment and blank lines that lead up to that next
    // header. For "" the key lines above the first header go as well. A
    // line starting with a byte order mark is guarded as by delKey.
    IniEditResult delSection(std::string_view section);

    // Adds a value: a new line after the key's last line when it has lines,
    // else as write() adds a key. Refused as write().
    IniEditResult add(std::string_view section, std::string_view key, std::string_view value);
    // Sets the line read() reads to `value` and removes the key's other lines.
    IniEditResult writeAll(std::string_view section, std::string_view key, std::string_view value);
    // Makes `key` hold exactly `values`, in this order: values already there
    // in that order keep their lines, else the line read() reads takes the
    // first and the others follow it; an empty list deletes the key.
    // Unchanged when the key holds the same values in any order. Refused, with
    // nothing changed, as write() is, for more than one value where the
    // owner keeps one value per key, and for an empty value where it resets
    // the list.
    IniEditResult writeValues(std::string_view section, std::string_view key,
                              const std::vector<std::string>& values);
    // Removes the lines of `key` whose value is `value`; absent when none is.
    IniEditResult delValue(std::string_view section, std::string_view key, std::string_view value);

    // Comments (see IniComment). A key's comment is that of the line read()
    // reads in the section itself. std::nullopt when the key or section is
    // absent.
    std::optional<IniComment> comment(std::string_view section, std::string_view key) const;
    std::optional<IniComment> sectionComment(std::string_view section) const;
    // Replaces the comment lines above the key's line or the section's first
    // header by one line per line of `text`, each the dialect's first comment
    // character, a blank and the line, indented as the line below; an empty
    // `text` removes them. Refused for a dialect without comments and for a
    // text holding a CR.
    IniEditResult setComment(std::string_view section, std::string_view key, std::string_view text);
    IniEditResult setSectionComment(std::string_view section, std::string_view text);
    // Sets the inline comment of the key's line (or removes it, for an empty
    // `text`), keeping the value as it is. Refused for a dialect without
    // inline comments, a value on several lines, or a comment that would
    // change how the line reads.
    IniEditResult setInlineComment(std::string_view section, std::string_view key, std::string_view text);
    // Comments out every line of the key in the section: each gets the
    // dialect's first comment character in front, the rest of the line kept
    // byte for byte. Absent when the section holds no line of the key.
    // commentOut and uncomment are refused, with the text as it was, when
    // the result would change how any other line reads or give a line the
    // dialect's owner rejects.
    IniEditResult commentOut(std::string_view section, std::string_view key);
    // Turns on a commented-out line of the key in the section: the last
    // comment line that, without its comment character and the blanks right
    // after it, is a line giving the key a value (`value`, when given) loses
    // those bytes; the rest stays byte for byte. Absent when there is none.
    IniEditResult uncomment(std::string_view section, std::string_view key,
                            std::optional<std::string_view> value = std::nullopt);
    // set, add and writeAll give a key that is absent from its section but
    // has a commented-out line there (as uncomment finds it) a new line right
    // after that one, next to its documentation, rather than after the
    // section's last key. The comment edits read the text anew after the
    // edit: each costs time linear in the text.

private:
    struct Index;
    enum class Placement { readLine, newLine };

    IniEditResult place(std::string_view section, std::string_view key, std::string_view value,
                        Placement placement);

    IniEditResult finishDeletion(std::string_view eol);
    // Appends a header of `section` (after a blank line where the text puts
    // one before its headers) and registers the new section; gives the
    // header's line.
    std::size_t appendSection(std::string_view section);
    // Replaces the comment lines above the line `target` of the index.
    IniEditResult replaceComment(std::size_t target, std::string_view text);
    // Indexes the text anew after an edit that changed which lines are
    // comments; with `restore`, puts that text back instead of the edited one.
    void reindex(const std::string* restore = nullptr);

    std::unique_ptr<Index> index_;
    char commentChar_ = ';';
};

}  // namespace ini

#endif  // INI_INIEDITOR_H
