// The Windows side of the file access behind IniFileSave.h; IniFileSave.cpp
// is the POSIX side. Each compiles to nothing on the other system. Paths
// arrive as UTF-8 and go to the wide (UTF-16) calls; files are read and
// written as bytes, never through the C library's text mode.
#ifdef _WIN32
#include "IniFileSave.h"

#include <fcntl.h>
#include <io.h>
#include <windows.h>
// After windows.h, which it needs.
#include <aclapi.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <utility>

namespace ini {
namespace {

std::wstring wide(const std::string& text) {
    if (text.empty()) {
        return {};
    }
    const int size =
        ::MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring out(static_cast<std::size_t>(size), L'\0');
    ::MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), size);
    return out;
}

std::string utf8(const wchar_t* text, int length) {
    const int size = ::WideCharToMultiByte(CP_UTF8, 0, text, length, nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<std::size_t>(size), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, text, length, out.data(), size, nullptr, nullptr);
    return out;
}

// The system's message for `code`, on one line without the final period.
std::string message(DWORD code) {
    wchar_t* text = nullptr;
    const DWORD length = ::FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
        code, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    std::string out = length == 0 ? "error " + std::to_string(code) : utf8(text, static_cast<int>(length));
    ::LocalFree(text);
    while (!out.empty() &&
           (out.back() == '\n' || out.back() == '\r' || out.back() == '.' || out.back() == ' ')) {
        out.pop_back();
    }
    return out;
}

bool fail(std::string* error, const std::string& what, DWORD code) {
    if (error != nullptr) {
        *error = what + ": " + message(code);
    }
    return false;
}

// Every handle shares reading, writing and deletion, so that a file this
// process holds open can still be read by others and replaced by a rename.
constexpr DWORD shareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

HANDLE open_handle(const std::string& path, DWORD access, DWORD disposition, DWORD flags = 0) {
    return ::CreateFileW(wide(path).c_str(), access, shareAll, nullptr, disposition,
                         FILE_ATTRIBUTE_NORMAL | flags, nullptr);
}

// Writes all of `text` at `offset`, or in sequence when `offset` is
// negative (a device or pipe).
DWORD write_all(HANDLE file, std::string_view text, long long offset) {
    while (!text.empty()) {
        const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(text.size(), 1U << 30));
        OVERLAPPED at{};
        at.Offset = static_cast<DWORD>(offset & 0xFFFFFFFF);
        at.OffsetHigh = static_cast<DWORD>(offset >> 32);
        DWORD done = 0;
        if (::WriteFile(file, text.data(), chunk, &done, offset < 0 ? nullptr : &at) == 0) {
            return ::GetLastError();
        }
        text.remove_prefix(done);
        offset = offset < 0 ? offset : offset + done;
    }
    return 0;
}

DWORD read_all(HANDLE file, std::string& text) {
    char buffer[1 << 16];
    for (;;) {
        DWORD got = 0;
        if (::ReadFile(file, buffer, sizeof buffer, &got, nullptr) == 0) {
            const DWORD code = ::GetLastError();
            return code == ERROR_BROKEN_PIPE || code == ERROR_HANDLE_EOF ? 0 : code;
        }
        if (got == 0) {
            return 0;
        }
        text.append(buffer, got);
    }
}

DWORD set_length(HANDLE file, long long length) {
    LARGE_INTEGER at{};
    at.QuadPart = length;
    return ::SetFilePointerEx(file, at, nullptr, FILE_BEGIN) != 0 && ::SetEndOfFile(file) != 0
               ? 0
               : ::GetLastError();
}

std::size_t last_separator(const std::string& path) { return path.find_last_of("/\\"); }

std::string directory_of(const std::string& path) {
    const auto separator = last_separator(path);
    if (separator == std::string::npos) {
        return ".";
    }
    return path.substr(0, separator + 1);
}

bool is_missing(DWORD code) { return code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND; }

// What a path names, found through a handle: a directory, a disk file or
// something else (a device such as NUL or CON, a pipe).
struct PathInfo {
    DWORD error = 0;
    bool directory = false;
    bool diskFile = false;
};

PathInfo inspect(const std::string& path) {
    PathInfo info;
    const HANDLE file = open_handle(path, FILE_READ_ATTRIBUTES, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS);
    if (file == INVALID_HANDLE_VALUE) {
        info.error = ::GetLastError();
        return info;
    }
    info.diskFile = ::GetFileType(file) == FILE_TYPE_DISK;
    BY_HANDLE_FILE_INFORMATION about{};
    if (info.diskFile && ::GetFileInformationByHandle(file, &about) != 0) {
        info.directory = (about.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    }
    ::CloseHandle(file);
    return info;
}

}  // namespace

std::string resolveSymlinks(const std::string& path, std::string* /*error*/) { return path; }

bool writeFileInPlace(const std::string& path, std::string_view text, std::string* error) {
    // The old content stays until the new size is taken. A file this call
    // creates is removed again if the save fails.
    HANDLE file = open_handle(path, GENERIC_READ | GENERIC_WRITE, OPEN_EXISTING);
    bool created = false;
    if (file == INVALID_HANDLE_VALUE && ::GetLastError() == ERROR_FILE_NOT_FOUND) {
        file = open_handle(path, GENERIC_READ | GENERIC_WRITE, CREATE_NEW);
        created = file != INVALID_HANDLE_VALUE;
    }
    if (file == INVALID_HANDLE_VALUE) {
        return fail(error, "cannot open " + path, ::GetLastError());
    }
    std::string step = "cannot write " + path;
    DWORD code = 0;
    LARGE_INTEGER oldSize{};
    if (::GetFileType(file) != FILE_TYPE_DISK) {
        code = write_all(file, text, -1);
    } else if (::GetFileSizeEx(file, &oldSize) == 0) {
        step = "cannot inspect " + path;
        code = ::GetLastError();
    } else {
        const auto size = static_cast<long long>(text.size());
        if (size > oldSize.QuadPart) {
            // The part beyond the old end is written first: it overwrites
            // nothing old and takes the space, so a full disk stops the save
            // before the old content is touched.
            step = "cannot reserve space for " + path;
            code = write_all(file, text.substr(static_cast<std::size_t>(oldSize.QuadPart)), oldSize.QuadPart);
            if (code != 0) {
                set_length(file, oldSize.QuadPart);
            }
        }
        if (code == 0) {
            step = "cannot write " + path;
            code = write_all(file, text.substr(0, static_cast<std::size_t>(std::min(size, oldSize.QuadPart))),
                             0);
        }
        if (code == 0 && (code = set_length(file, size)) != 0) {
            step = "cannot cut " + path + " to its new length";
        }
    }
    ::CloseHandle(file);
    if (code != 0 && created) {
        ::DeleteFileW(wide(path).c_str());
    }
    return code == 0 || fail(error, step, code);
}

// What of the old file a new one must get before it replaces it: the
// attributes a user or the shell set (hidden, system, ...) and the access
// list, which the new file would otherwise inherit from its directory.
struct Keeper {
    DWORD attributes = INVALID_FILE_ATTRIBUTES;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    PACL dacl = nullptr;
    bool protectedDacl = false;
    Keeper() = default;
    Keeper(const Keeper&) = delete;
    Keeper& operator=(const Keeper&) = delete;
    ~Keeper() { ::LocalFree(descriptor); }

    // Reads them from `path`; a file system without access lists (FAT)
    // has none to keep.
    DWORD read(const std::string& path) {
        attributes = ::GetFileAttributesW(wide(path).c_str());
        if (attributes == INVALID_FILE_ATTRIBUTES) {
            return ::GetLastError();
        }
        const DWORD code =
            ::GetNamedSecurityInfoW(wide(path).c_str(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr,
                                    nullptr, &dacl, nullptr, &descriptor);
        if (code == ERROR_NOT_SUPPORTED || code == ERROR_INVALID_FUNCTION) {
            return 0;
        }
        SECURITY_DESCRIPTOR_CONTROL control = 0;
        DWORD revision = 0;
        if (code == 0 && ::GetSecurityDescriptorControl(descriptor, &control, &revision) != 0) {
            protectedDacl = (control & SE_DACL_PROTECTED) != 0;
        }
        return code;
    }

    // Gives them to `path`, the new file.
    DWORD apply(const std::string& path) const {
        constexpr DWORD kept = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE |
                               FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;
        if (descriptor != nullptr && dacl != nullptr) {
            const SECURITY_INFORMATION what =
                DACL_SECURITY_INFORMATION |
                (protectedDacl ? PROTECTED_DACL_SECURITY_INFORMATION : UNPROTECTED_DACL_SECURITY_INFORMATION);
            std::wstring name = wide(path);
            const DWORD code =
                ::SetNamedSecurityInfoW(name.data(), SE_FILE_OBJECT, what, nullptr, nullptr, dacl, nullptr);
            if (code != 0) {
                return code;
            }
        }
        if ((attributes & kept) != 0 && ::SetFileAttributesW(wide(path).c_str(), attributes & kept) == 0) {
            return ::GetLastError();
        }
        return 0;
    }
};

bool writeFileAtomically(const std::string& path, std::string_view text, std::string* error) {
    // A directory at the path is refused; a device is written through,
    // never replaced by a file.
    const PathInfo existing = inspect(path);
    if (existing.error == 0 && existing.directory) {
        if (error != nullptr) {
            *error = "cannot replace " + path + ": it is a directory";
        }
        return false;
    }
    if (existing.error == 0 && !existing.diskFile) {
        return writeFileInPlace(path, text, error);
    }
    // A new file beside the target, written through to the disk, then
    // renamed over it.
    const auto separator = last_separator(path);
    const std::string name = separator == std::string::npos ? path : path.substr(separator + 1);
    const std::string prefix = separator == std::string::npos ? "" : path.substr(0, separator + 1);
    std::string temporary;
    HANDLE file = INVALID_HANDLE_VALUE;
    for (unsigned attempt = 0; attempt < 100 && file == INVALID_HANDLE_VALUE; ++attempt) {
        temporary = prefix + "." + name.substr(0, std::min<std::size_t>(name.size(), 200)) + "." +
                    std::to_string(::GetCurrentProcessId()) + "-" + std::to_string(::GetTickCount64()) + "-" +
                    std::to_string(attempt);
        file = open_handle(temporary, GENERIC_WRITE, CREATE_NEW, FILE_FLAG_WRITE_THROUGH);
        if (file == INVALID_HANDLE_VALUE && ::GetLastError() != ERROR_FILE_EXISTS) {
            break;
        }
    }
    if (file == INVALID_HANDLE_VALUE) {
        return fail(error, "cannot create a temporary file in " + directory_of(path), ::GetLastError());
    }
    std::string step = "cannot write " + temporary;
    DWORD code = write_all(file, text, 0);
    if (code == 0 && ::FlushFileBuffers(file) == 0) {
        step = "cannot flush " + temporary;
        code = ::GetLastError();
    }
    ::CloseHandle(file);
    // The new file gets the old one's attributes and access list before
    // anyone can see it under the old name; where they cannot be kept, the
    // save fails rather than widen who may read the file.
    Keeper keeper;
    if (code == 0 && existing.error == 0 && (code = keeper.read(path)) != 0) {
        step = "cannot read the attributes and access list of " + path;
    }
    if (code == 0 && existing.error == 0 && (code = keeper.apply(temporary)) != 0) {
        step = "cannot give " + temporary + " the attributes and access list of " + path;
    }
    // Another process that has the target open for a moment (a reader, a
    // virus scanner) makes the rename fail with a sharing error; it is
    // tried again for a while.
    for (int attempt = 0; code == 0; ++attempt) {
        if (::MoveFileExW(wide(temporary).c_str(), wide(path).c_str(),
                          MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0) {
            break;
        }
        code = ::GetLastError();
        if ((code == ERROR_ACCESS_DENIED || code == ERROR_SHARING_VIOLATION) && attempt < 50) {
            code = 0;
            ::Sleep(20);
            continue;
        }
        step = "cannot rename " + temporary + " to " + path;
    }
    if (code != 0) {
        ::DeleteFileW(wide(temporary).c_str());
        return fail(error, step, code);
    }
    return true;
}

bool readFile(const std::string& path, std::string& text, std::string* error) {
    const HANDLE file = open_handle(path, GENERIC_READ, OPEN_EXISTING);
    if (file == INVALID_HANDLE_VALUE) {
        return fail(error, "cannot open " + path, ::GetLastError());
    }
    const DWORD code = read_all(file, text);
    ::CloseHandle(file);
    return code == 0 || fail(error, "cannot read " + path, code);
}

bool readDescriptor(int fd, std::string& text, std::string* error) {
    ::_setmode(fd, _O_BINARY);
    char buffer[1 << 16];
    for (;;) {
        const int got = ::_read(fd, buffer, sizeof buffer);
        if (got == 0) {
            return true;
        }
        if (got < 0) {
            if (error != nullptr) {
                *error = std::string("cannot read: ") + std::strerror(errno);
            }
            return false;
        }
        text.append(buffer, static_cast<std::size_t>(got));
    }
}

bool writeDescriptor(int fd, std::string_view text, std::string* error) {
    ::_setmode(fd, _O_BINARY);
    while (!text.empty()) {
        const int done =
            ::_write(fd, text.data(), static_cast<unsigned>(std::min<std::size_t>(text.size(), 1U << 30)));
        if (done < 0) {
            if (error != nullptr) {
                *error = std::string("cannot write: ") + std::strerror(errno);
            }
            return false;
        }
        text.remove_prefix(static_cast<std::size_t>(done));
    }
    return true;
}

struct IniFileLockAccess {
    static IniFileLock make(HANDLE file) {
        IniFileLock lock;
        lock.handle_ = reinterpret_cast<std::intptr_t>(file);
        return lock;
    }
};

IniFileLock::~IniFileLock() {
    if (handle_ != -1) {
        const auto mutex = reinterpret_cast<HANDLE>(handle_);
        ::ReleaseMutex(mutex);
        ::CloseHandle(mutex);
    }
}

namespace {

// The edit lock is a named mutex for the path rather than a lock on the
// file: Windows refuses to rename over a file that any process holds open,
// so a process that kept the file open to keep it locked could never save
// it by replacement, and one that closed it before the rename would let the
// next editor read the old content. The mutex is named after the full path,
// case folded, so every editor of the file in this session waits for the
// one before, whether or not the file exists yet. A holder that dies
// releases it.
DWORD lock_path(const std::string& path, IniFileLock& lock, const IniLockWait& wait) {
    std::wstring full(32768, L'\0');
    const DWORD length =
        ::GetFullPathNameW(wide(path).c_str(), static_cast<DWORD>(full.size()), full.data(), nullptr);
    if (length == 0 || length >= full.size()) {
        return ::GetLastError();
    }
    full.resize(length);
    ::CharLowerBuffW(full.data(), length);
    std::uint64_t hash = 0xCBF29CE484222325ULL;
    for (const wchar_t c : full) {
        hash = (hash ^ static_cast<std::uint16_t>(c)) * 0x100000001B3ULL;
    }
    char name[64];
    std::snprintf(name, sizeof name, "Local\\ini-edit-%016llx", static_cast<unsigned long long>(hash));
    const HANDLE mutex = ::CreateMutexW(nullptr, FALSE, wide(name).c_str());
    if (mutex == nullptr) {
        return ::GetLastError();
    }
    // Waited for in two parts, so that a long wait can be reported and
    // given up.
    const auto milliseconds = [](double seconds) {
        return seconds < 0 ? INFINITE : static_cast<DWORD>(seconds * 1000);
    };
    DWORD waited = 0;
    if (wait.notice && (wait.giveUpAfter < 0 || wait.giveUpAfter > wait.noticeAfter)) {
        waited = ::WaitForSingleObject(mutex, milliseconds(wait.noticeAfter));
        if (waited == WAIT_TIMEOUT) {
            wait.notice();
            waited = ::WaitForSingleObject(
                mutex, wait.giveUpAfter < 0 ? INFINITE : milliseconds(wait.giveUpAfter - wait.noticeAfter));
        }
    } else {
        waited = ::WaitForSingleObject(mutex, milliseconds(wait.giveUpAfter));
    }
    if (waited == WAIT_TIMEOUT) {
        ::CloseHandle(mutex);
        return ERROR_TIMEOUT;
    }
    if (waited != WAIT_OBJECT_0 && waited != WAIT_ABANDONED) {
        const DWORD code = ::GetLastError();
        ::CloseHandle(mutex);
        return code;
    }
    lock = IniFileLockAccess::make(mutex);
    return 0;
}

IniOpenResult open_failed(std::string* error, const std::string& what, DWORD code) {
    fail(error, what, code);
    return IniOpenResult::failed;
}

}  // namespace

IniOpenResult openFile(const std::string& path, bool lock, bool mayBeMissing, IniOpenedFile& file,
                       std::string* error, const IniLockWait& wait) {
    file = IniOpenedFile{};
    IniFileLock held;
    if (lock) {
        const DWORD code = lock_path(path, held, wait);
        if (code == ERROR_TIMEOUT) {
            return IniOpenResult::lockTimedOut;
        }
        if (code != 0) {
            return open_failed(error, "cannot lock", code);
        }
    }
    const HANDLE handle = open_handle(path, GENERIC_READ, OPEN_EXISTING);
    if (handle == INVALID_HANDLE_VALUE) {
        const DWORD code = ::GetLastError();
        const PathInfo info = inspect(path);
        if (info.error == 0 && info.directory) {
            return IniOpenResult::notRegularFile;
        }
        if (!is_missing(code)) {
            return open_failed(error, "cannot open", code);
        }
        if (!mayBeMissing) {
            fail(error, "cannot open", code);
            return IniOpenResult::missing;
        }
        file.lock = std::move(held);
        return IniOpenResult::opened;  // empty; a save creates it
    }
    const DWORD type = ::GetFileType(handle);
    DWORD code = 0;
    if (type == FILE_TYPE_PIPE) {
        code = read_all(handle, file.text);
        file.exists = file.stream = true;
        held = IniFileLock{};
    } else if (type == FILE_TYPE_DISK) {
        BY_HANDLE_FILE_INFORMATION identity{};
        if (::GetFileInformationByHandle(handle, &identity) != 0) {
            file.links = identity.nNumberOfLinks;
        }
        code = read_all(handle, file.text);
        file.exists = true;
        file.lock = std::move(held);
    }
    ::CloseHandle(handle);
    if (type != FILE_TYPE_PIPE && type != FILE_TYPE_DISK) {
        return IniOpenResult::notRegularFile;
    }
    return code == 0 ? IniOpenResult::opened : open_failed(error, "cannot read", code);
}

bool isWriteProtected(const std::string& path) {
    const DWORD attributes = ::GetFileAttributesW(wide(path).c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY) != 0 &&
           (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

bool prepareStandardStreams() {
    for (int fd = 0; fd <= 2; ++fd) {
        ::_setmode(fd, _O_BINARY);
    }
    return true;
}

void reportFileSizeLimitAsError() {}

std::vector<std::string> commandLineArguments(int argc, char** argv) {
    int count = 0;
    wchar_t** wideArguments = ::CommandLineToArgvW(::GetCommandLineW(), &count);
    if (wideArguments == nullptr) {
        return {argv, argv + argc};
    }
    std::vector<std::string> arguments;
    for (int i = 0; i < count; ++i) {
        arguments.push_back(utf8(wideArguments[i], static_cast<int>(std::wcslen(wideArguments[i]))));
    }
    ::LocalFree(wideArguments);
    return arguments;
}

}  // namespace ini
#endif  // _WIN32
