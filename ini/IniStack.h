// Layered configuration: the files one program reads for one setting, in
// the order it reads them, merged as it merges them.
//
//     ini::IniStackOptions options;
//     options.kind = ini::IniStackKind::systemdUnit;
//     options.name = "nginx.service";
//     const ini::IniStack stack = ini::IniStack::open(options);
//     if (const ini::IniStackKey* key = stack.find("Service", "ExecStart")) {
//         const ini::IniOrigin& decides = key->lines[key->deciding()];
//         std::cout << stack.files()[decides.file].path << ':' << decides.line << '\n';
//     }
//
// Each file is read with the stack's dialect through the same scanner as
// IniEditor, and every value remembers the file, line and bytes it came
// from. The presets find their files as their owners do: a unit file and
// its drop-ins, a systemd *.conf and its drop-ins, php.ini and its scan
// directories, a MariaDB option file and what it includes; or a plain list
// of layers, the later winning (configparser's read([...])).
#ifndef INI_INISTACK_H
#define INI_INISTACK_H

#include "IniDialect.h"
#include "IniExport.h"

#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace ini {

enum class IniStackKind {
    layers,       // the files given, in order
    systemdUnit,  // a unit file and its drop-ins (NAME.d, prefix and type-level)
    systemdConf,  // /etc/systemd/NAME or the first found, then NAME.d/*.conf
    php,          // php.ini, then every *.ini of the scan directories
    mysql,        // an option file (or the default ones) and its includes
};

struct IniStackOptions {
    IniStackKind kind = IniStackKind::layers;
    std::string name;  // the unit, the *.conf, php.ini, or the option file ("" for the defaults)
    std::vector<std::string> layers;  // for layers
    std::string root;                 // every absolute path of a preset is taken under it
    // php: PHP_INI_SCAN_DIR as the environment holds it (unset: the
    // compiled-in directory), and that compiled-in directory ("": the
    // conf.d beside php.ini).
    std::optional<std::string> scanDirs;
    std::string defaultScanDir;
    // mysql's default files: $HOME/.my.cnf, $MYSQL_HOME/my.cnf.
    std::string home;
    std::string mysqlHome;
    // The dialect of layers (the presets have their owner's).
    IniDialect dialect = IniDialect::classic();
    // Texts that stand for files (path -> text): read instead of the file,
    // and seen in its directory even when no such file exists yet. An edit
    // is checked on the stack before anything is written so.
    std::map<std::string, std::string> overrides;
};

// One file of the stack and what became of it.
struct IniStackFile {
    enum class State {
        read,     // read whole (an empty file or a link to /dev/null is read as empty)
        masked,   // a file of the same name elsewhere is read instead
        missing,  // named but not there
    };
    std::string path;  // as it can be opened (under the root)
    State state = State::read;
    std::string maskedBy;          // masked: the path read instead
    std::string includedFrom;      // read because a line of this file included it ...
    std::size_t includedLine = 0;  // ... at this line
    std::string text;
    // The first line the dialect's owner rejects (0 for none), and why.
    std::size_t problemLine = 0;
    std::string problem;
    bool administrators = true;  // not a vendor or runtime directory (/usr/lib, /lib, /usr/local/lib, /run)
};

// One line that sets a key.
// Small, as a large stack keeps one for every key line.
struct IniOrigin {
    std::uint32_t file = 0;  // in files()
    std::uint32_t line = 0;  // counted from 1
    std::size_t begin = 0;   // the line's bytes in the file
    std::size_t end = 0;
    std::uint32_t header = 0;  // the section as written: IniStack::headerOf()
    bool noValue = false;      // a key without a value (MariaDB's bare "key")
    bool reset = false;        // an empty assignment, which drops the list before it
};

// A key of the merged configuration: every line that set it, in read order.
struct INI_API IniStackKey {
    std::string section;  // as the key is named: "PHP" for PHP's one namespace
    std::string key;
    std::vector<IniOrigin> lines;
    bool list = false;  // every line after the last reset counts, not only the last
    // The line whose value a lookup returns (the last, or under classic the
    // first of the last file that sets it).
    std::size_t deciding() const { return deciding_; }
    // The lines that take effect: the deciding one, or for a list every
    // line after the last reset.
    std::vector<std::size_t> effective() const;
    std::size_t deciding_ = 0;
};

class INI_API IniStack {
public:
    // Finds and reads the files. A failure the owner would report (a
    // missing !includedir) is given in `error` with the files read so far.
    static IniStack open(const IniStackOptions& options, std::string* error = nullptr);
    // Layers from texts, for tests: (name, text), the later winning.
    static IniStack fromTexts(const std::vector<std::pair<std::string, std::string>>& files,
                              const IniDialect& dialect);

    const std::vector<IniStackFile>& files() const { return files_; }
    const IniDialect& dialect() const { return dialect_; }
    IniStackKind kind() const { return kind_; }
    // Every key, in the order first seen.
    const std::vector<IniStackKey>& keys() const { return keys_; }
    // The key as a lookup finds it (names compared as the dialect compares
    // them; python's sections see DEFAULT's keys); null when absent.
    const IniStackKey* find(std::string_view section, std::string_view key) const;
    // The sections, in the order first seen.
    std::vector<std::string> sectionNames() const;
    // The value a lookup returns, and every value in effect.
    std::optional<std::string> value(std::string_view section, std::string_view key) const;
    std::vector<std::string> values(std::string_view section, std::string_view key) const;
    // The name of the section a line is in, as its file writes it.
    const std::string& headerOf(const IniOrigin& origin) const { return headers_[origin.header]; }
    // The value of a line, read from its file when asked for (keeping every
    // value of a large stack would cost more than reading it); std::nullopt
    // for a key without a value.
    std::optional<std::string> valueOf(const IniOrigin& origin) const;
    // The section a key is named with: PHP keeps one namespace, so every key
    // outside its [PATH=...] and [HOST=...] sections (any name starting with
    // PATH or HOST; the rest of their file belongs to them) is named in "PHP".
    std::string sectionOf(std::string_view section) const;

private:
    struct Reader;
    IniStackKind kind_ = IniStackKind::layers;
    IniDialect dialect_;
    std::vector<IniStackFile> files_;
    std::vector<IniStackKey> keys_;
    std::unordered_map<std::string, std::size_t> index_;  // folded "section\nkey" -> keys_
    std::vector<std::string> sectionOrder_;
    std::vector<std::string> headers_;  // every section name as written
};

INI_API const char* stackFileStateName(IniStackFile::State state);

}  // namespace ini

#endif  // INI_INISTACK_H
