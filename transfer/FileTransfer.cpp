#include "transfer/FileTransfer.h"

#include <memory>
#include <string>
#include <vector>

#include "platform/HttpFile.h"
#include "run/JobList.h"
#include "run/JobValues.h"
#include "run/Maker.h"
#include "transfer/DeviceLinks.h"
#include "transfer/DevicePaths.h"
#include "transfer/DeviceWriter.h"
#include "transfer/HttpDownload.h"
#include "transfer/ServerTime.h"
#include "transfer/TransferContext.h"

namespace zephyrate {

namespace {

constexpr std::uint32_t kUnknownLength = 0xFFFFFFFF;
// Stamps this close count as equal: file systems on the device keep times in 2-second
// steps.
constexpr std::int64_t kTimeTolerance = 2;

// Compares the device copy and its links with the server's stamp; true when anything is
// missing, unknown or different.
bool NeedsUpdate(DeviceRemote& device, FileEntry& entry, const std::string& file,
                 const std::string& favorite, const std::string& shortcut) {
    bool needed = false;
    // A missing link is made again only with the file, so it forces the whole download.
    if (!favorite.empty() && !ReadDeviceFileStamp(device, entry, favorite)) {
        needed = true;
    }
    if (!shortcut.empty() && !ReadDeviceFileStamp(device, entry, shortcut)) {
        needed = true;
    }
    // An entry without a name has no copy that could be current.
    if (file.empty() || !ReadDeviceFileStamp(device, entry, file)) {
        return true;
    }
    if (entry.ServerLength == kUnknownLength || entry.DeviceLength == kUnknownLength ||
        entry.ServerLength != entry.DeviceLength) {
        needed = true;
    }
    const std::int64_t difference = entry.ServerTime - entry.DeviceTime;
    if (difference > kTimeTolerance || difference < -kTimeTolerance) {
        needed = true;
    }
    return needed;
}

}  // namespace

int FileTransferStep(TransferContext& context, FileEntry& entry, InternetSession& session,
                     bool force) {
    entry.Result = kTransferWritten;
    const JobValues& job = context.job;
    JobList& jobs = context.rows;

    // Refused before the server or the device is asked: a destination in the system
    // folder, or a name with a zero byte, which the device would read as a shorter name,
    // another file than the one listed.
    if (!CheckDestination(job) || !CheckEntry(job, entry)) {
        entry.StatusText =
            std::string("Invalid synchronisation object. Please contact ") + kSupportEmail;
        entry.Result = kTransferFailed;
        return kTransferFailed;
    }

    jobs.SetRowStatus(entry.Row, JobList::kWorking, "Connecting");
    std::unique_ptr<HttpFile> response = OpenEntryUrl(entry, session, job);
    if (!response) {
        entry.Result = kTransferFailed;
        return kTransferFailed;
    }

    jobs.SetRowStatus(entry.Row, JobList::kWorking, "Checking time stamp");
    SYSTEMTIME modified;
    // Without a usable stamp the file counts as changed now, so it is always fetched.
    entry.ServerTime = response->QueryInfoLastModified(modified) ? SecondsFromSystemTime(modified)
                                                                 : CurrentUtcSeconds();
    if (!response->QueryInfoContentLength(entry.ServerLength)) {
        entry.ServerLength = kUnknownLength;
    }

    const std::string file = DevicePath(job, entry);
    const std::string favorite = FavoritePath(job, entry);
    const std::string shortcut = ShortcutPath(job, entry);
    const bool needed = NeedsUpdate(context.device, entry, file, favorite, shortcut);
    if (!force && !needed) {
        std::vector<std::string>& present = context.job.PresentObjects;
        present.push_back(file);
        if (!entry.FavoriteFile.empty()) {
            present.push_back(favorite);
        }
        if (!entry.ShortcutFile.empty()) {
            present.push_back(shortcut);
        }
        // The body is not wanted; closing cuts it (or reads a short rest away so the
        // connection serves the next entry).
        response->Close();
        return kTransferCurrent;
    }

    jobs.SetRowStatus(entry.Row, JobList::kWorking, "Downloading to device");
    std::uint32_t total = 0;  // unknown to the progress display
    if (!response->QueryInfoContentLength(total)) {
        total = 0;
    }
    const bool written = WriteToDevice(context, entry, *response, file, total);
    response->Close();
    response.reset();
    if (!written) {
        entry.StatusText = "Error: writing file data to device";
        return entry.Result;
    }

    if (!entry.FavoriteFile.empty() && !CreateFavorite(context, entry)) {
        entry.StatusText = "Error: creation of favorites link in IE";
        return entry.Result;
    }
    if (!entry.ShortcutFile.empty()) {
        CreateShortcut(context, entry);
    }
    entry.StatusText = "Synchronisation succesful";
    return kTransferWritten;
}

}  // namespace zephyrate
