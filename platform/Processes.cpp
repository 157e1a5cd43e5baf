#include "platform/Processes.h"

#include <poll.h>
#include <signal.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "platform/ScopedFd.h"

namespace zephyrate {

namespace {

// Called directly: the wrappers of glibc 2.36 lack C linkage in C++.
int OpenProcess(pid_t process) {
    return static_cast<int>(syscall(SYS_pidfd_open, process, 0));
}

int SendSignal(int handle, int signal) {
    return static_cast<int>(syscall(SYS_pidfd_send_signal, handle, signal, nullptr, 0));
}

}  // namespace

std::uint32_t OwnProcessId() {
    return static_cast<std::uint32_t>(getpid());
}

bool KillAndWait(std::uint32_t process, std::chrono::milliseconds limit) {
    // Through a process descriptor, so that the signal and the wait reach this process
    // even if its id is given to another one meanwhile.
    const ScopedFd handle(OpenProcess(static_cast<pid_t>(process)));
    if (!handle.Valid()) {
        return errno == ESRCH;
    }
    if (SendSignal(handle.Get(), SIGKILL) != 0 && errno != ESRCH) {
        return false;
    }
    // The descriptor turns readable when the process has ended; its locks are gone then.
    pollfd ended{handle.Get(), POLLIN, 0};
    const auto deadline = std::chrono::steady_clock::now() + limit;
    for (;;) {
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        const int ready = poll(&ended, 1, static_cast<int>(std::max<long long>(left.count(), 0)));
        if (ready > 0) {
            return true;
        }
        if (ready == 0 || errno != EINTR) {
            return false;
        }
    }
}

}  // namespace zephyrate
