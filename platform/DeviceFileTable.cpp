#include "platform/DeviceFileTable.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>

#include "platform/DeviceErrors.h"
#include "platform/DeviceFileTimes.h"
#include "platform/DevicePathResolver.h"

namespace zephyrate {

DeviceFileTable::Opened DeviceFileTable::Open(int folder, const std::string& name,
                                              const OpenRequest& request) {
    int flags = request.read && request.write ? O_RDWR : request.write ? O_WRONLY : O_RDONLY;
    // O_NONBLOCK: a pipe swapped in under the name must not hang the caller; it is refused
    // below and the flag is irrelevant for regular files.
    flags |= O_NONBLOCK | O_NOCTTY;
    if (request.create) {
        flags |= O_CREAT;
    }
    ScopedFd fd(DevicePathResolver::OpenBelow(folder, name, flags, 0666));
    if (!fd.Valid()) {
        return {DeviceErrorFromErrno(errno)};
    }
    struct stat status {};
    if (fstat(fd.Get(), &status) != 0) {
        return {DeviceErrorFromErrno(errno)};
    }
    if (!S_ISREG(status.st_mode) || (request.write && (status.st_mode & S_IWUSR) == 0)) {
        return {ERROR_ACCESS_DENIED};
    }
    if (flock(fd.Get(), (request.exclusive ? LOCK_EX : LOCK_SH) | LOCK_NB) != 0) {
        return {errno == EWOULDBLOCK ? ERROR_SHARING_VIOLATION : DeviceErrorFromErrno(errno)};
    }
    // Only now, with the lock won, may the old contents go: a refused create leaves the
    // file that another program uses intact. An empty file is left alone: on ext4 a
    // truncation makes the final close write the whole new file back at once, which
    // for a large new file costs as much as a third of writing it.
    if (request.truncate) {
        struct stat locked {};
        if (fstat(fd.Get(), &locked) != 0) {
            return {DeviceErrorFromErrno(errno)};
        }
        if (locked.st_size != 0 && ftruncate(fd.Get(), 0) != 0) {
            return {DeviceErrorFromErrno(errno)};
        }
    }
    // Of the flags above only O_NONBLOCK is a status flag that F_SETFL changes.
    if (fcntl(fd.Get(), F_SETFL, flags & ~O_NONBLOCK) != 0) {
        return {DeviceErrorFromErrno(errno)};
    }
    auto file = std::make_shared<OpenFile>();
    file->fd = std::move(fd);
    file->writable = request.write;
    std::lock_guard lock(mutex_);
    const DeviceHandle handle = nextHandle_++;
    files_.emplace(handle, std::move(file));
    return {ERROR_SUCCESS, handle};
}

std::shared_ptr<DeviceFileTable::OpenFile> DeviceFileTable::Lookup(DeviceHandle handle) {
    std::lock_guard lock(mutex_);
    auto it = files_.find(handle);
    return it == files_.end() ? nullptr : it->second;
}

std::uint32_t DeviceFileTable::Write(DeviceHandle handle, const void* data, std::uint32_t count,
                                     std::uint32_t& written) {
    written = 0;
    auto file = Lookup(handle);
    if (!file) {
        return ERROR_INVALID_HANDLE;
    }
    if (!file->writable) {
        return ERROR_ACCESS_DENIED;
    }
    if (data == nullptr && count > 0) {
        return ERROR_INVALID_PARAMETER;
    }
    std::size_t done = 0;
    const int error = WriteAll(file->fd.Get(), {static_cast<const char*>(data), count}, &done);
    written = static_cast<std::uint32_t>(done);
    return error == 0 ? ERROR_SUCCESS : DeviceErrorFromErrno(error);
}

std::uint32_t DeviceFileTable::Status(DeviceHandle handle, struct stat& status) {
    auto file = Lookup(handle);
    if (!file) {
        return ERROR_INVALID_HANDLE;
    }
    return fstat(file->fd.Get(), &status) == 0 ? ERROR_SUCCESS : DeviceErrorFromErrno(errno);
}

std::uint32_t DeviceFileTable::SetTimes(DeviceHandle handle, const FILETIME* lastAccess,
                                        const FILETIME* lastWrite) {
    auto file = Lookup(handle);
    if (!file) {
        return ERROR_INVALID_HANDLE;
    }
    const timespec omit{0, UTIME_OMIT};
    const timespec times[2] = {lastAccess != nullptr ? TimespecFromFileTime(*lastAccess) : omit,
                               lastWrite != nullptr ? TimespecFromFileTime(*lastWrite) : omit};
    return futimens(file->fd.Get(), times) == 0 ? ERROR_SUCCESS : DeviceErrorFromErrno(errno);
}

std::uint32_t DeviceFileTable::Close(DeviceHandle handle) {
    std::shared_ptr<OpenFile> file;
    {
        std::lock_guard lock(mutex_);
        auto it = files_.find(handle);
        if (it == files_.end()) {
            return ERROR_INVALID_HANDLE;
        }
        file = std::move(it->second);
        files_.erase(it);
    }
    return ERROR_SUCCESS;  // the descriptor and its lock go with the last user of file
}

void DeviceFileTable::CloseAll() {
    std::map<DeviceHandle, std::shared_ptr<OpenFile>> closing;
    std::lock_guard lock(mutex_);
    closing.swap(files_);
}

}  // namespace zephyrate
