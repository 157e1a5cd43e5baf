// The per-user settings file: a registry document on disk. Every read parses the file
// afresh (nothing is cached) and changes nothing on disk; every write is a locked
// read-modify-write that replaces the file atomically (temporary file in the same folder,
// fsync, rename) with mode 0600, since it holds passwords.
//
// Only a registry export (or an empty file) is ever replaced: a file of anything else, or
// a folder, pipe or device in its place, reads as absent values and refuses every write.
// A symbolic link stays a link: the write replaces the file at the end of the link chain,
// in that file's folder.
//
// Threads and processes: writers are serialised with an exclusive flock on the folder of
// the file they replace, so concurrent writers lose no update; a writer also removes what
// a killed writer left there. Readers take no lock: they see either the old or the new file.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "platform/RegistryDocument.h"

namespace zephyrate {

class RegistryFile {
  public:
    // What stands at the path, as reads and writes treat it.
    enum class Condition {
        Missing,     // nothing, or a link to nothing: absent values; a write creates it
        Settings,    // a registry export or an empty file: read, and written when allowed
        Foreign,     // a file without the export header: absent values, never written
        NotAFile,    // a folder, pipe or device: the same
        Unreadable,  // no read permission, too large, an I/O error: the same
    };

    explicit RegistryFile(std::string path);

    const std::string& Path() const { return path_; }

    // The condition of the file now; reason, when given, says why it is unreadable.
    Condition Inspect(std::string* reason = nullptr) const;
    // The value as stored, or nothing when the file is not Condition::Settings or the key
    // or value is absent; a damaged line hides no other value.
    std::optional<RegistryValue> Read(std::string_view key, std::string_view name) const;
    // Stores the value, creating the file (and, for a path that is not a link, its folders
    // with mode 0700) when missing. False when it could not be stored, with a short reason
    // ("it is read-only", "it is not a settings file", ...); the old file is then unchanged.
    bool Write(std::string_view key, std::string_view name, const RegistryValue& value,
               std::string* reason = nullptr);

    // Where the settings live: --settings, else $ZEPHYRATE_SETTINGS, else
    // $XDG_CONFIG_HOME/zephyrate/settings.reg (~/.config/zephyrate/settings.reg).
    static std::string DefaultLocation(std::string_view commandLineChoice);

  private:
    struct Loaded {
        Condition condition = Condition::Missing;
        RegistryDocument document;  // what was read when Condition::Settings
        std::string reason;         // why, when Condition::Unreadable
    };
    static Loaded Load(const std::string& path);

    std::string path_;
};

}  // namespace zephyrate
