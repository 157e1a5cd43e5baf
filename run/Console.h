// The core side of the console: what the engine's operations need of the window while a
// run works (the surface, the stop requests, the job list, the job values, the internet
// session, the device and the settings), and the operations that belong to the console itself:
// StopCheck and the progress report. The window and the terminal program each own one
// and give it their surface; tests give it a recording surface and their own clock.
//
// Threads: StopCheck may be called from any thread; the progress report and everything
// else from the worker thread of a run. The console must outlive the run.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <utility>

#include "run/ConsoleSurface.h"
#include "run/JobList.h"
#include "run/JobValues.h"
#include "run/RunControl.h"

namespace zephyrate {

class DeviceRemote;
class InternetSession;
class SettingsStore;

class Console {
  public:
    // Milliseconds of a tick count; it may wrap, only differences are used.
    using TickSource = std::function<std::uint32_t()>;
    static std::uint32_t SystemTicks();

    Console(ConsoleSurface& surface, InternetSession& session, DeviceRemote& device,
            SettingsStore& settings, TickSource ticks = &Console::SystemTicks);
    virtual ~Console() = default;
    Console(const Console&) = delete;
    Console& operator=(const Console&) = delete;

    ConsoleSurface& Surface() { return surface_; }
    RunControl& Control() { return control_; }
    JobList& Jobs() { return jobs_; }
    JobValues& Job() { return job_; }
    InternetSession& Session() { return session_; }
    DeviceRemote& Device() { return device_; }
    SettingsStore& Settings() { return settings_; }

    // Why the last fetch of an index failed (the transport's own text, or "HTTP Error N"),
    // empty when it did not: the job row only says "Connection with server failed", and a front
    // end may tell more. Written and read on the worker thread of a run.
    const std::string& FetchError() const { return fetchError_; }
    void SetFetchError(std::string text) { fetchError_ = std::move(text); }
    // The device's error code for the last file of the job that could not be written
    // (ERROR_SUCCESS when none): the row only says "Error: writing file data to device",
    // and a front end may say why (a full or read-only device). Worker thread only.
    std::uint32_t DeviceWriteError() const { return deviceWriteError_; }
    void SetDeviceWriteError(std::uint32_t code) { deviceWriteError_ = code; }

    // 0 go on, -1 cancel all jobs, 1 cancel this job; takes up the request it reports.
    int StopCheck();

    // Restarts the throughput clock for a new transfer.
    void StartProgressClock();
    // Shows "Retrieving: name  done/total" (or ".../???" when total is 0), the throughput
    // and the progress bar, then returns StopCheck's code. Called once per written chunk,
    // so it allocates nothing once its buffers have grown to the name's length.
    int ReportProgress(std::uint32_t total, std::int64_t done, std::string_view name);

  private:
    ConsoleSurface& surface_;
    InternetSession& session_;
    DeviceRemote& device_;
    SettingsStore& settings_;
    TickSource ticks_;
    RunControl control_;
    JobList jobs_;
    JobValues job_;
    std::uint32_t clockStart_ = 0;
    std::string statusText_;      // reused by every progress report
    std::string throughputText_;  // likewise
    std::string fetchError_;
    std::uint32_t deviceWriteError_ = 0;
};

}  // namespace zephyrate
