// One process-wide current INI document, reached through free functions.
//
// At most one document is open at a time. Opening closes the previous one
// first; closing discards it, edits included. Reads with no document open
// return their default.
#ifndef LAUNCHER_LAUNCHER_H
#define LAUNCHER_LAUNCHER_H

#include <string>

// Closes any open document, then opens `name` and loads it with the comment
// character last given to ini_set_comment_char (';' by default). A file that
// cannot be read gives an open, empty document; an empty name opens nothing.
void ini_open(std::string name);

// Closes any open document, then opens one loaded from `text`.
void ini_open_from_string(std::string text);

// Discards the current document, if any.
void ini_close();

// Sets the comment character for later opens; the open document keeps the one
// it was loaded with.
void ini_set_comment_char(char c);

// The value of `key` in `section` of the current document, or `defaultValue`
// when no document is open or the section or key is absent.
std::string ini_read_string(std::string section, std::string key, std::string defaultValue);

// The value read as atof reads it ("abc" gives 0), rounded to float, or
// `defaultValue` when no document is open or the section or key is absent.
float ini_read_real(std::string section, std::string key, float defaultValue);

#endif  // LAUNCHER_LAUNCHER_H
