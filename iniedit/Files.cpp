// iniedit's file access (Files.h): reading FILE or a stream, and writing
// the result back.
#include "Files.h"

#include "Status.h"

#include <algorithm>
#include <cstdio>
#include <string>
#include <utility>

namespace iniedit {
namespace {

// Text that is not 8-bit text the loader can read is refused rather than
// edited into something else.
void check_text(const std::string& text, const std::string& name) {
    const auto startsWith = [&](std::string_view prefix) {
        return text.compare(0, prefix.size(), prefix) == 0;
    };
    if (startsWith(std::string_view("\x00\x00\xFE\xFF", 4)) || startsWith("\xFF\xFE") ||
        startsWith("\xFE\xFF")) {
        fail(refusedUnsafe, name + ": UTF-16 or UTF-32 text; convert it to UTF-8 first");
    }
    if (text.find('\0') != std::string::npos) {
        fail(refusedUnsafe, name + ": holds NUL bytes; not a text file");
    }
}

Source read_stream(int fd, const std::string& name) {
    Source source;
    source.text = readAll(fd, name);
    source.exists = source.stream = true;
    check_text(source.text, name);
    return source;
}

// Writes all of `text` to the descriptor `fd`.
void write_descriptor(int fd, std::string_view text, const std::string& name) {
    std::string error;
    if (!ini::writeDescriptor(fd, text, &error)) {
        fail(ioFailure, name + ": " + error);
    }
}

}  // namespace

std::string readAll(int fd, const std::string& name) {
    std::string text;
    std::string error;
    if (!ini::readDescriptor(fd, text, &error)) {
        fail(ioFailure, name + ": " + error);
    }
    return text;
}

std::string readInput(const std::string& path) {
    if (path == "-") {
        return readAll(0, "standard input");
    }
    if (const int fd = descriptorPath(path); fd >= 0) {
        return readAll(fd, path);
    }
    std::string text;
    std::string error;
    if (!ini::readFile(path, text, &error)) {
        fail(ioFailure, path + ": " + error);
    }
    check_text(text, path);
    return text;
}

// The descriptor that a path names in this process (/dev/stdin, /dev/stdout,
// /dev/stderr, /dev/fd/N, /proc/self/fd/N), or -1. Such paths are read and
// written through the descriptor, as "-" is: resolving them would give a
// pipe's pseudo-name or the file behind the descriptor, which a save would
// then replace.
int descriptorPath(std::string_view path) {
    static constexpr std::pair<std::string_view, int> named[] = {
        {"/dev/stdin", 0}, {"/dev/stdout", 1}, {"/dev/stderr", 2}};
    for (const auto& [name, fd] : named) {
        if (path == name) {
            return fd;
        }
    }
    for (const std::string_view prefix : {"/dev/fd/", "/proc/self/fd/"}) {
        const std::string_view digits = path.substr(std::min(path.size(), prefix.size()));
        if (path.substr(0, prefix.size()) == prefix && !digits.empty() && digits.size() <= 9 &&
            digits.find_first_not_of("0123456789") == std::string_view::npos) {
            return std::stoi(std::string(digits));
        }
    }
    return -1;
}

Source openSource(const Options& options) {
    if (options.file == "-") {
        return read_stream(0, "standard input");
    }
    if (const int fd = descriptorPath(options.file); fd >= 0) {
        return read_stream(fd, options.file);
    }
    Source source;
    std::string refusal;
    source.path = ini::resolveSymlinks(options.file, &refusal);
    if (source.path.empty()) {
        fail(refusedUnsafe, refusal);
    }
    const bool locking = isEdit(options.verb) && !options.dryRun;
    ini::IniOpenedFile file;
    std::string error;
    // Whoever waits for another edit's lock is told so after a second.
    ini::IniLockWait wait;
    wait.giveUpAfter = options.wait;
    wait.notice = [&options] {
        std::fprintf(stderr, "iniedit: %s: waiting for the edit lock, which another process holds\n",
                     options.file.c_str());
    };
    switch (ini::openFile(source.path, locking, options.create, file, &error, wait)) {
    case ini::IniOpenResult::opened:
        break;
    case ini::IniOpenResult::lockTimedOut: {
        char seconds[32];
        std::snprintf(seconds, sizeof seconds, "%g", options.wait);
        fail(ioFailure, options.file + ": gave up after " + seconds + " s waiting for the edit lock on " +
                            source.path + ", which another process holds");
    }
    case ini::IniOpenResult::missing:
        fail(ioFailure, options.file + ": No such file or directory" +
                            (isEdit(options.verb) ? " (--create allows a new file)" : ""));
    case ini::IniOpenResult::notRegularFile:
        fail(refusedUnsafe, options.file + ": not a regular file");
    case ini::IniOpenResult::failed:
        fail(ioFailure, options.file + ": " + error);
    case ini::IniOpenResult::keptChanging:
        fail(ioFailure, options.file + ": keeps being replaced; cannot lock it");
    }
    source.text = std::move(file.text);
    source.exists = file.exists;
    source.stream = file.stream;
    source.links = file.links;
    source.lock = std::move(file.lock);
    if (source.exists) {
        check_text(source.text, options.file);
    }
    return source;
}

void writeOutput(const Options& options, const Source& source, const std::string& text) {
    const std::string destination = options.output.value_or(source.stream ? "-" : options.file);
    if (destination == "-") {
        write_descriptor(1, text, "standard output");
        return;
    }
    if (const int fd = descriptorPath(destination); fd >= 0) {
        write_descriptor(fd, text, destination);
        return;
    }
    const bool sameFile = !options.output;
    const std::string path = sameFile ? source.path : destination;
    if (sameFile && source.exists) {
        // The file's own write protection holds, as for any editor; root
        // keeps its usual powers.
        if (ini::isWriteProtected(path)) {
            fail(ioFailure, options.file + ": permission denied");
        }
        if (source.links > 1 && !options.inPlace) {
            fail(refusedUnsafe, options.file +
                                    ": has other hard links, which a save by rename would leave "
                                    "behind; use --in-place");
        }
    }
    std::string error;
    const bool saved = options.inPlace ? ini::writeFileInPlace(path, text, &error)
                                       : ini::writeFileAtomically(path, text, &error);
    if (!saved) {
        // A directory that takes no new file may still let the file itself
        // be rewritten.
        const bool noTemporary = error.find("cannot create a temporary file") != std::string::npos;
        fail(ioFailure,
             destination + ": " + error +
                 (noTemporary && !options.inPlace ? " (--in-place rewrites the file itself)" : ""));
    }
    if (!error.empty()) {
        fail(notDurable,
             destination + ": written, but " + error + "; a crash may still bring back the old file");
    }
}

}  // namespace iniedit
