// One file of a job, as a line of the provider's index names it. The driver's entry list
// holds copies; the transfer step fills in the outcome, times, lengths and status text.
// A plain value: not shared between threads.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace zephyrate {

class FileEntry {
  public:
    FileEntry() = default;
    virtual ~FileEntry() = default;
    FileEntry(const FileEntry&) = default;
    FileEntry& operator=(const FileEntry&) = default;
    FileEntry(FileEntry&&) = default;
    FileEntry& operator=(FileEntry&&) = default;

    // Name = path.
    bool SetFile(std::string_view path);
    // An absolute address, used unchanged; Name is its text after the last '/' or '\'.
    bool SetUrl(std::string_view address);
    bool AddShortcut(std::string_view name);  // ShortcutFile = name + ".lnk"
    bool AddFavorite(std::string_view name);  // FavoriteFile = name + ".url"

    std::int32_t Result = 0;
    std::int64_t ServerTime = 0;  // seconds from calendar fields, no zone conversion
    std::int64_t DeviceTime = 0;
    std::uint32_t ServerLength = 0xFFFFFFFF;  // unknown
    std::uint32_t DeviceLength = 0xFFFFFFFF;  // unknown
    std::string Url;
    bool UrlIsAbsolute = false;
    std::int32_t Row = -1;  // no row in the job list
    std::string Name;
    std::string FavoriteFile;
    std::string ShortcutFile;
    std::string StatusText;
    std::uint32_t HttpStatus = 0;
};

}  // namespace zephyrate
