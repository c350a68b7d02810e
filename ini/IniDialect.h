// The reading rules of one kind of INI file, as a value.
//
// The scanner reads every line through a dialect; the editor and iniedit
// take one and never ask which preset it is. The presets imitate the
// programs that own such files; `classic` is this library's own format.
#ifndef INI_INIDIALECT_H
#define INI_INIDIALECT_H

#include "IniExport.h"

#include <string>
#include <string_view>
#include <vector>

namespace ini {

struct INI_API IniDialect {
    // How a value's quotes are read.
    enum class Quotes {
        none,     // quotes are text
        classic,  // "..." holds the value verbatim; anything but a comment after it stores nothing
        php,      // "..." parts are unquoted where they start the value, backslashes kept
        mysql,    // a value wrapped whole in '...' or "..." loses them; a comment inside does not count
    };
    // Which escapes a value's backslashes start.
    enum class Escapes {
        none,
        mysql,  // \n \t \r \b \s \" \' \\ ; any other keeps its backslash
    };
    enum class InlineComments {
        none,        // a comment character inside a value is text
        anywhere,    // after the value's first character (classic) or anywhere outside quotes
        afterBlank,  // only after a blank or tab
    };
    enum class Continuation {
        none,
        indented,   // a line indented deeper than its key continues the value
        backslash,  // a line ending in '\' continues on the next
    };
    // Where a header's name ends.
    enum class Headers {
        firstClose,  // at the first ']'; the rest of the line is ignored
        lastClose,   // at the last ']', holding at least one byte; else the line is no header
        wholeLine,   // ']' must end the line (blanks aside); else the owner rejects it
    };
    enum class NoDelimiter {
        text,     // a line without delimiter stores nothing
        noValue,  // it is a key without a value
        error,    // the owner rejects the file
    };

    std::string name;
    // Characters that start a full-line comment (after blanks).
    std::string commentChars;
    // Characters that start an inline comment, and where.
    std::string inlineCommentChars;
    InlineComments inlineComments = InlineComments::none;
    std::string delimiters = "=";  // the first one on a line splits key and value
    Quotes quotes = Quotes::none;
    Escapes escapes = Escapes::none;
    Continuation continuation = Continuation::none;
    NoDelimiter noDelimiter = NoDelimiter::text;
    Headers headers = Headers::firstClose;
    bool unclosedHeaderIsError = false;  // "[" without the closing bracket
    bool indentedHeaderIsError = false;  // a header after blanks
    // With indentedHeaderIsError: an indentation holding a tab is allowed.
    bool tabIndentsHeaders = false;
    // The owner reads what follows a header's ']' as further statements: a
    // key or header there, or a name it would reject alone, is rejected.
    bool textAfterHeaderIsError = false;
    bool emptySectionIsError = false;  // "[]"
    bool trimSectionNames = false;     // blanks at the end of a name are dropped
    // Headers whose name holds '[' still open the section but register none.
    bool bracketInSectionNameRegisters = true;
    // The owner drops what an earlier section of the same name held; such a
    // file is reported, since an edit could land in the dropped part.
    bool repeatedSectionsReplace = false;
    // Blanks at a value's end are dropped (when not, still the CR of a
    // CRLF line ending).
    bool trimValueEnd = true;
    bool emptyKeyIsError = false;
    std::string forbiddenKeyChars;  // bytes the owner rejects in a key
    // Where '[' and ']' may stand in a key.
    enum class KeySuffix {
        none,    // anywhere, unless forbiddenKeyChars holds them
        offset,  // one trailing "[...]" (PHP arrays: "k[]", "env[PATH]"); "[" elsewhere is rejected
        locale,  // one trailing "[...]" of letters, digits and "-_.@" (GLib's "Name[de]"); else rejected
    };
    KeySuffix keySuffix = KeySuffix::none;
    // A line without delimiter holding one of these bytes is rejected.
    std::string forbiddenBareLineChars;
    // Words the owner rejects as a key or as a line alone, in any case
    // (PHP's true, on, null ...).
    std::vector<std::string> reservedWords;
    // A tab inside a line starts another statement for the owner (PHP):
    // a key holding a tab is rejected, and a reserved word after a tab.
    bool tabsSeparateStatements = false;
    // A CR that no '\n' follows ends a line for the owner: such a text is
    // rejected, and no name or value written may hold a CR.
    bool crBreaksLines = false;
    // The longest line the owner reads whole, '\n' included (0: no limit);
    // a longer one is rejected.
    std::size_t maxLineLength = 0;
    // A key may have several lines, each a value the owner keeps; where
    // not, a second line replaces the first or is rejected, and add refuses.
    bool keysRepeat = true;
    // Which value of a repeated key a lookup returns; every value is kept
    // for reading them all.
    bool lastValueWins = false;
    // An empty assignment drops the values before it from the list.
    bool emptyValueResetsList = false;
    // Whether `k =` reads as the empty value (or as no value at all).
    bool emptyValueIsValue = true;
    // ASCII letters compare without case; names keep their spelling.
    bool caseInsensitiveSections = false;
    bool caseInsensitiveKeys = false;
    // Key lines above the first header: allowed (section ""), or rejected.
    bool keysAboveFirstHeaderAreErrors = false;
    // A section whose keys every other section sees ("" for none).
    std::string defaultSection;
    // Whether UTF-8 byte order marks at the start of the text are skipped
    // (or read as part of the first line).
    bool skipsByteOrderMark = true;
    // A line starting with this character is a directive, such as
    // "!include", and stores nothing (NUL for none).
    char directiveChar = '\0';
    // Blanks trimmed around names and values, besides ' ', '\t' and '\r'.
    std::string extraBlanks;
    // How a new key line is written when no key line of the text shows a
    // style: "KEY = VALUE", or "KEY=VALUE" as the owner's own files are.
    bool blanksAroundNewDelimiter = true;
    // Keys whose every line the owner keeps as one more item of a list
    // (PHP's extension=, and "k[]"); other keys hold one value, the one a
    // lookup returns.
    std::vector<std::string> listKeys;
    bool listKeySuffix = false;  // a key ending in "[]" is a list

    // Replaces the full-line and inline comment characters by `chars`.
    void setCommentChars(std::string_view chars);
    bool isComment(char c) const { return is_one_of(c, commentChars); }
    bool isInlineComment(char c) const { return is_one_of(c, inlineCommentChars); }
    bool sameSection(std::string_view a, std::string_view b) const;
    // Whether any rule can make the owner reject a line.
    bool rejectsLines() const;
    bool sameKey(std::string_view a, std::string_view b) const;
    // Whether the owner keeps every line of `key` as an item of a list.
    bool isListKey(std::string_view key) const;

    // This library's own format, with `commentChar` as its comment character.
    static IniDialect classic(char commentChar = ';');
    // Python's configparser: RawConfigParser(strict=False), no interpolation.
    static IniDialect python();
    // PHP's parse_ini_string(text, true, INI_SCANNER_RAW).
    static IniDialect php();
    // MariaDB and MySQL option files, as my_print_defaults prints them.
    static IniDialect mysql();
    // Desktop entries and GLib key files.
    static IniDialect desktop();
    // systemd unit files and its *.conf files.
    static IniDialect systemd();

    // The preset called `name`; false when there is none.
    static bool byName(std::string_view name, IniDialect& out);
    static std::vector<std::string> presetNames();
    // The preset whose owner reads a file at `path`, by its name and the
    // directories above it (a unit file or a drop-in is systemd's, my.cnf is
    // MariaDB's ...), classic for any other; `why` (when not null) gets the
    // rule that chose it.
    static IniDialect forPath(std::string_view path, std::string* why = nullptr);

private:
    static bool is_one_of(char c, const std::string& set) {
        return set.size() == 1 ? c == set.front() : set.find(c) != std::string::npos;
    }
};

// Whether two names are equal ignoring ASCII case.
INI_API bool equalsIgnoringCase(std::string_view a, std::string_view b);

}  // namespace ini

#endif  // INI_INIDIALECT_H
