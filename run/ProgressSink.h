// The progress display of a transfer as the code that writes files sees it: a clock
// restarted per file, one report per written chunk (which also answers whether to stop),
// and the bar set back when a write ends early. The console implements it.
//
// Threads: the worker thread of a run.
#pragma once

#include <cstdint>
#include <string_view>

namespace zephyrate {

class ProgressSink {
  public:
    virtual ~ProgressSink() = default;

    // Restarts the throughput clock for a new transfer.
    virtual void StartProgressClock() = 0;
    // Shows done of total bytes (total 0: unknown) of the file name; returns the stop
    // code: 0 go on, 1 skip to the next job, -1 cancel all.
    virtual int ReportProgress(std::uint32_t total, std::int64_t done, std::string_view name) = 0;
    // Sets the bar back to empty, after a write that ended early.
    virtual void ResetProgress() = 0;
};

}  // namespace zephyrate
