// Resolves device paths inside the device folder. A device path is UTF-16, split at "\"
// and "/"; empty parts are skipped, "." and ".." are refused. Each part names the entry
// of that exact name, else one equal to it ignoring case (the device's file system does
// not tell case apart); a name that is not there keeps the case given.
//
// Nothing is ever reached outside the folder descriptor that a resolution starts from:
// every step opens a single name below a descriptor with openat2(RESOLVE_BENEATH |
// RESOLVE_NO_SYMLINKS), and the *at calls of the callers get a single name too, so a
// symbolic link is never followed. Symbolic links and other special files (pipes,
// sockets, devices) are invisible in listings; reaching one gives ERROR_ACCESS_DENIED.
//
// A large folder's names are remembered (FolderNameIndex) once a scan has read them, so
// that writing many new files into one folder does not scan it for each of them.
//
// Threads: const methods may run on several threads at once. The object owns the
// locale used to compare names and the name index; it outlives nothing it hands out.
#pragma once

#include <sys/stat.h>

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/DeviceNameFold.h"
#include "platform/FolderNameIndex.h"
#include "platform/ScopedFd.h"
#include "platform/WinTypes.h"

namespace zephyrate {

class DevicePathResolver {
  public:
    struct Parts {
        std::uint32_t error = ERROR_SUCCESS;  // a device error; names are valid only when 0
        std::vector<std::string> names;       // UTF-8, never empty, ".", ".." or with "/"
    };

    struct Location {
        std::uint32_t error = ERROR_SUCCESS;  // a device error; the rest is valid only when 0
        ScopedFd folder;      // O_PATH descriptor of the folder that holds the entry
        std::string name;     // name on disk, or the last part as given; empty: the device folder
        bool exists = false;  // when true, status describes the entry (not following a link)
        struct stat status {};
        bool topLevel = false;  // the entry lies directly in the device folder

        bool IsDeviceFolder() const { return name.empty(); }
        bool IsFolder() const { return exists && S_ISDIR(status.st_mode); }
        bool IsFile() const { return exists && S_ISREG(status.st_mode); }
        // A symbolic link or special file: the device refuses every operation on it.
        bool IsRefused() const { return exists && !IsFolder() && !IsFile(); }
    };

    struct Entry {
        std::string name;
        struct stat status {};
    };

    struct Listing {
        std::uint32_t error = ERROR_SUCCESS;
        std::vector<Entry> entries;  // files and folders only, sorted by name in byte order
    };

    DevicePathResolver();
    ~DevicePathResolver();
    DevicePathResolver(const DevicePathResolver&) = delete;
    DevicePathResolver& operator=(const DevicePathResolver&) = delete;

    // Splits a zero-terminated device path. ERROR_INVALID_NAME for "." or ".." or a null
    // path, ERROR_FILENAME_EXCED_RANGE for a part or a path longer than the device allows.
    static Parts Split(const char16_t* path);

    // Walks all names but the last as folders below root (ERROR_PATH_NOT_FOUND when one is
    // missing or not a folder) and looks the last one up. No names: the device folder.
    Location Locate(int root, const std::vector<std::string>& names) const;
    // Opens the folder that all names lead to; ERROR_PATH_NOT_FOUND when it is missing.
    Location LocateFolder(int root, const std::vector<std::string>& names) const;

    // Files and folders of a folder descriptor; names starting with "." are left out
    // unless includeHidden.
    Listing List(int folder, bool includeHidden) const;

    // The device's attributes of an entry. root is the device folder, for telling storage
    // cards (a folder at the top that is another mount or holds ".storage-card").
    std::uint32_t Attributes(int root, const Location& location) const;
    std::uint32_t Attributes(int root, int folder, const Entry& entry, bool topLevel) const;

    // True when name matches a listing pattern ("*.*" and "*" match all; otherwise "*" and
    // "?" are wildcards), ignoring case.
    bool Matches(std::string_view pattern, std::string_view name) const;
    // True when the two names are the same for the device.
    bool SameName(std::string_view a, std::string_view b) const;

    // Opens one name below a folder without following symbolic links. Returns the
    // descriptor or -1 with errno set.
    static int OpenBelow(int folder, const std::string& name, int flags, mode_t mode = 0);

  private:
    std::u32string Fold(std::string_view name) const;
    // Finds the entry for a wanted name in folder: exact first, else ignoring case.
    std::uint32_t Find(int folder, const std::string& wanted, Entry& found) const;

    DeviceNameFold fold_;
    mutable FolderNameIndex index_;  // guards itself
};

}  // namespace zephyrate
