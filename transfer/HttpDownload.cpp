#include "transfer/HttpDownload.h"

#include <cstdio>
#include <string>

#include "platform/DeviceFile.h"
#include "platform/DeviceRemote.h"
#include "platform/InternetError.h"
#include "platform/InternetSession.h"
#include "platform/WidePath.h"
#include "transfer/ServerTime.h"

namespace zephyrate {

namespace {

// The status text keeps what the row can show of an error message.
constexpr std::size_t kMaxErrorText = 255;

std::string EntryAddress(const FileEntry& entry, const JobValues& job) {
    if (entry.UrlIsAbsolute) {
        return entry.Url;
    }
    // The name goes into the address as the index gives it: its separators included and
    // nothing escaped, so that the provider's own spelling reaches the server.
    return "http://" + job.ServerFolderAddress + "/" + entry.Name;
}

}  // namespace

std::unique_ptr<HttpFile> OpenEntryUrl(FileEntry& entry, InternetSession& session,
                                       const JobValues& job) {
    std::unique_ptr<HttpFile> response;
    try {
        response = session.OpenURL(EntryAddress(entry, job),
                                   INTERNET_FLAG_RELOAD | INTERNET_FLAG_TRANSFER_BINARY);
    } catch (const InternetError& error) {
        entry.StatusText = std::string(error.what()).substr(0, kMaxErrorText);
        return nullptr;
    }
    std::uint32_t status = 0;
    // A response without a readable status cannot be told from an error page, so it is
    // never written to the device; it shows as status 0.
    const bool known = response->QueryInfoStatusCode(status);
    entry.HttpStatus = status;
    if (known && status < 400) {
        return response;
    }
    response->Close();
    char text[48];
    std::snprintf(text, sizeof text, "HTTP ERROR CODE: %i", static_cast<int>(status));
    entry.StatusText = text;
    return nullptr;
}

bool ReadDeviceFileStamp(DeviceRemote& device, FileEntry& entry, std::string_view path) {
    WidePath wide(path);
    const DeviceFile file(device, device.CeCreateFile(wide.Wide(), GENERIC_READ, 0, OPEN_EXISTING,
                                                      FILE_ATTRIBUTE_NORMAL));
    if (!file.IsOpen()) {
        return false;
    }
    FILETIME lastWrite;
    if (!device.CeGetFileTime(file.Get(), nullptr, nullptr, &lastWrite)) {
        return false;
    }
    entry.DeviceTime = SecondsFromFileTime(lastWrite);
    // A failed size query leaves 0xFFFFFFFF, which the comparison treats as unknown.
    entry.DeviceLength = device.CeGetFileSize(file.Get(), nullptr);
    return true;
}

}  // namespace zephyrate
