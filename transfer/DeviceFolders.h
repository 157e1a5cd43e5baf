// Small device-side operations that the transfer leans on: making folders with their
// parents, moving a file aside into the trash folder, emptying the trash, and reading
// the device's data path. Results as values; nothing here shows a message.
// Threads: the caller's; the device is called synchronously.
#pragma once

#include <string_view>

#include "transfer/JobValues.h"

namespace zephyrate {

class DeviceRemote;

// True when the folder exists afterwards; missing parents are created top down.
bool EnsureFolder(DeviceRemote& device, std::string_view path);
// Moves a file into TrashFolder under the lowest free ".%03d" name; true when moved.
bool MoveToTrash(DeviceRemote& device, const JobValues& job, std::string_view path);
// Deletes the files of the trash folder; false when it cannot be listed.
bool EmptyTrash(DeviceRemote& device, const JobValues& job);
// Reads HKLM\SYSTEM\Platform\DataPath into job.DataPath (empty on any failure).
bool ReadDataPath(DeviceRemote& device, JobValues& job);

}  // namespace zephyrate
