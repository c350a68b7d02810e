// Running a verb (Verbs.h): the edits and batches applied to the editor,
// the verbs that print handed to Output, and the result written by Files.
#include "Verbs.h"

#include "Files.h"
#include "IniEditor.h"
#include "Output.h"
#include "Status.h"

#include <sstream>
#include <string>
#include <vector>

namespace iniedit {
namespace {

// One set, add or del on the editor; what --existing and a refusal make of it.
void applyEdit(const Options& options, ini::IniEditor& editor, const std::string& verb,
               const std::vector<std::string>& args, const std::string& where) {
    const std::string& section = args.at(0);
    ini::IniEditResult result;
    if (verb == "comment" || verb == "uncomment") {
        result = verb == "comment"  ? editor.commentOut(section, args.at(1))
                 : args.size() == 3 ? editor.uncomment(section, args[1], args[2])
                                    : editor.uncomment(section, args.at(1));
        if (result.status == ini::IniEditStatus::absent) {
            fail(notFound,
                 where + (verb == "comment" ? "no key '" + args[1] + "' in section '" + section + "'"
                                            : "no commented-out line of key '" + args[1] + "'" +
                                                  (args.size() == 3 ? " holding '" + args[2] + "'" : "") +
                                                  " in section '" + section + "'"));
        }
    } else if (verb == "set" || verb == "add") {
        if (options.type != nullptr) {
            typed(options, args.at(2), "the value to write is ");
        }
        if (options.existing && !editor.keyExists(section, args.at(1))) {
            fail(notFound, where + "no key '" + args[1] + "' in section '" + section + "' (--existing)");
        }
        result = verb == "add" ? editor.add(section, args.at(1), args.at(2))
                 : options.all ? editor.writeAll(section, args.at(1), args.at(2))
                               : editor.write(section, args.at(1), args.at(2));
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
        fail(notFound, where + (args.size() == 3 ? "no value '" + args[2] + "' of key '" + args[1] +
                                                       "' in section '" + section + "'"
                                : args.size() == 2 ? "no key '" + args[1] + "' in section '" + section + "'"
                                                   : "no section '" + section + "'"));
    }
}

// Applies batch operations, one a line: "verb<TAB>field<TAB>...", the value
// of set taking the rest of the line.
void runBatch(const Options& options, const std::string& operations, ini::IniEditor& editor) {
    std::istringstream lines(operations);
    std::string line;
    for (int number = 1; std::getline(lines, line); ++number) {
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        if (line.empty() || line[0] == '#') {
            continue;
        }
        const std::string where = options.file + ": batch line " + std::to_string(number) + ": ";
        if (line.find('\0') != std::string::npos) {
            fail(refusedUnsafe, where + "a NUL byte cannot be written to an INI file");
        }
        // The value of set is the rest of the line, tabs included; del's
        // fields are split at every tab, so an extra field is an error.
        std::vector<std::string> fields;
        const std::string verb = line.substr(0, line.find('\t'));
        const std::size_t most = verb == "del" ? std::string::npos : 3;
        std::size_t at = line.find('\t');
        while (at != std::string::npos) {
            const std::size_t next = fields.size() + 1 == most ? std::string::npos : line.find('\t', at + 1);
            fields.push_back(
                line.substr(at + 1, next == std::string::npos ? std::string::npos : next - at - 1));
            at = next;
        }
        const bool valid = ((verb == "set" || verb == "add") && fields.size() == 3) ||
                           (verb == "del" && !fields.empty() && fields.size() <= 3);
        if (!valid) {
            fail(usageError, where +
                                 "expected set or add<TAB>SECTION<TAB>KEY<TAB>VALUE, or "
                                 "del<TAB>SECTION[<TAB>KEY[<TAB>VALUE]]");
        }
        applyEdit(options, editor, verb, fields, where);
    }
}

}  // namespace

int run(const Options& options) {
    // A batch's operations are read whole before the file is opened and
    // locked: a read error is reported as one, and other edits of the file
    // do not wait on whoever writes the operations.
    std::string operations;
    if (options.verb == "batch") {
        operations = readAll(0, "standard input");
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
        runBatch(options, operations, editor);
    } else {
        applyEdit(options, editor, options.verb, options.operands, options.file + ": ");
    }

    const bool changed = editor.text() != source.text;
    if (options.dryRun) {
        if (!options.quiet) {
            std::fprintf(stderr, "%s\n", changed ? "changed" : "unchanged");
        }
        return success;
    }
    // An unchanged result is not written at all (the file's time stays),
    // unless it must go somewhere else.
    if (changed || options.output || source.stream) {
        writeOutput(options, source, editor.text());
    }
    return success;
}

}  // namespace iniedit
