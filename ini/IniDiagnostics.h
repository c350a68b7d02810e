// Findings about a text: what a dialect makes of lines that a person may not
// expect it to, each with its place in the text.
//
//     for (const ini::IniFinding& f : ini::diagnose(text, ini::IniDialect::python())) {
//         std::cout << path << ':' << f.line << ':' << f.column << ": " << f.message << '\n';
//     }
//
// The findings come from the same scanner the editor reads with, so they
// describe exactly what a lookup or an edit will see.
#ifndef INI_INIDIAGNOSTICS_H
#define INI_INIDIAGNOSTICS_H

#include "IniDialect.h"
#include "IniExport.h"

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace ini {

enum class IniFindingKind {
    rejected,             // a line the dialect's owner rejects (the whole file, then)
    storesNothing,        // text where a key was meant, an unreadable value, `k =` read as absent
    ignoredText,          // text after a header's closing bracket
    repeatedKey,          // a key set again where only one value is kept
    repeatedSection,      // a section's header seen again
    keyAboveFirstHeader,  // a key outside every section, in a text that has sections
    byteOrderMark,        // a UTF-8 byte order mark at the start
    mixedLineEndings,     // a line ending unlike the first line's
    noFinalNewline,       // the last line has no line ending
    commentCharInValue,   // a comment character that cuts a value, or one that is text where it looks like a
                          // comment
    blanksInsideQuotes,   // blanks before a closing quote, which are part of the value
    commentedKey,         // a key starting with '#' or ';': a comment under other rules
};

struct IniFinding {
    IniFindingKind kind = IniFindingKind::rejected;
    std::size_t line = 0;    // counted from 1
    std::size_t column = 0;  // in bytes, counted from 1
    std::size_t begin = 0;   // the bytes concerned, as offsets in the text
    std::size_t end = 0;
    std::string message;
};

// Every finding, in text order.
INI_API std::vector<IniFinding> diagnose(std::string_view text, const IniDialect& dialect);

// The kind's name, as "repeated-key".
INI_API const char* findingName(IniFindingKind kind);

}  // namespace ini

#endif  // INI_INIDIAGNOSTICS_H
