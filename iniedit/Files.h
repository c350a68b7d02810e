// iniedit's file access: FILE opened and locked (or read as a stream),
// and the edited text written back, each failure ending the run with its
// status.
#ifndef INIEDIT_FILES_H
#define INIEDIT_FILES_H

#include "IniFileSave.h"
#include "Options.h"

#include <string>
#include <string_view>

namespace iniedit {

// All of the descriptor `fd`, or a Failure (status 4) naming `name`.
std::string readAll(int fd, const std::string& name);

// All of a file that an edit reads besides FILE (a snippet): "-" and the
// descriptor paths as streams, any other path as a file; a Failure
// (status 4) when it cannot be read.
std::string readInput(const std::string& path);

// The descriptor that a path names in this process (/dev/stdin, /dev/stdout,
// /dev/stderr, /dev/fd/N, /proc/self/fd/N), or -1.
int descriptorPath(std::string_view path);

// The file being worked on: its text, and what an edit must know of it.
struct Source {
    std::string path;  // after symbolic links; empty for a stream
    std::string text;
    bool exists = false;
    // Read as a stream (standard input, a descriptor, a pipe or a device):
    // an edit's result goes to standard output unless -o says otherwise.
    bool stream = false;
    unsigned long links = 1;
    // The edit lock that ini::openFile took, held until the process ends.
    ini::IniFileLock lock;
};

// Opens FILE, locking it for an edit so that concurrent edits each see the
// one before.
Source openSource(const Options& options);

// Writes the edited text where it goes: FILE (atomically, or in place),
// -o's file, or standard output for a stream.
void writeOutput(const Options& options, const Source& source, const std::string& text);

}  // namespace iniedit

#endif  // INIEDIT_FILES_H
