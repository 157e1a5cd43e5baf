#include "engine/Console.h"

#include <algorithm>
#include <chrono>
#include <cstdarg>
#include <cstdio>
#include <limits>
#include <utility>

namespace zephyrate {

namespace {

// Formats into out, reusing its capacity: no allocation once out has held a text this long,
// and a single formatting pass then.
__attribute__((format(printf, 2, 3))) void FormatInto(std::string& out, const char* format, ...) {
    std::va_list args;
    va_start(args, format);
    std::va_list again;
    va_copy(again, args);
    out.resize(out.capacity());  // data() has room for size() + 1, the terminating zero too
    const int length = std::vsnprintf(out.data(), out.size() + 1, format, args);
    va_end(args);
    if (length < 0) {
        out.clear();
    } else if (static_cast<std::size_t>(length) > out.size()) {
        out.resize(static_cast<std::size_t>(length));
        std::vsnprintf(out.data(), out.size() + 1, format, again);
    } else {
        out.resize(static_cast<std::size_t>(length));
    }
    va_end(again);
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

    const int nameLength =
        static_cast<int>(std::min<std::size_t>(name.size(), std::numeric_limits<int>::max()));
    const long long doneText = done;
    if (total != 0) {
        FormatInto(statusText_, "Retrieving: %.*s  %lld/%u", nameLength, name.data(), doneText,
                   static_cast<unsigned>(total));
    } else {
        FormatInto(statusText_, "Retrieving: %.*s  %lld/???", nameLength, name.data(), doneText);
    }
    surface_.SetStatusText(statusText_);
    FormatInto(throughputText_, "%.02f Kbps", throughput);
    surface_.SetThroughputText(throughputText_);

    surface_.SetProgressRange(total);
    const std::int64_t position =
        std::clamp<std::int64_t>(done, 0, std::numeric_limits<std::uint32_t>::max());
    surface_.SetProgressPosition(static_cast<std::uint32_t>(position));

    const int code = StopCheck();
    if (code != 0) {
        surface_.SetProgressPosition(0);
    }
    return code;
}

}  // namespace zephyrate
