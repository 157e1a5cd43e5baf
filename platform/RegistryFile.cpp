#include "platform/RegistryFile.h"

#include <pwd.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <optional>
#include <utility>

#include "platform/Environment.h"
#include "platform/LocalFiles.h"

namespace zephyrate {

namespace {

// A settings file is a few hundred bytes; anything past this is not ours to parse.
constexpr std::size_t kMaxFileSize = 4 * 1024 * 1024;

std::string HomeFolder() {
    std::string home = EnvironmentValue("HOME");
    if (!home.empty()) {
        return home;
    }
    struct passwd* entry = ::getpwuid(::getuid());
    return entry != nullptr && entry->pw_dir != nullptr ? entry->pw_dir : "/tmp";
}

bool Refuse(std::string* reason, std::string why) {
    if (reason != nullptr) {
        *reason = std::move(why);
    }
    return false;
}

}  // namespace

RegistryFile::RegistryFile(std::string path) : path_(std::move(path)) {}

RegistryFile::Loaded RegistryFile::Load(const std::string& path) {
    Loaded loaded;
    std::optional<std::string> bytes = ReadLocalFile(path, kMaxFileSize);
    if (!bytes) {
        if (errno == ENOENT) {
            loaded.condition = Condition::Missing;
        } else if (errno == EISDIR) {
            loaded.condition = Condition::NotAFile;
        } else {
            loaded.condition = Condition::Unreadable;
            loaded.reason = std::strerror(errno);
        }
        return loaded;
    }
    // An empty file holds nothing that a write could lose.
    if (!bytes->empty() && !RegistryDocument::IsExport(*bytes)) {
        loaded.condition = Condition::Foreign;
        return loaded;
    }
    loaded.condition = Condition::Settings;
    loaded.document = RegistryDocument::Parse(*bytes);
    return loaded;
}

RegistryFile::Condition RegistryFile::Inspect(std::string* reason) const {
    Loaded loaded = Load(path_);
    if (reason != nullptr) {
        *reason = std::move(loaded.reason);
    }
    return loaded.condition;
}

std::optional<RegistryValue> RegistryFile::Read(std::string_view key, std::string_view name) const {
    const Loaded loaded = Load(path_);
    if (loaded.condition != Condition::Settings) {
        return std::nullopt;
    }
    return loaded.document.Find(key, name);
}

bool RegistryFile::Write(std::string_view key, std::string_view name, const RegistryValue& value,
                         std::string* reason) {
    if (value.type == REG_SZ && value.text.find_first_of("\r\n") != std::string::npos) {
        return Refuse(reason, "the file cannot hold a line break in a value");
    }
    const std::optional<std::string> target = ResolveLocalLinks(path_);
    if (!target) {
        return Refuse(reason,
                      std::string("its link cannot be followed (") + std::strerror(errno) + ")");
    }
    const std::string folder = LocalParentFolder(*target);
    // The usual location may not exist yet; a link's target folder is the user's to make.
    if (*target == path_ && !MakeLocalFolders(folder)) {
        return Refuse(reason, "its folder cannot be made");
    }
    FolderLock lock(folder);
    if (!lock.Locked()) {
        return Refuse(reason,
                      std::string("its folder cannot be used (") + std::strerror(errno) + ")");
    }
    Loaded loaded = Load(*target);
    switch (loaded.condition) {
        case Condition::Missing:
        case Condition::Settings:
            break;
        case Condition::Foreign:
            return Refuse(reason, "it is not a settings file");
        case Condition::NotAFile:
            return Refuse(reason, "it is not a file");
        case Condition::Unreadable:
            return Refuse(reason, "it cannot be read (" + loaded.reason + ")");
    }
    // Replacing by rename needs only the folder's permission; the file's own says whether
    // the user wants it changed.
    if (loaded.condition == Condition::Settings && !LocalFileIsWritable(*target)) {
        return Refuse(reason, "it is read-only");
    }
    if (!LocalFolderIsWritable(folder)) {
        return Refuse(reason, "its folder is read-only");
    }
    RemoveStaleReplacements(*target);
    loaded.document.Set(key, name, value);
    if (!ReplaceLocalFile(*target, loaded.document.Serialize(), 0600)) {
        return Refuse(reason, std::string("it cannot be written (") + std::strerror(errno) + ")");
    }
    return true;
}

std::string RegistryFile::DefaultLocation(std::string_view commandLineChoice) {
    if (!commandLineChoice.empty()) {
        return std::string(commandLineChoice);
    }
    std::string fromEnvironment = EnvironmentValue("ZEPHYRATE_SETTINGS");
    if (!fromEnvironment.empty()) {
        return fromEnvironment;
    }
    if (std::optional<std::string> config = BaseDirectory("XDG_CONFIG_HOME")) {
        return *config + "/zephyrate/settings.reg";
    }
    return HomeFolder() + "/.config/zephyrate/settings.reg";
}

}  // namespace zephyrate
