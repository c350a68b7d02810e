// Writing text to a file, the two ways the library saves documents.
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

#include <string>
#include <string_view>

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

}  // namespace ini

#endif  // INI_INIFILESAVE_H
