#include "cli/StopSignals.h"

#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/eventfd.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <system_error>

#include "cli/SyncOptions.h"
#include "run/RunControl.h"

namespace zephyrate {

namespace {

sigset_t StopSet() {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    sigaddset(&set, SIGHUP);
    return set;
}

void WriteAll(int fd, const void* data, std::size_t size) {
    while (::write(fd, data, size) < 0 && errno == EINTR) {
    }
}

}  // namespace

StopSignals::StopSignals(int terminal) : terminal_(terminal) {
    const sigset_t set = StopSet();
    if (const int error = pthread_sigmask(SIG_BLOCK, &set, nullptr); error != 0) {
        throw std::system_error(error, std::generic_category(), "pthread_sigmask");
    }
    signals_.Reset(signalfd(-1, &set, SFD_CLOEXEC));
    stop_.Reset(eventfd(0, EFD_CLOEXEC));
    int wake[2] = {-1, -1};
    if (!signals_.Valid() || !stop_.Valid() || pipe2(wake, O_CLOEXEC | O_NONBLOCK) != 0) {
        throw std::system_error(errno, std::generic_category(), "signal watcher");
    }
    wakeRead_.Reset(wake[0]);
    wakeWrite_.Reset(wake[1]);
    if (termios modes{}; terminal_ >= 0 && tcgetattr(terminal_, &modes) == 0) {
        terminalModes_ = modes;
    }
}

StopSignals::~StopSignals() {
    if (watcher_.joinable()) {
        const std::uint64_t one = 1;
        WriteAll(stop_.Get(), &one, sizeof one);
        watcher_.join();
    }
    // The signals stay blocked: one that is still pending must not kill the process on
    // its way out, after the run has already been wound down.
}

void StopSignals::Watch(RunControl& control) {
    if (!watcher_.joinable()) {
        watcher_ = std::thread([this, &control] { Run(control); });
    }
}

void StopSignals::Run(RunControl& control) {
    int seen = 0;
    for (;;) {
        pollfd waits[2] = {{signals_.Get(), POLLIN, 0}, {stop_.Get(), POLLIN, 0}};
        if (poll(waits, 2, -1) < 0) {
            if (errno == EINTR) {
                continue;
            }
            return;
        }
        if (waits[1].revents != 0) {
            return;
        }
        signalfd_siginfo info{};
        if (::read(signals_.Get(), &info, sizeof info) != static_cast<ssize_t>(sizeof info)) {
            continue;
        }
        if (++seen == 1) {
            interrupted_.store(true, std::memory_order_release);
            control.SetCancelAll();
            const char wake = 1;
            WriteAll(wakeWrite_.Get(), &wake, 1);
            continue;
        }
        // The user insists: whatever the run is waiting for (a server that does not answer,
        // a slow connect) is not worth waiting for.
        if (terminalModes_) {
            tcsetattr(terminal_, TCSANOW, &*terminalModes_);
        }
        WriteAll(STDERR_FILENO, "\n", 1);
        _exit(kExitInterrupted);
    }
}

}  // namespace zephyrate
