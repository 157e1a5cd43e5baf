#include "platform/DeviceRegistryKeys.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <optional>
#include <string_view>

#include "platform/DeviceErrors.h"
#include "platform/DevicePathResolver.h"
#include "platform/ScopedFd.h"
#include "platform/WideText.h"

namespace zephyrate {

namespace {

constexpr const char* kRegistryFile = ".registry.reg";
// A registry file larger than this is not the device's; refuse it rather than read it all.
constexpr off_t kMaxRegistryBytes = 4 * 1024 * 1024;

std::string_view PredefinedKeyName(HKEY root) {
    switch (root) {
        case 0x80000000:
            return "HKEY_CLASSES_ROOT";
        case HKEY_CURRENT_USER:
            return "HKEY_CURRENT_USER";
        case HKEY_LOCAL_MACHINE:
            return "HKEY_LOCAL_MACHINE";
        case 0x80000003:
            return "HKEY_USERS";
        default:
            return {};
    }
}

// Reads the registry file through the device folder's descriptor, never following a link.
std::int32_t ReadRegistryFile(int deviceFolder, std::string& bytes) {
    ScopedFd fd(DevicePathResolver::OpenBelow(deviceFolder, kRegistryFile,
                                              O_RDONLY | O_NONBLOCK | O_NOCTTY));
    if (!fd.Valid()) {
        return static_cast<std::int32_t>(errno == ELOOP ? ERROR_FILE_NOT_FOUND
                                                        : DeviceErrorFromErrno(errno));
    }
    struct stat status {};
    if (fstat(fd.Get(), &status) != 0 || !S_ISREG(status.st_mode) ||
        status.st_size > kMaxRegistryBytes) {
        return ERROR_FILE_NOT_FOUND;
    }
    bytes.clear();
    char buffer[8192];
    for (;;) {
        const ssize_t got = read(fd.Get(), buffer, sizeof buffer);
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got < 0) {
            return static_cast<std::int32_t>(DeviceErrorFromErrno(errno));
        }
        if (got == 0) {
            return ERROR_SUCCESS;
        }
        bytes.append(buffer, static_cast<std::size_t>(got));
        if (bytes.size() > static_cast<std::size_t>(kMaxRegistryBytes)) {
            return ERROR_FILE_NOT_FOUND;  // grew while being read
        }
    }
}

void PutLittleEndian16(std::uint8_t* out, char16_t unit) {
    out[0] = static_cast<std::uint8_t>(unit & 0xFF);
    out[1] = static_cast<std::uint8_t>(unit >> 8);
}

}  // namespace

std::int32_t DeviceRegistryKeys::Open(int deviceFolder, HKEY root, std::u16string_view subKey,
                                      HKEY& result) {
    std::string path;
    std::string_view predefined = PredefinedKeyName(root);
    if (!predefined.empty()) {
        path = predefined;
    } else {
        std::lock_guard lock(mutex_);
        auto it = keys_.find(root);
        if (it == keys_.end()) {
            return ERROR_INVALID_HANDLE;
        }
        path = it->second.path;
    }
    std::string sub = Utf16ToUtf8(subKey);
    std::replace(sub.begin(), sub.end(), '/', '\\');
    while (!sub.empty() && sub.front() == '\\') {
        sub.erase(0, 1);
    }
    while (!sub.empty() && sub.back() == '\\') {
        sub.pop_back();
    }
    if (!sub.empty()) {
        path += '\\';
        path += sub;
    }

    std::string bytes;
    const std::int32_t error = ReadRegistryFile(deviceFolder, bytes);
    if (error != ERROR_SUCCESS) {
        return error;
    }
    RegistryDocument document = RegistryDocument::Parse(bytes);
    if (!document.HasKey(path)) {
        return ERROR_FILE_NOT_FOUND;
    }
    std::lock_guard lock(mutex_);
    result = nextKey_++;
    keys_.emplace(result, Key{std::move(path), std::move(document)});
    return ERROR_SUCCESS;
}

std::int32_t DeviceRegistryKeys::Query(HKEY key, std::u16string_view name, std::uint32_t* type,
                                       std::uint8_t* data, std::uint32_t* size) {
    std::optional<RegistryValue> value;
    {
        std::lock_guard lock(mutex_);
        auto it = keys_.find(key);
        if (it == keys_.end()) {
            return ERROR_INVALID_HANDLE;
        }
        value = it->second.document.Find(it->second.path, Utf16ToUtf8(name));
    }
    if (!value || (value->type != REG_SZ && value->type != REG_DWORD)) {
        return ERROR_FILE_NOT_FOUND;
    }
    if (data != nullptr && size == nullptr) {
        return ERROR_INVALID_PARAMETER;
    }
    std::u16string text;
    std::uint32_t needed = 4;
    if (value->type == REG_SZ) {
        text = Utf8ToUtf16(value->text);
        text.push_back(u'\0');
        needed = static_cast<std::uint32_t>(text.size() * sizeof(char16_t));
    }
    if (type != nullptr) {
        *type = value->type;
    }
    if (data == nullptr) {
        if (size != nullptr) {
            *size = needed;
        }
        return ERROR_SUCCESS;
    }
    if (*size < needed) {
        *size = needed;
        return ERROR_MORE_DATA;
    }
    if (value->type == REG_SZ) {
        for (std::size_t i = 0; i < text.size(); ++i) {
            PutLittleEndian16(data + 2 * i, text[i]);
        }
    } else {
        for (int i = 0; i < 4; ++i) {
            data[i] = static_cast<std::uint8_t>(value->number >> (8 * i));
        }
    }
    *size = needed;
    return ERROR_SUCCESS;
}

std::int32_t DeviceRegistryKeys::Close(HKEY key) {
    std::lock_guard lock(mutex_);
    return keys_.erase(key) == 1 ? ERROR_SUCCESS : ERROR_INVALID_HANDLE;
}

void DeviceRegistryKeys::CloseAll() {
    std::lock_guard lock(mutex_);
    keys_.clear();
}

}  // namespace zephyrate
