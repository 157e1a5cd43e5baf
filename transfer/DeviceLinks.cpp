#include "transfer/DeviceLinks.h"

#include <string>

#include "platform/DeviceRemote.h"
#include "platform/WidePath.h"
#include "run/JobValues.h"
#include "transfer/DeviceFolders.h"
#include "transfer/DevicePaths.h"
#include "transfer/DeviceWriter.h"
#include "transfer/TransferContext.h"

namespace zephyrate {

bool WriteFavoriteText(const JobValues& job, const FileEntry& entry, MemoryFile& file) {
    // The device's browser reads the address up to the end of the file; no line break.
    const std::string text = "[InternetShortcut]\r\nURL=file://" + DevicePath(job, entry);
    file.Write(text.data(), text.size());
    return true;
}

bool CreateFavorite(TransferContext& context, FileEntry& entry) {
    MemoryFile file;
    WriteFavoriteText(context.job, entry, file);
    return WriteToDevice(context, entry, file, FavoritePath(context.job, entry), 0);
}

void CreateShortcut(TransferContext& context, FileEntry& entry) {
    DeviceRemote& device = context.device;
    const JobValues& job = context.job;
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
    context.job.PresentObjects.push_back(path);
}

}  // namespace zephyrate
