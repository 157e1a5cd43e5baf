// The files that the device has open: handles of CeCreateFile mapped to descriptors.
// Each open file holds a non-blocking flock for as long as it is open (exclusive for
// share mode 0), which is how the device refuses a file that another program uses.
//
// Threads: every method may run on any thread; the table is guarded by a mutex, and an
// operation in flight keeps its file open even when another thread closes the handle.
#pragma once

#include <sys/stat.h>

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "platform/ScopedFd.h"
#include "platform/WinTypes.h"

namespace zephyrate {

class DeviceFileTable {
  public:
    struct OpenRequest {
        bool read = false;
        bool write = false;
        bool create = false;    // create the file when missing
        bool truncate = false;  // empty it once the lock is won
        bool exclusive = true;  // share mode 0
    };

    struct Opened {
        std::uint32_t error = ERROR_SUCCESS;
        DeviceHandle handle = INVALID_HANDLE_VALUE;
    };

    // Opens name (a single name) below the folder descriptor.
    Opened Open(int folder, const std::string& name, const OpenRequest& request);

    // Writes all bytes, retrying short writes; written holds the count that reached the
    // file also when the write fails part-way.
    std::uint32_t Write(DeviceHandle handle, const void* data, std::uint32_t count,
                        std::uint32_t& written);
    std::uint32_t Status(DeviceHandle handle, struct stat& status);
    // Null leaves that time unchanged.
    std::uint32_t SetTimes(DeviceHandle handle, const FILETIME* lastAccess,
                           const FILETIME* lastWrite);
    std::uint32_t Close(DeviceHandle handle);
    // Closes every file, releasing their locks (the link went down).
    void CloseAll();

  private:
    struct OpenFile {
        ScopedFd fd;
        bool writable = false;
    };

    std::shared_ptr<OpenFile> Lookup(DeviceHandle handle);

    std::mutex mutex_;
    std::map<DeviceHandle, std::shared_ptr<OpenFile>> files_;
    DeviceHandle nextHandle_ = 1;
};

}  // namespace zephyrate
