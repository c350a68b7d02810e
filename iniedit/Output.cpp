// The verbs that print (Output.h), and the quoting each format needs.
#include "Output.h"

#include "IniDiagnostics.h"
#include "IniTypes.h"
#include "Status.h"

#include <cmath>
#include <cstdio>
#include <iostream>

namespace iniedit {
namespace {

bool isShellName(std::string_view name) {
    if (name.empty() || (name[0] >= '0' && name[0] <= '9')) {
        return false;
    }
    for (const char c : name) {
        if (!(c == '_' || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9'))) {
            return false;
        }
    }
    return true;
}

// Single quotes keep every byte but the quote itself, which is closed,
// escaped and reopened.
std::string shellQuoted(std::string_view text) {
    std::string out = "'";
    for (const char c : text) {
        out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    }
    return out + "'";
}

// The length of the valid UTF-8 sequence at the start of `s`, or 0.
std::size_t utf8_length(std::string_view s) {
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(s[i]); };
    const unsigned char lead = byte(0);
    std::size_t length = 0;
    unsigned min = 0;
    if (lead < 0x80) {
        return 1;
    }
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
        min = 0x80;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        min = 0x800;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        min = 0x10000;
    } else {
        return 0;
    }
    if (s.size() < length) {
        return 0;
    }
    unsigned code = lead & (0x7F >> length);
    for (std::size_t i = 1; i < length; ++i) {
        if ((byte(i) & 0xC0) != 0x80) {
            return 0;
        }
        code = code << 6 | (byte(i) & 0x3F);
    }
    const bool surrogate = code >= 0xD800 && code <= 0xDFFF;
    return code < min || code > 0x10FFFF || surrogate ? 0 : length;
}

// A JSON string; bytes that are not UTF-8 become U+FFFD, so the output is
// always valid JSON.
std::string jsonQuoted(std::string_view text) {
    std::string out = "\"";
    while (!text.empty()) {
        const std::size_t length = utf8_length(text);
        const unsigned char c = static_cast<unsigned char>(text[0]);
        if (length == 0) {
            out += "\\ufffd";
            text.remove_prefix(1);
            continue;
        }
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c < 0x20 || c == 0x7F) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
            out += escaped;
        } else {
            out.append(text.substr(0, length));
        }
        text.remove_prefix(length);
    }
    return out + "\"";
}

void require_shell_name(std::string_view key, const std::string& file) {
    if (!isShellName(key)) {
        fail(refusedUnsafe, file + ": key '" + std::string(key) + "' is not a shell variable name");
    }
}

}  // namespace

std::string jsonString(std::string_view text) { return jsonQuoted(text); }

std::string typed(const Options& options, const std::string& value, const std::string& what) {
    const char* reason = nullptr;
    const auto text = options.type->canonical(value, &reason);
    if (!text) {
        fail(refusedUnsafe, options.file + ": " + what + "'" + value + "', not " + options.type->description +
                                " (" + reason + ")");
    }
    if (options.format == Format::json && std::string_view(options.type->name) == "float" &&
        !std::isfinite(*ini::parseDouble(*text))) {
        return jsonQuoted(*text);  // inf, nan: no JSON number
    }
    return *text;
}

int runGet(const Options& options, const ini::IniEditor& editor) {
    const std::string& section = options.operands[0];
    const std::string& key = options.operands[1];
    if (!editor.keyExists(section, key)) {
        fail(notFound, options.file + ": " +
                           (editor.sectionExists(section) || section.empty()
                                ? "no key '" + key + "' in section '" + section + "'"
                                : "no section '" + section + "' (so no key '" + key + "')"));
    }
    // A key without a value is JSON's null.
    const bool bare = editor.hasNoValue(section, key);
    std::string out;
    if (options.type != nullptr) {
        std::vector<std::string> values =
            options.all ? editor.values(section, key) : std::vector{editor.read(section, key, "")};
        for (std::string& value : values) {
            value = typed(options, value, "key '" + key + "' in section '" + section + "' holds ");
        }
        for (std::size_t i = 0; i < values.size(); ++i) {
            out += options.format == Format::json ? (options.all ? (i == 0 ? "[" : ",") : "") + values[i]
                                                  : values[i] + '\n';
        }
        out += options.format == Format::json ? (!options.all ? "\n" : values.empty() ? "[]\n" : "]\n") : "";
        std::cout << out;
        return success;
    }
    if (options.all) {
        const std::vector<std::optional<std::string>> values = editor.valueLines(section, key);
        for (std::size_t i = 0; i < values.size(); ++i) {
            out += options.format == Format::json
                       ? (i == 0 ? "[" : ",") + (values[i] ? jsonQuoted(*values[i]) : std::string("null"))
                       : values[i].value_or("") + '\n';
        }
        out += options.format == Format::json ? (values.empty() ? "[]\n" : "]\n") : "";
        std::cout << out;
        return success;
    }
    const std::string value = editor.read(section, key, "");
    switch (options.format) {
    case Format::ini:
    case Format::value:
        out = value + '\n';
        break;
    case Format::sh:
        require_shell_name(key, options.file);
        out = key + '=' + shellQuoted(value) + '\n';
        break;
    case Format::json:
        out = (bare ? std::string("null") : jsonQuoted(value)) + '\n';
        break;
    }
    std::cout << out;
    return success;
}

namespace {

// A name made a shell variable's: every byte but an ASCII letter, digit or
// '_' becomes '_', and a name that would start with a digit (or be empty)
// gets a '_' in front.
std::string shellName(std::string_view name) {
    std::string out;
    for (const char c : name) {
        const bool fits =
            c == '_' || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
        out += fits ? c : '_';
    }
    return out.empty() || (out[0] >= '0' && out[0] <= '9') ? "_" + out : out;
}

// The effective content as a new text of the same dialect, written by the
// editor so that it reads back as it was read.
std::string normalised(const Options& options, const ini::IniEditor& editor) {
    ini::IniEditor out(std::string(), editor.dialect());
    for (const auto& [section, entries] : editor.allEntries()) {
        ini::IniEditResult result = out.addSection(section);
        for (std::size_t k = 0; k < entries.size() && result.status != ini::IniEditStatus::refused; ++k) {
            const auto& [key, value] = entries[k];
            result = editor.hasNoValue(section, key) ? out.writeNoValue(section, key)
                     : options.all ? out.writeValues(section, key, editor.values(section, key))
                                   : out.write(section, key, value);
            if (result.status == ini::IniEditStatus::refused) {
                fail(refusedUnsafe, options.file + ": key '" + key + "' in section '" + section +
                                        "' cannot be written anew: " + result.reason);
            }
        }
        if (result.status == ini::IniEditStatus::refused) {
            fail(refusedUnsafe,
                 options.file + ": section '" + section + "' cannot be written anew: " + result.reason);
        }
    }
    return out.text();
}

}  // namespace

// Every section and key as the dialect reads them, in text order: the keys
// above the first header under "", each section once (repeats merged), all
// from one reading of the text.
int runDump(const Options& options, const ini::IniEditor& editor) {
    if (options.format == Format::ini) {
        std::cout << normalised(options, editor);
        return success;
    }
    const bool json = options.format == Format::json;
    std::string out = json ? "{" : "";
    bool firstSection = true;
    for (const auto& [section, entries] : editor.allEntries()) {
        if (options.format == Format::sh) {
            for (const auto& [key, value] : entries) {
                out +=
                    shellName(section.empty() ? key : section + "_" + key) + "=" + shellQuoted(value) + "\n";
            }
            continue;
        }
        out += json ? (firstSection ? "" : ",") + jsonQuoted(section) + ":{" : "[" + section + "]\n";
        firstSection = false;
        for (std::size_t k = 0; k < entries.size(); ++k) {
            const auto& [key, value] = entries[k];
            // A key without a value is JSON's null, and in the text a key
            // without '='.
            const std::vector<std::optional<std::string>> values =
                options.all
                    ? editor.valueLines(section, key)
                    : std::vector{editor.hasNoValue(section, key) ? std::nullopt
                                                                  : std::optional<std::string>(value)};
            if (!json) {
                // Each further line of a value starts with a tab, which no
                // key or header line of the dump starts with.
                for (const auto& each : values) {
                    out += key + (each ? "=" : "");
                    for (const char c : each.value_or("")) {
                        out += c == '\n' ? std::string("\n\t") : std::string(1, c);
                    }
                    out += "\n";
                }
                continue;
            }
            const auto jsonValue = [&](const std::optional<std::string>& each) {
                return each ? jsonQuoted(*each) : std::string("null");
            };
            out += (k == 0 ? "" : ",") + jsonQuoted(key) + ":";
            if (!options.all) {
                out += jsonValue(values.front());
                continue;
            }
            out += "[";
            for (std::size_t v = 0; v < values.size(); ++v) {
                out += (v == 0 ? "" : ",") + jsonValue(values[v]);
            }
            out += "]";
        }
        out += json ? "}" : "";
    }
    out += json ? "}\n" : "";
    std::cout << out;
    return success;
}

// What the dialect makes of lines a person may not expect, one per line as
// FILE:LINE:COLUMN: message [kind], or as a JSON array; 1 when anything is
// found.
int runCheck(const Options& options, const std::string& text) {
    const std::vector<ini::IniFinding> findings = ini::diagnose(text, options.dialect);
    std::string out = options.format == Format::json ? "[" : "";
    for (std::size_t i = 0; i < findings.size(); ++i) {
        const ini::IniFinding& f = findings[i];
        if (options.format == Format::json) {
            out += (i == 0 ? "{\"kind\":" : ",{\"kind\":") + jsonQuoted(ini::findingName(f.kind)) +
                   ",\"line\":" + std::to_string(f.line) + ",\"column\":" + std::to_string(f.column) +
                   ",\"begin\":" + std::to_string(f.begin) + ",\"end\":" + std::to_string(f.end) +
                   ",\"message\":" + jsonQuoted(f.message) + "}";
        } else {
            out += options.file + ":" + std::to_string(f.line) + ":" + std::to_string(f.column) + ": " +
                   f.message + " [" + ini::findingName(f.kind) + "]\n";
        }
    }
    out += options.format == Format::json ? "]\n" : "";
    std::cout << out;
    return findings.empty() ? success : notFound;
}

int runList(const Options& options, const ini::IniEditor& editor) {
    const bool keys = !options.operands.empty();
    const std::string section = keys ? options.operands[0] : std::string();
    if (keys && !editor.sectionExists(section)) {
        fail(notFound, options.file + ": no section '" + section + "'");
    }
    // Names and values come from one reading of the text.
    std::vector<std::pair<std::string, std::string>> entries;
    if (keys) {
        entries = editor.entries(section);
    } else {
        for (auto& name : editor.sectionNames()) {
            entries.emplace_back(std::move(name), std::string());
        }
    }
    std::string out;
    if (options.format == Format::json) {
        out = keys ? "{" : "[";
        for (std::size_t i = 0; i < entries.size(); ++i) {
            out += i == 0 ? "" : ",";
            out += jsonQuoted(entries[i].first);
            out += keys ? ":" + jsonQuoted(entries[i].second) : "";
        }
        out += keys ? "}\n" : "]\n";
    } else if (options.format == Format::sh && keys) {
        for (const auto& entry : entries) {
            require_shell_name(entry.first, options.file);
        }
        for (const auto& [name, value] : entries) {
            out += name + "=" + shellQuoted(value) + "\n";
        }
    } else {
        for (const auto& entry : entries) {
            out += options.format == Format::sh ? shellQuoted(entry.first) : entry.first;
            out += options.nulSeparated ? '\0' : '\n';
        }
    }
    std::cout << out;
    return success;
}

}  // namespace iniedit
