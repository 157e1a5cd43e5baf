#include "run/Console.h"

#include <charconv>
#include <chrono>
#include <utility>

namespace zephyrate {

namespace {

// Appends a number's digits. std::to_chars: no locale, no allocation, and a fraction of
// printf's cost, which matters at one report per 4096-byte chunk.
template <typename Number, typename... Format>
void AppendNumber(std::string& out, Number value, Format... format) {
    char digits[64];
    const auto result = std::to_chars(digits, digits + sizeof digits, value, format...);
    out.append(digits, result.ptr);
}

}  // namespace

std::uint32_t Console::SystemTicks() {
    const auto since = std::chrono::steady_clock::now().time_since_epoch();
    // Only differences are used, so the wrap after 49.7 days does no harm.
    return static_cast<std::uint32_t>(
        std::chrono::duration_cast<std::chrono::milliseconds>(since).count());
}

Console::Console(ConsoleSurface& surface, InternetSession& session, DeviceRemote& device,
                 SettingsStore& settings, TickSource ticks)
    : surface_(surface),
      session_(session),
      device_(device),
      settings_(settings),
      ticks_(ticks ? std::move(ticks) : TickSource(&Console::SystemTicks)),
      jobs_(surface) {}

int Console::StopCheck() {
    if (control_.CancelAll()) {
        control_.ClearRequests();
        cancelAllTaken_ = true;
        // The captions go back to idle at once, while the worker still winds down.
        surface_.SetRunningMode(false);
        return -1;
    }
    if (control_.CancelThisJob()) {
        surface_.SetStatusText("Skipping to next job");
        control_.ClearCancelThisJob();
        surface_.SetRunningMode(true);
        return 1;
    }
    return 0;
}

void Console::StartProgressClock() {
    clockStart_ = ticks_();
}

int Console::ReportProgress(std::uint32_t total, std::int64_t done, std::string_view name) {
    const std::uint32_t now = ticks_();
    if (done == 0) {
        clockStart_ = now;
    }
    const std::uint32_t elapsed = now - clockStart_;  // unsigned: survives the tick wrap
    const double throughput =
        elapsed == 0 ? 0.0
                     : static_cast<double>(done) * 1000.0 / (static_cast<double>(elapsed) * 1024.0);

    // Reused buffers: assign and append keep their capacity, so a report allocates nothing
    // once they have held a text this long.
    statusText_.assign("Retrieving: ");
    statusText_.append(name);
    statusText_.append("  ");
    AppendNumber(statusText_, done);
    statusText_.push_back('/');
    if (total != 0) {
        AppendNumber(statusText_, total);
    } else {
        statusText_.append("???");
    }
    throughputText_.clear();
    AppendNumber(throughputText_, throughput, std::chars_format::fixed, 2);
    throughputText_.append(" Kbps");
    surface_.ShowProgress({name, done, total, throughput, statusText_, throughputText_});

    const int code = StopCheck();
    if (code != 0) {
        ResetProgress();
    }
    return code;
}

void Console::ResetProgress() {
    surface_.SetProgressPosition(0);
}

}  // namespace zephyrate
