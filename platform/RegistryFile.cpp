#include "platform/RegistryFile.h"

#include <pwd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <optional>
#include <utility>

#include "platform/LocalFiles.h"

namespace zephyrate {

namespace {

// A settings file is a few hundred bytes; anything past this is not ours to parse.
constexpr std::size_t kMaxFileSize = 4 * 1024 * 1024;

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
    std::optional<std::string> bytes = ReadLocalFile(path_, kMaxFileSize);
    if (!bytes) {
        return std::nullopt;
    }
    return RegistryDocument::Parse(*bytes).Find(key, name);
}

std::optional<RegistryDocument> RegistryFile::OpenKey(std::string_view key) {
    const std::string folder = LocalParentFolder(path_);
    const bool exists = LocalPathExists(path_);
    if (exists) {
        // A file the user may only read opens as no key at all, like a registry key that
        // refuses full access.
        if (!LocalFileIsWritable(path_) || !LocalFolderIsWritable(folder)) {
            return std::nullopt;
        }
        std::optional<std::string> bytes = ReadLocalFile(path_, kMaxFileSize);
        if (!bytes) {
            return std::nullopt;
        }
        RegistryDocument document = RegistryDocument::Parse(*bytes);
        if (document.HasKey(key)) {
            return document;
        }
    } else if (!MakeLocalFolders(folder) || !LocalFolderIsWritable(folder)) {
        return std::nullopt;
    }
    FolderLock lock(folder);
    if (!lock.Locked()) {
        return std::nullopt;
    }
    // Another writer may have made the file or the key since the look above.
    std::optional<std::string> bytes = ReadLocalFile(path_, kMaxFileSize);
    if (!bytes && LocalPathExists(path_)) {
        return std::nullopt;
    }
    RegistryDocument document = RegistryDocument::Parse(bytes.value_or(""));
    if (!document.HasKey(key)) {
        document.CreateKey(key);
        if (!ReplaceLocalFile(path_, document.Serialize(), 0600)) {
            return std::nullopt;
        }
    }
    return document;
}

bool RegistryFile::Write(std::string_view key, std::string_view name, const RegistryValue& value) {
    if (value.type == REG_SZ && value.text.find_first_of("\r\n") != std::string::npos) {
        return false;  // the text format has no way to hold a line break in a value
    }
    const std::string folder = LocalParentFolder(path_);
    if (!MakeLocalFolders(folder)) {
        return false;
    }
    FolderLock lock(folder);
    if (!lock.Locked()) {
        return false;
    }
    RegistryDocument document =
        RegistryDocument::Parse(ReadLocalFile(path_, kMaxFileSize).value_or(""));
    document.Set(key, name, value);
    return ReplaceLocalFile(path_, document.Serialize(), 0600);
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
