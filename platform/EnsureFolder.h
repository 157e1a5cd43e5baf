// Making a device folder together with its missing parent folders, as the transfer does
// before writing a file and the folder browser does for "Create Folder".
// Threads: the caller's; the device is called synchronously.
#pragma once

#include <string>
#include <string_view>

namespace zephyrate {

class DeviceRemote;

// The text before the last '\' or '/'; empty when there is neither.
std::string ParentPath(std::string_view path);
// True when the folder exists afterwards; missing parents are created top down.
bool EnsureFolder(DeviceRemote& device, std::string_view path);

}  // namespace zephyrate
