// Whole-file reads and atomic replacement of small files on the desktop computer (the
// settings file, the update logs), and the folder lock that serialises their writers.
// Threads: every function is safe from any thread; a FolderLock belongs to one thread.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "platform/ScopedFd.h"

namespace zephyrate {

// The whole content of a regular file; nullopt when it is missing (errno ENOENT), not a
// regular file (EISDIR), unreadable or larger than maxSize (EFBIG). error, when given,
// receives the reason.
std::optional<std::string> ReadLocalFile(const std::string& path, std::size_t maxSize,
                                         std::string* error = nullptr);

// Replaces path with bytes so that readers see either the old or the new file: a
// temporary file "." + name + ".XXXXXX" in the same folder with the given mode, fsync,
// rename, fsync of the folder. False (the old file unchanged, no temporary left) with
// errno set and the reason in error. A link at path is replaced, not followed.
bool ReplaceLocalFile(const std::string& path, std::string_view bytes, unsigned mode,
                      std::string* error = nullptr);

// Removes the temporary files that a ReplaceLocalFile of path left behind when its process
// died. Only with the folder's FolderLock held, or a replace under way loses its file.
void RemoveStaleReplacements(const std::string& path);

// The path that path names once symbolic links are followed, at most 32 of them; a
// relative target counts from its link's folder. The last one need not exist. Nothing,
// with errno set, when a link cannot be read or there are too many (ELOOP).
std::optional<std::string> ResolveLocalLinks(std::string path);

// Creates folder and its missing parents with mode 0700; true when it is a folder after,
// else false with errno set.
bool MakeLocalFolders(const std::string& folder);

// path made absolute against the current folder and normalised ("a/../b" -> "/cwd/b");
// path itself when the current folder cannot be read. Front ends take paths from the
// command line and the environment this way before they move into the log folder.
std::string AbsoluteLocalPath(const std::string& path);

// The folder part of a path ("." when it has none).
std::string LocalParentFolder(const std::string& path);

// Access checks of the calling user.
bool LocalPathExists(const std::string& path);      // anything, also a dangling link
bool LocalFileIsWritable(const std::string& path);  // exists and may be read and written
bool LocalFolderIsWritable(const std::string& folder);

// An exclusive flock on a folder for the object's life: writers of files in the folder
// that replace them by rename cannot lock the file itself, since its inode changes.
class FolderLock {
  public:
    explicit FolderLock(const std::string& folder);
    bool Locked() const { return fd_.Valid(); }

  private:
    ScopedFd fd_;
};

}  // namespace zephyrate
