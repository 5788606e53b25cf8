// Folders and small files that a root process can trust. Every operation walks the path one
// component at a time on open descriptors (openat, mkdirat, renameat), so a component swapped
// for a symbolic link between two steps is never followed, and what was checked is what is used.
// Paths are absolute, 8-bit in the locale's character set. Any thread.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <optional>
#include <string>

namespace platform {

// True when a root process may trust `path`: every existing component, "/" included, is a folder
// (the last one may be a file), is no symbolic link, is owned by root or by our effective user,
// and is writable by neither group nor others. Sticky world-writable folders such as /tmp are
// refused too: anyone may take a name in them, so nothing of ours belongs there. Components that
// do not exist yet are not judged (their existing parent is). False for a relative path, a "."
// or ".." component, or a component that cannot be examined.
bool PathSafeForRoot(const std::string& path);

// Opens the folder `path`, creating missing components (mode 0755, less the umask). When
// elevated, no component may be a symbolic link; otherwise links in existing components are
// followed (the user's own paths). A read-only, close-on-exec descriptor of the folder, or -1
// with errno set.
int OpenFolderTree(const std::string& path);

// Writes a small file whole: a new file beside `path` that is then renamed over it, so readers
// see the old or the new content, and a symbolic link at `path` is replaced, never followed.
// The folder is opened as OpenFolderTree does (missing folders are created). True on success.
bool WriteFileNoFollow(const std::string& path, const std::string& bytes, mode_t mode = 0644);

// Opens the file `path` without following a symbolic link at its last component (open(2)
// flags; O_NOFOLLOW and O_CLOEXEC are added); its folder is opened as OpenFolderTree does.
// The descriptor or -1 with errno set.
int OpenFileNoFollow(const std::string& path, int flags, mode_t mode = 0644);

// For a descriptor from OpenFileNoFollow: true when it is a regular file owned by our effective
// user that neither group nor others may write.
bool IsPrivateRegularFile(int fd);
// Sets the permission bits of the descriptor's file (fchmod). True on success.
bool SetFileModeOf(int fd, mode_t mode);
// Closes a descriptor from this layer; -1 is ignored.
void CloseFile(int fd);

// The content of the regular file `path` (links followed, as any reader would), read through a
// close-on-exec descriptor; nullopt when it cannot be read, is no regular file, or is larger
// than maxBytes.
std::optional<std::string> ReadWholeFile(const std::string& path, std::size_t maxBytes);

enum class PrepareResult {
  Ready,     // the tree was fine or was made
  Replaced,  // something below `base` was refused, moved aside and made anew
  Failed,    // `base` is not safe (when elevated), or a folder could not be made
};

// Makes the private folder tree `path` below `base` (a prefix of `path`, such as the Program
// Files stand-in): `base` is opened as OpenFolderTree does and, when elevated, must pass
// PathSafeForRoot. Every component below `base` must be a real folder owned by our effective
// user and writable by neither group nor others; one that is not (a symbolic link, a file,
// another user's folder, a world-writable one) is moved aside, removed without following
// anything in it, and made anew (mode 0755). Once this returns Ready or Replaced, the tree and
// its parents can only be changed by us (or root), so paths below it may be used by name.
// Call once at start-up, before files below it are opened.
PrepareResult PreparePrivateFolderTree(const std::string& path, const std::string& base);

}  // namespace platform
