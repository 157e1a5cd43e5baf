// Small device-side operations that the transfer leans on: making folders with their
// parents, moving a file aside into the trash folder, emptying the trash, and reading
// the device's data path. Results as values; nothing here shows a message.
// Threads: the caller's; the device is called synchronously.
#pragma once

#include <string_view>

#include "run/JobValues.h"

namespace zephyrate {

class DeviceRemote;

// True when the folder exists afterwards; missing parents are created top down.
bool EnsureFolder(DeviceRemote& device, std::string_view path);
// Moves a file into TrashFolder under the lowest free ".%03d" name; true when moved. A
// folder is never moved: the trash holds files only.
bool MoveToTrash(DeviceRemote& device, const JobValues& job, std::string_view path);
// Deletes the files of the trash folder, hidden ones too; false when it cannot be listed.
bool EmptyTrash(DeviceRemote& device, const JobValues& job);
// Deletes the temporary files (TemporaryPath) that a run which was killed while writing
// left in a folder; each folder once per job (job.SweptFolders).
void RemoveStaleTemporaries(DeviceRemote& device, JobValues& job, std::string_view folder);
// Reads HKLM\SYSTEM\Platform\DataPath into job.DataPath (empty on any failure).
bool ReadDataPath(DeviceRemote& device, JobValues& job);

}  // namespace zephyrate
