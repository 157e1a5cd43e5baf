#include "platform/FolderDevice.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string_view>
#include <utility>

#include "platform/DeviceErrors.h"
#include "platform/DeviceFileTimes.h"
#include "platform/WideText.h"

namespace zephyrate {

namespace {

constexpr std::int32_t E_PENDING = static_cast<std::int32_t>(0x8000000A);
constexpr std::int32_t E_INVALIDARG = static_cast<std::int32_t>(0x80070057);
constexpr auto kPollInterval = std::chrono::milliseconds(100);

std::int32_t HresultFromWin32(std::uint32_t error) {
    return error == 0 ? S_OK : static_cast<std::int32_t>(0x80070000 | (error & 0xFFFF));
}

}  // namespace

FolderDevice::FolderDevice(std::string folder, bool createWhenMissing)
    : folder_(std::move(folder)), createWhenMissing_(createWhenMissing) {}

// --- Link -------------------------------------------------------------------------------

FolderDevice::Root FolderDevice::LinkedRoot() const {
    std::lock_guard lock(linkMutex_);
    return root_;
}

bool FolderDevice::TryOpenLink() {
    if (LinkedRoot()) {
        return true;
    }
    if (createWhenMissing_ && !folder_.empty()) {
        std::error_code ignored;  // failing to create shows as a missing folder below
        std::filesystem::create_directories(folder_, ignored);
    }
    // The device folder itself may be reached through a link (the user chose it); only
    // what lies inside it is resolved without following links.
    ScopedFd fd(open(folder_.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
    if (!fd.Valid() || access(folder_.c_str(), R_OK | W_OK | X_OK) != 0) {
        return false;
    }
    std::lock_guard lock(linkMutex_);
    if (!root_) {
        root_ = std::make_shared<const ScopedFd>(std::move(fd));
    }
    return true;
}

std::int32_t FolderDevice::CeRapiInitEx(RAPIINIT& init) {
    std::lock_guard lock(linkMutex_);
    init.heRapiInit = ++attempt_;
    init.hrRapiInit = E_PENDING;
    return S_OK;
}

std::uint32_t FolderDevice::WaitForRapiInit(RAPIINIT& init, std::uint32_t timeoutMs) {
    {
        std::lock_guard lock(linkMutex_);
        if (init.heRapiInit == 0 || init.heRapiInit != attempt_) {
            SetLastError(ERROR_INVALID_HANDLE);
            return WAIT_FAILED;
        }
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        if (TryOpenLink()) {
            init.hrRapiInit = S_OK;
            return WAIT_OBJECT_0;
        }
        const auto now = std::chrono::steady_clock::now();
        if (now >= deadline) {
            return WAIT_TIMEOUT;
        }
        std::this_thread::sleep_for(
            std::min<std::chrono::steady_clock::duration>(kPollInterval, deadline - now));
    }
}

std::int32_t FolderDevice::CeRapiUninit() {
    Root closing;
    {
        std::lock_guard lock(linkMutex_);
        closing = std::exchange(root_, nullptr);
    }
    files_.CloseAll();
    keys_.CloseAll();
    return S_OK;
}

// --- Errors -----------------------------------------------------------------------------

void FolderDevice::SetLastError(std::uint32_t error) {
    std::lock_guard lock(errorMutex_);
    lastErrors_[std::this_thread::get_id()] = error;
}

std::uint32_t FolderDevice::CeGetLastError() {
    std::lock_guard lock(errorMutex_);
    auto it = lastErrors_.find(std::this_thread::get_id());
    return it == lastErrors_.end() ? ERROR_SUCCESS : it->second;
}

std::int32_t FolderDevice::CeRapiGetError() {
    // Only the link itself can fail a remote call; the device's answers to the calls reach
    // the caller through CeGetLastError.
    return LinkedRoot() ? S_OK : HresultFromWin32(ERROR_DEVICE_NOT_CONNECTED);
}

bool FolderDevice::Resolve(const char16_t* path, Root& root,
                           DevicePathResolver::Location& location) {
    root = LinkedRoot();
    if (!root) {
        return Fail(ERROR_DEVICE_NOT_CONNECTED);
    }
    DevicePathResolver::Parts parts = DevicePathResolver::Split(path);
    if (parts.error != ERROR_SUCCESS) {
        return Fail(parts.error);
    }
    location = resolver_.Locate(root->Get(), parts.names);
    if (location.error != ERROR_SUCCESS) {
        return Fail(location.error);
    }
    return true;
}

// --- Files ------------------------------------------------------------------------------

DeviceHandle FolderDevice::CeCreateFile(const char16_t* path, std::uint32_t desiredAccess,
                                        std::uint32_t shareMode, std::uint32_t creation,
                                        std::uint32_t /*flagsAndAttributes*/) {
    DeviceFileTable::OpenRequest request;
    request.read = (desiredAccess & GENERIC_READ) != 0;
    request.write = (desiredAccess & GENERIC_WRITE) != 0;
    request.create = creation == CREATE_ALWAYS;
    request.truncate = creation == CREATE_ALWAYS;
    request.exclusive = shareMode == 0;
    if ((!request.read && !request.write) ||
        (desiredAccess & ~(GENERIC_READ | GENERIC_WRITE)) != 0 ||
        (creation != CREATE_ALWAYS && creation != OPEN_EXISTING) ||
        (request.truncate && !request.write)) {
        Fail(ERROR_INVALID_PARAMETER);
        return INVALID_HANDLE_VALUE;
    }
    Root root;
    DevicePathResolver::Location location;
    if (!Resolve(path, root, location)) {
        return INVALID_HANDLE_VALUE;
    }
    if (location.IsDeviceFolder() || location.IsFolder() || location.IsRefused() ||
        (request.write && location.exists && (location.status.st_mode & S_IWUSR) == 0)) {
        Fail(ERROR_ACCESS_DENIED);
        return INVALID_HANDLE_VALUE;
    }
    if (!location.exists && !request.create) {
        Fail(ERROR_FILE_NOT_FOUND);
        return INVALID_HANDLE_VALUE;
    }
    const DeviceFileTable::Opened opened =
        files_.Open(location.folder.Get(), location.name, request);
    if (opened.error != ERROR_SUCCESS) {
        Fail(opened.error);
        return INVALID_HANDLE_VALUE;
    }
    return opened.handle;
}

bool FolderDevice::CeGetFileTime(DeviceHandle file, FILETIME* creation, FILETIME* lastAccess,
                                 FILETIME* lastWrite) {
    struct stat status {};
    const std::uint32_t error = files_.Status(file, status);
    if (error != ERROR_SUCCESS) {
        return Fail(error);
    }
    // The folder keeps no creation time that could be set, so it reads as the last write.
    if (creation != nullptr) {
        *creation = FileTimeFromTimespec(status.st_mtim);
    }
    if (lastAccess != nullptr) {
        *lastAccess = FileTimeFromTimespec(status.st_atim);
    }
    if (lastWrite != nullptr) {
        *lastWrite = FileTimeFromTimespec(status.st_mtim);
    }
    return true;
}

std::uint32_t FolderDevice::CeGetFileSize(DeviceHandle file, std::uint32_t* high) {
    struct stat status {};
    const std::uint32_t error = files_.Status(file, status);
    if (error != ERROR_SUCCESS) {
        Fail(error);
        return 0xFFFFFFFF;
    }
    const auto size = static_cast<std::uint64_t>(status.st_size);
    if (high != nullptr) {
        *high = static_cast<std::uint32_t>(size >> 32);
    }
    // A size whose low part is 0xFFFFFFFF is told from a failure by the last error.
    SetLastError(ERROR_SUCCESS);
    return static_cast<std::uint32_t>(size);
}

bool FolderDevice::CeWriteFile(DeviceHandle file, const void* data, std::uint32_t count,
                               std::uint32_t* written) {
    std::uint32_t done = 0;
    const std::uint32_t error = files_.Write(file, data, count, done);
    if (written != nullptr) {
        *written = done;
    }
    return error == ERROR_SUCCESS || Fail(error);
}

bool FolderDevice::CeSetFileTime(DeviceHandle file, const FILETIME* /*creation*/,
                                 const FILETIME* lastAccess, const FILETIME* lastWrite) {
    const std::uint32_t error = files_.SetTimes(file, lastAccess, lastWrite);
    return error == ERROR_SUCCESS || Fail(error);
}

bool FolderDevice::CeCloseHandle(DeviceHandle file) {
    const std::uint32_t error = files_.Close(file);
    return error == ERROR_SUCCESS || Fail(error);
}

// --- Names ------------------------------------------------------------------------------

std::uint32_t FolderDevice::CeGetFileAttributes(const char16_t* path) {
    Root root;
    DevicePathResolver::Location location;
    if (!Resolve(path, root, location)) {
        return INVALID_FILE_ATTRIBUTES;
    }
    if (!location.exists || location.IsRefused()) {
        Fail(location.exists ? ERROR_ACCESS_DENIED : ERROR_FILE_NOT_FOUND);
        return INVALID_FILE_ATTRIBUTES;
    }
    return resolver_.Attributes(root->Get(), location);
}

bool FolderDevice::CeCreateDirectory(const char16_t* path) {
    Root root;
    DevicePathResolver::Location location;
    if (!Resolve(path, root, location)) {
        return false;
    }
    if (location.exists) {
        return Fail(ERROR_ALREADY_EXISTS);
    }
    if (mkdirat(location.folder.Get(), location.name.c_str(), 0777) != 0) {
        return Fail(errno == ENOENT ? ERROR_PATH_NOT_FOUND : DeviceErrorFromErrno(errno));
    }
    return true;
}

bool FolderDevice::CeMoveFile(const char16_t* existing, const char16_t* target) {
    Root root;
    DevicePathResolver::Location from;
    if (!Resolve(existing, root, from)) {
        return false;
    }
    if (!from.exists) {
        return Fail(ERROR_FILE_NOT_FOUND);
    }
    if (from.IsDeviceFolder() || from.IsRefused()) {
        return Fail(ERROR_ACCESS_DENIED);
    }
    DevicePathResolver::Location to;
    if (!Resolve(target, root, to)) {
        return false;
    }
    if (to.IsDeviceFolder()) {
        return Fail(ERROR_ALREADY_EXISTS);
    }
    std::string newName = to.name;
    if (to.exists) {
        // The target may be the source itself under another case: a rename of case only.
        struct stat fromFolder {};
        struct stat toFolder {};
        const bool sameEntry = fstat(from.folder.Get(), &fromFolder) == 0 &&
                               fstat(to.folder.Get(), &toFolder) == 0 &&
                               fromFolder.st_dev == toFolder.st_dev &&
                               fromFolder.st_ino == toFolder.st_ino && to.name == from.name;
        if (!sameEntry) {
            return Fail(ERROR_ALREADY_EXISTS);
        }
        newName = DevicePathResolver::Split(target).names.back();
        if (newName == from.name) {
            return true;
        }
    }
    if (renameat2(from.folder.Get(), from.name.c_str(), to.folder.Get(), newName.c_str(),
                  RENAME_NOREPLACE) != 0) {
        return Fail(errno == ENOENT ? ERROR_PATH_NOT_FOUND : DeviceErrorFromErrno(errno));
    }
    return true;
}

bool FolderDevice::CeDeleteFile(const char16_t* path) {
    Root root;
    DevicePathResolver::Location location;
    if (!Resolve(path, root, location)) {
        return false;
    }
    if (!location.exists) {
        return Fail(ERROR_FILE_NOT_FOUND);
    }
    // Read-only by the mode bits, as the device's own file system refuses it, also when
    // running as root.
    if (!location.IsFile() || (location.status.st_mode & S_IWUSR) == 0) {
        return Fail(ERROR_ACCESS_DENIED);
    }
    // Nor does it delete a file in use: one that another process holds locked. The lock
    // taken here is held until the name is gone.
    const ScopedFd file(
        DevicePathResolver::OpenBelow(location.folder.Get(), location.name, O_RDONLY | O_NONBLOCK));
    if (file.Valid() && flock(file.Get(), LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK) {
        return Fail(ERROR_SHARING_VIOLATION);
    }
    if (unlinkat(location.folder.Get(), location.name.c_str(), 0) != 0) {
        return Fail(DeviceErrorFromErrno(errno));
    }
    return true;
}

// --- Listings ---------------------------------------------------------------------------

bool FolderDevice::CeFindAllFiles(const char16_t* pattern, std::uint32_t flags,
                                  std::uint32_t* count, CE_FIND_DATA** found) {
    if (count == nullptr || found == nullptr) {
        return Fail(ERROR_INVALID_PARAMETER);
    }
    *count = 0;
    *found = nullptr;
    const Root root = LinkedRoot();
    if (!root) {
        return Fail(ERROR_DEVICE_NOT_CONNECTED);
    }
    DevicePathResolver::Parts parts = DevicePathResolver::Split(pattern);
    if (parts.error != ERROR_SUCCESS || parts.names.empty()) {
        return Fail(parts.error != ERROR_SUCCESS ? parts.error : ERROR_INVALID_NAME);
    }
    const std::string wildcard = std::move(parts.names.back());
    parts.names.pop_back();
    const DevicePathResolver::Location folder = resolver_.LocateFolder(root->Get(), parts.names);
    if (folder.error != ERROR_SUCCESS) {
        return Fail(folder.error);
    }
    // As on the device, hidden and system names are listed unless the caller leaves them
    // out; ours are the names that start with '.'.
    const DevicePathResolver::Listing listing =
        resolver_.List(folder.folder.Get(), (flags & FAF_NO_HIDDEN_SYS_ROMMODULES) == 0);
    if (listing.error != ERROR_SUCCESS) {
        return Fail(listing.error);
    }
    std::vector<CE_FIND_DATA> records;
    for (const DevicePathResolver::Entry& entry : listing.entries) {
        const bool isFolder = S_ISDIR(entry.status.st_mode);
        if (((flags & FAF_FOLDERS_ONLY) != 0 && !isFolder) ||
            !resolver_.Matches(wildcard, entry.name)) {
            continue;
        }
        const std::u16string name = Utf8ToUtf16(entry.name);
        if (name.size() >= MAX_PATH) {
            continue;  // the record cannot carry it, and a cut name would be another file
        }
        CE_FIND_DATA& record = records.emplace_back();
        if ((flags & FAF_ATTRIBUTES) != 0) {
            record.dwFileAttributes =
                resolver_.Attributes(root->Get(), folder.folder.Get(), entry, parts.names.empty());
        }
        if ((flags & FAF_CREATION_TIME) != 0) {
            record.ftCreationTime = FileTimeFromTimespec(entry.status.st_mtim);
        }
        if ((flags & FAF_LASTACCESS_TIME) != 0) {
            record.ftLastAccessTime = FileTimeFromTimespec(entry.status.st_atim);
        }
        if ((flags & FAF_LASTWRITE_TIME) != 0) {
            record.ftLastWriteTime = FileTimeFromTimespec(entry.status.st_mtim);
        }
        const auto size = isFolder ? 0 : static_cast<std::uint64_t>(entry.status.st_size);
        if ((flags & FAF_SIZE_HIGH) != 0) {
            record.nFileSizeHigh = static_cast<std::uint32_t>(size >> 32);
        }
        if ((flags & FAF_SIZE_LOW) != 0) {
            record.nFileSizeLow = static_cast<std::uint32_t>(size);
        }
        if ((flags & FAF_OID) != 0) {
            record.dwOID = static_cast<std::uint32_t>(entry.status.st_ino);
        }
        if ((flags & FAF_NAME) != 0) {
            std::copy(name.begin(), name.end(), record.cFileName);
        }
    }
    // An empty listing still hands out a distinct, non-null array to be freed.
    records.reserve(1);
    CE_FIND_DATA* array = records.data();
    const auto size = static_cast<std::uint32_t>(records.size());
    {
        std::lock_guard lock(buffersMutex_);
        buffers_.emplace(array, std::move(records));  // moving keeps the elements in place
    }
    *count = size;
    *found = array;
    return true;
}

std::int32_t FolderDevice::CeRapiFreeBuffer(void* buffer) {
    if (buffer == nullptr) {
        return S_OK;
    }
    std::vector<CE_FIND_DATA> freed;
    std::lock_guard lock(buffersMutex_);
    auto it = buffers_.find(buffer);
    if (it == buffers_.end()) {
        return E_INVALIDARG;
    }
    freed = std::move(it->second);
    buffers_.erase(it);
    return S_OK;
}

// --- Registry, shortcuts, version -------------------------------------------------------

std::int32_t FolderDevice::CeRegOpenKeyEx(HKEY root, const char16_t* subKey,
                                          std::uint32_t /*options*/, std::uint32_t /*access*/,
                                          HKEY* result) {
    if (result == nullptr) {
        return ERROR_INVALID_PARAMETER;
    }
    const Root linked = LinkedRoot();
    if (!linked) {
        return ERROR_DEVICE_NOT_CONNECTED;
    }
    return keys_.Open(linked->Get(), root, subKey != nullptr ? subKey : u"", *result);
}

std::int32_t FolderDevice::CeRegQueryValueEx(HKEY key, const char16_t* valueName,
                                             std::uint32_t* type, std::uint8_t* data,
                                             std::uint32_t* size) {
    return keys_.Query(key, valueName != nullptr ? valueName : u"", type, data, size);
}

std::int32_t FolderDevice::CeRegCloseKey(HKEY key) {
    return keys_.Close(key);
}

int FolderDevice::CeSHCreateShortcut(const char16_t* shortcut, const char16_t* target) {
    if (target == nullptr) {
        Fail(ERROR_INVALID_PARAMETER);
        return 0;
    }
    Root root;
    DevicePathResolver::Location location;
    if (!Resolve(shortcut, root, location)) {
        return 0;
    }
    if (location.exists) {
        Fail(ERROR_ALREADY_EXISTS);
        return 0;
    }
    const std::u16string_view wideTarget(target);
    const std::string contents = std::to_string(wideTarget.size()) + "#" + Utf16ToUtf8(wideTarget);
    ScopedFd fd(DevicePathResolver::OpenBelow(location.folder.Get(), location.name,
                                              O_WRONLY | O_CREAT | O_EXCL | O_NOCTTY, 0666));
    if (!fd.Valid()) {
        Fail(errno == ENOENT ? ERROR_PATH_NOT_FOUND : DeviceErrorFromErrno(errno));
        return 0;
    }
    const int error = WriteAll(fd.Get(), contents);
    if (error != 0) {
        // A cut shortcut would start the wrong file; leave none.
        (void)unlinkat(location.folder.Get(), location.name.c_str(), 0);
        Fail(DeviceErrorFromErrno(error));
        return 0;
    }
    return 1;
}

bool FolderDevice::CeGetVersionEx(CEOSVERSIONINFO* info) {
    if (info == nullptr) {
        return Fail(ERROR_INVALID_PARAMETER);
    }
    if (!LinkedRoot()) {
        return Fail(ERROR_DEVICE_NOT_CONNECTED);
    }
    info->dwMajorVersion = 5;
    info->dwMinorVersion = 0;
    info->dwBuildNumber = 1;
    info->dwPlatformId = 3;  // the handheld platform
    const std::u16string_view description = u"Zephyrate device folder";
    std::fill(std::begin(info->szCSDVersion), std::end(info->szCSDVersion), u'\0');
    std::copy(description.begin(), description.end(), info->szCSDVersion);
    return true;
}

}  // namespace zephyrate
