// The device remote interface over a local folder that stands for the device: a mounted
// card, a phone mounted as a folder, or any folder. The link is up while the folder is a
// readable, writable folder; every path resolves below a descriptor of it and never
// reaches outside (see DevicePathResolver). Symbolic links and special files inside are
// hidden from listings, and every operation on them fails with ERROR_ACCESS_DENIED.
// Names starting with "." are hidden and system; listings leave them out when asked with
// FAF_NO_HIDDEN_SYS_ROMMODULES, as the device does. A folder at
// the top that is another mount or holds a file ".storage-card" is a storage card.
//
// Threads: every call may come from any thread; the last error is kept per calling
// thread and per object. Ownership: handles, registry keys and listing arrays belong to
// the object (arrays until CeRapiFreeBuffer); it must outlive their use.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <unordered_map>
#include <vector>

#include "platform/DeviceFileTable.h"
#include "platform/DevicePathResolver.h"
#include "platform/DeviceRegistryKeys.h"
#include "platform/DeviceRemote.h"
#include "platform/ScopedFd.h"

namespace zephyrate {

class FolderDevice final : public DeviceRemote {
  public:
    // createWhenMissing: connecting creates the folder (the default folder); otherwise a
    // missing folder is an absent device.
    FolderDevice(std::string folder, bool createWhenMissing);
    FolderDevice(const FolderDevice&) = delete;
    FolderDevice& operator=(const FolderDevice&) = delete;

    const std::string& Folder() const { return folder_; }

    std::int32_t CeRapiInitEx(RAPIINIT& init) override;
    // Polls about every 100 ms until the folder is usable or timeoutMs have passed.
    std::uint32_t WaitForRapiInit(RAPIINIT& init, std::uint32_t timeoutMs) override;
    // Closes the link and every open file and registry key.
    std::int32_t CeRapiUninit() override;

    DeviceHandle CeCreateFile(const char16_t* path, std::uint32_t desiredAccess,
                              std::uint32_t shareMode, std::uint32_t creation,
                              std::uint32_t flagsAndAttributes) override;
    bool CeGetFileTime(DeviceHandle file, FILETIME* creation, FILETIME* lastAccess,
                       FILETIME* lastWrite) override;
    std::uint32_t CeGetFileSize(DeviceHandle file, std::uint32_t* high) override;
    bool CeWriteFile(DeviceHandle file, const void* data, std::uint32_t count,
                     std::uint32_t* written) override;
    // Creation time is ignored: the folder keeps none that could be set.
    bool CeSetFileTime(DeviceHandle file, const FILETIME* creation, const FILETIME* lastAccess,
                       const FILETIME* lastWrite) override;
    bool CeCloseHandle(DeviceHandle file) override;

    std::uint32_t CeGetFileAttributes(const char16_t* path) override;
    std::uint32_t CeGetLastError() override;
    bool CeCreateDirectory(const char16_t* path) override;
    bool CeMoveFile(const char16_t* existing, const char16_t* target) override;
    bool CeDeleteFile(const char16_t* path) override;

    bool CeFindAllFiles(const char16_t* pattern, std::uint32_t flags, std::uint32_t* count,
                        CE_FIND_DATA** found) override;
    std::int32_t CeRapiFreeBuffer(void* buffer) override;

    std::int32_t CeRegOpenKeyEx(HKEY root, const char16_t* subKey, std::uint32_t options,
                                std::uint32_t access, HKEY* result) override;
    std::int32_t CeRegQueryValueEx(HKEY key, const char16_t* valueName, std::uint32_t* type,
                                   std::uint8_t* data, std::uint32_t* size) override;
    std::int32_t CeRegCloseKey(HKEY key) override;

    int CeSHCreateShortcut(const char16_t* shortcut, const char16_t* target) override;

    // S_OK while the link is up, otherwise the HRESULT of ERROR_DEVICE_NOT_CONNECTED.
    std::int32_t CeRapiGetError() override;
    bool CeGetVersionEx(CEOSVERSIONINFO* info) override;

  private:
    using Root = std::shared_ptr<const ScopedFd>;

    // The device folder's descriptor while the link is up; null otherwise.
    Root LinkedRoot() const;
    bool TryOpenLink();
    // Resolves a path below the linked root; sets the last error on failure.
    bool Resolve(const char16_t* path, Root& root, DevicePathResolver::Location& location);
    void SetLastError(std::uint32_t error);
    bool Fail(std::uint32_t error) {
        SetLastError(error);
        return false;
    }

    const std::string folder_;
    const bool createWhenMissing_;
    DevicePathResolver resolver_;
    DeviceFileTable files_;
    DeviceRegistryKeys keys_;

    mutable std::mutex linkMutex_;
    Root root_;
    std::uint64_t attempt_ = 0;  // the event token of the latest CeRapiInitEx

    std::mutex errorMutex_;
    std::unordered_map<std::thread::id, std::uint32_t> lastErrors_;

    std::mutex buffersMutex_;
    std::map<const void*, std::vector<CE_FIND_DATA>> buffers_;
};

}  // namespace zephyrate
