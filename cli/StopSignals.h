// Ctrl-C, SIGTERM and SIGHUP for the terminal program: the first one asks the run to
// cancel all jobs and wakes any question that waits for the user; a second one ends the
// program at once (exit 130), after putting the terminal back as it was found.
//
// The signals are blocked in the constructing thread and so in every thread it starts
// later; a watcher thread of this object takes them from a signalfd, so no code runs in
// a signal handler. Make it in main before any other thread exists; it must outlive the
// run control that Watch gets.
#pragma once

#include <termios.h>

#include <atomic>
#include <optional>
#include <thread>

#include "platform/ScopedFd.h"

namespace zephyrate {

class RunControl;

class StopSignals {
  public:
    // terminal: a terminal descriptor whose modes the hard exit restores, or -1.
    explicit StopSignals(int terminal);
    ~StopSignals();
    StopSignals(const StopSignals&) = delete;
    StopSignals& operator=(const StopSignals&) = delete;

    // Starts taking the signals; one that came before waited and is taken now.
    void Watch(RunControl& control);

    bool Interrupted() const { return interrupted_.load(std::memory_order_acquire); }
    // Becomes readable at the first signal and stays so: for poll() in questions.
    int WakeDescriptor() const { return wakeRead_.Get(); }

  private:
    void Run(RunControl& control);

    std::optional<termios> terminalModes_;
    int terminal_ = -1;
    ScopedFd signals_;
    ScopedFd stop_;  // an eventfd that ends the watcher
    ScopedFd wakeRead_;
    ScopedFd wakeWrite_;
    std::atomic<bool> interrupted_{false};
    std::thread watcher_;
};

}  // namespace zephyrate
