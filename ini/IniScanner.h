// The INI grammar: what each line of a text is, with byte positions.
//
// scanLine classifies one line; IniScanner walks a whole text line by line,
// skipping UTF-8 byte order marks at its start and remembering the current
// section. Neither copies or allocates: every view points into the scanned
// text, which must outlive them. IniFileIndex and IniEditor both read text
// through these, so they agree on every line.
#ifndef INI_INISCANNER_H
#define INI_INISCANNER_H

#include "IniDialect.h"
#include "IniExport.h"

#include <cstddef>
#include <set>
#include <string_view>
#include <utility>

namespace ini {

enum class IniLineKind {
    comment,  // empty after trimming blanks, tabs and CRs, or starting with the comment character
    header,   // "[" name "]" and anything after it
    key,      // holds "=" (and is neither of the above)
    other,    // anything else, "[" without "]" included: stores nothing
};

// One line. Offsets count from the start of the scanned text (for scanLine,
// from the start of the line given).
struct IniLine {
    IniLineKind kind = IniLineKind::other;
    std::size_t begin = 0;  // first byte of the line (after any byte order mark)
    std::size_t end = 0;    // end of its content: the '\n' or the end of the text
    std::size_t next = 0;   // start of the next line: past the '\n', or `end`

    // Header: the name between "[" and the first "]", verbatim. Other lines
    // (from IniScanner): the name of the section they are in ("" above the
    // first header).
    std::string_view section;

    // Key lines: the trimmed text before the first "=" ...
    std::string_view key;
    // ... the value without quotes ...
    std::string_view value;
    // ... the value as written, quotes included (empty at the place where a
    // value would go when there is none) ...
    std::size_t valueBegin = 0;
    std::size_t valueEnd = 0;
    // ... and the inline comment, from the comment character on, trimmed.
    std::size_t commentBegin = 0;
    std::size_t commentEnd = 0;

    // A key line that carries a value (not empty, and only a comment after a
    // closing quote). The loader stores it when the key is new in a section
    // it writes: the first value of a key wins.
    bool hasValue = false;
    // A key line whose text after the value is a comment, or empty when the
    // comment character is NUL: it sets the key's inline comment, creating
    // the key with an empty value when it has none.
    bool setsInlineComment = false;

    // A key line without a delimiter, read as a key with no value.
    bool noValue = false;
    // A header that registers its section (classic: none whose name holds
    // '['; they still open the section).
    bool registers = false;

    // From an IniScanner that tracks stores: whether the loader keeps this
    // line as a header or key of the document, that is whether it registers
    // a new section (a header whose name is new and holds no '[') or stores
    // a new key in a section the document writes (a listed one, or the one
    // above the first header). Every other line is kept as text.
    bool stores = false;

    // Why the owner of the dialect rejects this line, or null.
    const char* problem = nullptr;
};

// Classifies `line` (without its '\n'), read with `commentChar`.
INI_API IniLine scanLine(std::string_view line, char commentChar);
// Classifies one line as `dialect` reads it. Under a dialect with
// continuation lines, `line` may hold the '\n's of its continuation lines,
// as IniScanner returns them: one line then covers all of them.
INI_API IniLine scanLine(std::string_view line, const IniDialect& dialect);

// The value of a key line as the dialect's owner reads it: continuation
// lines joined, quotes and escapes resolved; empty for a key without one.
INI_API std::string valueOf(const IniLine& line, const IniDialect& dialect);

// Whether a key line as IniScanner returns it (with its continuation lines)
// is still open for one more: its last line, comment lines aside, ends in
// '\' under a dialect with backslash continuation. Whatever follows such a
// line joins its value.
INI_API bool awaitsContinuation(std::string_view line, const IniDialect& dialect);

// The bytes of blank the dialect trims at the start of `line`: its depth,
// which decides indented continuation lines.
INI_API std::size_t indentation(std::string_view line, const IniDialect& dialect);

// Walks `text` line by line:
//
//     ini::IniScanner scanner(text, ';');
//     for (ini::IniLine line; scanner.next(line);) { ... }
//
// A last line without '\n' counts; a final '\n' is not followed by an empty
// line. Linear in the text's size; nothing is allocated.
//
// With `trackStores`, the scanner also remembers the sections and keys seen
// so far (as views into the text) to fill IniLine::stores: that costs a set
// insertion per new section and key, and nothing per other line.
class INI_API IniScanner {
public:
    IniScanner(std::string_view text, char commentChar, bool trackStores = false);
    // Reads with `dialect`: a key line and its continuation lines come as
    // one line, and lines the owner rejects carry a problem.
    IniScanner(std::string_view text, IniDialect dialect);

    // Fills `line` with the next line; false at the end of the text.
    bool next(IniLine& line);

    std::string_view text() const { return text_; }
    const IniDialect& dialect() const { return dialect_; }

private:
    void track(IniLine& line);

    void nextOfDialect(IniLine& line, std::size_t end);
    std::size_t lineEnd(std::size_t from) const;
    std::size_t continuationEnd(const IniLine& line) const;

    std::string_view text_;
    IniDialect dialect_;
    bool classic_;  // the dialect holds exactly the classic format's rules
    bool headerSeen_ = false;
    std::set<std::string_view> headersSeen_;  // for repeatedSectionsReplace
    std::size_t pos_ = 0;
    std::string_view section_;
    bool trackStores_;
    // What the loader would hold so far: the sections that exist, whether
    // the current one is written, and every (section, key) with an entry.
    std::set<std::string_view> sections_;
    std::set<std::string_view> listed_;
    std::set<std::pair<std::string_view, std::string_view>> entries_;
    bool currentWritten_ = true;
};

// The number of UTF-8 byte order marks (EF BB BF) that `text` starts with,
// in bytes; they belong to no line.
INI_API std::size_t byteOrderMarkLength(std::string_view text);

}  // namespace ini

#endif  // INI_INISCANNER_H
