#include "platform/EnsureFolder.h"

#include <cstdint>
#include <vector>

#include "platform/DeviceRemote.h"
#include "platform/WidePath.h"
#include "platform/WinTypes.h"

namespace zephyrate {

std::string ParentPath(std::string_view path) {
    const std::size_t last = path.find_last_of("\\/");
    if (last == std::string_view::npos) {
        return {};
    }
    return std::string(path.substr(0, last));
}

bool EnsureFolder(DeviceRemote& device, std::string_view path) {
    // Walk up to the first folder that exists, then create the missing ones top down: the
    // same device calls as recursing on the parent, without a stack frame per level of a
    // path that may come from a server's index.
    std::vector<std::string> missing;
    std::string current(path);
    for (;;) {
        WidePath wide(current);
        const std::uint32_t attributes = device.CeGetFileAttributes(wide.Wide());
        if (attributes == INVALID_FILE_ATTRIBUTES) {
            const std::uint32_t error = device.CeGetLastError();
            if (error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND) {
                return false;
            }
        } else if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
            break;
        }
        // Missing, or a file of that name, whose creation below then fails.
        std::string parent = ParentPath(current);
        missing.push_back(std::move(current));
        if (parent.empty()) {
            break;
        }
        current = std::move(parent);
    }
    for (auto folder = missing.rbegin(); folder != missing.rend(); ++folder) {
        WidePath wide(*folder);
        if (!device.CeCreateDirectory(wide.Wide())) {
            // "\a\b\" names the folder "\a\b" that the step before just made (a favorites
            // path with no CE folder ends so), and the folder browser may race us: what
            // counts is whether a folder is there now.
            const std::uint32_t attributes = device.CeGetFileAttributes(wide.Wide());
            if (attributes == INVALID_FILE_ATTRIBUTES ||
                (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
                return false;
            }
        }
    }
    return true;
}

}  // namespace zephyrate
