#include "IniEditor.h"
#include "IniFileSave.h"

#include <fstream>
#include <iostream>
#include <sstream>

int main(int argc, char** argv) {
    const std::string path = argc > 1 ? argv[1] : "config.ini";
    std::ostringstream text;
    text << std::ifstream(path, std::ios::binary).rdbuf();  // closed again before the save
    ini::IniEditor editor(text.str(), ';');

    const float ms = editor.read("settings", "ms", 100.0F);
    editor.write("settings", "ms", ms * 2);                          // only the value's bytes change
    const auto added = editor.write("settings", "note", "doubled");  // a line in the section's style
    if (added.status == ini::IniEditStatus::refused) {
        std::cerr << added.reason << '\n';
        return 1;
    }

    std::string error;
    if (!ini::writeFileAtomically(path, editor.text(), &error)) {
        std::cerr << error << '\n';
        return 1;
    }
}
