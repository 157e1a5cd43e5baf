// Small device-side operations that the transfer leans on: moving a file aside into the
// trash folder, emptying the trash, and reading the device's data path (making folders
// with their parents is platform/EnsureFolder.h). Results as values; no messages.
// Threads: the caller's; the device is called synchronously.
#pragma once

#include <string_view>

#include "platform/EnsureFolder.h"
#include "run/JobValues.h"

namespace zephyrate {

class DeviceRemote;

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
