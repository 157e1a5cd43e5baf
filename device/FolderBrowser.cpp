#include "device/FolderBrowser.h"

#include <algorithm>
#include <cstdint>

#include "device/DeviceConnection.h"
#include "device/DeviceContext.h"
#include "platform/AsciiText.h"
#include "platform/DeviceListing.h"

namespace zephyrate {

namespace {

std::vector<DeviceFolder> FoldersOf(DeviceContext& context, const DeviceListing& listing,
                                    std::string_view path) {
    std::vector<DeviceFolder> folders;
    for (std::uint32_t i = 0; i < listing.Count(); ++i) {
        DeviceFolder folder{listing.Name(i)};
        const std::string below = std::string(path) + "\\" + folder.name + "\\*.*";
        folder.hasSubfolders =
            DeviceListing(context.device, below, kFolderListingFlags).Count() > 0;
        folders.push_back(std::move(folder));
    }
    std::ranges::sort(folders, [](const DeviceFolder& a, const DeviceFolder& b) {
        return std::ranges::lexicographical_compare(a.name, b.name, {}, AsciiLower, AsciiLower);
    });
    return folders;
}

}  // namespace

std::optional<std::vector<DeviceFolder>> ListFolderLevel(DeviceContext& context,
                                                         std::string_view path) {
    const std::string pattern = std::string(path) + "\\*.*";
    for (int attempt = 0; attempt < 2; ++attempt) {
        if (attempt > 0) {
            DisconnectDevice(context.device);
            ConnectDevice(context);  // its outcome shows in the next listing
        }
        const DeviceListing listing(context.device, pattern, kFolderListingFlags);
        if (listing.Ok()) {
            return FoldersOf(context, listing, path);
        }
    }
    return std::nullopt;
}

std::string FolderItemPath(const std::vector<std::string>& names) {
    std::string path;
    for (const std::string& name : names) {
        path.append("\\").append(name);
    }
    return path;
}

}  // namespace zephyrate
