#include "IniFileIndex.h"

#include <fstream>
#include <iostream>

int main(int argc, char** argv) {
    const std::string path = argc > 1 ? argv[1] : "config.ini";
    ini::IniFileIndex doc;
    std::ifstream in(path);
    doc.load(in, ';');  // ';' starts a comment

    const float ms = doc.read("settings", "ms", 100.0F);  // 100 when absent
    doc.write("settings", "ms", ms * 2);                  // written as "%.6g"
    doc.write("settings", "note", "doubled; was " + doc.read("settings", "ms", "?"));

    if (!doc.saveToFile(path)) {  // comments stay in place
        std::cerr << "cannot save " << path << '\n';
        return 1;
    }
    std::cout << doc.toString();
}
