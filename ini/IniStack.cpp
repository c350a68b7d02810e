// Layered configuration (IniStack.h): each preset's search for its files,
// MariaDB's includes followed at the line, and the merge of every key line
// in read order.
#include "IniStack.h"

#include "IniFileSave.h"
#include "IniScanner.h"

#include <algorithm>
#include <filesystem>
#include <set>
#include <system_error>
#include <utility>

namespace ini {
namespace {

namespace fs = std::filesystem;

bool startsWith(std::string_view s, std::string_view prefix) { return s.substr(0, prefix.size()) == prefix; }
bool endsWith(std::string_view s, std::string_view end) {
    return s.size() >= end.size() && s.substr(s.size() - end.size()) == end;
}

std::string folded(std::string_view name, bool fold) {
    std::string out(name);
    if (fold) {
        std::transform(out.begin(), out.end(), out.begin(),
                       [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; });
    }
    return out;
}

std::string directoryOf(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
}

std::string nameOf(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// PHP's per-directory and per-host sections: a name starting with PATH or
// HOST, in any case, and longer than that.
bool isPhpSpecial(std::string_view name) {
    return name.size() > 4 &&
           (equalsIgnoringCase(name.substr(0, 4), "path") || equalsIgnoringCase(name.substr(0, 4), "host"));
}

// MariaDB's deepest include: the files nested in one another.
constexpr int mysqlIncludeDepth = 10;

}  // namespace

const char* stackFileStateName(IniStackFile::State state) {
    switch (state) {
    case IniStackFile::State::read:
        return "read";
    case IniStackFile::State::masked:
        return "masked";
    case IniStackFile::State::missing:
        return "missing";
    }
    return "unknown";
}

std::vector<std::size_t> IniStackKey::effective() const {
    std::vector<std::size_t> out;
    if (!list) {
        out.push_back(deciding_);
        return out;
    }
    for (std::size_t i = 0; i < lines.size(); ++i) {
        if (lines[i].reset) {
            out.clear();
        } else {
            out.push_back(i);
        }
    }
    return out;
}

// Finds the files of a preset and reads them into the stack.
struct IniStack::Reader {
    Reader(const IniStackOptions& o, IniStack& s) : options(o), stack(s) {}

    const IniStackOptions& options;
    IniStack& stack;
    std::string error;  // what makes the owner stop reading

    std::string rooted(const std::string& path) const {
        return options.root.empty() || path.empty() || path[0] != '/' ? path : options.root + path;
    }

    bool exists(const std::string& path) const {
        std::error_code ignored;
        return options.overrides.count(path) > 0 || fs::is_symlink(path, ignored) ||
               fs::exists(path, ignored);
    }

    // A link to /dev/null reads as empty, as its owner reads a mask.
    bool readText(const std::string& path, std::string& text) const {
        if (const auto found = options.overrides.find(path); found != options.overrides.end()) {
            text = found->second;
            return true;
        }
        std::error_code ignored;
        if (fs::is_symlink(path, ignored) && fs::read_symlink(path, ignored) == "/dev/null") {
            text.clear();
            return true;
        }
        return readFile(path, text);
    }

    // The names in `directory` ending in `suffix`, in byte order, with the
    // overrides that would be there.
    std::vector<std::string> list(const std::string& directory, std::string_view suffix) const {
        std::set<std::string> names;
        std::error_code failed;
        for (fs::directory_iterator it(directory, failed), end; !failed && it != end; it.increment(failed)) {
            const std::string name = it->path().filename().string();
            std::error_code ignored;
            if (endsWith(name, suffix) && !it->is_directory(ignored)) {
                names.insert(name);
            }
        }
        for (const auto& [path, text] : options.overrides) {
            if (directoryOf(path) == directory && endsWith(nameOf(path), suffix)) {
                names.insert(nameOf(path));
            }
        }
        return {names.begin(), names.end()};
    }

    std::size_t add(const std::string& path, IniStackFile::State state) {
        IniStackFile file;
        file.path = path;
        file.state = state;
        const std::string inRoot =
            !options.root.empty() && startsWith(path, options.root) ? path.substr(options.root.size()) : path;
        for (const char* vendor : {"/usr/lib/", "/lib/", "/usr/local/lib/", "/run/"}) {
            file.administrators = file.administrators && !startsWith(inRoot, vendor);
        }
        stack.files_.push_back(std::move(file));
        return stack.files_.size() - 1;
    }

    // Reads a file found to exist, merging its lines.
    void read(const std::string& path, int depth = 0, const std::string& from = {}, std::size_t at = 0) {
        const std::size_t index = add(path, IniStackFile::State::read);
        stack.files_[index].includedFrom = from;
        stack.files_[index].includedLine = at;
        std::string text;
        if (!readText(path, text)) {
            stack.files_[index].state = IniStackFile::State::missing;
            return;
        }
        stack.files_[index].text = std::move(text);
        // Each file starts outside every section; an includer goes on in
        // its own.
        const std::string outer = std::exchange(current, std::string());
        const std::string outerSpecial = std::exchange(special, std::string());
        const std::uint32_t outerHeader = std::exchange(header, headerIndex(std::string()));
        merge(index, depth);
        current = outer;
        special = outerSpecial;
        header = outerHeader;
    }

    // Every key line of the file in order; under MariaDB's rules an
    // !include or !includedir line reads those files right there.
    void merge(std::size_t index, int depth) {
        // A copy where includes may add files (and move this one's text).
        std::string copy;
        if (stack.kind_ == IniStackKind::mysql) {
            copy = stack.files_[index].text;
        }
        const std::string& text = stack.kind_ == IniStackKind::mysql ? copy : stack.files_[index].text;
        const IniDialect& dialect = stack.dialect_;
        IniScanner scanner(text, dialect);
        std::size_t number = 1;
        std::size_t counted = 0;
        for (IniLine line; scanner.next(line);) {
            number += static_cast<std::size_t>(
                std::count(text.begin() + static_cast<std::ptrdiff_t>(counted),
                           text.begin() + static_cast<std::ptrdiff_t>(line.begin), '\n'));
            counted = line.begin;
            if (line.problem != nullptr && stack.files_[index].problemLine == 0) {
                stack.files_[index].problemLine = number;
                stack.files_[index].problem = line.problem;
            }
            if (line.kind == IniLineKind::header) {
                section(std::string(line.section));
            } else if (line.kind == IniLineKind::key && (line.hasValue || line.setsInlineComment)) {
                // As a lookup reads a file: a line that only sets an inline
                // comment gives the key the empty value (classic).
                key(index, line, number);
            } else if (stack.kind_ == IniStackKind::mysql && line.kind != IniLineKind::comment) {
                include(index, std::string_view(text).substr(line.begin, line.end - line.begin), number,
                        depth);
            }
            if (!error.empty()) {
                return;
            }
        }
    }

    // "!include FILE" and "!includedir DIR", as MariaDB reads them.
    void include(std::size_t index, std::string_view line, std::size_t number, int depth) {
        const auto blank = [](char c) {
            return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f';
        };
        while (!line.empty() && blank(line.front())) {
            line.remove_prefix(1);
        }
        if (line.empty() || line.front() != '!' || depth >= mysqlIncludeDepth) {
            return;
        }
        line.remove_prefix(1);
        while (!line.empty() && blank(line.front())) {
            line.remove_prefix(1);
        }
        const bool directory = startsWith(line, "includedir") && line.size() > 10 && blank(line[10]);
        const bool file = !directory && startsWith(line, "include") && line.size() > 7 && blank(line[7]);
        if (!directory && !file) {
            return;
        }
        line.remove_prefix(directory ? 10 : 7);
        while (!line.empty() && blank(line.front())) {
            line.remove_prefix(1);
        }
        while (!line.empty() && blank(line.back())) {
            line.remove_suffix(1);
        }
        const std::string from = stack.files_[index].path;
        const std::string target = rooted(std::string(line));
        if (file) {
            if (exists(target)) {
                read(target, depth + 1, from, number);
            } else {
                const std::size_t missing = add(target, IniStackFile::State::missing);
                stack.files_[missing].includedFrom = from;
                stack.files_[missing].includedLine = number;
            }
            return;
        }
        std::error_code failed;
        if (!fs::is_directory(target, failed)) {
            error = from + ":" + std::to_string(number) + ": !includedir " + std::string(line) +
                    ": no such directory (the owner stops reading)";
            const std::size_t missing = add(target, IniStackFile::State::missing);
            stack.files_[missing].includedFrom = from;
            stack.files_[missing].includedLine = number;
            return;
        }
        for (const std::string& name : list(target, ".cnf")) {
            read(target + "/" + name, depth + 1, from, number);
            if (!error.empty()) {
                return;
            }
        }
    }

    std::string current;  // the section being read
    // PHP: the [PATH=...] or [HOST=...] section that the rest of the file
    // belongs to, whatever headers follow (PHP keeps them apart from its
    // one namespace until the file ends).
    std::string special;

    // The name a key of the current section is known by.
    std::string named() const {
        if (stack.kind_ != IniStackKind::php) {
            return current;
        }
        return special.empty() ? "PHP" : special;
    }

    void section(std::string name) {
        current = std::move(name);
        header = headerIndex(current);
        if (stack.kind_ == IniStackKind::php && isPhpSpecial(current)) {
            special = current;
        }
        if (sections.insert(folded(named(), stack.dialect_.caseInsensitiveSections)).second) {
            sectionOrder.push_back(named());
        }
        lastNamed = named();
    }
    std::set<std::string> sections;
    std::vector<std::string> sectionOrder;
    std::string id;            // a key's folded name, reused
    std::uint32_t header = 0;  // headerOf() of the current section
    std::map<std::string, std::uint32_t> headerIndexes;

    std::uint32_t headerIndex(const std::string& name) {
        const auto [at, isNew] =
            headerIndexes.emplace(name, static_cast<std::uint32_t>(stack.headers_.size()));
        if (isNew) {
            stack.headers_.push_back(name);
        }
        return at->second;
    }
    std::string lastNamed = std::string(1, '\0');  // the section of the last key line

    void key(std::size_t file, const IniLine& line, std::size_t number) {
        const IniDialect& dialect = stack.dialect_;
        const std::string named = this->named();
        if (named != lastNamed) {
            // Keys above every header name a section of their own.
            if (sections.insert(folded(named, dialect.caseInsensitiveSections)).second) {
                sectionOrder.push_back(named);
            }
            lastNamed = named;
        }
        // The key's name as the dialect compares names, built in one buffer
        // kept from line to line.
        id.assign(named);
        if (dialect.caseInsensitiveSections) {
            id = folded(id, true);
        }
        id += '\n';
        const std::size_t keyAt = id.size();
        id.append(line.key);
        if (dialect.caseInsensitiveKeys) {
            std::transform(id.begin() + static_cast<std::ptrdiff_t>(keyAt), id.end(),
                           id.begin() + static_cast<std::ptrdiff_t>(keyAt), [](char c) {
                               return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
                           });
        }
        auto at = stack.index_.find(id);
        const bool isNew = at == stack.index_.end();
        if (isNew) {
            at = stack.index_.emplace(id, stack.keys_.size()).first;
            IniStackKey entry;
            entry.section = named;
            entry.key = std::string(line.key);
            entry.list = dialect.emptyValueResetsList || dialect.isListKey(line.key);
            stack.keys_.push_back(std::move(entry));
        }
        IniStackKey& entry = stack.keys_[at->second];
        IniOrigin origin;
        origin.file = static_cast<std::uint32_t>(file);
        origin.line = static_cast<std::uint32_t>(number);
        origin.begin = line.begin;
        origin.end = line.end;
        origin.header = header;
        origin.noValue = line.noValue;
        origin.reset = dialect.emptyValueResetsList && !line.noValue && ini::valueOf(line, dialect).empty();
        entry.lines.push_back(origin);
        // The last line decides, or under first-wins rules the first line
        // of the last file that sets the key.
        const std::size_t last = entry.lines.size() - 1;
        if (dialect.lastValueWins || entry.lines[entry.deciding_].file != file) {
            entry.deciding_ = last;
        }
    }

    // The preset's files.
    void systemdUnit() {
        const std::vector<std::string> directories = {"/etc/systemd/system", "/run/systemd/system",
                                                      "/usr/local/lib/systemd/system", "/lib/systemd/system",
                                                      "/usr/lib/systemd/system"};
        const std::string& name = options.name;
        bool found = false;
        for (const std::string& directory : directories) {
            const std::string path = rooted(directory + "/" + name);
            if (!found && exists(path)) {
                read(path);
                found = true;
            }
        }
        if (!found) {
            add(rooted(directories.front() + "/" + name), IniStackFile::State::missing);
        }
        // The drop-in directories: in each directory of the search path,
        // highest first, the unit's own, its template's and each prefix up
        // to a '-' (longest first); then in each the type's, the most
        // generic. Of one file name, the first found is read (as
        // systemd-analyze reads them).
        const std::size_t dot = name.rfind('.');
        const std::string stem = dot == std::string::npos ? name : name.substr(0, dot);
        const std::string type = dot == std::string::npos ? std::string() : name.substr(dot);
        std::vector<std::string> dropIns{name + ".d"};
        if (const std::size_t at = stem.find('@'); at != std::string::npos && at + 1 < stem.size()) {
            dropIns.push_back(stem.substr(0, at + 1) + type + ".d");
        }
        for (std::size_t dash = stem.rfind('-'); dash != std::string::npos && dash > 0;
             dash = stem.rfind('-', dash - 1)) {
            dropIns.push_back(stem.substr(0, dash + 1) + type + ".d");
        }
        std::vector<std::string> inOrder;
        for (const std::string& directory : directories) {
            for (const std::string& dropIn : dropIns) {
                inOrder.push_back(rooted(directory + "/" + dropIn));
            }
        }
        for (const std::string& directory : directories) {
            if (!type.empty()) {
                inOrder.push_back(rooted(directory + "/" + type.substr(1) + ".d"));
            }
        }
        readDropIns(inOrder);
    }

    void systemdConf() {
        const std::vector<std::string> directories = {"/etc/systemd", "/run/systemd",
                                                      "/usr/local/lib/systemd", "/usr/lib/systemd"};
        bool found = false;
        for (const std::string& directory : directories) {
            const std::string path = rooted(directory + "/" + options.name);
            if (!found && exists(path)) {
                read(path);
                found = true;
            }
        }
        if (!found) {
            add(rooted(directories.front() + "/" + options.name), IniStackFile::State::missing);
        }
        std::vector<std::string> inOrder;
        inOrder.reserve(directories.size());
        for (const std::string& directory : directories) {
            inOrder.push_back(rooted(directory + "/" + options.name + ".d"));
        }
        readDropIns(inOrder);
    }

    // The *.conf files of the directories given (most specific and highest
    // first), sorted together by name; of one name only the first found is
    // read, and the others are masked by it.
    void readDropIns(const std::vector<std::string>& directories) {
        std::map<std::string, std::vector<std::string>> byName;
        for (const std::string& directory : directories) {
            for (const std::string& name : list(directory, ".conf")) {
                byName[name].push_back(directory + "/" + name);
            }
        }
        for (const auto& [name, paths] : byName) {
            read(paths.front());
            for (std::size_t i = 1; i < paths.size(); ++i) {
                const std::size_t masked = add(paths[i], IniStackFile::State::masked);
                stack.files_[masked].maskedBy = paths.front();
            }
        }
    }

    void php() {
        const std::string main = rooted(options.name);
        if (exists(main)) {
            read(main);
        } else {
            add(main, IniStackFile::State::missing);
        }
        const std::string compiledIn =
            options.defaultScanDir.empty() ? directoryOf(main) + "/conf.d" : rooted(options.defaultScanDir);
        std::vector<std::string> directories;
        if (!options.scanDirs) {
            directories.push_back(compiledIn);
        } else if (!options.scanDirs->empty()) {
            for (std::size_t at = 0; at <= options.scanDirs->size();) {
                const std::size_t colon = std::min(options.scanDirs->find(':', at), options.scanDirs->size());
                const std::string directory = options.scanDirs->substr(at, colon - at);
                directories.push_back(directory.empty() ? compiledIn : rooted(directory));
                at = colon + 1;
            }
        }
        for (const std::string& directory : directories) {
            for (const std::string& name : list(directory, ".ini")) {
                read(directory + "/" + name);
            }
        }
    }

    void mysql() {
        if (!options.name.empty()) {
            const std::string path = rooted(options.name);
            if (exists(path)) {
                read(path);
            } else {
                add(path, IniStackFile::State::missing);
                error = path + ": no such file (the owner stops reading)";
            }
            return;
        }
        std::vector<std::string> defaults = {"/etc/my.cnf", "/etc/mysql/my.cnf"};
        if (!options.mysqlHome.empty()) {
            defaults.push_back(options.mysqlHome + "/my.cnf");
        }
        if (!options.home.empty()) {
            defaults.push_back(options.home + "/.my.cnf");
        }
        for (const std::string& path : defaults) {
            const std::string at = rooted(path);
            if (exists(at)) {
                read(at);
            } else {
                add(at, IniStackFile::State::missing);
            }
            if (!error.empty()) {
                return;
            }
        }
    }
};

std::string IniStack::sectionOf(std::string_view section) const {
    if (kind_ == IniStackKind::php && !isPhpSpecial(section)) {
        return "PHP";
    }
    return std::string(section);
}

IniStack IniStack::open(const IniStackOptions& options, std::string* error) {
    IniStack stack;
    stack.kind_ = options.kind;
    switch (options.kind) {
    case IniStackKind::layers:
        stack.dialect_ = options.dialect;
        break;
    case IniStackKind::systemdUnit:
    case IniStackKind::systemdConf:
        stack.dialect_ = IniDialect::systemd();
        break;
    case IniStackKind::php:
        stack.dialect_ = IniDialect::php();
        break;
    case IniStackKind::mysql:
        stack.dialect_ = IniDialect::mysql();
        break;
    }
    Reader reader(options, stack);
    switch (options.kind) {
    case IniStackKind::layers:
        for (const std::string& layer : options.layers) {
            if (reader.exists(layer)) {
                reader.read(layer);
            } else {
                reader.add(layer, IniStackFile::State::missing);
            }
        }
        break;
    case IniStackKind::systemdUnit:
        reader.systemdUnit();
        break;
    case IniStackKind::systemdConf:
        reader.systemdConf();
        break;
    case IniStackKind::php:
        reader.php();
        break;
    case IniStackKind::mysql:
        reader.mysql();
        break;
    }
    stack.sectionOrder_ = std::move(reader.sectionOrder);
    if (error != nullptr) {
        *error = reader.error;
    }
    return stack;
}

IniStack IniStack::fromTexts(const std::vector<std::pair<std::string, std::string>>& files,
                             const IniDialect& dialect) {
    IniStackOptions options;
    options.dialect = dialect;
    for (const auto& [name, text] : files) {
        options.layers.push_back(name);
        options.overrides[name] = text;
    }
    return open(options);
}

const IniStackKey* IniStack::find(std::string_view section, std::string_view key) const {
    const std::string named = sectionOf(section);
    const auto found = index_.find(folded(named, dialect_.caseInsensitiveSections) + "\n" +
                                   folded(key, dialect_.caseInsensitiveKeys));
    if (found != index_.end()) {
        return &keys_[found->second];
    }
    // configparser's sections see the keys of DEFAULT.
    const std::vector<std::string> names = sectionNames();
    const bool exists = std::any_of(names.begin(), names.end(), [&](const std::string& name) {
        return dialect_.sameSection(name, named);
    });
    if (!dialect_.defaultSection.empty() && exists && !dialect_.sameSection(named, dialect_.defaultSection)) {
        return find(dialect_.defaultSection, key);
    }
    return nullptr;
}

std::vector<std::string> IniStack::sectionNames() const { return sectionOrder_; }

std::optional<std::string> IniStack::value(std::string_view section, std::string_view key) const {
    const IniStackKey* found = find(section, key);
    if (found == nullptr) {
        return std::nullopt;
    }
    return valueOf(found->lines[found->deciding()]).value_or("");
}

std::optional<std::string> IniStack::valueOf(const IniOrigin& origin) const {
    if (origin.noValue) {
        return std::nullopt;
    }
    const std::string& text = files_[origin.file].text;
    return ini::valueOf(
        scanLine(std::string_view(text).substr(origin.begin, origin.end - origin.begin), dialect_), dialect_);
}

std::vector<std::string> IniStack::values(std::string_view section, std::string_view key) const {
    std::vector<std::string> out;
    if (const IniStackKey* found = find(section, key)) {
        for (const std::size_t i : found->effective()) {
            out.push_back(valueOf(found->lines[i]).value_or(""));
        }
    }
    return out;
}

}  // namespace ini
