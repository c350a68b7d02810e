// The current-file API: free functions over one process-wide INI document.
#include "IniCurrentFile.h"

#include "IniFileIndex.h"
#include "IniFileSave.h"

#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <utility>

namespace {

// Constructed in this order before main and destroyed in reverse at exit.
const std::string IniFromStringFilename = "<IniFromString>";
// The name of the current document; empty while none is open, and then
// currIni is empty too, which makes every open start from nothing.
std::string currIniFile;
ini::IniFileIndex currIni;
char commentChar = ';';

bool documentOpen() { return !currIniFile.empty(); }

// An edit with no document open is a programming error in the caller: say
// which call it was and end the process with a failure status.
void require_open_document(const char* function) {
    if (!documentOpen()) {
        std::fprintf(stderr, "%s: no INI document is open\n", function);
        std::exit(EXIT_FAILURE);
    }
}

}  // namespace

// The strings are taken by value because the interface says so.
// NOLINTBEGIN(performance-unnecessary-value-param)
void ini_open(std::string name) {
    ini_close();
    currIniFile = std::move(name);
    std::string text;
    if (ini::readFile(currIniFile, text)) {
        std::istringstream in(text);
        currIni.load(in, commentChar);
    }
}

void ini_open_from_string(std::string text) {
    ini_close();
    currIniFile = IniFromStringFilename;
    std::istringstream in(text);
    currIni.load(in, commentChar);
}

void ini_close() {
    if (documentOpen()) {
        currIniFile.clear();
        currIni.clear();
    }
}

void ini_set_comment_char(char c) { commentChar = c; }

std::string ini_read_string(std::string section, std::string key, std::string defaultValue) {
    if (!documentOpen()) {
        return defaultValue;
    }
    return currIni.read(section, key, defaultValue);
}

float ini_read_real(std::string section, std::string key, float defaultValue) {
    if (!documentOpen()) {
        return defaultValue;
    }
    return currIni.read(section, key, defaultValue);
}

void ini_write_string(std::string section, std::string key, std::string newValue) {
    require_open_document("ini_write_string");
    currIni.write(section, key, newValue);
}

void ini_write_real(std::string section, std::string key, float newValue) {
    require_open_document("ini_write_real");
    currIni.write(section, key, newValue);
}

void ini_key_delete(std::string section, std::string key) {
    require_open_document("ini_key_delete");
    currIni.delKey(section, key);
}

void ini_section_delete(std::string section) {
    require_open_document("ini_section_delete");
    currIni.delSection(section);
}

bool ini_key_exists(std::string section, std::string key) {
    return documentOpen() && currIni.keyExists(section, key);
}

bool ini_section_exists(std::string section) { return documentOpen() && currIni.sectionExists(section); }

std::string ini_full_file_text() { return documentOpen() ? currIni.toString() : std::string(); }
// NOLINTEND(performance-unnecessary-value-param)
