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
#include "run/ProgressSink.h"
#include "run/RunControl.h"
#include "run/RunResult.h"

namespace zephyrate {

class DeviceRemote;
class InternetSession;
class SettingsStore;

class Console : public ProgressSink {
  public:
    // Milliseconds of a tick count; it may wrap, only differences are used.
    using TickSource = std::function<std::uint32_t()>;
    static std::uint32_t SystemTicks();

    Console(ConsoleSurface& surface, InternetSession& session, DeviceRemote& device,
            SettingsStore& settings, TickSource ticks = &Console::SystemTicks);
    ~Console() override = default;
    Console(const Console&) = delete;
    Console& operator=(const Console&) = delete;

    ConsoleSurface& Surface() { return surface_; }
    RunControl& Control() { return control_; }
    JobList& Jobs() { return jobs_; }
    JobValues& Job() { return job_; }
    InternetSession& Session() { return session_; }
    DeviceRemote& Device() { return device_; }
    SettingsStore& Settings() { return settings_; }

    // Why the last fetch of an index failed (Kind::None when it did not): the job row only
    // says "Connection with server failed", and a front end may tell more. Written and read
    // on the worker thread of a run.
    const FetchFailure& LastFetchFailure() const { return fetchFailure_; }
    void SetFetchFailure(FetchFailure failure) { fetchFailure_ = std::move(failure); }
    // Whether StopCheck took a request to cancel all since the last ResetRunRecord: the
    // run was interrupted by the user.
    bool CancelAllTaken() const { return cancelAllTaken_; }
    // Forgets the fetch failure and the cancel of an earlier run.
    void ResetRunRecord() {
        fetchFailure_ = {};
        cancelAllTaken_ = false;
    }

    // 0 go on, -1 cancel all jobs, 1 cancel this job; takes up the request it reports.
    int StopCheck();

    void StartProgressClock() override;
    // Shows "Retrieving: name  done/total" (or ".../???" when total is 0), the throughput
    // and the progress bar, then returns StopCheck's code. Called once per written chunk,
    // so it allocates nothing once its buffers have grown to the name's length.
    int ReportProgress(std::uint32_t total, std::int64_t done, std::string_view name) override;
    void ResetProgress() override;

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
    FetchFailure fetchFailure_;
    bool cancelAllTaken_ = false;
};

}  // namespace zephyrate
