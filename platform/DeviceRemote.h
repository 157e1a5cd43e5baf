// The device remote interface: the only road to the device's files, registry and
// shortcut service. Paths are UTF-16 with a terminating zero; results follow the
// device's conventions (handles, 0xFFFFFFFF, non-zero for success, a last error per
// calling thread).
//
// Threads: every call may come from any thread; the last error is kept per thread.
// Ownership: arrays from CeFindAllFiles belong to the device until CeRapiFreeBuffer.
#pragma once

#include <cstdint>

#include "platform/WinTypes.h"

namespace zephyrate {

class DeviceRemote {
  public:
    virtual ~DeviceRemote() = default;

    // Link. CeRapiInitEx starts an attempt and fills in the event to wait on;
    // WaitForRapiInit waits for it at most timeoutMs and, when the link came up,
    // sets hrRapiInit (not negative on success). Returns WAIT_OBJECT_0 or WAIT_TIMEOUT.
    virtual std::int32_t CeRapiInitEx(RAPIINIT& init) = 0;
    virtual std::uint32_t WaitForRapiInit(RAPIINIT& init, std::uint32_t timeoutMs) = 0;
    virtual std::int32_t CeRapiUninit() = 0;

    // Files.
    virtual DeviceHandle CeCreateFile(const char16_t* path, std::uint32_t desiredAccess,
                                      std::uint32_t shareMode, std::uint32_t creation,
                                      std::uint32_t flagsAndAttributes) = 0;
    virtual bool CeGetFileTime(DeviceHandle file, FILETIME* creation, FILETIME* lastAccess,
                               FILETIME* lastWrite) = 0;
    // Low 32 bits of the size; the high part into *high when given. 0xFFFFFFFF on failure.
    virtual std::uint32_t CeGetFileSize(DeviceHandle file, std::uint32_t* high) = 0;
    virtual bool CeWriteFile(DeviceHandle file, const void* data, std::uint32_t count,
                             std::uint32_t* written) = 0;
    virtual bool CeSetFileTime(DeviceHandle file, const FILETIME* creation,
                               const FILETIME* lastAccess, const FILETIME* lastWrite) = 0;
    virtual bool CeCloseHandle(DeviceHandle file) = 0;

    virtual std::uint32_t CeGetFileAttributes(const char16_t* path) = 0;
    virtual std::uint32_t CeGetLastError() = 0;
    virtual bool CeCreateDirectory(const char16_t* path) = 0;
    virtual bool CeMoveFile(const char16_t* existing, const char16_t* target) = 0;
    virtual bool CeDeleteFile(const char16_t* path) = 0;

    // Lists the folder of a pattern ending in "\*.*". The array stays valid until
    // CeRapiFreeBuffer is called with it.
    virtual bool CeFindAllFiles(const char16_t* pattern, std::uint32_t flags, std::uint32_t* count,
                                CE_FIND_DATA** found) = 0;
    virtual std::int32_t CeRapiFreeBuffer(void* buffer) = 0;

    // Device registry. Results are error codes: ERROR_SUCCESS (0) on success.
    virtual std::int32_t CeRegOpenKeyEx(HKEY root, const char16_t* subKey, std::uint32_t options,
                                        std::uint32_t access, HKEY* result) = 0;
    virtual std::int32_t CeRegQueryValueEx(HKEY key, const char16_t* valueName, std::uint32_t* type,
                                           std::uint8_t* data, std::uint32_t* size) = 0;
    virtual std::int32_t CeRegCloseKey(HKEY key) = 0;

    // Makes a shortcut file that starts target. 0 on failure.
    virtual int CeSHCreateShortcut(const char16_t* shortcut, const char16_t* target) = 0;

    virtual std::int32_t CeRapiGetError() = 0;
    virtual bool CeGetVersionEx(CEOSVERSIONINFO* info) = 0;
};

}  // namespace zephyrate
