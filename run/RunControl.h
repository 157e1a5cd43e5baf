// The stop requests of a run: cancel all jobs, cancel this job, and whether a run is
// active. The window's buttons set the requests from the main thread; StopCheck (on
// Console) takes them up on the worker thread. Every write takes the lock for that write
// only; reads take none (the flags are atomic words).
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>

namespace zephyrate {

class RunControl {
  public:
    RunControl() = default;
    virtual ~RunControl() = default;
    RunControl(const RunControl&) = delete;
    RunControl& operator=(const RunControl&) = delete;

    void SetCancelAll();
    void SetCancelThisJob();
    void ClearCancelThisJob();
    void ClearRequests();  // both requests, in one locked step
    void SetRunning();
    void ClearRunning();
    // Sets the running flag unless it is set already, in one locked step: a front end
    // claims the run before its worker thread exists, so two quick start requests cannot
    // both see it clear.
    bool TryClaimRunning();

    bool CancelAll() const { return cancelAll.load(std::memory_order_acquire) != 0; }
    bool CancelThisJob() const { return cancelThisJob.load(std::memory_order_acquire) != 0; }
    bool Running() const { return running.load(std::memory_order_acquire) != 0; }

  private:
    std::atomic<std::int32_t> cancelAll{0};
    std::atomic<std::int32_t> cancelThisJob{0};
    std::atomic<std::int32_t> running{0};
    std::mutex lock_;
};

}  // namespace zephyrate
