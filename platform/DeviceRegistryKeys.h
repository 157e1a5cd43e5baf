// The device registry: keys opened from the hidden file ".registry.reg" at the top of
// the device folder (registry editor format). A key is a snapshot of the file taken
// when it was opened, so a query never touches the folder.
//
// Threads: every method may run on any thread; the key table is guarded by a mutex.
#pragma once

#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <string_view>

#include "platform/RegistryDocument.h"
#include "platform/WinTypes.h"

namespace zephyrate {

class DeviceRegistryKeys {
  public:
    // Opens root\subKey (root: a predefined key or a key opened here). Results are
    // device error codes: ERROR_FILE_NOT_FOUND when the file or the key is missing.
    std::int32_t Open(int deviceFolder, HKEY root, std::u16string_view subKey, HKEY& result);
    // REG_SZ values come as UTF-16 with their terminating zero, REG_DWORD as 4 bytes, both
    // little-endian. data null asks for the size only; a short buffer gives
    // ERROR_MORE_DATA and the size needed.
    std::int32_t Query(HKEY key, std::u16string_view name, std::uint32_t* type, std::uint8_t* data,
                       std::uint32_t* size);
    std::int32_t Close(HKEY key);
    void CloseAll();

  private:
    struct Key {
        std::string path;  // "HKEY_LOCAL_MACHINE\SYSTEM\Platform"
        RegistryDocument document;
    };

    std::mutex mutex_;
    std::map<HKEY, Key> keys_;
    HKEY nextKey_ = 1;  // far below the predefined keys at 0x80000000
};

}  // namespace zephyrate
