// The verbs over a stack (Stack.h). Reading prints the merged values with
// their origins; an edit picks the file where it takes effect, checks on
// the stack read again in memory that nothing later still decides the key,
// and only then writes each changed file atomically.
#include "Stack.h"

#include "Diff.h"
#include "Files.h"
#include "IniDiagnostics.h"
#include "IniEditor.h"
#include "IniFileSave.h"
#include "IniStack.h"
#include "Output.h"
#include "Status.h"
#include "Verbs.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <map>
#include <set>

namespace iniedit {
namespace {

using ini::IniStack;
using ini::IniStackFile;
using ini::IniStackKey;

// The stack's options from the command line and the environment.
ini::IniStackOptions stackOptions(const Options& options) {
    ini::IniStackOptions out;
    out.root = options.root;
    out.dialect = options.dialect;
    if (!options.layers.empty()) {
        out.kind = ini::IniStackKind::layers;
        out.layers = options.layers;
        return out;
    }
    const std::size_t colon = options.stack.find(':');
    const std::string kind = options.stack.substr(0, colon);
    out.name = colon == std::string::npos ? std::string() : options.stack.substr(colon + 1);
    if (kind == "systemd-unit") {
        out.kind = ini::IniStackKind::systemdUnit;
    } else if (kind == "systemd-conf") {
        out.kind = ini::IniStackKind::systemdConf;
    } else if (kind == "php") {
        out.kind = ini::IniStackKind::php;
        if (const char* dirs = std::getenv("PHP_INI_SCAN_DIR")) {
            out.scanDirs = dirs;
        }
        out.defaultScanDir = options.scanDir;
    } else if (kind == "mysql") {
        out.kind = ini::IniStackKind::mysql;
        for (const auto& [variable, field] :
             {std::pair{"HOME", &out.home}, std::pair{"MYSQL_HOME", &out.mysqlHome}}) {
            if (const char* value = std::getenv(variable)) {
                *field = value;
            }
        }
    } else {
        fail(usageError, "unknown stack '" + options.stack +
                             "' (known: systemd-unit:UNIT, systemd-conf:NAME, php:PHP.INI, mysql[:FILE])");
    }
    if (out.name.empty() && kind != "mysql") {
        fail(usageError, "--stack=" + kind + ": needs a name after ':'");
    }
    return out;
}

// The stack read, or a Failure where its owner would stop or reject a file.
IniStack openStack(const Options& options, const ini::IniStackOptions& stackOptions) {
    std::string error;
    IniStack stack = IniStack::open(stackOptions, &error);
    if (!error.empty()) {
        fail(refusedUnsafe, error);
    }
    for (const IniStackFile& file : stack.files()) {
        if (file.problemLine != 0) {
            fail(refusedUnsafe, file.path + ":" + std::to_string(file.problemLine) + ": " + file.problem +
                                    " (" + stack.dialect().name + " rejects the file)");
        }
    }
    (void)options;
    return stack;
}

std::string where(const IniStack& stack, const ini::IniOrigin& origin) {
    return stack.files()[origin.file].path + ":" + std::to_string(origin.line);
}

std::string stateText(const IniStackFile& file) {
    std::string text = file.state == IniStackFile::State::masked ? "masked by " + file.maskedBy
                                                                 : ini::stackFileStateName(file.state);
    if (!file.includedFrom.empty()) {
        const std::string from =
            "included from " + file.includedFrom + ":" + std::to_string(file.includedLine);
        text = file.state == IniStackFile::State::read ? from : text + ", " + from;
    }
    return text;
}

int runFiles(const Options& options, const IniStack& stack) {
    std::string out = options.format == Format::json ? "[" : "";
    for (std::size_t i = 0; i < stack.files().size(); ++i) {
        const IniStackFile& file = stack.files()[i];
        if (options.format == Format::json) {
            out += (i == 0 ? "{\"path\":" : ",{\"path\":") + jsonString(file.path) +
                   ",\"state\":" + jsonString(ini::stackFileStateName(file.state));
            out += file.maskedBy.empty() ? "" : ",\"maskedBy\":" + jsonString(file.maskedBy);
            out += file.includedFrom.empty() ? ""
                                             : ",\"includedFrom\":" + jsonString(file.includedFrom) +
                                                   ",\"includedLine\":" + std::to_string(file.includedLine);
            out += "}";
        } else {
            out += file.path + "\t" + stateText(file) + "\n";
        }
    }
    out += options.format == Format::json ? "]\n" : "";
    std::cout << out;
    return success;
}

int runCat(const IniStack& stack) {
    std::string out;
    for (const IniStackFile& file : stack.files()) {
        if (file.state != IniStackFile::State::read) {
            continue;
        }
        out += (out.empty() ? "# " : "\n# ") + file.path + "\n" + file.text;
        out += !file.text.empty() && file.text.back() != '\n' ? "\n" : "";
    }
    std::cout << out;
    return success;
}

// Which line overrode line `i` of the key: the next line that decides in
// its place, or std::nullopt for a line that takes effect (or a reset).
std::optional<std::size_t> overriddenBy(const IniStackKey& key, std::size_t i) {
    const std::vector<std::size_t> effective = key.effective();
    if (std::find(effective.begin(), effective.end(), i) != effective.end() || key.lines[i].reset) {
        return std::nullopt;
    }
    for (std::size_t j = i + 1; j < key.lines.size(); ++j) {
        if (key.list ? key.lines[j].reset : j == key.deciding() || key.lines[j].file != key.lines[i].file) {
            return j;
        }
    }
    return key.deciding();
}

int runGet(const Options& options, const IniStack& stack) {
    const std::string& section = options.operands[0];
    const std::string& name = options.operands[1];
    const IniStackKey* key = stack.find(section, name);
    if (key == nullptr) {
        fail(notFound, "no key '" + name + "' in section '" + section + "' of the stack");
    }
    std::string out;
    if (options.origin && options.all) {
        // Every line in read order, with what became of it.
        for (std::size_t i = 0; i < key->lines.size(); ++i) {
            const ini::IniOrigin& line = key->lines[i];
            out += where(stack, line) + "\t" + stack.valueOf(line).value_or("");
            if (line.reset) {
                out += "\treset";
            } else if (const auto by = overriddenBy(*key, i)) {
                out += "\toverridden by " + where(stack, key->lines[*by]);
            }
            out += "\n";
        }
    } else if (options.all) {
        for (const std::size_t i : key->effective()) {
            out += options.origin ? where(stack, key->lines[i]) + "\t" : "";
            out += stack.valueOf(key->lines[i]).value_or("") + "\n";
        }
    } else {
        const ini::IniOrigin& line = key->lines[key->deciding()];
        if (options.format == Format::json) {
            out = (line.noValue ? std::string("null") : jsonString(*stack.valueOf(line))) + "\n";
        } else {
            out = (options.origin ? where(stack, line) + "\t" : "") + stack.valueOf(line).value_or("") + "\n";
        }
    }
    std::cout << out;
    return success;
}

int runDump(const Options& options, const IniStack& stack) {
    // Keys grouped by section, sections in the order first seen.
    std::map<std::string, std::vector<const IniStackKey*>> bySection;
    for (const IniStackKey& key : stack.keys()) {
        bySection[key.section].push_back(&key);
    }
    const bool json = options.format == Format::json;
    std::string out = json ? "{" : "";
    bool first = true;
    for (const std::string& section : stack.sectionNames()) {
        const auto& keys = bySection[section];
        out += json ? (first ? "" : ",") + jsonString(section) + ":{" : "[" + section + "]\n";
        first = false;
        for (std::size_t k = 0; k < keys.size(); ++k) {
            const IniStackKey& key = *keys[k];
            const ini::IniOrigin& line = key.lines[key.deciding()];
            if (!json) {
                out += key.key + "=" + stack.valueOf(line).value_or("") +
                       (options.origin ? "\t" + where(stack, line) : "") + "\n";
                continue;
            }
            const auto value = [&stack](const ini::IniOrigin& o) {
                return o.noValue ? std::string("null") : jsonString(*stack.valueOf(o));
            };
            out += (k == 0 ? "" : ",") + jsonString(key.key) + ":";
            if (!options.origin) {
                out += value(line);
                continue;
            }
            out += "{\"value\":" + value(line) + ",\"origin\":" + jsonString(where(stack, line));
            if (key.list) {
                out += ",\"values\":[";
                const auto effective = key.effective();
                for (std::size_t e = 0; e < effective.size(); ++e) {
                    out += (e == 0 ? "" : ",") + value(key.lines[effective[e]]);
                }
                out += "]";
            }
            out += ",\"overridden\":[";
            bool firstLost = true;
            for (std::size_t i = 0; i < key.lines.size(); ++i) {
                if (overriddenBy(key, i)) {
                    out += (firstLost ? "" : ",") + jsonString(where(stack, key.lines[i]));
                    firstLost = false;
                }
            }
            out += "]}";
        }
        out += json ? "}" : "";
    }
    out += json ? "}\n" : "";
    std::cout << out;
    return success;
}

// What a stack holds that its owner's user may not expect, then each
// file's own findings.
int runCheck(const Options& options, const IniStack& stack) {
    std::vector<std::string> found;
    for (const IniStackFile& file : stack.files()) {
        if (file.state == IniStackFile::State::masked) {
            found.push_back(file.path + ":1:1: masked by " + file.maskedBy + ", so never read [masked-file]");
        } else if (file.state == IniStackFile::State::missing && !file.includedFrom.empty()) {
            found.push_back(file.includedFrom + ":" + std::to_string(file.includedLine) + ":1: includes " +
                            file.path + ", which is missing [missing-include]");
        }
    }
    for (const IniStackKey& key : stack.keys()) {
        std::map<std::string, std::size_t> loaded;  // PHP modules: value -> line
        for (std::size_t i = 0; i < key.lines.size(); ++i) {
            const ini::IniOrigin& line = key.lines[i];
            // systemd reads every key as a list: a drop-in that sets a key
            // of the main file replaces it, or adds to it for a list setting.
            const bool systemd = stack.kind() == ini::IniStackKind::systemdUnit ||
                                 stack.kind() == ini::IniStackKind::systemdConf;
            const auto by = overriddenBy(key, i);
            if (systemd && line.file == 0 && !(by && key.lines[*by].file != line.file)) {
                const auto later =
                    std::find_if(key.lines.begin() + static_cast<std::ptrdiff_t>(i) + 1, key.lines.end(),
                                 [](const ini::IniOrigin& o) { return o.file != 0; });
                if (later != key.lines.end()) {
                    found.push_back(where(stack, line) + ":1: " + key.key + " is set again by " +
                                    where(stack, *later) +
                                    ", a drop-in, which replaces this value (or adds to it, for a list "
                                    "setting) [drop-in-overrides]");
                }
            }
            if (by && key.lines[*by].file != line.file) {
                const bool main = line.file == 0 && stack.kind() != ini::IniStackKind::layers &&
                                  stack.kind() != ini::IniStackKind::mysql;
                found.push_back(where(stack, line) + ":1: " + key.key +
                                " never takes effect: " + where(stack, key.lines[*by]) +
                                (main ? ", a drop-in, overrides the main file" : " overrides it") +
                                (main ? " [drop-in-overrides]" : " [overridden]"));
            }
            if (stack.kind() == ini::IniStackKind::php && key.list && !line.noValue) {
                const std::string module = *stack.valueOf(line);
                const auto [at, isNew] = loaded.emplace(module, i);
                if (!isNew) {
                    found.push_back(where(stack, line) + ":1: module '" + module +
                                    "' loaded again (first at " + where(stack, key.lines[at->second]) +
                                    ") [loaded-twice]");
                }
            }
        }
    }
    for (const IniStackFile& file : stack.files()) {
        for (const ini::IniFinding& f :
             ini::diagnose(file.state == IniStackFile::State::read ? file.text : "", stack.dialect())) {
            found.push_back(file.path + ":" + std::to_string(f.line) + ":" + std::to_string(f.column) + ": " +
                            f.message + " [" + ini::findingName(f.kind) + "]");
        }
    }
    std::string out;
    for (const std::string& line : found) {
        out += line + "\n";
    }
    (void)options;
    std::cout << out;
    return found.empty() ? success : notFound;
}

// ---- edits

// A file an edit may write: an administrator's, and writable by the caller.
bool editable(const IniStackFile& file) {
    return file.administrators && file.state == IniStackFile::State::read &&
           !ini::isWriteProtected(file.path);
}

std::string rooted(const Options& options, const std::string& path) {
    return options.root.empty() ? path : options.root + path;
}

// The owner's own override file, where an edit takes effect when the file
// that decides the key may not be written.
std::string overrideFile(const Options& options, const ini::IniStackOptions& so, const IniStack& stack) {
    switch (so.kind) {
    case ini::IniStackKind::systemdUnit:
        return rooted(options, "/etc/systemd/system/" + so.name + ".d/override.conf");
    case ini::IniStackKind::systemdConf: {
        // A drop-in that sorts after every existing one.
        std::string last;
        for (const IniStackFile& file : stack.files()) {
            if (file.path.find(".d/") != std::string::npos) {
                last = std::max(last, file.path.substr(file.path.rfind('/') + 1));
            }
        }
        std::string name = "99-override.conf";
        if (!last.empty() && name <= last) {
            name = last.substr(0, last.size() - 5) + "_override.conf";
        }
        return rooted(options, "/etc/systemd/" + so.name + ".d/" + name);
    }
    case ini::IniStackKind::layers:
        return stack.files().empty() ? std::string() : stack.files().back().path;
    case ini::IniStackKind::php:
    case ini::IniStackKind::mysql:
        for (const IniStackFile& file : stack.files()) {
            if (file.state == IniStackFile::State::read) {
                return file.path;
            }
        }
        return stack.files().empty() ? std::string() : stack.files().front().path;
    }
    return {};
}

struct Target {
    std::string path;
    std::string section;  // as the file names it
};

// The file an edit of `section`/`key` goes to, and the section it is
// written in there.
Target targetOf(const Options& options, const ini::IniStackOptions& so, const IniStack& stack,
                const std::string& section, const std::string& key) {
    const IniStackKey* found = key.empty() ? nullptr : stack.find(section, key);
    // PHP keeps one namespace: a new key goes under [PHP].
    const std::string named =
        stack.sectionOf(section) == "PHP" && so.kind == ini::IniStackKind::php ? "PHP" : section;
    if (options.to) {
        std::string inFile = named;
        for (std::size_t i = 0; found != nullptr && i < found->lines.size(); ++i) {
            if (stack.files()[found->lines[i].file].path == *options.to) {
                inFile = stack.headerOf(found->lines[i]);
            }
        }
        return {*options.to, inFile};
    }
    if (found != nullptr) {
        const ini::IniOrigin& deciding = found->lines[found->deciding()];
        if (editable(stack.files()[deciding.file])) {
            return {stack.files()[deciding.file].path, stack.headerOf(deciding)};
        }
    }
    return {overrideFile(options, so, stack), named};
}

// The text of a file of the stack, or of one not read yet (empty when it
// does not exist).
std::string textOf(const IniStack& stack, const std::string& path) {
    for (const IniStackFile& file : stack.files()) {
        if (file.path == path && file.state == IniStackFile::State::read) {
            return file.text;
        }
    }
    std::string text;
    ini::readFile(path, text);
    return text;
}

int runEdit(const Options& options, const ini::IniStackOptions& so, const IniStack& stack) {
    std::vector<Edit> edits;
    if (options.verb == "batch") {
        edits = parseBatch(options, readAll(0, "standard input"));
    } else {
        edits.push_back({options.verb, options.operands, options.noValue, {}});
    }
    // One editor per file written, in the order first edited.
    std::map<std::string, ini::IniEditor> editors;
    std::vector<std::string> order;
    const auto editorOf = [&](const std::string& path) -> ini::IniEditor& {
        if (editors.count(path) == 0) {
            editors.emplace(path, ini::IniEditor(textOf(stack, path), stack.dialect()));
            order.push_back(path);
        }
        return editors.at(path);
    };
    for (const Edit& edit : edits) {
        const std::string& section = edit.args.at(0);
        const std::string key = edit.args.size() > 1 ? edit.args[1] : std::string();
        const std::string label = edit.where.empty() ? "" : edit.where;
        if (edit.verb == "del" && !options.to) {
            // Gone from every file that may be edited; what the others
            // still set shows through.
            const IniStackKey* found = key.empty() ? nullptr : stack.find(section, key);
            std::set<std::string> files;
            for (std::size_t i = 0; found != nullptr && i < found->lines.size(); ++i) {
                const IniStackFile& file = stack.files()[found->lines[i].file];
                if (editable(file) && files.insert(file.path).second) {
                    Edit inFile = edit;
                    inFile.args[0] = stack.headerOf(found->lines[i]);
                    applyEdit(options, editorOf(file.path), inFile, label + file.path + ": ");
                }
            }
            if (key.empty()) {
                for (const IniStackFile& file : stack.files()) {
                    if (editable(file) && ini::IniEditor(file.text, stack.dialect()).sectionExists(section)) {
                        applyEdit(options, editorOf(file.path), edit, label + file.path + ": ");
                    }
                }
            }
            continue;
        }
        const Target target = targetOf(options, so, stack, section, key);
        if (target.path.empty()) {
            fail(usageError, "the stack has no file to write to (give --to)");
        }
        Edit inFile = edit;
        inFile.args[0] = target.section;
        ini::IniEditor& editor = editorOf(target.path);
        const IniStackKey* found = key.empty() ? nullptr : stack.find(section, key);
        const bool elsewhere =
            found != nullptr && std::any_of(found->lines.begin(), found->lines.end(), [&](const auto& l) {
                return stack.files()[l.file].path != target.path;
            });
        if (stack.dialect().emptyValueResetsList && edit.verb == "set" && edit.args.size() == 3 &&
            elsewhere && !editor.keyExists(target.section, key)) {
            // An override replaces a list rather than adding to it: an empty
            // assignment, then the value.
            for (const std::string& value : {std::string(), edit.args[2]}) {
                if (const auto result = editor.add(target.section, key, value);
                    result.status == ini::IniEditStatus::refused) {
                    fail(refusedUnsafe, label + target.path + ": " + result.reason);
                }
            }
            continue;
        }
        applyEdit(options, editor, inFile, label + target.path + ": ");
    }

    // The stack read again with the edited texts: every set must now be what
    // the owner reads.
    ini::IniStackOptions again = so;
    for (const auto& [path, editor] : editors) {
        again.overrides[path] = editor.text();
    }
    std::string error;
    const IniStack after = IniStack::open(again, &error);
    if (!error.empty()) {
        fail(refusedUnsafe, "after the edit: " + error);
    }
    for (const Edit& edit : edits) {
        if (edit.args.size() < 3 || edit.verb == "del" || edit.verb == "comment") {
            continue;
        }
        const std::string& value = edit.args[2];
        const IniStackKey* key = after.find(edit.args[0], edit.args[1]);
        const bool holds =
            key != nullptr &&
            (edit.verb == "set" && !options.all ? after.valueOf(key->lines[key->deciding()]) == value : [&] {
                const auto values = after.values(edit.args[0], edit.args[1]);
                return std::find(values.begin(), values.end(), value) != values.end();
            }());
        if (!holds) {
            const std::string decides =
                key == nullptr ? std::string("nothing") : where(after, key->lines[key->deciding()]);
            fail(refusedUnsafe, edit.where + "the edit would not take effect: " + decides +
                                    " still decides " + edit.args[1] +
                                    " (nothing written; --to names another file)");
        }
    }
    if (options.verbose) {
        for (const Edit& edit : edits) {
            if (edit.verb == "del" && edit.args.size() >= 2) {
                if (const IniStackKey* key = after.find(edit.args[0], edit.args[1])) {
                    std::fprintf(stderr, "iniedit: %s still set by %s\n", edit.args[1].c_str(),
                                 where(after, key->lines[key->deciding()]).c_str());
                }
            }
        }
    }

    // Each changed file written atomically; should one fail, the message
    // says which were.
    std::vector<std::string> written;
    bool changed = false;
    for (const std::string& path : order) {
        const std::string before = textOf(stack, path);
        const std::string& text = editors.at(path).text();
        if (text == before) {
            continue;
        }
        changed = true;
        if (options.diff) {
            std::cout << unifiedDiff(before, text, path, path);
        }
        if (options.dryRun) {
            continue;
        }
        std::error_code ignored;
        std::filesystem::create_directories(std::filesystem::path(path).parent_path(), ignored);
        Options one = options;
        one.file = path;
        one.create = true;
        try {
            Source source = openSource(one);
            if (source.text != before) {
                fail(ioFailure,
                     path + ": changed by another process while it was edited; nothing written to it");
            }
            writeOutput(one, source, text);
        } catch (const Failure& failure) {
            std::string done;
            for (const std::string& each : written) {
                done += (done.empty() ? "" : ", ") + each;
            }
            fail(failure.status, failure.message + (done.empty() ? "" : " (already written: " + done + ")"));
        }
        written.push_back(path);
    }
    if (options.dryRun && !options.quiet) {
        std::fprintf(stderr, "%s\n", changed ? "changed" : "unchanged");
    }
    return success;
}

}  // namespace

int runStack(const Options& options) {
    const ini::IniStackOptions so = stackOptions(options);
    const IniStack stack = openStack(options, so);
    if (options.verbose) {
        std::fprintf(
            stderr, "iniedit: %s: dialect %s (%s)\n",
            options.stack.empty() ? "--layer" : ("--stack=" + options.stack).c_str(),
            stack.dialect().name.c_str(),
            so.kind == ini::IniStackKind::layers ? options.dialectReason.c_str() : "the preset's owner");
    }
    if (options.verb == "files") {
        return runFiles(options, stack);
    }
    if (options.verb == "cat") {
        return runCat(stack);
    }
    if (options.verb == "check") {
        return runCheck(options, stack);
    }
    if (options.verb == "get") {
        return runGet(options, stack);
    }
    if (options.verb == "dump") {
        return runDump(options, stack);
    }
    if (options.verb == "exists") {
        const auto& args = options.operands;
        const std::vector<std::string> names = stack.sectionNames();
        const bool found = args.size() == 2
                               ? stack.find(args[0], args[1]) != nullptr
                               : std::any_of(names.begin(), names.end(), [&](const std::string& name) {
                                     return stack.dialect().sameSection(name, stack.sectionOf(args[0]));
                                 });
        return found ? success : notFound;
    }
    if (options.verb == "list") {
        std::string out;
        if (options.operands.empty()) {
            for (const std::string& name : stack.sectionNames()) {
                out += name + "\n";
            }
        } else {
            for (const IniStackKey& key : stack.keys()) {
                out += stack.dialect().sameSection(key.section, stack.sectionOf(options.operands[0]))
                           ? key.key + "\n"
                           : "";
            }
        }
        std::cout << out;
        return success;
    }
    if (isEdit(options.verb)) {
        return runEdit(options, so, stack);
    }
    fail(usageError, options.verb + " is not for a stack");
}

}  // namespace iniedit
