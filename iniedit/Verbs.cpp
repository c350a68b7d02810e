// Running a verb (Verbs.h): the edits and batches applied to the editor,
// the verbs that print handed to Output, and the result written by Files.
#include "Verbs.h"

#include "Diff.h"
#include "Files.h"
#include "IniEditor.h"
#include "Output.h"
#include "Stack.h"
#include "Status.h"

#include <algorithm>
#include <cstdio>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

namespace iniedit {
namespace {

std::string inSection(const std::string& key, const std::string& section) {
    return "key '" + key + "' in section '" + section + "'";
}

// Whether `section` holds a line of `key` itself (not one seen from a
// default section).
bool ownsKey(const ini::IniEditor& editor, const std::string& section, const std::string& key) {
    const auto entries = editor.entries(section);
    return std::any_of(entries.begin(), entries.end(),
                       [&](const auto& entry) { return editor.dialect().sameKey(entry.first, key); });
}

// uncomment as "make it so": nothing to do when the key has an active line
// (holding VALUE, when given). Otherwise the commented-out line is turned
// on, and where the owner keeps one value the key's other lines are
// commented out, so that the line turned on is the one that counts.
ini::IniEditResult uncomment(ini::IniEditor& editor, const std::vector<std::string>& args,
                             const std::string& where) {
    const std::string& section = args.at(0);
    const std::string& key = args.at(1);
    const bool owned = ownsKey(editor, section, key);
    if (owned && args.size() == 2) {
        return {};
    }
    if (owned) {
        const std::vector<std::string> values = editor.values(section, key);
        if (std::find(values.begin(), values.end(), args[2]) != values.end()) {
            return {};
        }
    }
    ini::IniEditor edited = editor;
    ini::IniEditResult result;
    if (owned && !editor.dialect().isListKey(key)) {
        result = edited.commentOut(section, key);
        if (result.status == ini::IniEditStatus::refused) {
            return result;
        }
    }
    result = args.size() == 3 ? edited.uncomment(section, key, args[2]) : edited.uncomment(section, key);
    if (result.status == ini::IniEditStatus::absent) {
        fail(notFound, where + (owned ? inSection(key, section) + " holds '" + editor.read(section, key, "") +
                                            "', and no commented-out line of it holds '" + args[2] +
                                            "' (set writes a value)"
                                      : "no active or commented-out line of " + inSection(key, section) +
                                            (args.size() == 3 ? " holding '" + args[2] + "'" : "")));
    }
    if (result.status == ini::IniEditStatus::changed) {
        editor = std::move(edited);
    }
    return result;
}

}  // namespace

// One edit on the editor; what --existing and a refusal make of it.
void applyEdit(const Options& options, ini::IniEditor& editor, const Edit& edit, const std::string& where) {
    const std::vector<std::string>& args = edit.args;
    const std::string& section = args.at(0);
    const std::string& verb = edit.verb;
    ini::IniEditResult result;
    if (verb == "comment") {
        // A key that only has commented-out lines is already commented out.
        result = editor.commentOut(section, args.at(1));
        if (result.status == ini::IniEditStatus::absent &&
            ini::IniEditor(editor).uncomment(section, args[1]).status == ini::IniEditStatus::absent) {
            fail(notFound, where + "no active or commented-out line of " + inSection(args[1], section));
        }
    } else if (verb == "uncomment") {
        result = uncomment(editor, args, where);
    } else if (verb == "set" && args.size() == 1) {
        if (options.existing && !editor.sectionExists(section)) {
            fail(notFound, where + "no section '" + section + "' (--existing)");
        }
        result = editor.addSection(section);
    } else if (verb == "set" || verb == "add") {
        const std::string& key = args.at(1);
        const std::vector<std::string> values(args.begin() + 2, args.end());
        if (options.type != nullptr) {
            for (const std::string& value : values) {
                typed(options, value, "the value to write is ");
            }
        }
        if (options.existing && !editor.keyExists(section, key)) {
            fail(notFound, where + "no " + inSection(key, section) + " (--existing)");
        }
        if (edit.noValue) {
            if (editor.dialect().noDelimiter != ini::IniDialect::NoDelimiter::noValue) {
                fail(refusedUnsafe, where + "--no-value: the " + editor.dialect().name +
                                        " dialect has no keys without a value");
            }
            result = editor.writeNoValue(section, key);
        } else if (verb == "add") {
            // A value the key already holds is not added again.
            const std::vector<std::string> held = editor.values(section, key);
            if (std::find(held.begin(), held.end(), values.at(0)) == held.end()) {
                result = editor.add(section, key, values.at(0));
            }
        } else if (options.all) {
            result = editor.writeValues(section, key, values);
        } else {
            result = editor.write(section, key, values.at(0));
        }
    } else if (args.size() == 3) {
        result = editor.delValue(section, args[1], args[2]);
    } else if (args.size() == 2) {
        result = editor.delKey(section, args[1]);
    } else {
        result = editor.delSection(section);
    }
    if (result.status == ini::IniEditStatus::refused) {
        fail(refusedUnsafe, where + result.reason);
    }
    if (result.status == ini::IniEditStatus::absent && options.existing) {
        fail(notFound,
             where + (args.size() == 3   ? "no value '" + args[2] + "' of " + inSection(args[1], section)
                      : args.size() == 2 ? "no " + inSection(args[1], section)
                                         : "no section '" + section + "'"));
    }
}

// Batch operations, one a line: "verb<TAB>field<TAB>...", the value of
// set, add and uncomment taking the rest of the line.
std::vector<Edit> parseBatch(const Options& options, const std::string& operations) {
    std::vector<Edit> edits;
    std::istringstream lines(operations);
    std::string line;
    for (int number = 1; std::getline(lines, line); ++number) {
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        if (line.empty() || line[0] == '#') {
            continue;
        }
        const std::string where =
            options.file + (options.file.empty() ? "" : ": ") + "batch line " + std::to_string(number) + ": ";
        if (line.find('\0') != std::string::npos) {
            fail(refusedUnsafe, where + "a NUL byte cannot be written to an INI file");
        }
        // A value is the rest of the line, tabs included; other fields are
        // split at every tab, so an extra field is an error.
        Edit edit;
        edit.where = where;
        edit.verb = line.substr(0, line.find('\t'));
        const bool takesValue = edit.verb == "set" || edit.verb == "add" || edit.verb == "uncomment";
        const std::size_t most = takesValue ? 3 : std::string::npos;
        std::size_t at = line.find('\t');
        while (at != std::string::npos) {
            const std::size_t next =
                edit.args.size() + 1 == most ? std::string::npos : line.find('\t', at + 1);
            edit.args.push_back(
                line.substr(at + 1, next == std::string::npos ? std::string::npos : next - at - 1));
            at = next;
        }
        const std::size_t n = edit.args.size();
        const bool valid = (edit.verb == "set" && (n == 1 || n == 3)) || (edit.verb == "add" && n == 3) ||
                           (edit.verb == "del" && n >= 1 && n <= 3) || (edit.verb == "comment" && n == 2) ||
                           (edit.verb == "uncomment" && (n == 2 || n == 3)) ||
                           (edit.verb == "setnovalue" && n == 2);
        if (!valid) {
            fail(usageError,
                 where +
                     "expected set<TAB>SECTION[<TAB>KEY<TAB>VALUE], setnovalue<TAB>SECTION<TAB>KEY, "
                     "add<TAB>SECTION<TAB>KEY<TAB>VALUE, del<TAB>SECTION[<TAB>KEY[<TAB>VALUE]], "
                     "comment<TAB>SECTION<TAB>KEY or uncomment<TAB>SECTION<TAB>KEY[<TAB>VALUE]");
        }
        if (edit.verb == "setnovalue") {
            edit.verb = "set";
            edit.noValue = true;
        }
        edits.push_back(std::move(edit));
    }
    return edits;
}

namespace {

// Sets every section and key of the snippet in the editor: its empty
// sections created, a key without a value written as one, and with --all
// each key's every value.
void runMerge(const Options& options, const std::string& name, const std::string& snippet,
              ini::IniEditor& editor) {
    const ini::IniEditor from(snippet, editor.dialect());
    if (const auto problems = from.problems(); !problems.empty()) {
        fail(refusedUnsafe, name + ":" + std::to_string(problems.front().line) + ": " +
                                problems.front().what + " (" + editor.dialect().name +
                                " rejects the snippet)");
    }
    for (const auto& [section, entries] : from.allEntries()) {
        const std::string where = name + ": section '" + section + "': ";
        applyEdit(options, editor, {"set", {section}, false, {}}, where);
        for (const auto& [key, value] : entries) {
            Edit edit{"set", {section, key}, from.hasNoValue(section, key), {}};
            if (!edit.noValue) {
                const std::vector<std::string> values =
                    options.all ? from.values(section, key) : std::vector<std::string>{value};
                edit.args.insert(edit.args.end(), values.begin(), values.end());
            }
            applyEdit(options, editor, edit, where);
        }
    }
}

}  // namespace

int run(const Options& options) {
    if (options.usesStack()) {
        return runStack(options);
    }
    if (options.verbose) {
        std::fprintf(stderr, "iniedit: %s: dialect %s (%s)\n", options.file.c_str(),
                     options.dialect.name.c_str(), options.dialectReason.c_str());
    }
    // What an edit reads besides FILE (a batch's operations, a snippet) is
    // read whole before FILE is opened and locked: a read error is reported
    // as one, and other edits of the file do not wait on whoever writes it.
    std::string operations;
    if (options.verb == "batch") {
        operations = readAll(0, "standard input");
    } else if (options.verb == "merge") {
        operations = readInput(options.operands[0]);
    }
    Source source = openSource(options);
    if (options.verb == "check") {
        return runCheck(options, source.text);
    }
    ini::IniEditor editor(source.text, options.dialect);
    // A file its owner rejects is not guessed at.
    if (const auto problems = editor.problems(); !problems.empty()) {
        fail(refusedUnsafe, options.file + ":" + std::to_string(problems.front().line) + ": " +
                                problems.front().what + " (" + options.dialect.name + " rejects the file)");
    }
    if (options.verb == "get") {
        return runGet(options, editor);
    }
    if (options.verb == "dump") {
        return runDump(options, editor);
    }
    if (options.verb == "list") {
        return runList(options, editor);
    }
    if (options.verb == "exists") {
        const auto& args = options.operands;
        const bool found =
            args.size() == 2 ? editor.keyExists(args[0], args[1]) : editor.sectionExists(args[0]);
        return found ? success : notFound;
    }
    if (options.verb == "batch") {
        for (const Edit& edit : parseBatch(options, operations)) {
            applyEdit(options, editor, edit, edit.where);
        }
    } else if (options.verb == "merge") {
        runMerge(options, options.operands[0] == "-" ? "standard input" : options.operands[0], operations,
                 editor);
    } else {
        applyEdit(options, editor, {options.verb, options.operands, options.noValue, {}},
                  options.file + ": ");
    }

    const bool changed = editor.text() != source.text;
    if (options.dryRun && !options.quiet) {
        std::fprintf(stderr, "%s\n", changed ? "changed" : "unchanged");
    }
    // An unchanged result is not written at all (the file's time stays),
    // unless it must go somewhere else.
    if (!options.dryRun && (changed || options.output || source.stream)) {
        writeOutput(options, source, editor.text());
    }
    if (options.diff && changed) {
        const std::string& name = options.file;
        std::cout << unifiedDiff(source.text, editor.text(), name, options.output.value_or(name));
    }
    return success;
}

}  // namespace iniedit
