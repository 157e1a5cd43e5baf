#include "platform/HandOverSignal.h"

#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>

namespace zephyrate {

namespace {

std::atomic<int> handOverPipe{-1};

extern "C" void OnHandOver(int) {
    const int saved = errno;
    const int fd = handOverPipe.load();
    if (fd >= 0) {
        const char byte = 1;
        (void)!write(fd, &byte, 1);  // a full pipe already holds a hand-over
    }
    errno = saved;
}

}  // namespace

HandOverSignal::HandOverSignal() {
    int ends[2];
    if (pipe2(ends, O_NONBLOCK | O_CLOEXEC) == 0) {
        readEnd_.Reset(ends[0]);
        writeEnd_.Reset(ends[1]);
        handOverPipe.store(ends[1]);
    }
    // Without a pipe the signal is still caught, so that a hand-over never ends this copy.
    struct sigaction action {};
    action.sa_handler = OnHandOver;
    action.sa_flags = SA_RESTART;
    sigemptyset(&action.sa_mask);
    (void)sigaction(SIGUSR1, &action, &previous_);
}

HandOverSignal::~HandOverSignal() {
    (void)sigaction(SIGUSR1, &previous_, nullptr);
    handOverPipe.store(-1);
}

bool HandOverSignal::Take() {
    bool arrived = false;
    char bytes[64];
    while (readEnd_.Valid() && read(readEnd_.Get(), bytes, sizeof bytes) > 0) {
        arrived = true;
    }
    return arrived;
}

bool HandOverSignal::Send(std::uint32_t process) {
    return process != 0 && kill(static_cast<pid_t>(process), SIGUSR1) == 0;
}

}  // namespace zephyrate
