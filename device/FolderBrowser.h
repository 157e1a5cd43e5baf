// What the destination dialog's folder tree needs from the device, without a window: one
// level of folders at a time (listed only when the user first opens a folder), each with
// whether it has subfolders of its own (so that the tree draws an expand button), and the
// device path of a tree item. Creating a folder is EnsureFolder (platform/EnsureFolder.h),
// with kCreateFolderFailedText when it fails.
//
// Threads: the thread that shows the dialog; the device is called synchronously.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace zephyrate {

struct DeviceContext;

inline constexpr std::string_view kDeviceTopItemText = "Mobile Device";
inline constexpr std::string_view kCreateFolderFailedText =
    "Couldn't create the folder on the mobile device";

struct DeviceFolder {
    std::string name;
    bool hasSubfolders = false;
};

// The folders in path ("" for the device's top level), sorted by name ignoring case. When
// the device fails to list them, the link is closed and opened again (whose failure the
// user sees as the retry message) and the folder listed once more; nullopt when that
// fails too. One listing of the folder plus one per subfolder found.
std::optional<std::vector<DeviceFolder>> ListFolderLevel(DeviceContext& context,
                                                         std::string_view path);

// The device path of a tree item from the names of the items below the top one down to
// it: {} gives "" (the device's top), {"Windows", "Fonts"} gives "\Windows\Fonts".
std::string FolderItemPath(const std::vector<std::string>& names);

}  // namespace zephyrate
