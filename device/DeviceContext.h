// What the device link and the root question work with, and nothing more: the device,
// the stored root and its check box, the surface that asks the user, and the run's stop
// check. The engine and the front ends make one from their console.
//
// Threads: the thread that needs the device; the referenced objects outlive the calls.
#pragma once

#include <functional>

namespace zephyrate {

class ConsoleSurface;
class DeviceRemote;
class SettingsStore;

struct DeviceContext {
    DeviceRemote& device;
    SettingsStore& settings;
    ConsoleSurface& surface;
    // 0 go on, 1 skip to the next job, -1 cancel all; takes up the request it reports.
    std::function<int()> stopCheck;
};

}  // namespace zephyrate
