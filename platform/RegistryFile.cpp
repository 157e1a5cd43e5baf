#include "platform/RegistryFile.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <optional>
#include <utility>

#include "platform/ScopedFd.h"

namespace zephyrate {

namespace {

// A settings file is a few hundred bytes; anything past this is not ours to parse.
constexpr std::size_t kMaxFileSize = 4 * 1024 * 1024;

std::string ParentOf(const std::string& path) {
    std::size_t slash = path.find_last_of('/');
    if (slash == std::string::npos) {
        return ".";
    }
    return slash == 0 ? "/" : path.substr(0, slash);
}

std::string NameOf(const std::string& path) {
    std::size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

bool MakeFolders(const std::string& folder) {
    struct stat info {};
    if (::stat(folder.c_str(), &info) == 0) {
        return S_ISDIR(info.st_mode);
    }
    std::string parent = ParentOf(folder);
    if (parent != folder && !MakeFolders(parent)) {
        return false;
    }
    return ::mkdir(folder.c_str(), 0700) == 0 || errno == EEXIST;
}

std::optional<std::string> ReadWholeFile(const std::string& path) {
    ScopedFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    struct stat info {};
    if (!fd.Valid() || ::fstat(fd.Get(), &info) != 0 || !S_ISREG(info.st_mode)) {
        return std::nullopt;
    }
    std::string bytes;
    char chunk[8192];
    for (;;) {
        ssize_t got = ::read(fd.Get(), chunk, sizeof chunk);
        if (got < 0) {
            if (errno == EINTR) {
                continue;
            }
            return std::nullopt;
        }
        if (got == 0) {
            return bytes;
        }
        if (bytes.size() + static_cast<std::size_t>(got) > kMaxFileSize) {
            return std::nullopt;
        }
        bytes.append(chunk, static_cast<std::size_t>(got));
    }
}

bool WriteAll(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        ssize_t done = ::write(fd, bytes.data(), bytes.size());
        if (done < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        bytes.remove_prefix(static_cast<std::size_t>(done));
    }
    return true;
}

std::string EnvironmentValue(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr ? std::string(value) : std::string();
}

std::string HomeFolder() {
    std::string home = EnvironmentValue("HOME");
    if (!home.empty()) {
        return home;
    }
    struct passwd* entry = ::getpwuid(::getuid());
    return entry != nullptr && entry->pw_dir != nullptr ? entry->pw_dir : "/tmp";
}

}  // namespace

RegistryFile::RegistryFile(std::string path) : path_(std::move(path)) {}

std::optional<RegistryValue> RegistryFile::Read(std::string_view key, std::string_view name) const {
    std::optional<std::string> bytes = ReadWholeFile(path_);
    if (!bytes) {
        return std::nullopt;
    }
    return RegistryDocument::Parse(*bytes).Find(key, name);
}

bool RegistryFile::Write(std::string_view key, std::string_view name, const RegistryValue& value) {
    if (value.type == REG_SZ && value.text.find_first_of("\r\n") != std::string::npos) {
        return false;  // the text format has no way to hold a line break in a value
    }
    const std::string folder = ParentOf(path_);
    if (!MakeFolders(folder)) {
        return false;
    }
    // The lock sits on the folder, not the file: the file itself is replaced by rename,
    // so a lock on its inode would not exclude a writer that opened the new one.
    ScopedFd folderFd(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!folderFd.Valid()) {
        return false;
    }
    while (::flock(folderFd.Get(), LOCK_EX) != 0) {
        if (errno != EINTR) {
            return false;
        }
    }

    RegistryDocument document = RegistryDocument::Parse(ReadWholeFile(path_).value_or(""));
    document.Set(key, name, value);
    const std::string text = document.Serialize();

    std::string temporary = folder + "/." + NameOf(path_) + ".XXXXXX";
    ScopedFd out(::mkostemp(temporary.data(), O_CLOEXEC));  // mode 0600
    if (!out.Valid()) {
        return false;
    }
    bool written = ::fchmod(out.Get(), 0600) == 0 && WriteAll(out.Get(), text) &&
                   ::fsync(out.Get()) == 0 && ::rename(temporary.c_str(), path_.c_str()) == 0;
    if (!written) {
        ::unlink(temporary.c_str());
        return false;
    }
    ::fsync(folderFd.Get());
    return true;  // the folder lock goes with folderFd
}

std::string RegistryFile::DefaultLocation(std::string_view commandLineChoice) {
    if (!commandLineChoice.empty()) {
        return std::string(commandLineChoice);
    }
    std::string fromEnvironment = EnvironmentValue("ZEPHYRATE_SETTINGS");
    if (!fromEnvironment.empty()) {
        return fromEnvironment;
    }
    std::string configHome = EnvironmentValue("XDG_CONFIG_HOME");
    if (configHome.empty() || configHome.front() != '/') {
        configHome = HomeFolder() + "/.config";
    }
    return configHome + "/zephyrate/settings.reg";
}

}  // namespace zephyrate
