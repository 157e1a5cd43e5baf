// Which folder stands for the device: the command-line choice (--device), else the
// environment variable ZEPHYRATE_DEVICE, else the setting DeviceFolder, else the default
// $XDG_DATA_HOME/zephyrate/device (~/.local/share/zephyrate/device). Only the default is
// created by connecting; a configured folder that is missing is an absent device.
// Stateless: thread-safe as far as the environment is not changed meanwhile.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace zephyrate {

struct DeviceFolderChoice {
    std::string path;
    bool createWhenMissing = false;

    friend bool operator==(const DeviceFolderChoice&, const DeviceFolderChoice&) = default;
};

class DeviceFolderLocation {
  public:
    // Reads a variable of the environment; nothing when it is unset.
    using Environment = std::function<std::optional<std::string>(const char* name)>;

    // Empty choices count as not given.
    static DeviceFolderChoice Choose(std::string_view commandLineChoice, std::string_view setting);
    static DeviceFolderChoice Choose(std::string_view commandLineChoice, std::string_view setting,
                                     const Environment& environment);
};

}  // namespace zephyrate
