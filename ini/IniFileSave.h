// Reading and writing files, the two ways the library saves documents, and
// the few other things a program needs from the operating system to edit a
// file safely: everything in the library and in iniedit that differs
// between POSIX systems and Windows is behind this header. Paths are UTF-8
// on every system. On Windows file modes, owners and symbolic links play no
// part (a link at the path is replaced, not followed), and the edit lock is
// a named mutex for the path rather than a lock on the file: Windows refuses
// to rename over a file that the lock holder keeps open.
//
// In place keeps the file itself (its inode): hard links, bind mounts,
// inotify watchers on the file and open descriptors all see the new content,
// and the directory need not be writable. It reserves the new size before it
// overwrites anything, so a full disk, a quota or a file-size limit leaves the
// old content whole; a crash while writing can still leave a mix of both.
//
// Atomic replaces the file by a new one: readers see either the old or the
// new content, even across a crash, but the directory must be writable and
// other hard links keep the old content.
#ifndef INI_INIFILESAVE_H
#define INI_INIFILESAVE_H

#include "IniExport.h"

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace ini {

// Overwrites `path` with `text`, creating it (mode 0666 less the umask) when
// absent; a device or pipe is written in sequence. Returns false, with the
// file as it was (or still absent), when the file cannot be opened or the
// space cannot be reserved (where the file system has no fallocate, by
// writing the part beyond the old end first); false as well when a later
// write or the close fails. `error`, when given, receives a one-line
// reason.
INI_API bool writeFileInPlace(const std::string& path, std::string_view text, std::string* error = nullptr);

// Writes `text` to a new file beside `path` (after following symbolic links,
// so a link stays a link), flushes it to disk, gives it the old file's mode
// and, where permitted, owner (a new file gets 0666 less the umask), renames
// it over the target and flushes the directory. On failure the temporary
// file is removed, the target is untouched and the result is false. A
// device, pipe or socket at the path is written through as writeFileInPlace
// does, never replaced. When only the flush of the directory fails, after
// the rename, the result is true (the new content is in place) and `error`
// says that a crash may still bring back the old file.
INI_API bool writeFileAtomically(const std::string& path, std::string_view text,
                                 std::string* error = nullptr);

// The file that `path` names once symbolic links are followed (up to 40);
// `path` itself when it is not a link. A dangling link gives the path it
// points to, so that saving through it creates the file. A link in a
// sticky, world-writable directory that neither the caller nor the
// directory's owner owns is not followed, as the kernel's protected-symlinks
// rule has it: the result is then empty and `error` says why.
INI_API std::string resolveSymlinks(const std::string& path, std::string* error = nullptr);

// Reads the whole file at `path`, bytes as they are (no line-ending
// translation). False, with `error` saying why, when it cannot be opened or
// read (a directory cannot).
INI_API bool readFile(const std::string& path, std::string& text, std::string* error = nullptr);

// An exclusive lock on an open file, held until this object is destroyed or
// the process ends. Another process asking for the same lock waits; readers
// that take no lock are not kept out.
class INI_API IniFileLock {
public:
    IniFileLock() = default;
    IniFileLock(IniFileLock&& other) noexcept : handle_(std::exchange(other.handle_, -1)) {}
    IniFileLock& operator=(IniFileLock&& other) noexcept {
        std::swap(handle_, other.handle_);
        return *this;
    }
    IniFileLock(const IniFileLock&) = delete;
    IniFileLock& operator=(const IniFileLock&) = delete;
    ~IniFileLock();

    bool held() const { return handle_ != -1; }

private:
    friend struct IniFileLockAccess;
    std::intptr_t handle_ = -1;  // the system's descriptor or handle
};

// A file read, and perhaps locked, for an edit.
struct IniOpenedFile {
    std::string text;
    bool exists = false;
    bool stream = false;      // a named pipe, read to its end
    unsigned long links = 1;  // the file's hard links, when locked
    IniFileLock lock;         // the edit lock, when one was asked for
};

// How long openFile waits for another process's edit lock, and whom it
// tells that it waits.
struct IniLockWait {
    // Called once when the lock is still held by another process after
    // `noticeAfter` seconds.
    std::function<void()> notice;
    double noticeAfter = 1.0;
    // Seconds after which openFile gives up (lockTimedOut); below 0, never.
    double giveUpAfter = -1.0;
};

enum class IniOpenResult {
    opened,
    lockTimedOut,    // another process held the lock for longer than allowed
    missing,         // no file at the path (and `mayBeMissing` was false)
    notRegularFile,  // a directory, device or socket
    failed,          // `error` says why
    keptChanging,    // replaced each time the lock was taken
};

// Reads the file at `path` (symbolic links already followed) whole. With
// `lock`, first waits for an exclusive lock on it, or while it does not
// exist on its directory where the system can lock one, then makes sure that
// the path still names what was locked: another editor may have renamed a
// new file over it meanwhile. A named pipe is read as a stream, unlocked. A
// missing file with `mayBeMissing` is opened with `exists` false.
INI_API IniOpenResult openFile(const std::string& path, bool lock, bool mayBeMissing, IniOpenedFile& file,
                               std::string* error = nullptr, const IniLockWait& wait = {});

// Reads the descriptor `fd` (0 is standard input) to its end, bytes as they
// are.
INI_API bool readDescriptor(int fd, std::string& text, std::string* error = nullptr);

// Writes all of `text` to the descriptor `fd` (1 is standard output).
INI_API bool writeDescriptor(int fd, std::string_view text, std::string* error = nullptr);

// Whether the file at `path` is protected against writing by its mode or
// attributes, as this process sees it (root is not kept out).
INI_API bool isWriteProtected(const std::string& path);

// Makes the standard streams safe for a program that reads and writes file
// text through them: a closed one is opened on the null device, so that a
// file opened later cannot take its place, and all three pass bytes as they
// are. False when that cannot be done.
INI_API bool prepareStandardStreams();

// Makes a write beyond the process's file-size limit (RLIMIT_FSIZE, `ulimit
// -f`) fail with an error instead of ending the process by SIGXFSZ before
// the save can clean up. A program that saves under such a limit calls this
// once before saving; otherwise the save functions cannot report the failure,
// and a temporary file may stay beside the target. It ignores SIGXFSZ in the
// whole process; nothing on Windows, which has no such limit.
INI_API void reportFileSizeLimitAsError();

// The program's arguments as UTF-8, whatever the system passed to main.
INI_API std::vector<std::string> commandLineArguments(int argc, char** argv);

}  // namespace ini

#endif  // INI_INIFILESAVE_H
