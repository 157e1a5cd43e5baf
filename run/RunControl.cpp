#include "run/RunControl.h"

namespace zephyrate {

// Each write takes the lock for that one write, so the window's buttons and StopCheck never
// hold it while calling anything else.

void RunControl::SetCancelAll() {
    std::lock_guard guard(lock_);
    cancelAll.store(1, std::memory_order_release);
}

void RunControl::SetCancelThisJob() {
    std::lock_guard guard(lock_);
    cancelThisJob.store(1, std::memory_order_release);
}

void RunControl::ClearCancelThisJob() {
    std::lock_guard guard(lock_);
    cancelThisJob.store(0, std::memory_order_release);
}

void RunControl::ClearRequests() {
    std::lock_guard guard(lock_);
    cancelAll.store(0, std::memory_order_release);
    cancelThisJob.store(0, std::memory_order_release);
}

void RunControl::SetRunning() {
    std::lock_guard guard(lock_);
    running.store(1, std::memory_order_release);
}

bool RunControl::TryClaimRunning() {
    std::lock_guard guard(lock_);
    if (running.load(std::memory_order_acquire) != 0) {
        return false;
    }
    running.store(1, std::memory_order_release);
    return true;
}

void RunControl::ClearRunning() {
    std::lock_guard guard(lock_);
    running.store(0, std::memory_order_release);
}

}  // namespace zephyrate
