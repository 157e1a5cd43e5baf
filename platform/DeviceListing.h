// One listing of device entries (CeFindAllFiles), handed back to the device
// (CeRapiFreeBuffer) however the walk over it ends, also when a name's conversion throws.
// A failed listing holds no entries.
// Threads: the caller's; the device is called synchronously.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/WinTypes.h"

namespace zephyrate {

class DeviceRemote;

// Folders only, and no hidden system modules in ROM: what the root question and the
// folder tree list.
inline constexpr std::uint32_t kFolderListingFlags =
    FAF_ATTRIBUTES | FAF_NAME | FAF_FOLDERS_ONLY | FAF_NO_HIDDEN_SYS_ROMMODULES;

class DeviceListing {
  public:
    // pattern as the device reads it, e.g. "\Folder\*.*"; flags: the FAF_ values.
    DeviceListing(DeviceRemote& device, std::string_view pattern, std::uint32_t flags);
    ~DeviceListing();
    DeviceListing(const DeviceListing&) = delete;
    DeviceListing& operator=(const DeviceListing&) = delete;

    bool Ok() const { return ok_; }
    std::uint32_t Count() const { return found_ != nullptr ? count_ : 0; }
    const CE_FIND_DATA& operator[](std::uint32_t index) const { return found_[index]; }
    // The entry's name in UTF-8, up to its terminating zero and never past the record.
    std::string Name(std::uint32_t index) const;

  private:
    DeviceRemote& device_;
    bool ok_ = false;
    std::uint32_t count_ = 0;
    CE_FIND_DATA* found_ = nullptr;
};

}  // namespace zephyrate
