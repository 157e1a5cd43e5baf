#include "transfer/DeviceLinks.h"

#include <string>

#include "platform/DeviceRemote.h"
#include "platform/WidePath.h"
#include "run/Console.h"
#include "transfer/DeviceFolders.h"
#include "transfer/DevicePaths.h"
#include "transfer/DeviceWriter.h"

namespace zephyrate {

bool WriteFavoriteText(const JobValues& job, const FileEntry& entry, MemoryFile& file) {
    // The device's browser reads the address up to the end of the file; no line break.
    const std::string text = "[InternetShortcut]\r\nURL=file://" + DevicePath(job, entry);
    file.Write(text.data(), text.size());
    return true;
}

bool CreateFavorite(Console& console, FileEntry& entry) {
    MemoryFile file;
    WriteFavoriteText(console.Job(), entry, file);
    return WriteToDevice(console, entry, file, FavoritePath(console.Job(), entry), 0);
}

void CreateShortcut(Console& console, FileEntry& entry) {
    DeviceRemote& device = console.Device();
    const JobValues& job = console.Job();
    const std::string path = ShortcutPath(job, entry);
    WidePath widePath(path);
    // The shortcut service refuses to replace a file, so the old one goes first: deleted,
    // or moved aside when the device will not delete it.
    if (!device.CeDeleteFile(widePath.Wide())) {
        (void)MoveToTrash(device, job, path);
    }
    (void)EnsureFolder(device, ParentPath(path));
    // Quoted, so that a path with blanks starts one file.
    WidePath target("\"" + DevicePath(job, entry) + "\"");
    if (device.CeSHCreateShortcut(widePath.Wide(), target.Wide()) == 0) {
        // Not reported: a missing shortcut only means a fresh download on the next run.
        (void)device.CeGetLastError();
    }
    console.Job().PresentObjects.push_back(path);
}

}  // namespace zephyrate
