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

// The whole content of a regular file; nullopt when it is missing, not a regular file,
// unreadable or larger than maxSize. error, when given, receives the reason.
std::optional<std::string> ReadLocalFile(const std::string& path, std::size_t maxSize,
                                         std::string* error = nullptr);

// Replaces path with bytes so that readers see either the old or the new file: a
// temporary file in the same folder with the given mode, fsync, rename, fsync of the
// folder. False (the old file unchanged, no temporary left) with the reason in error.
bool ReplaceLocalFile(const std::string& path, std::string_view bytes, unsigned mode,
                      std::string* error = nullptr);

// Creates folder and its missing parents with mode 0700; true when it is a folder after.
bool MakeLocalFolders(const std::string& folder);

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
