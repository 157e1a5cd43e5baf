// The value types, constants and result codes of the platform interfaces that the
// engine was designed against. The adapters in platform/ give them their Linux meaning.
#pragma once

#include <cstdint>

namespace zephyrate {

// --- Calendar time and file time ----------------------------------------------------

// Calendar fields of a moment, as an HTTP date or a device file time gives them.
struct SYSTEMTIME {
    std::uint16_t wYear = 0;
    std::uint16_t wMonth = 0;      // 1..12
    std::uint16_t wDayOfWeek = 0;  // 0 = Sunday
    std::uint16_t wDay = 0;
    std::uint16_t wHour = 0;
    std::uint16_t wMinute = 0;
    std::uint16_t wSecond = 0;
    std::uint16_t wMilliseconds = 0;

    friend bool operator==(const SYSTEMTIME&, const SYSTEMTIME&) = default;
};

// 100-nanosecond intervals since 1601-01-01, without zone conversion.
struct FILETIME {
    std::uint32_t dwLowDateTime = 0;
    std::uint32_t dwHighDateTime = 0;

    friend bool operator==(const FILETIME&, const FILETIME&) = default;
};

// --- Device remote interface ---------------------------------------------------------

using DeviceHandle = std::int64_t;
inline constexpr DeviceHandle INVALID_HANDLE_VALUE = -1;

inline constexpr std::uint32_t GENERIC_READ = 0x80000000;
inline constexpr std::uint32_t GENERIC_WRITE = 0x40000000;
inline constexpr std::uint32_t CREATE_ALWAYS = 2;
inline constexpr std::uint32_t OPEN_EXISTING = 3;

inline constexpr std::uint32_t FILE_ATTRIBUTE_READONLY = 0x01;
inline constexpr std::uint32_t FILE_ATTRIBUTE_HIDDEN = 0x02;
inline constexpr std::uint32_t FILE_ATTRIBUTE_SYSTEM = 0x04;
inline constexpr std::uint32_t FILE_ATTRIBUTE_DIRECTORY = 0x10;
inline constexpr std::uint32_t FILE_ATTRIBUTE_ARCHIVE = 0x20;
inline constexpr std::uint32_t FILE_ATTRIBUTE_NORMAL = 0x80;
inline constexpr std::uint32_t FILE_ATTRIBUTE_TEMPORARY = 0x100;
inline constexpr std::uint32_t INVALID_FILE_ATTRIBUTES = 0xFFFFFFFF;

// Listing flags of CeFindAllFiles.
inline constexpr std::uint32_t FAF_ATTRIBUTES = 0x0001;
inline constexpr std::uint32_t FAF_CREATION_TIME = 0x0002;
inline constexpr std::uint32_t FAF_LASTACCESS_TIME = 0x0004;
inline constexpr std::uint32_t FAF_LASTWRITE_TIME = 0x0008;
inline constexpr std::uint32_t FAF_SIZE_HIGH = 0x0010;
inline constexpr std::uint32_t FAF_SIZE_LOW = 0x0020;
inline constexpr std::uint32_t FAF_OID = 0x0040;
inline constexpr std::uint32_t FAF_NAME = 0x0080;
inline constexpr std::uint32_t FAF_FOLDERS_ONLY = 0x4000;
inline constexpr std::uint32_t FAF_NO_HIDDEN_SYS_ROMMODULES = 0x8000;

// Error codes that the device reports through CeGetLastError.
inline constexpr std::uint32_t ERROR_SUCCESS = 0;
inline constexpr std::uint32_t ERROR_FILE_NOT_FOUND = 2;
inline constexpr std::uint32_t ERROR_PATH_NOT_FOUND = 3;
inline constexpr std::uint32_t ERROR_ACCESS_DENIED = 5;
inline constexpr std::uint32_t ERROR_INVALID_HANDLE = 6;
inline constexpr std::uint32_t ERROR_NOT_READY = 21;
inline constexpr std::uint32_t ERROR_SHARING_VIOLATION = 32;
inline constexpr std::uint32_t ERROR_HANDLE_DISK_FULL = 39;
inline constexpr std::uint32_t ERROR_INVALID_PARAMETER = 87;
inline constexpr std::uint32_t ERROR_DISK_FULL = 112;
inline constexpr std::uint32_t ERROR_INVALID_NAME = 123;
inline constexpr std::uint32_t ERROR_DIR_NOT_EMPTY = 145;
inline constexpr std::uint32_t ERROR_ALREADY_EXISTS = 183;
inline constexpr std::uint32_t ERROR_FILENAME_EXCED_RANGE = 206;
inline constexpr std::uint32_t ERROR_MORE_DATA = 234;
inline constexpr std::uint32_t ERROR_NO_MORE_ITEMS = 259;
inline constexpr std::uint32_t ERROR_DEVICE_NOT_CONNECTED = 1167;

inline constexpr std::uint32_t MAX_PATH = 260;

// One record of a folder listing; only the fields that the listing flags ask for are set.
struct CE_FIND_DATA {
    std::uint32_t dwFileAttributes = 0;
    FILETIME ftCreationTime;
    FILETIME ftLastAccessTime;
    FILETIME ftLastWriteTime;
    std::uint32_t nFileSizeHigh = 0;
    std::uint32_t nFileSizeLow = 0;
    std::uint32_t dwOID = 0;
    char16_t cFileName[MAX_PATH] = {};
};

// Start-up record of the device link. cbSize is 12, as the link expects it; the link
// fills in heRapiInit (the event to wait on) and, once the link is up, hrRapiInit.
struct RAPIINIT {
    std::uint32_t cbSize = 12;
    std::uint64_t heRapiInit = 0;
    std::int32_t hrRapiInit = 0;
};

inline constexpr std::uint32_t WAIT_OBJECT_0 = 0;
inline constexpr std::uint32_t WAIT_TIMEOUT = 0x102;
inline constexpr std::uint32_t WAIT_FAILED = 0xFFFFFFFF;

inline constexpr std::int32_t S_OK = 0;
inline constexpr std::int32_t E_FAIL = static_cast<std::int32_t>(0x80004005);

using HKEY = std::uint64_t;
inline constexpr HKEY HKEY_CURRENT_USER = 0x80000001;
inline constexpr HKEY HKEY_LOCAL_MACHINE = 0x80000002;

inline constexpr std::uint32_t REG_NONE = 0;
inline constexpr std::uint32_t REG_SZ = 1;
inline constexpr std::uint32_t REG_EXPAND_SZ = 2;
inline constexpr std::uint32_t REG_BINARY = 3;
inline constexpr std::uint32_t REG_DWORD = 4;

struct CEOSVERSIONINFO {
    std::uint32_t dwOSVersionInfoSize = sizeof(CEOSVERSIONINFO);
    std::uint32_t dwMajorVersion = 0;
    std::uint32_t dwMinorVersion = 0;
    std::uint32_t dwBuildNumber = 0;
    std::uint32_t dwPlatformId = 0;
    char16_t szCSDVersion[128] = {};
};

// --- Internet session interface ------------------------------------------------------

inline constexpr std::uint32_t INTERNET_OPEN_TYPE_PRECONFIG = 0;
inline constexpr std::uint32_t INTERNET_OPEN_TYPE_DIRECT = 1;
inline constexpr std::uint32_t INTERNET_OPEN_TYPE_PROXY = 3;

inline constexpr std::uint32_t INTERNET_FLAG_TRANSFER_ASCII = 0x00000001;
inline constexpr std::uint32_t INTERNET_FLAG_TRANSFER_BINARY = 0x00000002;
inline constexpr std::uint32_t INTERNET_FLAG_RELOAD = 0x80000000;

inline constexpr std::uint32_t INTERNET_OPTION_USERNAME = 28;
inline constexpr std::uint32_t INTERNET_OPTION_PASSWORD = 29;
inline constexpr std::uint32_t INTERNET_OPTION_PROXY = 38;
inline constexpr std::uint32_t INTERNET_OPTION_PROXY_USERNAME = 43;
inline constexpr std::uint32_t INTERNET_OPTION_PROXY_PASSWORD = 44;

inline constexpr std::uint32_t HTTP_QUERY_CONTENT_LENGTH = 5;
inline constexpr std::uint32_t HTTP_QUERY_LAST_MODIFIED = 11;
inline constexpr std::uint32_t HTTP_QUERY_FLAG_NUMBER = 0x20000000;

}  // namespace zephyrate
