// A program run as a real child process for tests: standard input from /dev/null,
// standard output and error captured in files of its own temporary folder, an environment
// given in full. A child still running when the object goes away is killed and reaped.
//
// Threads: one owner thread. Safe to start while the test's servers run their threads
// (only async-signal-safe calls happen between fork and exec).
#pragma once

#include <sys/types.h>

#include <chrono>
#include <optional>
#include <string>
#include <vector>

#include "tests/support/TempFolder.h"

namespace zephyrate::test {

class ChildProcess {
  public:
    struct Result {
        int code = -1;  // the exit status; 128 + N when ended by signal N; -1 when it hung
        std::string out;
        std::string err;
    };

    ChildProcess(const std::vector<std::string>& arguments,
                 const std::vector<std::string>& environment);
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    void Signal(int signal);
    // The exit status once the child ended within the limit (as Result::code); nothing
    // while it still runs.
    std::optional<int> Wait(std::chrono::milliseconds limit);
    std::string Out() const { return TempFolder::ReadFile(folder_ / "out"); }
    std::string Err() const { return TempFolder::ReadFile(folder_ / "err"); }

    // Runs to the end; a child that outlives the limit is killed and gets code -1.
    static Result Run(const std::vector<std::string>& arguments,
                      const std::vector<std::string>& environment,
                      std::chrono::milliseconds limit = std::chrono::seconds(60));

    // This process's environment less what steers Zephyrate or a proxy from outside
    // (ZEPHYRATE_*, XDG_*, *_proxy), so that a test's child sees only what it is given.
    static std::vector<std::string> CleanEnvironment();

  private:
    TempFolder folder_;
    pid_t pid_ = -1;
    std::optional<int> code_;
};

}  // namespace zephyrate::test
