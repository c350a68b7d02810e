// One process-wide current INI document, reached through free functions.
//
// At most one document is open at a time. Opening closes the previous one
// first; closing discards it, edits included. Reads with no document open
// return their default.
#ifndef INI_INICURRENTFILE_H
#define INI_INICURRENTFILE_H

#include "IniExport.h"

#include <string>

// Closes any open document, then opens `name` and loads it with the comment
// character last given to ini_set_comment_char (';' by default). A file that
// cannot be read gives an open, empty document; an empty name opens nothing.
INI_API void ini_open(std::string name);

// Closes any open document, then opens one loaded from `text`.
INI_API void ini_open_from_string(std::string text);

// Discards the current document, if any.
INI_API void ini_close();

// Sets the comment character for later opens; the open document keeps the one
// it was loaded with.
INI_API void ini_set_comment_char(char c);

// The value of `key` in `section` of the current document, or `defaultValue`
// when no document is open or the section or key is absent.
INI_API std::string ini_read_string(std::string section, std::string key, std::string defaultValue);

// The value read as atof reads it ("abc" gives 0), rounded to float, or
// `defaultValue` when no document is open or the section or key is absent.
INI_API float ini_read_real(std::string section, std::string key, float defaultValue);

// Edits of the current document, in memory only: nothing here writes a file,
// and ini_close discards the edits. With no document open each of the four
// prints "<function>: no INI document is open" to standard error and ends
// the process with EXIT_FAILURE (exit handlers and static destructors run).

// Sets `key` in `section` to `newValue`, creating either when absent.
INI_API void ini_write_string(std::string section, std::string key, std::string newValue);

// Sets `key` in `section` to `newValue` written as "%.6g" ("2.5", "1e-05").
INI_API void ini_write_real(std::string section, std::string key, float newValue);

// Removes `key` from `section`, and the section once it holds no key.
INI_API void ini_key_delete(std::string section, std::string key);

// Removes `section` with all its keys.
INI_API void ini_section_delete(std::string section);

// False when no document is open or the section or key is absent.
INI_API bool ini_key_exists(std::string section, std::string key);

// False when no document is open or the section is absent.
INI_API bool ini_section_exists(std::string section);

// The current document as INI text, comments in place; the empty string when
// no document is open.
INI_API std::string ini_full_file_text();

#endif  // INI_INICURRENTFILE_H
