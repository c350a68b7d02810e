// The source-preserving editor: each edit shown as the text before and after,
// its lookups against the document's on the same text, and edits of real
// files that must change only the intended lines.
#include "IniEditor.h"
#include "IniFileIndex.h"
#include "IniScanner.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

namespace {

using ini::IniEditor;
using ini::IniEditStatus;

struct EditCase {
    const char* name;
    std::string before;
    std::function<ini::IniEditResult(IniEditor&)> edit;
    std::string after;
    IniEditStatus status = IniEditStatus::changed;
};

// Applies each edit; the text must become `after` and read back through the
// document with the lookups the editor reports.
void expectEdits(const std::vector<EditCase>& cases) {
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        IniEditor editor(c.before);
        const auto result = c.edit(editor);
        EXPECT_EQ(ini_test::escaped(editor.text()), ini_test::escaped(c.after));
        EXPECT_EQ(result.status, c.status) << result.reason;
        const auto doc = ini_test::loadText(editor.text());
        EXPECT_EQ(editor.sectionNames(), doc.sectionOrder);
        for (const auto& [name, section] : doc.sections) {
            EXPECT_EQ(editor.keyNames(name), section.keyOrder) << name;
            for (const auto& [key, entry] : section.values) {
                EXPECT_EQ(editor.read(name, key, "\x01"), entry.value) << name << "/" << key;
            }
        }
    }
}

auto set(const std::string& section, const std::string& key, const std::string& value) {
    return [=](IniEditor& e) { return e.write(section, key, value); };
}

TEST(EditorWrite, ReplacesOnlyTheValueOfAnExistingKey) {
    expectEdits({
        {"spacing, inline comment and CRLF stay", "[s]\r\n  key\t=  old   ; note\r\nnext=1\r\n",
         set("s", "key", "new"), "[s]\r\n  key\t=  new   ; note\r\nnext=1\r\n"},
        {"quotes that are no longer needed go", "[s]\nk = \"old\" ;c\n", set("s", "k", "new"),
         "[s]\nk = new ;c\n"},
        {"quotes where the loader needs them", "[s]\nk=v;c\n", set("s", "k", "a;b"), "[s]\nk=\"a;b\";c\n"},
        {"blanks at the ends are quoted", "[s]\nk = v\n", set("s", "k", " padded "),
         "[s]\nk = \" padded \"\n"},
        {"a CR at an end is quoted", "[s]\nk = v\n", set("s", "k", "x\r"), "[s]\nk = \"x\r\"\n"},
        {"the first of repeated keys is the one read", "[s]\nk = 1\nk = 2\n", set("s", "k", "9"),
         "[s]\nk = 9\nk = 2\n"},
        {"under a repeated header", "[s]\na = 1\n[t]\n[s]\nb = 2\n", set("s", "b", "9"),
         "[s]\na = 1\n[t]\n[s]\nb = 9\n"},
        {"the byte order mark stays", "\xEF\xBB\xBF[s]\nk = v\n", set("s", "k", "w"),
         "\xEF\xBB\xBF[s]\nk = w\n"},
        {"keys above the first header", "k = v\n[s]\nk = x\n", set("", "k", "w"), "k = w\n[s]\nk = x\n"},
        {"same value: nothing changes, quotes included", "[s]\nk = \"v\"\n", set("s", "k", "v"),
         "[s]\nk = \"v\"\n", IniEditStatus::unchanged},
        {"an empty-valued line takes the value", "[s]\nk =\nj = 1\n", set("s", "k", "v"),
         "[s]\nk = v\nj = 1\n"},
        {"empty quotes take the value", "[s]\nk=\"\"\n", set("s", "k", "v"), "[s]\nk=v\n"},
        {"an entry made by an inline comment", "[s]\nk = \"\" ; c\n", set("s", "k", "v"), "[s]\nk = v ; c\n"},
        {"a float", "[s]\nk = 1\n", [](IniEditor& e) { return e.write("s", "k", 2.5F); }, "[s]\nk = 2.5\n"},
    });
}

TEST(EditorWrite, AddsAbsentKeysInTheSectionsStyle) {
    expectEdits({
        {"after the last key line, before trailing comments", "[s]\na=1\nb=2\n\n; about t\n[t]\n",
         set("s", "c", "3"), "[s]\na=1\nb=2\nc=3\n\n; about t\n[t]\n"},
        {"indented and spaced", "[s]\n  a = 1\n", set("s", "c", "3"), "[s]\n  a = 1\n  c = 3\n"},
        {"CRLF file", "[s]\r\na = 1\r\n", set("s", "b", "2"), "[s]\r\na = 1\r\nb = 2\r\n"},
        {"right after the header of an empty section", "[s]\n[t]\n", set("s", "k", "v"), "[s]\nk = v\n[t]\n"},
        {"in the first occurrence of a repeated section", "[s]\na = 1\n[t]\n[s]\nb = 2\n", set("s", "c", "3"),
         "[s]\na = 1\nc = 3\n[t]\n[s]\nb = 2\n"},
        {"last line without a newline", "[a]\nx = 1", set("a", "y", "2"), "[a]\nx = 1\ny = 2"},
        {"above the first header, after the keys there", "a = 1\n[s]\n", set("", "b", "2"),
         "a = 1\nb = 2\n[s]\n"},
        {"above the first header, at the start", "; c\n[s]\nx=1\n", set("", "b", "2"),
         "b=2\n; c\n[s]\nx=1\n"},
        {"into an empty text", "", set("", "k", "v"), "k = v\n"},
        {"after a byte order mark", "\xEF\xBB\xBF[s]\n", set("", "k", "v"), "\xEF\xBB\xBFk = v\n[s]\n"},
    });
}

TEST(EditorWrite, AddsAbsentSectionsAtTheEnd) {
    expectEdits({
        {"no blank lines between sections: none added", "[a]\nx = 1\n", set("c", "k", "v"),
         "[a]\nx = 1\n[c]\nk = v\n"},
        {"blank lines between sections: one added", "[a]\nx=1\n\n[b]\ny=2\n", set("c", "k", "v"),
         "[a]\nx=1\n\n[b]\ny=2\n\n[c]\nk=v\n"},
        {"never two", "[a]\nx=1\n\n[b]\ny=2\n\n", set("c", "k", "v"), "[a]\nx=1\n\n[b]\ny=2\n\n[c]\nk=v\n"},
        {"last line without a newline", "[a]\nx = 1", set("c", "k", "v"), "[a]\nx = 1\n[c]\nk = v\n"},
        {"CRLF", "[a]\r\nx = 1\r\n", set("c", "k", "v"), "[a]\r\nx = 1\r\n[c]\r\nk = v\r\n"},
        {"into an empty text", "", set("c", "k", "v"), "[c]\nk = v\n"},
    });
}

TEST(EditorWrite, RefusesWhatTheTextCannotCarry) {
    const std::string text = "[s]\nk = v\n";
    struct Case {
        const char* section;
        const char* key;
        const char* value;
    };
    for (const auto& c : std::vector<Case>{
             {"s", "k", ""},
             {"s", "k", "a\nb"},
             {"s", "k", " \"x\" "},     // needs quotes, holds a quote
             {"s", "k", "\"quoted\""},  // starts with a quote
             {"s", "a=b", "v"},
             {"s", "[k", "v"},
             {"s", ";k", "v"},
             {"s", " k", "v"},
             {"", "\xEF\xBB\xBFk", "v"},  // at the start of a text it would be skipped
             {"s", "k\n", "v"},
             {"a]b", "k", "v"},
             {"a[b", "k", "v"},
             {"a\nb", "k", "v"},
         }) {
        SCOPED_TRACE(std::string(c.section) + "/" + c.key + "=" + c.value);
        IniEditor editor(text);
        const auto result = editor.write(c.section, c.key, c.value);
        EXPECT_EQ(result.status, IniEditStatus::refused);
        EXPECT_FALSE(result.reason.empty());
        EXPECT_EQ(editor.text(), text);
    }
}

TEST(EditorDelete, KeysAndSections) {
    expectEdits({
        {"a key's line only", "[s]\n; doc\nk = 1\nj = 2\n", [](IniEditor& e) { return e.delKey("s", "k"); },
         "[s]\n; doc\nj = 2\n"},
        {"with the comment lines above", "[s]\nx = 0\n\n; doc\n; more\nk = 1\nj = 2\n",
         [](IniEditor& e) { return e.delKey("s", "k", true); }, "[s]\nx = 0\n\nj = 2\n"},
        {"every line of a repeated key", "[s]\nk = 1\nx = 0\nk = 2\n[t]\nk = 3\n",
         [](IniEditor& e) { return e.delKey("s", "k"); }, "[s]\nx = 0\n[t]\nk = 3\n"},
        {"above the first header", "a = 1\n[s]\na = 2\n", [](IniEditor& e) { return e.delKey("", "a"); },
         "[s]\na = 2\n"},
        {"absent key", "[s]\nk =\n", [](IniEditor& e) { return e.delKey("s", "k"); }, "[s]\nk =\n",
         IniEditStatus::absent},
        {"a section up to the next one's comments", "; about a\n[a]\nx=1\n\n; about b\n[b]\ny=2\n",
         [](IniEditor& e) { return e.delSection("a"); }, "; about a\n\n; about b\n[b]\ny=2\n"},
        {"every occurrence of a section", "[a]\nx=1\n[b]\ny=2\n[a]\nz=3\n",
         [](IniEditor& e) { return e.delSection("a"); }, "[b]\ny=2\n"},
        {"the last section keeps the comments at the end", "[a]\nx=1\n[b]\ny=2\n; end\n",
         [](IniEditor& e) { return e.delSection("b"); }, "[a]\nx=1\n; end\n"},
        {"the keys above the first header", "k=v\n; c\n[s]\nx=1\n",
         [](IniEditor& e) { return e.delSection(""); }, "; c\n[s]\nx=1\n"},
        {"absent section", "[a]\n", [](IniEditor& e) { return e.delSection("b"); }, "[a]\n",
         IniEditStatus::absent},
        // The commented-out key kept at the end no longer belongs to [s]: a
        // key set in the section made anew goes there, not after it.
        {"commented-out keys of a deleted section", "[s]\nx = 1\n;k = 1\n",
         [](IniEditor& e) {
             e.write("s", "y", "1");  // reads the commented-out keys of [s]
             e.delSection("s");
             e.write("s", "y", "1");
             return e.write("s", "k", "2");
         },
         ";k = 1\n[s]\ny = 1\nk = 2\n"},
        // The marks that start a text are skipped: a line that starts with
        // one keeps an empty line before it, so it is read as before.
        {"a byte order mark brought to the start", "top=1\n\xEF\xBB\xBF[b]\nj=2\n",
         [](IniEditor& e) { return e.delKey("", "top"); }, "\n\xEF\xBB\xBF[b]\nj=2\n"},
        {"after the text's own mark, CRLF", "\xEF\xBB\xBFtop=1\r\n\xEF\xBB\xBF[b]\r\nj=2\r\n",
         [](IniEditor& e) { return e.delKey("", "top"); }, "\xEF\xBB\xBF\r\n\xEF\xBB\xBF[b]\r\nj=2\r\n"},
        {"by a section deletion", "k=1\n\xEF\xBB\xBF[b]\n", [](IniEditor& e) { return e.delSection(""); },
         "\n\xEF\xBB\xBF[b]\n"},
    });
}

// Lines the format cannot read (a quoted value followed by more text) are
// still lines of their key: a deletion removes them, and a set replaces the
// first when no readable line of the key exists.
TEST(EditorEdit, UnreadableLinesBelongToTheirKey) {
    expectEdits({
        {"deleted", "[s]\nrotate.up = \"Ctrl+UpArrow\", \"Ctrl+W\"\nx=1\n",
         [](IniEditor& e) { return e.delKey("s", "rotate.up"); }, "[s]\nx=1\n"},
        {"replaced up to the end of the line", "[Service]\r\nEnvironment=\"A=1\" \"B=2\"  \r\n",
         set("Service", "Environment", "A=2"), "[Service]\r\nEnvironment=A=2  \r\n"},
        {"an unclosed quote", "[s]\nk = \"open\n", set("s", "k", "v"), "[s]\nk = v\n"},
        {"the readable line wins over an earlier unreadable one", "[s]\nk = \"a\" b\nk = 2\n",
         set("s", "k", "9"), "[s]\nk = \"a\" b\nk = 9\n"},
        {"the first of several unreadable lines", "[s]\nk = \"a\" b\nk = \"c\" d\n", set("s", "k", "9"),
         "[s]\nk = 9\nk = \"c\" d\n"},
    });
}

// The editor indexes the text once; each later lookup and edit reads only
// the lines it is about, so many edits of a large text stay linear.
TEST(EditorIndex, ManyEditsReadTheTextOnce) {
    std::string text;
    for (int s = 0; s < 100; ++s) {
        text += "[section" + std::to_string(s) + "]\n";
        for (int k = 0; k < 100; ++k) {
            text += "; about key" + std::to_string(k) + "\nkey" + std::to_string(k) + " = value\n";
        }
    }
    // A key near the start is set without reading the rest of the text.
    IniEditor early(text);
    EXPECT_EQ(early.write("section0", "key1", "new").status, IniEditStatus::changed);
    EXPECT_LT(early.bytesScanned(), text.size() / 100);
    std::string expected = text;
    expected.replace(expected.find("key1 = value") + 7, 5, "new");
    EXPECT_TRUE(early.text() == expected);

    IniEditor editor(text);
    ini::IniFileIndex doc = ini_test::loadText(text);
    int edits = 0;
    for (int i = 0; i < 3000; ++i, ++edits) {
        const std::string section = "section" + std::to_string(i * 7 % 100);
        const std::string key = "key" + std::to_string(i * 13 % 150);  // a third of them new
        if (i % 5 == 4) {
            editor.delKey(section, key);
            doc.delKey(section, key);
        } else {
            editor.write(section, key, "v" + std::to_string(i));
            doc.write(section, key, "v" + std::to_string(i));
        }
    }
    editor.write("new section", "k", "v");
    doc.write("new section", "k", "v");
    // A quadratic editor would read the whole text per edit: 3000 times.
    EXPECT_LT(editor.bytesScanned(), 2 * text.size() + static_cast<std::size_t>(edits) * 200);
    const auto values = [](const ini::IniFileIndex& d) {
        std::vector<std::string> out;
        for (const auto& [name, section] : d.sections) {
            for (const auto& [key, entry] : section.values) {
                out.push_back(name + "/" + key + "=" + entry.value);
            }
        }
        return out;
    };
    EXPECT_TRUE(values(ini_test::loadText(editor.text())) == values(doc))
        << "the editor reads as the document";
}

// On texts with every kind of line the editor's lookups are the document's.
TEST(EditorRead, AgreesWithTheDocument) {
    for (const std::string text : {
             "k = v ; c\n[s]\nk = 1\nk = 2\n[]\nj = \"\" ; c\n[a[b]\nx = 1\n[s]\nm = 3\n",
             "[s]\nk = \"\" ;c\nk = v\n=e\n[t\nq = ;x\n",
             "\xEF\xBB\xBF[s]\r\nk = 2.5\r\n",
         }) {
        SCOPED_TRACE(ini_test::escaped(text));
        const IniEditor editor(text);
        const auto doc = ini_test::loadText(text);
        EXPECT_EQ(editor.sectionNames(), doc.sectionOrder);
        for (const auto& name : {"", "s", "t", "a[b", "missing"}) {
            EXPECT_EQ(editor.sectionExists(name), doc.sectionExists(name)) << name;
            for (const auto& key : {"", "k", "j", "x", "m", "q", "missing"}) {
                EXPECT_EQ(editor.keyExists(name, key), doc.keyExists(name, key)) << name << "/" << key;
                EXPECT_EQ(editor.read(name, key, "d"), doc.read(name, key, "d")) << name << "/" << key;
                EXPECT_EQ(editor.read(name, key, 7.0F), doc.read(name, key, 7.0F)) << name << "/" << key;
            }
        }
    }
}

// The lines of `text`, each without its '\n'.
std::vector<std::string> linesOf(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        lines.push_back(line);
    }
    return lines;
}

// How many lines differ between `a` and `b` when they have the same number of
// lines, or the size difference when one line was added or removed and the
// rest is equal; -1 otherwise.
int changedLines(const std::vector<std::string>& a, const std::vector<std::string>& b) {
    if (a.size() == b.size()) {
        int changed = 0;
        for (std::size_t i = 0; i < a.size(); ++i) {
            changed += a[i] != b[i] ? 1 : 0;
        }
        return changed;
    }
    const auto& longer = a.size() > b.size() ? a : b;
    const auto& shorter = a.size() > b.size() ? b : a;
    std::size_t i = 0;
    while (i < shorter.size() && shorter[i] == longer[i]) {
        ++i;
    }
    const std::size_t extra = longer.size() - shorter.size();
    for (std::size_t j = i; j < shorter.size(); ++j) {
        if (shorter[j] != longer[j + extra]) {
            return -1;
        }
    }
    return static_cast<int>(extra);
}

// Every real file, with its comment character: for a sample of its keys a
// set changes exactly one line, adding a key or a section adds one or two,
// deleting a key removes exactly its lines, and the rest reads back as before.
TEST(EditorCorpus, EditsChangeOnlyTheirLines) {
    int files = 0;
    int edits = 0;
    for (const auto& file : ini_test::corpusFiles(INI_CORPUS_DIR)) {
        SCOPED_TRACE(file.path);
        const char commentChar = file.commentChar;
        const std::string& original = file.text;
        const IniEditor pristine(original, commentChar);
        const auto before = linesOf(original);
        const auto doc = ini_test::loadText(original, commentChar);
        ++files;

        // About sixteen keys per file, spread over the whole file.
        std::size_t keys = 0;
        for (const auto& section : doc.sectionOrder) {
            keys += doc.sections.at(section).keyOrder.size();
        }
        const std::size_t step = keys / 16 + 1;
        std::size_t sampled = 0;
        for (const auto& section : doc.sectionOrder) {
            for (const auto& key : doc.sections.at(section).keyOrder) {
                if (sampled++ % step != 0) {
                    continue;
                }
                SCOPED_TRACE(section + "/" + key);
                IniEditor set = pristine;
                ASSERT_EQ(set.write(section, key, "edited value").status, IniEditStatus::changed);
                EXPECT_EQ(changedLines(before, linesOf(set.text())), 1);
                EXPECT_EQ(set.read(section, key, ""), "edited value");
                auto reread = ini_test::loadText(set.text(), commentChar);
                reread.write(section, key, doc.read(section, key, ""));
                EXPECT_EQ(ini_test::dump(reread), ini_test::dump(doc));

                IniEditor added = pristine;
                ASSERT_EQ(added.write(section, "iniedit-new-key", "1").status, IniEditStatus::changed);
                EXPECT_EQ(changedLines(before, linesOf(added.text())), 1);
                EXPECT_EQ(ini_test::loadText(added.text(), commentChar).read(section, "iniedit-new-key", ""),
                          "1");

                IniEditor removed = pristine;
                ASSERT_EQ(removed.delKey(section, key).status, IniEditStatus::changed);
                EXPECT_FALSE(removed.keyExists(section, key));
                const auto after = linesOf(removed.text());
                EXPECT_LT(after.size(), before.size());
                EXPECT_TRUE(ini_test::onlyRemoved(before, after)) << "lines other than the key's changed";
                edits += 3;
            }
        }
        IniEditor section = pristine;
        ASSERT_EQ(section.write("iniedit new section", "k", "v").status, IniEditStatus::changed);
        const int addedLines = static_cast<int>(linesOf(section.text()).size() - before.size());
        EXPECT_TRUE(addedLines == 2 || addedLines == 3) << addedLines;
        EXPECT_EQ(section.text().substr(0, original.size()).size(), original.size());
    }
    EXPECT_GT(files, 40);
    EXPECT_GT(edits, 300);
    std::printf("%d files, %d keys set, given a sibling and deleted\n", files, edits / 3);
}

// Tracking stores, the scanner marks exactly the lines the document keeps
// as headers and keys (in another order when a section repeats, whose new
// keys join its first occurrence).
TEST(Scanner, MarksTheLinesTheLoaderStores) {
    for (const std::string text : {
             "k = 1\n[s]\nk = 1\nk = 2\n[]\nj = \"\" ; c\n[a[b]\nx = 1\n[s]\nm = 3\n[t\nq =\n[u]\n",
             "k=1\n[]\nj=2\n",
             "[]\nj=2\n[s]\n[]\nz=1\n",
         }) {
        SCOPED_TRACE(ini_test::escaped(text));
        std::string stored;
        ini::IniScanner scanner(text, ';', true);
        for (ini::IniLine line; scanner.next(line);) {
            if (line.stores && line.kind == ini::IniLineKind::header) {
                stored += "[" + std::string(line.section) + "]\n";
            } else if (line.stores) {
                stored += std::string(line.key) + " = " + std::string(line.value) + "\n";
            }
        }
        // The rendering without the kept lines: drop what is in comments.
        const auto doc = ini_test::loadText(text);
        std::string written;
        for (const auto& [name, section] : doc.sections) {
            if (name.empty() &&
                doc.sectionOrder.end() == std::find(doc.sectionOrder.begin(), doc.sectionOrder.end(), name)) {
                for (const auto& key : section.keyOrder) {
                    written += key + " = " + section.values.at(key).value + "\n";
                }
            }
        }
        for (const auto& name : doc.sectionOrder) {
            written += "[" + name + "]\n";
            for (const auto& key : doc.sections.at(name).keyOrder) {
                written += key + " = " + doc.sections.at(name).values.at(key).value + "\n";
            }
        }
        const auto sorted = [](const std::string& lines) {
            std::vector<std::string> out = linesOf(lines);
            std::sort(out.begin(), out.end());
            return out;
        };
        EXPECT_EQ(sorted(stored), sorted(written));
    }
}

TEST(Scanner, ReportsPositionsOfEveryPart) {
    const std::string text = "\xEF\xBB\xBF; c\r\n[ s ] x\n  key = \"v; w\"  ; note\r\nbad\n[t\nk =";
    ini::IniScanner scanner(text, ';');
    std::vector<std::string> seen;
    for (ini::IniLine line; scanner.next(line);) {
        const auto part = [&](std::size_t from, std::size_t to) { return text.substr(from, to - from); };
        std::string shown =
            std::to_string(static_cast<int>(line.kind)) + " [" + part(line.begin, line.end) + "]";
        shown += " s=" + std::string(line.section);
        if (line.kind == ini::IniLineKind::key) {
            shown += " k=" + std::string(line.key) + " v=" + std::string(line.value) +
                     " w=" + part(line.valueBegin, line.valueEnd) +
                     " c=" + part(line.commentBegin, line.commentEnd) + (line.hasValue ? " stores" : "");
        }
        seen.push_back(ini_test::escaped(shown));
    }
    EXPECT_EQ(seen, (std::vector<std::string>{
                        "0 [; c\\r] s=",
                        "1 [[ s ] x] s= s ",
                        "2 [  key = \"v; w\"  ; note\\r] s= s  k=key v=v; w w=\"v; w\" c=; note stores",
                        "3 [bad] s= s ",
                        "3 [[t] s= s ",
                        "2 [k =] s= s  k=k v= w= c=",
                    }));
}

}  // namespace
