// Where an entry's file, favorite and shortcut live on the device, the trash folder, and
// the check that keeps the destination out of the device's system folder. Pure functions
// of the job values; no device calls.
#pragma once

#include <string>
#include <string_view>

#include "engine/FileEntry.h"
#include "transfer/JobValues.h"

namespace zephyrate {

// The text before the last '\' or '/'; empty when there is neither.
std::string ParentPath(std::string_view path);
// DeviceRoot + "\" [+ CeFolder + "\"] + Name; empty when Name is empty.
std::string DevicePath(const JobValues& job, const FileEntry& entry);
// DataPath + "\windows\Start Menu\Programs\" + ShortcutFile; empty when none is asked for.
std::string ShortcutPath(const JobValues& job, const FileEntry& entry);
// DataPath + "\windows\favorites\" + CeFolder + "\" + FavoriteFile; empty when none.
std::string FavoritePath(const JobValues& job, const FileEntry& entry);
// DeviceRoot + "\Trash".
std::string TrashFolder(const JobValues& job);
// False when the destination's top folder is \windows (in any case).
bool CheckDestination(const JobValues& job);

}  // namespace zephyrate
