#include "engine/JobDriver.h"

#include <exception>
#include <memory>
#include <string>
#include <vector>

#include "engine/ServerAccess.h"
#include "engine/ServerConfig.h"
#include "engine/SyncJob.h"
#include "engine/SyncLog.h"
#include "platform/HttpFile.h"
#include "platform/InternetError.h"
#include "platform/WinTypes.h"
#include "run/Console.h"
#include "run/FileEntry.h"
#include "settings/SettingsStore.h"
#include "transfer/DeviceFolders.h"
#include "transfer/DevicePaths.h"
#include "transfer/FileTransfer.h"
#include "transfer/TransferContext.h"

namespace zephyrate {

namespace {

constexpr const char* kUserAbort = "User abort";
constexpr const char* kConnectionFailed = "Connection with server failed";

// The index, read whole; nothing when the body breaks off, is longer or shorter than
// announced, or is too large. A server that drops the connection half way through its
// index must end the job like a failed fetch: an index that is cut short would withdraw
// the files of its missing lines.
std::unique_ptr<ServerConfig> LoadIndex(Console& console, std::unique_ptr<HttpFile> response) {
    auto config = std::make_unique<ServerConfig>();
    try {
        if (!config->Load(*response)) {
            console.SetFetchFailure({FetchFailure::Kind::TooLarge, 0,
                                     "The index is larger than " +
                                         std::to_string(ServerConfig::kMaxLength >> 20) + " MiB"});
            config.reset();
        }
    } catch (const InternetError& error) {
        console.SetFetchFailure(FetchFailureOf(error));
        config.reset();
    }
    response->Close();
    return config;
}

// An error that ends the job (a download that breaks off or stalls, a log that cannot be
// written) is shown in a message box, and the row it ended on says why, so that the run
// ends with errors instead of looking finished.
int EndedByError(Console& console, int row, const std::exception& error) {
    console.Jobs().SetRowStatus(row, JobList::kError, "Failed: " + std::string(error.what()) + ".");
    console.Surface().MessageBox(error.what(), "Zephyrate", ConsoleSurface::Buttons::Ok);
    return kJobFailed;
}

// The entries' rows and the log, each under the job's guard.
int RunEntries(Console& console, SyncJob& job, std::vector<FileEntry>& entries, int jobRow) {
    ConsoleSurface& surface = console.Surface();
    JobList& rows = console.Jobs();
    TransferContext context{console.Device(), console.Job(), rows, console};
    for (std::size_t i = 0; i < entries.size(); ++i) {
        FileEntry& entry = entries[i];
        surface.SetStatusText("Checking file " + entry.Name);
        const bool force = surface.IsForceChecked();
        int outcome = kTransferFailed;
        try {
            outcome = FileTransferStep(context, entry, console.Session(), force);
        } catch (const std::exception& error) {
            entry.Result = kTransferFailed;
            entry.StatusText = error.what();
            surface.SetThroughputText("");
            surface.SetProgressPosition(0);
            return EndedByError(console, entry.Row, error);
        }
        surface.SetThroughputText("");
        surface.SetProgressPosition(0);
        if (const int code = console.StopCheck(); code != 0) {
            outcome = code;
        }

        switch (outcome) {
            case kTransferWritten:
                rows.SetRowStatus(entry.Row, JobList::kDone,
                                  "Added: " + DevicePath(console.Job(), entry) + ".");
                break;
            case kTransferFailed:
                rows.SetRowStatus(entry.Row, JobList::kError, "Failed: " + entry.StatusText + ".");
                break;
            case kTransferCurrent:
                rows.SetRowStatus(
                    entry.Row, JobList::kDone,
                    "Checked: " + DevicePath(console.Job(), entry) + " already up to date.");
                break;
            default:  // a skip or cancel request
                rows.SetRowStatus(jobRow, JobList::kError, kUserAbort);
                for (std::size_t later = i; later < entries.size(); ++later) {
                    rows.SetRowStatus(entries[later].Row, JobList::kError, kUserAbort);
                }
                return outcome;
        }
    }
    try {
        UpdateSyncLog(console, job, entries);
    } catch (const std::exception& error) {
        return EndedByError(console, jobRow, error);
    }
    return kJobDone;
}

}  // namespace

int RunJob(Console& console, SyncJob& job) {
    ConsoleSurface& surface = console.Surface();
    JobList& rows = console.Jobs();
    JobValues& values = console.Job();

    surface.SetProviderLink(job.ProviderWebSite);
    values.ServerFolderAddress = ParentPath(job.Url);
    surface.SetDetailLine(1, job.SplashText);
    surface.SetDetailLine(2, job.ProviderName);
    surface.SetDetailLine(3, job.ProviderEmail);
    surface.SetDetailLine(4, job.ProviderWebSite);
    const int jobRow = rows.AddJobRow(job.ProviderName);
    if (job.SplashBitmap == SyncJob::kNoBitmap) {
        job.SplashBitmap = SyncJob::kOwnLogo;
    }
    surface.SetLogo(job.SplashBitmap);

    auto stopped = [&](int code) {
        rows.SetRowStatus(jobRow, JobList::kError, kUserAbort);
        return code;
    };
    if (const int code = console.StopCheck(); code != 0) {
        return stopped(code);
    }

    surface.SetStatusText("Connecting with server...");
    std::unique_ptr<HttpFile> response = FetchServerConfig(console, job.Url, job);
    ApplySessionCredentials(console.Session(), job);
    if (!response) {
        rows.SetRowStatus(jobRow, JobList::kError, kConnectionFailed);
        return kJobFailed;
    }

    surface.SetStatusText("Retrieving file index from server...");
    std::unique_ptr<ServerConfig> config = LoadIndex(console, std::move(response));
    if (!config) {
        rows.SetRowStatus(jobRow, JobList::kError, kConnectionFailed);
        return kJobFailed;
    }
    if (const int code = console.StopCheck(); code != 0) {
        return stopped(code);
    }

    if (!config->HasValidHeader()) {
        const std::string contact = job.ProviderEmail.empty() ? "your provider" : job.ProviderEmail;
        rows.SetRowStatus(jobRow, JobList::kError,
                          "Invalid configuration file at server. Please contact: " + contact);
        return kJobDone;
    }
    const std::string ceFolder = config->DestinationFolder();
    if (std::string splash; config->FindValue("Splash:", 0, splash) != -1) {
        job.SplashText = splash;
        surface.SetDetailLine(1, job.SplashText);
    }
    rows.SetRowStatus(jobRow, JobList::kDone, "Succesfully parsed server configuration file");

    values.PresentObjects.clear();
    values.SweptFolders.clear();
    ReadDataPath(console.Device(), values);
    values.DeviceRoot = console.Settings().PrePath();
    values.CeFolder = ceFolder;
    EmptyTrash(console.Device(), values);

    std::vector<FileEntry> entries = config->Entries();
    config.reset();  // the index can be large; the entries are all the job needs of it
    for (FileEntry& entry : entries) {
        rows.AddFileRow(entry, job.ProviderName);
    }

    if (const int code = RunEntries(console, job, entries, jobRow); code != kJobDone) {
        return code;
    }
    surface.SetStatusText("Synchronisation complete");
    return kJobDone;
}

}  // namespace zephyrate
