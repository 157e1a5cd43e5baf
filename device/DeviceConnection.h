// Opening and closing the link to the device. Opening waits a bounded time per attempt
// and, when the device does not answer, asks the user whether to try again (the retry
// message), unless a stop request is pending.
//
// Threads: the thread that needs the device (the worker of a run, or the front end's
// thread for its own dialogs); never two at once.
#pragma once

#include <cstdint>

namespace zephyrate {

class DeviceRemote;
struct DeviceContext;

inline constexpr std::uint32_t kConnectWaitMs = 5000;

// 0 when the link is open; -1 when the user chose Cancel in the retry message (the console
// is then set to idle mode) or a stop request was pending after a failed attempt.
int ConnectDevice(DeviceContext& context, std::uint32_t waitMs = kConnectWaitMs);
// Closes the link; always 0, also when none was open.
int DisconnectDevice(DeviceRemote& device);

}  // namespace zephyrate
