#include "engine/SyncRun.h"

#include "device/DestinationRoot.h"
#include "device/DeviceConnection.h"
#include "device/DeviceContext.h"
#include "engine/JobDriver.h"
#include "engine/SyncJob.h"
#include "platform/WinTypes.h"
#include "run/Console.h"
#include "settings/ProxySettings.h"
#include "settings/SettingsStore.h"

namespace zephyrate {

namespace {

// The root for this run: asked (unless automatic selection spares the question) and then
// tested; a root given in advance counts as the question's answer and is tested without
// the automatic choice, so that a mistyped root is reported instead of replaced.
bool SettleRunRoot(DeviceContext& device, const RunOptions& options) {
    if (options.root) {
        device.settings.SetPrePath(*options.root);
        return SettleRoot(device, false);
    }
    return AskRoot(device, "Enter the root directory", false) && SettleRoot(device);
}

}  // namespace

RunResult SyncRun(Console& console, const RunOptions& options) {
    ConsoleSurface& surface = console.Surface();
    RunControl& control = console.Control();
    control.SetRunning();
    surface.SetRunningMode(true);
    console.Jobs().DeleteAllRows();
    console.ResetRunRecord();
    console.Job().DeviceWriteError = ERROR_SUCCESS;
    surface.SetStatusText("Connecting to mobile device.");

    RunResult result;
    DeviceContext device = DeviceContextOf(console);
    // A link left open by an earlier failure is reset first.
    DisconnectDevice(device.device);
    if (ConnectDevice(device) != 0) {
        control.ClearRunning();
        surface.SetStatusText("Failed to connect to the mobile device.");
        surface.SetRunningMode(false);
        result.outcome = RunOutcome::NoDevice;
        return result;
    }
    if (!SettleRunRoot(device, options)) {
        control.ClearRunning();
        DisconnectDevice(device.device);
        surface.SetRunningMode(false);
        result.outcome = RunOutcome::NoRoot;
        return result;
    }

    ApplyProxy(console.Settings(), console.Session());
    RunUrlJob(console);
    DisconnectDevice(device.device);

    const bool errors = console.Jobs().HasErrors();
    surface.SetStatusText(errors ? "There were error(s). Check details for more info."
                                 : "Finished");
    surface.SetRunningMode(false);
    control.ClearRunning();
    result.outcome = console.CancelAllTaken() ? RunOutcome::Interrupted
                     : errors                 ? RunOutcome::Errors
                                              : RunOutcome::Finished;
    result.fetch = console.LastFetchFailure();
    result.deviceWrite = DeviceWriteFailureOf(console.Job().DeviceWriteError);
    return result;
}

DeviceContext DeviceContextOf(Console& console) {
    return {console.Device(), console.Settings(), console.Surface(),
            [&console] { return console.StopCheck(); }};
}

DeviceWriteFailure DeviceWriteFailureOf(std::uint32_t code) {
    using Kind = DeviceWriteFailure::Kind;
    switch (code) {
        case ERROR_SUCCESS:
            return {Kind::None, code};
        case ERROR_DISK_FULL:
        case ERROR_HANDLE_DISK_FULL:
            return {Kind::Full, code};
        case ERROR_ACCESS_DENIED:
            return {Kind::AccessDenied, code};
        case ERROR_SHARING_VIOLATION:
            return {Kind::InUse, code};
        case ERROR_NOT_READY:
        case ERROR_DEVICE_NOT_CONNECTED:
            return {Kind::Gone, code};
        case ERROR_FILENAME_EXCED_RANGE:
            return {Kind::NameTooLong, code};
        case ERROR_INVALID_NAME:
            return {Kind::NoFileName, code};
        default:
            return {Kind::Other, code};
    }
}

int RunUrlJob(Console& console) {
    std::string url;
    if (!console.Surface().AskUrl(url)) {
        return kJobCancelAll;
    }
    SyncJob job;
    job.Url = url;
    job.LogFileName = LogFileName(url);
    return RunJob(console, job);
}

std::string LogFileName(std::string_view url) {
    const std::size_t slash = url.find('/');
    std::string_view host = url.substr(0, slash);
    if (slash == std::string_view::npos && !host.empty()) {
        host.remove_suffix(1);  // how stored logs of addresses without a path are named
    }
    return std::string(host) + ".log";
}

}  // namespace zephyrate
