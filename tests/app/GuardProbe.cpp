// A stand-in for the window program in the guard's tests: it starts as zephyrate does
// (exit code 1 after a hand-over, 2 when it may not take over), prints "owner", publishes
// a window (unless --no-window), beats every 100 ms as the window's timer does and prints
// "start" for every start message. SIGTERM ends it as a closed window does.
#include <signal.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string_view>
#include <thread>

#include "app/InstanceGuard.h"
#include "platform/Processes.h"

namespace {

std::atomic<bool> closing{false};

void Say(const char* text) {
    std::fputs(text, stdout);
    std::fflush(stdout);
}

}  // namespace

int main(int argc, char** argv) {
    using zephyrate::InstanceGuard;
    InstanceGuard guard;
    switch (guard.Claim()) {
        case InstanceGuard::Start::Owner:
            break;
        case InstanceGuard::Start::HandedOver:
            std::_Exit(1);
        case InstanceGuard::Start::NoTakeOver:
            std::_Exit(2);
    }
    signal(SIGTERM, [](int) { closing = true; });
    Say("owner\n");
    if (argc < 2 || std::string_view(argv[1]) != "--no-window") {
        guard.PublishWindow(zephyrate::OwnProcessId());
    }
    while (!closing) {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        guard.Beat();
        if (guard.TakeStartMessage()) {
            Say("start\n");
        }
    }
    guard.Release();
    return 0;
}
