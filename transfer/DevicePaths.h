// Where an entry's file, favorite and shortcut live on the device, the trash folder, and
// the check that keeps the destination out of the device's system folder. Pure functions
// of the job values; no device calls.
#pragma once

#include <string>
#include <string_view>

#include "platform/EnsureFolder.h"
#include "run/FileEntry.h"
#include "run/JobValues.h"

namespace zephyrate {

// DeviceRoot + "\" [+ CeFolder + "\"] + Name; empty when Name is empty.
std::string DevicePath(const JobValues& job, const FileEntry& entry);
// DataPath + "\windows\Start Menu\Programs\" + ShortcutFile; empty when none is asked for.
std::string ShortcutPath(const JobValues& job, const FileEntry& entry);
// DataPath + "\windows\favorites\" + CeFolder + "\" + FavoriteFile; empty when none.
std::string FavoritePath(const JobValues& job, const FileEntry& entry);
// DeviceRoot + "\Trash".
std::string TrashFolder(const JobValues& job);
// False when the destination DeviceRoot + "\" + CeFolder lies in the device's system
// folder, or holds a zero byte (the device would read a shorter path than we check).
bool CheckDestination(const JobValues& job);
// False when the entry's names hold a zero byte, or its file would land in the system
// folder (a name that starts with "windows\" below an empty root and CE folder).
bool CheckEntry(const JobValues& job, const FileEntry& entry);
// Whether the device resolves the path into its system folder: the first of its parts
// (split at '\' and '/', empty parts skipped) is "windows" as the device compares names.
bool InSystemFolder(std::string_view path);

// The hidden name in the same folder under which a file is written before it takes the
// place of path: "." + its name + kTemporarySuffix.
inline constexpr std::string_view kTemporarySuffix = ".zephyrate-part";
std::string TemporaryPath(std::string_view path);

}  // namespace zephyrate
