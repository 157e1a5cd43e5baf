#include "transfer/DeviceFolders.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "platform/DeviceListing.h"
#include "platform/DeviceRemote.h"
#include "platform/WidePath.h"
#include "platform/WinTypes.h"
#include "transfer/DevicePaths.h"

namespace zephyrate {

bool MoveToTrash(DeviceRemote& device, const JobValues& job, std::string_view path) {
    // Only '\\' ends the folder part here: a '/' after it stays in the tail, so such a name
    // lands in a sub-folder of the trash folder.
    const std::size_t last = path.rfind('\\');
    if (last == std::string_view::npos) {
        return false;
    }
    WidePath from(path);
    const std::uint32_t attributes = device.CeGetFileAttributes(from.Wide());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        return false;  // a folder in a file's place holds the user's files, not a stale copy
    }
    const std::string base = TrashFolder(job) + std::string(path.substr(last));
    std::string candidate;
    // The lowest free number, so gaps are filled first; a missing trash folder makes the
    // first candidate free and the move below fail.
    for (unsigned long long n = 1;; ++n) {
        std::array<char, 32> suffix{};
        std::snprintf(suffix.data(), suffix.size(), ".%03llu", n);
        candidate = base + suffix.data();
        WidePath wide(candidate);
        if (device.CeGetFileAttributes(wide.Wide()) == INVALID_FILE_ATTRIBUTES) {
            break;
        }
    }
    WidePath to(candidate);
    return device.CeMoveFile(from.Wide(), to.Wide());
}

namespace {

// Deletes the files of a folder whose names match the pattern, hidden ones included;
// false when the folder cannot be listed. Sub-folders are not removed.
bool DeleteMatching(DeviceRemote& device, const std::string& folder, std::string_view pattern) {
    const DeviceListing found(device, folder + "\\" + std::string(pattern), FAF_NAME);
    if (!found.Ok()) {
        return false;
    }
    for (std::uint32_t i = 0; i < found.Count(); ++i) {
        WidePath file(folder + "\\" + found.Name(i));
        // A file that stays (read-only, in use) is tried again next time.
        device.CeDeleteFile(file.Wide());
    }
    return true;
}

}  // namespace

bool EmptyTrash(DeviceRemote& device, const JobValues& job) {
    return DeleteMatching(device, TrashFolder(job), "*.*");
}

void RemoveStaleTemporaries(DeviceRemote& device, JobValues& job, std::string_view folder) {
    if (job.SweptFolders.emplace(folder).second) {
        (void)DeleteMatching(device, std::string(folder), ".*" + std::string(kTemporarySuffix));
    }
}

bool ReadDataPath(DeviceRemote& device, JobValues& job) {
    job.DataPath.clear();
    HKEY key = 0;
    if (device.CeRegOpenKeyEx(HKEY_LOCAL_MACHINE, u"SYSTEM\\Platform", 0, 0, &key) !=
        static_cast<std::int32_t>(ERROR_SUCCESS)) {
        return false;
    }
    std::array<std::uint8_t, 255> data{};
    std::uint32_t size = data.size();
    std::uint32_t type = REG_NONE;
    const std::int32_t result =
        device.CeRegQueryValueEx(key, u"DataPath", &type, data.data(), &size);
    device.CeRegCloseKey(key);
    if (result != static_cast<std::int32_t>(ERROR_SUCCESS)) {
        return false;  // missing, or longer than the buffer
    }
    // The value is UTF-16 in the device's byte order (little-endian), normally with its
    // terminating zero; the text ends at the first zero unit.
    std::u16string text;
    const std::uint32_t bytes = std::min<std::uint32_t>(size, data.size());
    for (std::uint32_t i = 0; i + 1 < bytes; i += 2) {
        const auto unit = static_cast<char16_t>(data[i] | (data[i + 1] << 8));
        if (unit == u'\0') {
            break;
        }
        text.push_back(unit);
    }
    job.DataPath = WidePath::FromDevice(text);
    return true;
}

}  // namespace zephyrate
