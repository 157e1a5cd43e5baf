#include "platform/LocalFiles.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstring>
#include <filesystem>
#include <memory>

namespace zephyrate {

namespace {

// As many links as the kernel follows in one path before it gives up with ELOOP.
constexpr int kMaxLinks = 32;
// The length of the XXXXXX that mkostemp fills in.
constexpr std::size_t kTemporarySuffix = 6;

std::string NameOf(const std::string& path) {
    std::size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

bool Fail(std::string* error, std::string_view what, const std::string& path) {
    if (error != nullptr) {
        *error = std::string(what) + " " + path + ": " + std::strerror(errno);
    }
    return false;
}

}  // namespace

std::string AbsoluteLocalPath(const std::string& path) {
    std::error_code error;
    const std::filesystem::path absolute = std::filesystem::absolute(path, error);
    return error ? path : absolute.lexically_normal().string();
}

std::string LocalParentFolder(const std::string& path) {
    std::size_t slash = path.find_last_of('/');
    if (slash == std::string::npos) {
        return ".";
    }
    return slash == 0 ? "/" : path.substr(0, slash);
}

bool MakeLocalFolders(const std::string& folder) {
    struct stat info {};
    if (::stat(folder.c_str(), &info) == 0) {
        if (S_ISDIR(info.st_mode)) {
            return true;
        }
        errno = ENOTDIR;  // a file in the way: the caller reports why
        return false;
    }
    std::string parent = LocalParentFolder(folder);
    if (parent != folder && !MakeLocalFolders(parent)) {
        return false;
    }
    if (::mkdir(folder.c_str(), 0700) == 0) {
        return true;
    }
    // EEXIST: another process made it meanwhile, or a dangling link stands there.
    return errno == EEXIST && ::stat(folder.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

std::optional<std::string> ReadLocalFile(const std::string& path, std::size_t maxSize,
                                         std::string* error) {
    // O_NONBLOCK: opening a pipe or device in the file's place must not wait for a
    // partner; it has no effect on the regular files read below.
    ScopedFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    struct stat info {};
    if (!fd.Valid() || ::fstat(fd.Get(), &info) != 0) {
        Fail(error, "Cannot open", path);
        return std::nullopt;
    }
    if (!S_ISREG(info.st_mode)) {
        errno = EISDIR;
        Fail(error, "Not a file:", path);
        return std::nullopt;
    }
    std::string bytes;
    char chunk[65536];
    for (;;) {
        ssize_t got = ::read(fd.Get(), chunk, sizeof chunk);
        if (got < 0) {
            if (errno == EINTR) {
                continue;
            }
            Fail(error, "Cannot read", path);
            return std::nullopt;
        }
        if (got == 0) {
            return bytes;
        }
        if (bytes.size() + static_cast<std::size_t>(got) > maxSize) {
            errno = EFBIG;
            Fail(error, "Too large:", path);
            return std::nullopt;
        }
        bytes.append(chunk, static_cast<std::size_t>(got));
    }
}

bool ReplaceLocalFile(const std::string& path, std::string_view bytes, unsigned mode,
                      std::string* error) {
    const std::string folder = LocalParentFolder(path);
    std::string temporary = folder + "/." + NameOf(path) + ".XXXXXX";
    ScopedFd out(::mkostemp(temporary.data(), O_CLOEXEC));  // mode 0600
    if (!out.Valid()) {
        return Fail(error, "Cannot create a file beside", path);
    }
    bool written = ::fchmod(out.Get(), mode) == 0 && WriteAll(out.Get(), bytes) == 0 &&
                   ::fsync(out.Get()) == 0;
    if (!written || ::rename(temporary.c_str(), path.c_str()) != 0) {
        Fail(error, written ? "Cannot replace" : "Cannot write", path);
        const int reason = errno;  // for the caller, past the clean-up
        ::unlink(temporary.c_str());
        errno = reason;
        return false;
    }
    // The rename is only durable once the folder itself reaches the disk.
    ScopedFd folderFd(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (folderFd.Valid()) {
        ::fsync(folderFd.Get());
    }
    return true;
}

void RemoveStaleReplacements(const std::string& path) {
    const std::string folder = LocalParentFolder(path);
    const std::string prefix = "." + NameOf(path) + ".";
    const std::unique_ptr<DIR, int (*)(DIR*)> entries(::opendir(folder.c_str()), ::closedir);
    if (!entries) {
        return;  // the replace that follows meets the same trouble and reports it
    }
    while (const struct dirent* entry = ::readdir(entries.get())) {
        const std::string_view name = entry->d_name;
        if (name.size() != prefix.size() + kTemporarySuffix || !name.starts_with(prefix)) {
            continue;
        }
        struct stat info {};
        // Only files: whatever else carries such a name was not made by a replace.
        if (::fstatat(::dirfd(entries.get()), entry->d_name, &info, AT_SYMLINK_NOFOLLOW) == 0 &&
            S_ISREG(info.st_mode)) {
            (void)::unlinkat(::dirfd(entries.get()), entry->d_name, 0);  // the next try may do it
        }
    }
}

std::optional<std::string> ResolveLocalLinks(std::string path) {
    for (int links = 0;; ++links) {
        std::string target(PATH_MAX, '\0');
        const ssize_t length = ::readlink(path.c_str(), target.data(), target.size());
        if (length < 0) {
            if (errno == EINVAL || errno == ENOENT) {
                return path;  // not a link, or nothing there yet
            }
            return std::nullopt;
        }
        if (links == kMaxLinks) {
            errno = ELOOP;
            return std::nullopt;
        }
        if (length == 0 || static_cast<std::size_t>(length) == target.size()) {
            errno = length == 0 ? ENOENT : ENAMETOOLONG;
            return std::nullopt;
        }
        target.resize(static_cast<std::size_t>(length));
        path = target.front() == '/' ? target : LocalParentFolder(path) + "/" + target;
    }
}

bool LocalPathExists(const std::string& path) {
    struct stat info {};
    return ::lstat(path.c_str(), &info) == 0;
}

bool LocalFileIsWritable(const std::string& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode) &&
           ::faccessat(AT_FDCWD, path.c_str(), R_OK | W_OK, AT_EACCESS) == 0;
}

bool LocalFolderIsWritable(const std::string& folder) {
    struct stat info {};
    return ::stat(folder.c_str(), &info) == 0 && S_ISDIR(info.st_mode) &&
           ::faccessat(AT_FDCWD, folder.c_str(), W_OK | X_OK, AT_EACCESS) == 0;
}

FolderLock::FolderLock(const std::string& folder)
    : fd_(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)) {
    while (fd_.Valid() && ::flock(fd_.Get(), LOCK_EX) != 0) {
        if (errno != EINTR) {
            fd_.Reset();
        }
    }
}

}  // namespace zephyrate
