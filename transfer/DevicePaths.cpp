#include "transfer/DevicePaths.h"

namespace zephyrate {

std::string ParentPath(std::string_view path) {
    const std::size_t last = path.find_last_of("\\/");
    if (last == std::string_view::npos) {
        return {};
    }
    return std::string(path.substr(0, last));
}

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

bool CheckDestination(const JobValues& job) {
    std::string top = job.DeviceRoot + "\\" + job.CeFolder;
    for (std::string parent = ParentPath(top); !parent.empty(); parent = ParentPath(top)) {
        top = std::move(parent);
    }
    for (char& c : top) {
        if (c >= 'A' && c <= 'Z') {
            c = static_cast<char>(c - 'A' + 'a');
        }
    }
    return top != "\\windows" && top != "/windows";
}

}  // namespace zephyrate
