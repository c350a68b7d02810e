// The POSIX side of the file access behind IniFileSave.h; IniFileSaveWindows.cpp
// is the Windows side. Each compiles to nothing on the other system.
#ifndef _WIN32
#include "IniFileSave.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <thread>
#include <utility>

namespace ini {
namespace {

bool fail(std::string* error, const std::string& what, int code) {
    if (error != nullptr) {
        *error = what + ": " + std::strerror(code);
    }
    return false;
}

// Writes all of `text` from `offset` on, through short writes and signals.
int write_all(int fd, std::string_view text, off_t offset) {
    while (!text.empty()) {
        const ssize_t done = ::pwrite(fd, text.data(), text.size(), offset);
        if (done < 0) {
            if (errno == EINTR) {
                continue;
            }
            return errno;
        }
        text.remove_prefix(static_cast<std::size_t>(done));
        offset += done;
    }
    return 0;
}

// Devices and pipes cannot be positioned; they are written in sequence.
int write_stream(int fd, std::string_view text) {
    while (!text.empty()) {
        const ssize_t done = ::write(fd, text.data(), text.size());
        if (done < 0) {
            if (errno == EINTR) {
                continue;
            }
            return errno;
        }
        text.remove_prefix(static_cast<std::size_t>(done));
    }
    return 0;
}

// Makes room for `text` where it will be written from offset 0 over a file
// of `oldSize` bytes, before anything is overwritten. Where the file system
// cannot reserve space (no fallocate), the part of the text beyond the old
// end is written there now: it overwrites nothing old and takes the space.
int reserve(int fd, off_t oldSize, std::string_view text) {
    const auto size = static_cast<off_t>(text.size());
    int code = 0;
    do {
        code = ::fallocate(fd, 0, 0, size) == 0 ? 0 : errno;
    } while (code == EINTR);
    if (code == EOPNOTSUPP || code == ENOSYS) {
        code = write_all(fd, text.substr(static_cast<std::size_t>(oldSize)), oldSize);
    }
    return code;
}

// The process umask, read without changing it where the kernel tells it.
mode_t current_umask() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.compare(0, 6, "Umask:") == 0) {
            return static_cast<mode_t>(std::strtoul(line.c_str() + 6, nullptr, 8));
        }
    }
    const mode_t mask = ::umask(022);
    ::umask(mask);
    return mask;
}

std::string directory_of(const std::string& path) {
    const auto slash = path.rfind('/');
    if (slash == std::string::npos) {
        return ".";
    }
    return slash == 0 ? "/" : path.substr(0, slash);
}

}  // namespace

std::string resolveSymlinks(const std::string& path, std::string* error) {
    std::string current = path;
    for (int hops = 0; hops < 40; ++hops) {
        struct stat info {};
        if (::lstat(current.c_str(), &info) != 0 || !S_ISLNK(info.st_mode)) {
            return current;
        }
        // The kernel's rule for protected symlinks, applied whatever the
        // kernel is set to: in a sticky, world-writable directory (/tmp) a
        // link is followed only when the caller or the directory's owner
        // owns it, so nobody can plant one that decides what is written.
        struct stat directory {};
        if (::stat(directory_of(current).c_str(), &directory) == 0 && (directory.st_mode & S_ISVTX) != 0 &&
            (directory.st_mode & S_IWOTH) != 0 && info.st_uid != ::geteuid() &&
            info.st_uid != directory.st_uid) {
            if (error != nullptr) {
                *error = current +
                         ": a symbolic link in a sticky world-writable directory, owned by someone "
                         "else; not followed";
            }
            return {};
        }
        std::array<char, 4096> target{};
        const ssize_t length = ::readlink(current.c_str(), target.data(), target.size() - 1);
        if (length < 0) {
            return current;
        }
        std::string next(target.data(), static_cast<std::size_t>(length));
        if (next.front() != '/') {
            next = directory_of(current) + "/" + next;
        }
        current = std::move(next);
    }
    return current;
}

bool writeFileInPlace(const std::string& path, std::string_view text, std::string* error) {
    // No O_TRUNC: the old content stays until the new size is reserved. A
    // file this call creates is removed again if the save fails.
    int fd = ::open(path.c_str(), O_WRONLY | O_CLOEXEC);
    bool created = false;
    if (fd < 0 && errno == ENOENT) {
        fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        created = fd >= 0;
    }
    if (fd < 0) {
        return fail(error, "cannot open " + path, errno);
    }
    struct stat info {};
    int code = ::fstat(fd, &info) != 0 ? errno : 0;
    std::string step = "cannot inspect " + path;
    if (code == 0 && S_ISREG(info.st_mode)) {
        const auto size = static_cast<off_t>(text.size());
        if (size > info.st_size) {
            step = "cannot reserve space for " + path;
            code = reserve(fd, info.st_size, text);
            if (code != 0) {
                // A reservation that failed part-way may have grown the
                // file; the old bytes are untouched, so cutting it back to
                // its old size leaves the old content whole.
                static_cast<void>(::ftruncate(fd, info.st_size));
            }
        }
        if (code == 0) {
            step = "cannot write " + path;
            code = write_all(fd, text, 0);
        }
        if (code == 0 && ::ftruncate(fd, size) != 0) {
            step = "cannot cut " + path + " to its new length";
            code = errno;
        }
    } else if (code == 0) {
        step = "cannot write " + path;
        code = write_stream(fd, text);
    }
    if (::close(fd) != 0 && code == 0) {
        step = "cannot close " + path;
        code = errno;
    }
    if (code != 0 && created) {
        ::unlink(path.c_str());
    }
    return code == 0 || fail(error, step, code);
}

bool writeFileAtomically(const std::string& path, std::string_view text, std::string* error) {
    std::string refusal;
    const std::string target = resolveSymlinks(path, &refusal);
    if (target.empty()) {
        return fail(error, refusal, EPERM);
    }
    // A device, pipe or socket is written through, never replaced by a
    // regular file.
    struct stat existing {};
    if (::stat(target.c_str(), &existing) == 0 && !S_ISREG(existing.st_mode) && !S_ISDIR(existing.st_mode)) {
        return writeFileInPlace(target, text, error);
    }
    const std::string directory = directory_of(target);
    // The name is shortened so that the temporary name stays within NAME_MAX.
    const std::string name = target.substr(target.rfind('/') + 1);
    std::string temporary = "." + name.substr(0, std::min<std::size_t>(name.size(), 200)) + ".XXXXXX";
    if (target.find('/') != std::string::npos) {
        temporary = directory + "/" + temporary;
    }
    const int fd = ::mkostemp(temporary.data(), O_CLOEXEC);
    if (fd < 0) {
        return fail(error, "cannot create a temporary file in " + directory, errno);
    }

    // Mode and owner first, so that the flush below covers them too.
    std::string step;
    int code = 0;
    struct stat old {};
    if (::stat(target.c_str(), &old) == 0) {
        // The owner is kept where the process may set it; a failure there
        // leaves the writer as owner, as any editor would.
        if ((old.st_uid != ::geteuid() || old.st_gid != ::getegid()) &&
            ::fchown(fd, old.st_uid, old.st_gid) != 0) {
            static_cast<void>(::fchown(fd, static_cast<uid_t>(-1), old.st_gid));
        }
        code = ::fchmod(fd, old.st_mode & 07777) != 0 ? errno : 0;
    } else {
        code = ::fchmod(fd, 0666 & ~current_umask()) != 0 ? errno : 0;
    }
    if (code != 0) {
        step = "cannot set the mode of " + temporary;
    } else if ((code = write_all(fd, text, 0)) != 0) {
        step = "cannot write " + temporary;
    } else if (::fsync(fd) != 0) {
        step = "cannot flush " + temporary;
        code = errno;
    }
    if (::close(fd) != 0 && code == 0) {
        step = "cannot close " + temporary;
        code = errno;
    }
    if (code == 0 && ::rename(temporary.c_str(), target.c_str()) != 0) {
        step = "cannot rename " + temporary + " to " + target;
        code = errno;
    }
    if (code != 0) {
        ::unlink(temporary.c_str());
        return fail(error, step, code);
    }

    // The rename is durable once the directory is flushed; file systems that
    // cannot flush a directory say EINVAL, and the rename stands. Past the
    // rename the new content is in place whatever happens here, so a failure
    // is reported beside a true result.
    const int dir = ::open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir < 0) {
        fail(error, "cannot open " + directory + " to flush it", errno);
        return true;
    }
    code = ::fsync(dir) != 0 && errno != EINVAL ? errno : 0;
    ::close(dir);
    if (code != 0) {
        fail(error, "cannot flush " + directory, code);
    }
    return true;
}

bool readDescriptor(int fd, std::string& text, std::string* error) {
    char buffer[1 << 16];
    for (;;) {
        const ssize_t got = ::read(fd, buffer, sizeof buffer);
        if (got == 0) {
            return true;
        }
        if (got < 0) {
            if (errno == EINTR) {
                continue;
            }
            return fail(error, "cannot read", errno);
        }
        text.append(buffer, static_cast<std::size_t>(got));
    }
}

bool writeDescriptor(int fd, std::string_view text, std::string* error) {
    const int code = write_stream(fd, text);
    return code == 0 || fail(error, "cannot write", code);
}

bool readFile(const std::string& path, std::string& text, std::string* error) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return fail(error, "cannot open " + path, errno);
    }
    const bool read = readDescriptor(fd, text, error);
    ::close(fd);
    return read;
}

struct IniFileLockAccess {
    static IniFileLock make(int fd) {
        IniFileLock lock;
        lock.handle_ = fd;
        return lock;
    }
};

IniFileLock::~IniFileLock() {
    if (handle_ != -1) {
        ::close(static_cast<int>(handle_));
    }
}

namespace {

// Waits for an exclusive lock on `fd`, as `wait` allows: ETIMEDOUT when it
// gives up. flock works whatever the descriptor was opened for, so a file
// the caller may only read is locked all the same, except where the system
// emulates it with byte-range locks (NFS): there an exclusive lock needs a
// descriptor open for writing, and flock fails with EBADF.
class LockWaiter {
public:
    explicit LockWaiter(const IniLockWait& wait) : wait_(wait), start_(std::chrono::steady_clock::now()) {}

    int lock(int fd) {
        // Polled, so that the waiting can be reported and given up; the
        // pause grows to a tenth of a second.
        auto pause = std::chrono::milliseconds(1);
        while (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
            if (errno == EINTR) {
                continue;
            }
            if (errno != EWOULDBLOCK) {
                return errno;
            }
            const double waited =
                std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
            if (wait_.giveUpAfter >= 0 && waited >= wait_.giveUpAfter) {
                return ETIMEDOUT;
            }
            if (!noticed_ && waited >= wait_.noticeAfter && wait_.notice) {
                noticed_ = true;
                wait_.notice();
            }
            std::this_thread::sleep_for(pause);
            pause = std::min(pause * 2, std::chrono::milliseconds(100));
        }
        return 0;
    }

private:
    const IniLockWait& wait_;
    std::chrono::steady_clock::time_point start_;
    bool noticed_ = false;
};

IniOpenResult open_failed(std::string* error, const std::string& what, int code) {
    fail(error, what, code);
    return IniOpenResult::failed;
}

}  // namespace

IniOpenResult openFile(const std::string& path, bool lock, bool mayBeMissing, IniOpenedFile& file,
                       std::string* error, const IniLockWait& wait) {
    file = IniOpenedFile{};
    LockWaiter waiter(wait);
    // A named pipe is read as a stream.
    struct stat info {};
    if (::stat(path.c_str(), &info) == 0 && S_ISFIFO(info.st_mode)) {
        const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd < 0) {
            return open_failed(error, "cannot open", errno);
        }
        const bool read = readDescriptor(fd, file.text, error);
        ::close(fd);
        file.exists = file.stream = true;
        return read ? IniOpenResult::opened : IniOpenResult::failed;
    }
    for (int attempt = 0; attempt < 100; ++attempt) {
        if (::stat(path.c_str(), &info) != 0) {
            if (errno != ENOENT) {
                return open_failed(error, "cannot inspect", errno);
            }
            if (!mayBeMissing) {
                fail(error, "cannot open", ENOENT);
                return IniOpenResult::missing;
            }
            if (!lock) {
                return IniOpenResult::opened;  // empty; a save creates it
            }
            const std::string directory = directory_of(path);
            const int dir = ::open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
            if (dir < 0 && errno == EACCES) {
                return IniOpenResult::opened;  // may be written but not read: no lock to take
            }
            if (dir < 0) {
                return open_failed(error, "cannot open its directory " + directory, errno);
            }
            const int code = waiter.lock(dir);
            if (code == ETIMEDOUT) {
                ::close(dir);
                return IniOpenResult::lockTimedOut;
            }
            if (code == EBADF) {
                // A directory cannot be opened for writing: where only a
                // writable descriptor can be locked, a new file's creation
                // goes unlocked.
                ::close(dir);
                return IniOpenResult::opened;
            }
            if (code != 0) {
                ::close(dir);
                return open_failed(error, "cannot lock its directory " + directory, code);
            }
            if (::stat(path.c_str(), &info) == 0 || errno != ENOENT) {
                ::close(dir);  // made while waiting: lock the file instead
                continue;
            }
            file.lock = IniFileLockAccess::make(dir);
            return IniOpenResult::opened;
        }
        if (!S_ISREG(info.st_mode)) {
            return IniOpenResult::notRegularFile;
        }
        int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd < 0) {
            return open_failed(error, "cannot open", errno);
        }
        IniFileLock held = IniFileLockAccess::make(fd);
        if (lock) {
            int code = waiter.lock(fd);
            if (code == EBADF) {
                // Locked through a descriptor open for writing instead.
                const int writable = ::open(path.c_str(), O_RDWR | O_CLOEXEC);
                if (writable >= 0) {
                    held = IniFileLockAccess::make(writable);
                    fd = writable;
                    code = waiter.lock(fd);
                }
            }
            if (code == ETIMEDOUT) {
                return IniOpenResult::lockTimedOut;
            }
            if (code != 0) {
                return open_failed(error, "cannot lock", code);
            }
            struct stat locked {};
            struct stat now {};
            if (::fstat(fd, &locked) != 0 || ::stat(path.c_str(), &now) != 0 || locked.st_dev != now.st_dev ||
                locked.st_ino != now.st_ino) {
                continue;  // replaced while waiting: lock the new file
            }
            file.links = static_cast<unsigned long>(locked.st_nlink);
        }
        if (!readDescriptor(fd, file.text, error)) {
            return IniOpenResult::failed;
        }
        file.exists = true;
        if (lock) {
            file.lock = std::move(held);
        }
        return IniOpenResult::opened;
    }
    return IniOpenResult::keptChanging;
}

bool isWriteProtected(const std::string& path) {
    return ::faccessat(AT_FDCWD, path.c_str(), W_OK, AT_EACCESS) != 0 && errno == EACCES;
}

bool prepareStandardStreams() {
    for (int fd = 0; fd <= 2; ++fd) {
        if (::fcntl(fd, F_GETFD) < 0 && errno == EBADF && ::open("/dev/null", O_RDONLY) != fd) {
            return false;
        }
    }
    return true;
}

void reportFileSizeLimitAsError() { ::signal(SIGXFSZ, SIG_IGN); }

std::vector<std::string> commandLineArguments(int argc, char** argv) { return {argv, argv + argc}; }

}  // namespace ini
#endif  // _WIN32
