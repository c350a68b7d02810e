// Loads INI text, changes a value and renders it, through the installed
// headers and library: the document, then the current-file functions.
#include <IniCurrentFile.h>
#include <IniFileIndex.h>

#include <iostream>
#include <sstream>

int main() {
    std::istringstream text("; greeting\n[hello]\nwho = world ; the default\n");
    ini::IniFileIndex doc;
    doc.load(text, ';');
    doc.write("hello", "who", "installed " + doc.read("hello", "who", "nobody"));
    std::cout << doc.toString();

    ini_open_from_string("[hello]\nwho = current file\n");
    std::cout << ini_read_string("hello", "who", "nobody") << '\n';
}
