// The hand-over between two copies of the program: a second copy sends SIGUSR1 to the
// owner, whose handler writes a byte into a pipe that the owner's window reads on its
// next timer tick, and so turns into the start message there. Writing to a pipe is one of
// the few things a signal handler may do.
//
// One object at a time in a process: the handler finds its pipe through one process-wide
// descriptor, the one thing a signal handler can reach. Make it before anything else can
// signal this process (before taking the lock), as SIGUSR1 ends a process by default.
//
// Threads: the handler runs on any thread; Take() on one.
#pragma once

#include <signal.h>

#include <cstdint>

#include "platform/ScopedFd.h"

namespace zephyrate {

class HandOverSignal {
  public:
    HandOverSignal();
    ~HandOverSignal();
    HandOverSignal(const HandOverSignal&) = delete;
    HandOverSignal& operator=(const HandOverSignal&) = delete;

    // Whether hand-overs arrived since the last call (several count as one).
    bool Take();
    // Asks the owner to start a run; false when it could not be signalled.
    static bool Send(std::uint32_t process);

  private:
    ScopedFd readEnd_;
    ScopedFd writeEnd_;
    struct sigaction previous_ {};
};

}  // namespace zephyrate
