// The per-user settings file: a registry document on disk. Every read parses the file
// afresh (nothing is cached); every write is a locked read-modify-write that replaces
// the file atomically (temporary file in the same folder, fsync, rename) with mode 0600,
// since it holds passwords.
//
// Threads and processes: writers are serialised with an exclusive flock on the file's
// folder, so concurrent writers lose no update. Readers take no lock: they always see
// either the old or the new file.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "platform/RegistryDocument.h"

namespace zephyrate {

class RegistryFile {
  public:
    explicit RegistryFile(std::string path);

    const std::string& Path() const { return path_; }

    // Opens the key for reading and writing, as a registry key opened with all access:
    // creates the folder, the file and the key's section when missing. The document as
    // read, or nothing when the file or its folder may not be written, the path is not a
    // file, or the key cannot be created; a damaged file gives what could be parsed.
    std::optional<RegistryDocument> OpenKey(std::string_view key);
    // A missing, unreadable or damaged file reads as absent values.
    std::optional<RegistryValue> Read(std::string_view key, std::string_view name) const;
    // Creates the folder (mode 0700) and the file when missing. False when the file
    // could not be written; the old file is then unchanged.
    bool Write(std::string_view key, std::string_view name, const RegistryValue& value);

    // Where the settings live: --settings, else $ZEPHYRATE_SETTINGS, else
    // $XDG_CONFIG_HOME/zephyrate/settings.reg (~/.config/zephyrate/settings.reg).
    static std::string DefaultLocation(std::string_view commandLineChoice);

  private:
    std::string path_;
};

}  // namespace zephyrate
