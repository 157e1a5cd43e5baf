// The links an entry may ask for on the device: a browser favorite (a ".url" text file
// written through the device writer, stamped like the file) and a Start-menu shortcut
// (made by the device's own shortcut service).
// Threads: the worker thread of a run.
#pragma once

#include "platform/MemoryFile.h"
#include "run/FileEntry.h"
#include "run/JobValues.h"

namespace zephyrate {

struct TransferContext;

// Writes "[InternetShortcut]\r\nURL=file://" + the entry's device path, with no line
// break or zero after it. Always true.
bool WriteFavoriteText(const JobValues& job, const FileEntry& entry, MemoryFile& file);

// Writes the favorite to FavoritePath; the writer's result, with entry.Result as the
// writer left it (2, or a stop code).
bool CreateFavorite(TransferContext& context, FileEntry& entry);

// Replaces the shortcut at ShortcutPath with one that starts the quoted device path.
// A shortcut that cannot be made is not reported; its path is recorded as present
// either way.
void CreateShortcut(TransferContext& context, FileEntry& entry);

}  // namespace zephyrate
