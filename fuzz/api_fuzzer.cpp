// Drives the ini_ functions with operations decoded from the input and
// checks them against a document of its own that takes the same steps:
// - with no document open, reads give their default, tests give false and
//   the export is empty (edits, which end the process then, are skipped);
// - with one open, every read, test and the export agree with the model,
//   which loads the same text with the comment character in force at the
//   open and applies the same edits;
// - an open of a file that cannot be read gives an empty document that keeps
//   the comment character of the last load.
// The model is the library's own document, so this checks the forwarding
// layer (open state, comment character, argument passing), not the
// document's behaviour, which the load and edit targets check.
#include "IniCurrentFile.h"
#include "fuzz_support.h"

#include <unistd.h>

#include <cmath>
#include <fstream>
#include <sstream>

namespace {

struct Model {
    bool open = false;
    char commentChar = ';';
    ini::IniFileIndex doc;
};

// A file for ini_open to read, one per process.
const std::string& scratchFile() {
    static const std::string path = "/tmp/ini_api_fuzzer_" + std::to_string(::getpid()) + ".ini";
    return path;
}

void check(const Model& model, const std::string& section, const std::string& key) {
    if (!model.open) {
        fuzz::require(ini_read_string(section, key, "d") == "d", "read without document");
        fuzz::require(ini_read_real(section, key, 2.5F) == 2.5F, "real read without document");
        fuzz::require(!ini_section_exists(section) && !ini_key_exists(section, key),
                      "tests without document");
        fuzz::require(ini_full_file_text().empty(), "export without document");
        return;
    }
    fuzz::require(ini_read_string(section, key, "d") == model.doc.read(section, key, "d"), "read", key);
    const float real = ini_read_real(section, key, 2.5F);
    const float expected = model.doc.read(section, key, 2.5F);
    fuzz::require(real == expected || (std::isnan(real) && std::isnan(expected)), "real read", key);
    fuzz::require(ini_section_exists(section) == model.doc.sectionExists(section), "section test", section);
    fuzz::require(ini_key_exists(section, key) == model.doc.keyExists(section, key), "key test", key);
    fuzz::require(ini_full_file_text() == model.doc.toString(), "export", model.doc.toString());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzz::Input in(data, size);
    Model model;
    ini_close();
    ini_set_comment_char(';');
    // The process's document keeps the comment character of its last load
    // across runs; start every run from a known one.
    ini_open_from_string("");
    ini_close();

    for (int step = 0; step < 64 && !in.empty(); ++step) {
        const std::uint8_t op = in.byte();
        const std::string section = in.name();
        const std::string key = in.name();
        switch (op % 10) {
        case 0: {
            const std::string text = in.text(4096);
            ini_open_from_string(text);
            model.doc.clear();
            std::istringstream stream(text);
            model.doc.load(stream, model.commentChar);
            model.open = true;
            break;
        }
        case 1: {
            // A readable file, a missing one, or the empty name.
            const std::uint8_t kind = in.byte() % 3;
            const std::string text = in.text(4096);
            model.doc.clear();
            if (kind == 0) {
                std::ofstream(scratchFile(), std::ios::binary) << text;
                ini_open(scratchFile());
                std::istringstream stream(text);
                model.doc.load(stream, model.commentChar);
            } else {
                std::remove(scratchFile().c_str());
                ini_open(kind == 1 ? scratchFile() : std::string());
            }
            model.open = kind != 2;
            break;
        }
        case 2:
            ini_close();
            model.open = false;
            model.doc.clear();
            break;
        case 3:
            model.commentChar = static_cast<char>(in.byte());
            ini_set_comment_char(model.commentChar);
            break;
        case 4:
            if (model.open) {
                const std::string value = in.text();
                ini_write_string(section, key, value);
                model.doc.write(section, key, value);
            }
            break;
        case 5:
            if (model.open) {
                const float value = in.real();
                ini_write_real(section, key, value);
                model.doc.write(section, key, value);
            }
            break;
        case 6:
            if (model.open) {
                ini_key_delete(section, key);
                model.doc.delKey(section, key);
            }
            break;
        case 7:
            if (model.open) {
                ini_section_delete(section);
                model.doc.delSection(section);
            }
            break;
        default:
            break;  // only the checks below
        }
        check(model, section, key);
    }
    std::remove(scratchFile().c_str());
    return 0;
}
