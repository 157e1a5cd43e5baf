#include "platform/DevicePathResolver.h"

#include <dirent.h>
#include <fcntl.h>
#include <linux/openat2.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <memory>

#include "platform/AsciiText.h"
#include "platform/DeviceErrors.h"
#include "platform/WideText.h"

namespace zephyrate {

namespace {

// The longest path the device's own calls take (its long-path limit), in UTF-16 units.
constexpr std::size_t kMaxPathUnits = 32767;

struct DirCloser {
    void operator()(DIR* dir) const { (void)closedir(dir); }
};
using DirPtr = std::unique_ptr<DIR, DirCloser>;

bool IsSeparator(char16_t unit) {
    return unit == u'\\' || unit == u'/';
}

bool IsDotName(std::string_view name) {
    return name == "." || name == "..";
}

bool IsAscii(std::string_view name) {
    return std::all_of(name.begin(), name.end(),
                       [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

// Opens a folder descriptor for reading its entries. "." below an O_PATH descriptor is the
// folder itself, so this cannot leave it.
DirPtr OpenDirectory(int folder) {
    ScopedFd fd(openat(folder, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!fd.Valid()) {
        return nullptr;
    }
    DIR* dir = fdopendir(fd.Get());
    if (dir != nullptr) {
        (void)fd.Release();  // the DIR owns it now
    }
    return DirPtr(dir);
}

// Opens the folders named by names[0, count) below folder in one call, when every one of
// them is named exactly: most paths are, and one call then replaces a call per folder.
// Returns -1 for anything else (another case, a link, a missing folder, an old kernel),
// which the caller settles folder by folder.
int OpenExactFolders(int folder, const std::vector<std::string>& names, std::size_t count) {
    std::string joined;
    for (std::size_t i = 0; i < count; ++i) {
        if (i > 0) {
            joined += '/';
        }
        joined += names[i];
    }
    open_how how{};
    how.flags = O_PATH | O_DIRECTORY | O_CLOEXEC;
    how.resolve = RESOLVE_BENEATH | RESOLVE_NO_SYMLINKS;
    return static_cast<int>(syscall(SYS_openat2, folder, joined.c_str(), &how, sizeof how));
}

// Wildcard match of folded text: "*" any run, "?" one character.
bool GlobMatch(std::u32string_view pattern, std::u32string_view text) {
    std::size_t p = 0;
    std::size_t t = 0;
    std::size_t starP = std::u32string_view::npos;
    std::size_t starT = 0;
    while (t < text.size()) {
        if (p < pattern.size() && (pattern[p] == U'?' || pattern[p] == text[t])) {
            ++p;
            ++t;
        } else if (p < pattern.size() && pattern[p] == U'*') {
            starP = p++;
            starT = t;
        } else if (starP != std::u32string_view::npos) {
            p = starP + 1;
            t = ++starT;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern[p] == U'*') {
        ++p;
    }
    return p == pattern.size();
}

}  // namespace

DevicePathResolver::DevicePathResolver()
    : index_([this](std::string_view name) { return Fold(name); }) {}

DevicePathResolver::~DevicePathResolver() = default;

DevicePathResolver::Parts DevicePathResolver::Split(const char16_t* path) {
    Parts parts;
    if (path == nullptr) {
        parts.error = ERROR_INVALID_NAME;
        return parts;
    }
    std::u16string_view text(path);
    if (text.size() > kMaxPathUnits) {
        parts.error = ERROR_FILENAME_EXCED_RANGE;
        return parts;
    }
    std::size_t start = 0;
    while (start <= text.size()) {
        std::size_t end = start;
        while (end < text.size() && !IsSeparator(text[end])) {
            ++end;
        }
        if (end > start) {
            std::string name = Utf16ToUtf8(text.substr(start, end - start));
            if (IsDotName(name)) {
                parts.error = ERROR_INVALID_NAME;
                parts.names.clear();
                return parts;
            }
            if (name.size() > NAME_MAX) {
                parts.error = ERROR_FILENAME_EXCED_RANGE;
                parts.names.clear();
                return parts;
            }
            parts.names.push_back(std::move(name));
        }
        start = end + 1;
    }
    return parts;
}

int DevicePathResolver::OpenBelow(int folder, const std::string& name, int flags, mode_t mode) {
    // Callers pass single names; refuse anything else rather than trust them.
    if (name.empty() || IsDotName(name) || name.find('/') != std::string::npos) {
        errno = EINVAL;
        return -1;
    }
    open_how how{};
    how.flags = static_cast<std::uint64_t>(flags | O_CLOEXEC);
    how.mode = (flags & O_CREAT) != 0 ? mode : 0;
    how.resolve = RESOLVE_BENEATH | RESOLVE_NO_SYMLINKS;
    long fd = syscall(SYS_openat2, folder, name.c_str(), &how, sizeof how);
    if (fd < 0 && errno == ENOSYS) {
        // Kernels before 5.6: one name without "/" opened with O_NOFOLLOW cannot leave
        // the folder either.
        fd = openat(folder, name.c_str(), flags | O_CLOEXEC | O_NOFOLLOW, mode);
    }
    return static_cast<int>(fd);
}

std::u32string DevicePathResolver::Fold(std::string_view name) const {
    return fold_.Fold(name);
}

bool DevicePathResolver::SameName(std::string_view a, std::string_view b) const {
    return a == b || Fold(a) == Fold(b);
}

bool DevicePathResolver::Matches(std::string_view pattern, std::string_view name) const {
    if (pattern == "*.*" || pattern == "*") {
        return true;
    }
    return GlobMatch(Fold(pattern), Fold(name));
}

std::uint32_t DevicePathResolver::Find(int folder, const std::string& wanted, Entry& found) const {
    if (fstatat(folder, wanted.c_str(), &found.status, AT_SYMLINK_NOFOLLOW) == 0) {
        found.name = wanted;
        return ERROR_SUCCESS;
    }
    if (errno != ENOENT) {
        return DeviceErrorFromErrno(errno);
    }
    const std::u32string key = Fold(wanted);
    // A large folder's names are remembered, so that each new name written into it does
    // not cost a scan of all the others.
    std::string indexed;
    switch (index_.Lookup(folder, key, indexed)) {
        case FolderNameIndex::Answer::Missing:
            return ERROR_FILE_NOT_FOUND;
        case FolderNameIndex::Answer::Found:
            if (fstatat(folder, indexed.c_str(), &found.status, AT_SYMLINK_NOFOLLOW) == 0) {
                found.name = std::move(indexed);
                return ERROR_SUCCESS;
            }
            break;  // gone again in the meantime: the scan settles it
        case FolderNameIndex::Answer::Unknown:
            break;
    }
    DirPtr dir = OpenDirectory(folder);
    if (!dir) {
        return DeviceErrorFromErrno(errno);
    }
    const bool wantedIsAscii = IsAscii(wanted);
    std::string best;
    std::size_t entries = 0;
    // Of several names equal ignoring case the first in byte order wins, so the choice
    // does not depend on the order the file system lists them in.
    while (const dirent* entry = readdir(dir.get())) {
        std::string_view name(entry->d_name);
        if (IsDotName(name)) {
            continue;
        }
        ++entries;
        if (!best.empty() && name >= best) {
            continue;
        }
        // Large folders are scanned for every new name; keep the common all-ASCII case
        // free of conversions. A non-ASCII name may still fold to ASCII ("\u017F" is "S").
        const bool same = wantedIsAscii && IsAscii(name) ? EqualIgnoringAsciiCase(name, wanted)
                                                         : Fold(name) == key;
        if (same) {
            best = name;
        }
    }
    index_.Offer(folder, entries);
    if (best.empty()) {
        return ERROR_FILE_NOT_FOUND;
    }
    if (fstatat(folder, best.c_str(), &found.status, AT_SYMLINK_NOFOLLOW) != 0) {
        return DeviceErrorFromErrno(errno);
    }
    found.name = std::move(best);
    return ERROR_SUCCESS;
}

DevicePathResolver::Location DevicePathResolver::Locate(
    int root, const std::vector<std::string>& names) const {
    Location location;
    // The location owns a descriptor of its folder; for the device folder that is a copy.
    const auto keepRoot = [&] {
        location.folder = ScopedFd(fcntl(root, F_DUPFD_CLOEXEC, 0));
        if (!location.folder.Valid()) {
            location.error = DeviceErrorFromErrno(errno);
        }
        return location.folder.Valid();
    };
    if (names.empty()) {
        if (fstat(root, &location.status) != 0) {
            location.error = DeviceErrorFromErrno(errno);
        } else if (keepRoot()) {
            location.exists = true;
        }
        return location;
    }
    ScopedFd opened;  // the folder reached so far, unless it still is root
    const auto current = [&] { return opened.Valid() ? opened.Get() : root; };
    const std::size_t folders = names.size() - 1;
    if (folders > 1) {
        opened = ScopedFd(OpenExactFolders(root, names, folders));
    }
    for (std::size_t i = opened.Valid() ? folders : 0; i < folders; ++i) {
        // Most paths name their folders exactly: one open settles those. Anything else
        // (another case, a link, a file, a missing name) takes the full lookup.
        ScopedFd next(OpenBelow(current(), names[i], O_PATH | O_DIRECTORY));
        if (!next.Valid()) {
            Entry entry;
            const std::uint32_t error = Find(current(), names[i], entry);
            if (error != ERROR_SUCCESS) {
                location.error = error == ERROR_FILE_NOT_FOUND ? ERROR_PATH_NOT_FOUND : error;
                return location;
            }
            if (S_ISLNK(entry.status.st_mode)) {
                location.error = ERROR_ACCESS_DENIED;
                return location;
            }
            if (!S_ISDIR(entry.status.st_mode)) {
                location.error = ERROR_PATH_NOT_FOUND;
                return location;
            }
            next = ScopedFd(OpenBelow(current(), entry.name, O_PATH | O_DIRECTORY));
            if (!next.Valid()) {
                const std::uint32_t openError = DeviceErrorFromErrno(errno);
                location.error =
                    openError == ERROR_FILE_NOT_FOUND ? ERROR_PATH_NOT_FOUND : openError;
                return location;
            }
        }
        opened = std::move(next);
    }
    Entry last;
    const std::uint32_t error = Find(current(), names.back(), last);
    if (error == ERROR_SUCCESS) {
        location.exists = true;
        location.name = std::move(last.name);
        location.status = last.status;
    } else if (error == ERROR_FILE_NOT_FOUND) {
        location.name = names.back();
    } else {
        location.error = error;
        return location;
    }
    if (opened.Valid()) {
        location.folder = std::move(opened);
    } else if (!keepRoot()) {
        return location;
    }
    location.topLevel = names.size() == 1;
    return location;
}

DevicePathResolver::Location DevicePathResolver::LocateFolder(
    int root, const std::vector<std::string>& names) const {
    const auto failure = [](std::uint32_t error) {
        Location failed;
        failed.error = error;
        return failed;
    };
    Location location = Locate(root, names);
    if (location.error != ERROR_SUCCESS || location.IsDeviceFolder()) {
        return location;
    }
    if (!location.exists || location.IsFile()) {
        return failure(ERROR_PATH_NOT_FOUND);
    }
    if (location.IsRefused()) {
        return failure(ERROR_ACCESS_DENIED);
    }
    ScopedFd folder(OpenBelow(location.folder.Get(), location.name, O_PATH | O_DIRECTORY));
    if (!folder.Valid()) {
        const std::uint32_t error = DeviceErrorFromErrno(errno);
        return failure(error == ERROR_FILE_NOT_FOUND ? ERROR_PATH_NOT_FOUND : error);
    }
    location.folder = std::move(folder);
    location.name.clear();  // the location now is the folder itself
    return location;
}

DevicePathResolver::Listing DevicePathResolver::List(int folder, bool includeHidden) const {
    Listing listing;
    DirPtr dir = OpenDirectory(folder);
    if (!dir) {
        listing.error = DeviceErrorFromErrno(errno);
        return listing;
    }
    errno = 0;
    while (const dirent* found = readdir(dir.get())) {
        std::string_view name(found->d_name);
        if (IsDotName(name) || (!includeHidden && name.front() == '.')) {
            continue;
        }
        Entry entry{std::string(name), {}};
        // An entry that went away meanwhile is simply not listed.
        if (fstatat(folder, entry.name.c_str(), &entry.status, AT_SYMLINK_NOFOLLOW) == 0 &&
            (S_ISREG(entry.status.st_mode) || S_ISDIR(entry.status.st_mode))) {
            listing.entries.push_back(std::move(entry));
        }
        errno = 0;
    }
    if (errno != 0) {
        listing.error = DeviceErrorFromErrno(errno);
        listing.entries.clear();
        return listing;
    }
    std::sort(listing.entries.begin(), listing.entries.end(),
              [](const Entry& a, const Entry& b) { return a.name < b.name; });
    return listing;
}

std::uint32_t DevicePathResolver::Attributes(int root, const Location& location) const {
    if (location.IsDeviceFolder()) {
        return FILE_ATTRIBUTE_DIRECTORY;
    }
    return Attributes(root, location.folder.Get(), Entry{location.name, location.status},
                      location.topLevel);
}

std::uint32_t DevicePathResolver::Attributes(int root, int folder, const Entry& entry,
                                             bool topLevel) const {
    const bool isFolder = S_ISDIR(entry.status.st_mode);
    std::uint32_t attributes = isFolder ? FILE_ATTRIBUTE_DIRECTORY : FILE_ATTRIBUTE_ARCHIVE;
    // The device's own rule, also when running as root, where the write would succeed.
    if ((entry.status.st_mode & S_IWUSR) == 0) {
        attributes |= FILE_ATTRIBUTE_READONLY;
    }
    if (!entry.name.empty() && entry.name.front() == '.') {
        attributes |= FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;
    }
    if (topLevel && isFolder) {
        struct stat rootStatus {};
        bool card = fstat(root, &rootStatus) == 0 && rootStatus.st_dev != entry.status.st_dev;
        if (!card) {
            ScopedFd inside(OpenBelow(folder, entry.name, O_PATH | O_DIRECTORY));
            struct stat marker {};
            card = inside.Valid() &&
                   fstatat(inside.Get(), ".storage-card", &marker, AT_SYMLINK_NOFOLLOW) == 0 &&
                   S_ISREG(marker.st_mode);
        }
        if (card) {
            attributes |= FILE_ATTRIBUTE_TEMPORARY;  // the device marks storage cards so
        }
    }
    return attributes;
}

}  // namespace zephyrate
