#include "transfer/DevicePaths.h"

#include "platform/DeviceNameFold.h"

namespace zephyrate {

std::string DevicePath(const JobValues& job, const FileEntry& entry) {
    if (entry.Name.empty()) {
        return {};
    }
    std::string path = job.DeviceRoot + "\\";
    if (!job.CeFolder.empty()) {
        path.append(job.CeFolder).append("\\");
    }
    // The name keeps whatever separators the index gave it; the device takes both kinds.
    return path.append(entry.Name);
}

std::string ShortcutPath(const JobValues& job, const FileEntry& entry) {
    if (entry.ShortcutFile.empty()) {
        return {};
    }
    return job.DataPath + "\\windows\\Start Menu\\Programs\\" + entry.ShortcutFile;
}

std::string FavoritePath(const JobValues& job, const FileEntry& entry) {
    if (entry.FavoriteFile.empty()) {
        return {};
    }
    // With no CE folder the two separators meet; the device skips the empty part.
    return job.DataPath + "\\windows\\favorites\\" + job.CeFolder + "\\" + entry.FavoriteFile;
}

std::string TrashFolder(const JobValues& job) {
    return job.DeviceRoot + "\\Trash";
}

bool InSystemFolder(std::string_view path) {
    const std::size_t start = path.find_first_not_of("\\/");
    if (start == std::string_view::npos) {
        return false;
    }
    const std::string_view top = path.substr(start, path.find_first_of("\\/", start) - start);
    // Folded as the device folds names: "WINDOWS", and also letters such as a dotless i
    // that fold to the same upper case, name the one folder.
    static const DeviceNameFold fold;
    static const std::u32string system = fold.Fold("windows");
    return fold.Fold(top) == system;
}

bool CheckDestination(const JobValues& job) {
    const std::string destination = job.DeviceRoot + "\\" + job.CeFolder;
    return destination.find('\0') == std::string::npos && !InSystemFolder(destination);
}

bool CheckEntry(const JobValues& job, const FileEntry& entry) {
    for (const std::string* name :
         {&entry.Name, &entry.Url, &entry.FavoriteFile, &entry.ShortcutFile}) {
        if (name->find('\0') != std::string::npos) {
            return false;
        }
    }
    return !InSystemFolder(DevicePath(job, entry));
}

std::string TemporaryPath(std::string_view path) {
    const std::size_t name = path.find_last_of("\\/") + 1;  // 0 when there is no folder
    std::string temporary(path.substr(0, name));
    temporary += '.';
    temporary += path.substr(name);
    temporary += kTemporarySuffix;
    return temporary;
}

}  // namespace zephyrate
