// A program run as a real child process for tests, with an environment given in full.
// Its standard input, output and error are either /dev/null and two files, as a script
// runs it, or a pseudo-terminal that is its controlling terminal, as a user runs it in a
// terminal window (a typed Ctrl-C interrupts it). A child still running at the end is
// killed and reaped.
//
// Threads: one owner thread.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/ScopedFd.h"
#include "tests/support/TempFolder.h"

namespace zephyrate::test {

class ChildProcess {
  public:
    using Strings = std::vector<std::string>;
    enum class Io { Files, Terminal };
    struct Result {
        int code = -1;  // the exit status; 128 + N when ended by signal N; -1 when it hung
        std::string out;
        std::string err;
    };

    ChildProcess(const Strings& arguments, const Strings& environment, Io io = Io::Files);
    ~ChildProcess() { Wait(std::chrono::milliseconds(0)); }
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    pid_t Pid() const { return pid_; }
    void Signal(int signal);
    // Whether it has not ended yet; never waits.
    bool Running();
    // The exit status (as Result::code) once the child ended; a child that outlives the
    // limit is killed and gives nothing.
    std::optional<int> Wait(std::chrono::milliseconds limit);
    // Standard output; on a terminal all it has shown, with its "\r\n" line ends.
    std::string Out() const;
    std::string Err() const { return TempFolder::ReadFile(folder_ / "err"); }

    // On a terminal: whether it has shown text since the last text found, within the limit.
    bool WaitFor(std::string_view text, std::chrono::milliseconds limit);
    // Types text at the terminal, as keys (its line rules apply, echo among them).
    void Type(std::string_view text) { WriteAll(master_.Get(), text); }

    static Result Run(const Strings& arguments, const Strings& environment,
                      std::chrono::milliseconds limit = std::chrono::seconds(60));
    // This process's environment less what steers Zephyrate or a proxy from outside
    // (ZEPHYRATE_*, XDG_*, *_proxy), so that a test's child sees only what it is given.
    static Strings CleanEnvironment();

  private:
    // Takes what the terminal shows, waiting up to the limit for the first bytes; without
    // a terminal only waits.
    void Take(std::chrono::milliseconds limit);

    TempFolder folder_;
    ScopedFd master_;
    ScopedFd slave_;  // kept open, so that the terminal outlives the child and still echoes
    pid_t pid_ = -1;
    std::optional<int> code_;
    std::string screen_;
    std::size_t searched_ = 0;  // where WaitFor looks from
};

}  // namespace zephyrate::test
