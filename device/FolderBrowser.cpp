#include "device/FolderBrowser.h"

#include <algorithm>
#include <cstdint>

#include "device/DeviceConnection.h"
#include "device/DeviceContext.h"
#include "platform/AsciiText.h"
#include "platform/DeviceListing.h"
#include "platform/WinTypes.h"

namespace zephyrate {

namespace {

// Folders only, and no hidden system modules in ROM.
constexpr std::uint32_t kFolderListingFlags =
    FAF_ATTRIBUTES | FAF_NAME | FAF_FOLDERS_ONLY | FAF_NO_HIDDEN_SYS_ROMMODULES;

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
        return AsciiLowered(a.name) < AsciiLowered(b.name);
    });
    return folders;
}

}  // namespace

std::optional<std::vector<DeviceFolder>> ListFolderLevel(DeviceContext& context,
                                                         std::string_view path) {
    const std::string pattern = std::string(path) + "\\*.*";
    {
        const DeviceListing listing(context.device, pattern, kFolderListingFlags);
        if (listing.Ok()) {
            return FoldersOf(context, listing, path);
        }
    }
    DisconnectDevice(context.device);
    ConnectDevice(context);  // its outcome shows in the second listing
    const DeviceListing again(context.device, pattern, kFolderListingFlags);
    if (!again.Ok()) {
        return std::nullopt;
    }
    return FoldersOf(context, again, path);
}

std::string FolderItemPath(const std::vector<std::string>& names) {
    std::string path;
    for (const std::string& name : names) {
        path.append("\\").append(name);
    }
    return path;
}

}  // namespace zephyrate
