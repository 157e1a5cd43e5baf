#include "transfer/DeviceFolders.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "platform/DeviceRemote.h"
#include "platform/WidePath.h"
#include "platform/WinTypes.h"
#include "transfer/DevicePaths.h"

namespace zephyrate {

namespace {

// Gives a listing array back to the device on every way out, also when a name's
// conversion throws.
class FoundBuffer {
  public:
    explicit FoundBuffer(DeviceRemote& device) : device_(device) {}
    ~FoundBuffer() {
        if (records != nullptr) {
            device_.CeRapiFreeBuffer(records);
        }
    }
    FoundBuffer(const FoundBuffer&) = delete;
    FoundBuffer& operator=(const FoundBuffer&) = delete;

    CE_FIND_DATA* records = nullptr;
    std::uint32_t count = 0;

  private:
    DeviceRemote& device_;
};

std::u16string_view RecordName(const CE_FIND_DATA& record) {
    const std::u16string_view all(record.cFileName, MAX_PATH);
    return all.substr(0, all.find(u'\0'));  // a name that fills the field has no zero
}

}  // namespace

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
    WidePath wide(folder + "\\" + std::string(pattern));
    FoundBuffer found(device);
    if (!device.CeFindAllFiles(wide.Wide(), FAF_NAME, &found.count, &found.records)) {
        return false;
    }
    for (std::uint32_t i = 0; found.records != nullptr && i < found.count; ++i) {
        WidePath file(folder + "\\" + WidePath::FromDevice(RecordName(found.records[i])));
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
