// Huge and hostile inputs: each must load without a crash and with the
// result the grammar gives, and render back. Time is not asserted here; the
// benchmarks measure it.
#include "IniFileIndex.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

namespace {

using ini_test::loadText;
using namespace std::string_literals;

constexpr std::size_t MiB = std::size_t{1} << 20;

struct HostileCase {
    const char* name;
    std::function<std::string()> make;
    std::function<void(const ini::IniFileIndex&, const std::string& text)> check;
};

std::string repeated(const std::string& piece, std::size_t times) {
    std::string out;
    out.reserve(piece.size() * times);
    for (std::size_t i = 0; i < times; ++i) {
        out += piece;
    }
    return out;
}

TEST(Hostile, LoadsAndRendersWithoutHarm) {
    const std::vector<HostileCase> cases = {
        {"a single 50 MiB line", [] { return "[s]\nk = " + std::string(50 * MiB, 'x'); },
         [](const auto& doc, const auto&) { EXPECT_EQ(doc.read("s", "k", "").size(), 50 * MiB); }},
        {"a million sections",
         [] {
             std::string text;
             for (int i = 0; i < 1000000; ++i) {
                 text += "[s" + std::to_string(i) + "]\nk = v\n";
             }
             return text;
         },
         [](const auto& doc, const auto& text) {
             EXPECT_EQ(doc.sectionOrder.size(), 1000000U);
             EXPECT_EQ(doc.read("s999999", "k", ""), "v");
             EXPECT_EQ(doc.toString(), text);
         }},
        // Each repeated header looks the section up once: a walk of the
        // section order per repeat made this take minutes.
        {"two hundred thousand sections, each repeated",
         [] {
             std::string text;
             for (const char* key : {"k", "j"}) {
                 for (int i = 0; i < 200000; ++i) {
                     text += "[s" + std::to_string(i) + "]\n" + key + " = v\n";
                 }
             }
             return text;
         },
         [](const auto& doc, const auto&) {
             EXPECT_EQ(doc.sectionOrder.size(), 200000U);
             EXPECT_EQ(doc.read("s199999", "j", ""), "v");
             EXPECT_EQ(doc.sections.at("s0").keyOrder, (std::vector<std::string>{"k", "j"}));
         }},
        {"a million keys in one section",
         [] {
             std::string text = "[s]\n";
             for (int i = 0; i < 1000000; ++i) {
                 text += "k" + std::to_string(i) + " = " + std::to_string(i) + "\n";
             }
             return text;
         },
         [](const auto& doc, const auto& text) {
             EXPECT_EQ(doc.sections.at("s").keyOrder.size(), 1000000U);
             EXPECT_EQ(doc.read("s", "k123456", ""), "123456");
             EXPECT_EQ(doc.toString(), text);
         }},
        {"only CRs", [] { return std::string(8 * MiB, '\r'); },
         [](const auto& doc, const auto&) {  // one line of blanks: an empty line
             EXPECT_EQ(doc.trailingComment, std::string(8 * MiB, '\r') + "\n");
         }},
        {"only CR LF", [] { return repeated("\r\n", 4 * MiB); },
         [](const auto& doc, const auto& text) { EXPECT_EQ(doc.toString(), text); }},
        // Lines that store nothing are kept as text; compared with
        // EXPECT_TRUE so that a failure does not print megabytes.
        {"only [", [] { return std::string(8 * MiB, '['); },
         [](const auto& doc, const auto& text) {
             EXPECT_TRUE(doc.sections.empty());
             EXPECT_TRUE(doc.trailingComment == text + "\n");
         }},
        {"only [ lines", [] { return repeated("[\n", 4 * MiB); },
         [](const auto& doc, const auto& text) {
             EXPECT_TRUE(doc.sections.empty());
             EXPECT_TRUE(doc.trailingComment == text);
         }},
        {"only =", [] { return std::string(8 * MiB, '='); },
         [](const auto& doc, const auto&) { EXPECT_EQ(doc.read("", "", "").size(), 8 * MiB - 1); }},
        {"only = lines", [] { return repeated("=\n", 4 * MiB); },
         [](const auto& doc, const auto& text) {
             EXPECT_TRUE(doc.sections.empty());
             EXPECT_TRUE(doc.toString() == text);
         }},
        {"NUL bytes everywhere", [] { return repeated("[\0]\n\0=\0;\0\n"s, MiB); },
         [](const auto& doc, const auto&) {
             EXPECT_EQ(doc.read(std::string(1, '\0'), std::string(1, '\0'), ""), std::string(1, '\0'));
         }},
        {"invalid UTF-8",
         [] {
             return repeated("[\xC3\x28\xFF]\n\xE2\x82=\xF0\x28\x8C\xBC ; \xC0\xAF\n",
                             std::size_t{256} * 1024);
         },
         [](const auto& doc, const auto& text) {
             EXPECT_EQ(doc.read("\xC3\x28\xFF", "\xE2\x82", ""), "\xF0\x28\x8C\xBC");
             // The first header and key are normalised, every repeat is kept.
             const std::string first = "[\xC3\x28\xFF]\n\xE2\x82=\xF0\x28\x8C\xBC ; \xC0\xAF\n";
             EXPECT_TRUE(doc.toString() == "[\xC3\x28\xFF]\n\xE2\x82 = \xF0\x28\x8C\xBC ; \xC0\xAF\n" +
                                               text.substr(first.size()));
             EXPECT_GT(text.size(), 4 * MiB);
         }},
        {"many comment lines", [] { return repeated("; comment line\n", 2 * MiB); },
         [](const auto& doc, const auto& text) { EXPECT_EQ(doc.trailingComment, text); }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string text = c.make();
        const auto doc = loadText(text);
        EXPECT_EQ(ini_test::invariantViolation(doc), "");
        c.check(doc, text);
    }
}

TEST(Hostile, HundredMegabyteFile) {
    const auto path = std::filesystem::temp_directory_path() / ("ini_hostile_" + std::to_string(::getpid()));
    std::string text;
    {
        std::ofstream out(path, std::ios::binary);
        const std::string section = "; a comment before the section\n[section]\n";
        std::size_t written = 0;
        for (int s = 0; written < 100 * MiB; ++s) {
            std::string chunk = section;
            chunk.replace(chunk.find(']'), 0, std::to_string(s));
            for (int k = 0; k < 20; ++k) {
                chunk += "key" + std::to_string(k) + " = value " + std::to_string(s * k) + " ; note\n";
            }
            out << chunk;
            written += chunk.size();
        }
    }
    ini::IniFileIndex doc;
    {
        std::ifstream in(path, std::ios::binary);
        doc.load(in, ';');
    }
    EXPECT_GT(doc.sectionOrder.size(), 100000U);
    EXPECT_EQ(doc.read("section77", "key3", ""), "value 231");
    EXPECT_TRUE(doc.saveToFile(path.string()));
    EXPECT_GE(std::filesystem::file_size(path), 100 * MiB);
    std::filesystem::remove(path);
}

}  // namespace
