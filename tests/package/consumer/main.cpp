// Loads INI text, changes a value and renders it, through the installed
// header and library.
#include <IniFileIndex.h>

#include <iostream>
#include <sstream>

int main() {
    std::istringstream text("; greeting\n[hello]\nwho = world ; the default\n");
    ini::IniFileIndex doc;
    doc.load(text, ';');
    doc.write("hello", "who", "installed " + doc.read("hello", "who", "nobody"));
    std::cout << doc.toString();
}
