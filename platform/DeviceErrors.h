// The device's error codes for the failures of the folder that stands in for it.
// Pure functions: thread-safe.
#pragma once

#include <cstdint>

namespace zephyrate {

// Error code that the device reports when moving between storage cards is refused.
inline constexpr std::uint32_t ERROR_NOT_SAME_DEVICE = 17;

// The device error for an errno value of a failed file system call.
std::uint32_t DeviceErrorFromErrno(int error);

}  // namespace zephyrate
