#include "platform/DeviceErrors.h"

#include <cerrno>

#include "platform/WinTypes.h"

namespace zephyrate {

std::uint32_t DeviceErrorFromErrno(int error) {
    switch (error) {
        case 0:
            return ERROR_SUCCESS;
        case ENOENT:
            return ERROR_FILE_NOT_FOUND;
        case ENOTDIR:
            return ERROR_PATH_NOT_FOUND;
        case EACCES:
        case EPERM:
        case EROFS:
        case EISDIR:
        case ELOOP:  // a symbolic link met while resolving: the device refuses it
            return ERROR_ACCESS_DENIED;
        case EWOULDBLOCK:
        case ETXTBSY:
            return ERROR_SHARING_VIOLATION;
        case ENOSPC:
        case EDQUOT:
        case EFBIG:
            return ERROR_DISK_FULL;
        case EEXIST:
            return ERROR_ALREADY_EXISTS;
        case ENOTEMPTY:
            return ERROR_DIR_NOT_EMPTY;
        case ENAMETOOLONG:
            return ERROR_FILENAME_EXCED_RANGE;
        case EXDEV:
            return ERROR_NOT_SAME_DEVICE;
        case EBADF:
            return ERROR_INVALID_HANDLE;
        case EINVAL:
            return ERROR_INVALID_PARAMETER;
        case EIO:
        case ENODEV:
        case ENXIO:
        case ESTALE:
            // The medium went away under an open link (a card pulled, a share dropped).
            return ERROR_NOT_READY;
        default:
            return ERROR_ACCESS_DENIED;
    }
}

}  // namespace zephyrate
