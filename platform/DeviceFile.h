// An open device file, closed on every way out of the scope that opened it (also when a
// source throws while it is written).
#pragma once

#include "platform/DeviceRemote.h"

namespace zephyrate {

class DeviceFile {
  public:
    DeviceFile(DeviceRemote& device, DeviceHandle handle) : device_(device), handle_(handle) {}
    ~DeviceFile() { Close(); }
    DeviceFile(const DeviceFile&) = delete;
    DeviceFile& operator=(const DeviceFile&) = delete;

    bool IsOpen() const { return handle_ != INVALID_HANDLE_VALUE; }
    DeviceHandle Get() const { return handle_; }
    // Takes another handle; the caller has closed the previous one or never had one.
    void Reset(DeviceHandle handle) {
        Close();
        handle_ = handle;
    }
    void Close() {
        if (handle_ != INVALID_HANDLE_VALUE) {
            (void)device_.CeCloseHandle(handle_);
            handle_ = INVALID_HANDLE_VALUE;
        }
    }

  private:
    DeviceRemote& device_;
    DeviceHandle handle_;
};

}  // namespace zephyrate
