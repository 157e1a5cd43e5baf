// One copy of the program at a time. The copy that holds the lock, the owner, writes its
// process id into the shared block, publishes its window's token there once the window
// is up, and counts a heartbeat on every tick of the window's timer. A second copy hands
// over to a live owner, which then starts a run, and ends; it takes over from an owner
// whose heartbeat stood still for a second, or that has no window yet, by ending it.
//
// The owner is found through the lock, as the kernel lists it, and never through the
// shared block alone: a block left by a crash, or garbled, names no process to signal.
// A lock or block that cannot be used leaves the copy running alone, without the lock.
//
// Threads: the main thread.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>

#include "platform/HandOverSignal.h"
#include "platform/InstanceLock.h"
#include "platform/SharedInstanceBlock.h"

namespace zephyrate {

class InstanceGuard {
  public:
    // How long a second copy waits for the owner's heartbeat, and at most for a killed
    // owner to end.
    static constexpr std::chrono::milliseconds kHeartbeatWait{1000};
    static constexpr std::chrono::milliseconds kEndWait{10000};

    // Catches the hand-over signal from here on.
    explicit InstanceGuard(std::string lockPath = InstanceLock::DefaultPath());

    // True when another copy owns the lock. Otherwise this copy owns it, or runs alone when
    // there is no lock to take.
    bool Acquire();
    // Clears the shared block and lets the lock go. Always true.
    bool Release();
    // The owner's heartbeat: one more on every tick of its window's timer.
    void Beat();
    // The owner's window is up; the token is not 0.
    void PublishWindow(std::uint32_t token);
    // Asks the owner to start a run; true when its heartbeat moved within the second after.
    // No window published: false at once, nothing sent.
    bool NotifyOwner();
    // Ends the owner and takes the lock; false when the owner may not be ended (another
    // user's process) or yet another copy took the lock meanwhile.
    bool TakeOver();
    // Whether another copy handed over since the last call: the start message.
    bool TakeStartMessage() { return handOver_.Take(); }

    enum class Start { Owner, HandedOver, NoTakeOver };
    // The start of a copy: Acquire, then hand over to a live owner or take over.
    Start Claim();

  private:
    using Field = SharedInstanceBlock::Field;

    std::string lockPath_;
    HandOverSignal handOver_;
    InstanceLock lock_;
    SharedInstanceBlock block_;  // mapped while this copy owns the lock or meets its owner
};

}  // namespace zephyrate
