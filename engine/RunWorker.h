// Runs SyncRun on a worker thread of its own, at most one run at a time, for a front end
// whose own thread must stay free (the window). A start claims the run control's running
// flag before the thread exists, so that a second start request in quick succession is
// refused even before the run's first step; the run clears the flag at its end.
//
// Threads: Start, Join and the destructor on the front end's thread; onEnd on the worker.
// The console must outlive the worker.
#pragma once

#include <functional>
#include <thread>

#include "run/RunResult.h"

namespace zephyrate {

class Console;

class RunWorker {
  public:
    explicit RunWorker(Console& console) : console_(console) {}
    // Waits for a run still going: the console never goes while its worker uses it.
    ~RunWorker() { Join(); }
    RunWorker(const RunWorker&) = delete;
    RunWorker& operator=(const RunWorker&) = delete;

    // Starts a run, whose result goes to onEnd on the worker thread at its end; false,
    // with nothing started, while a run is active.
    bool Start(std::function<void(const RunResult&)> onEnd = {});
    // Returns when the last run started has ended.
    void Join();

  private:
    Console& console_;
    std::thread thread_;
};

}  // namespace zephyrate
