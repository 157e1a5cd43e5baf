// A program run as a real child process on a pseudo-terminal of its own, as a user runs
// it in a terminal window: standard input, output and error are the terminal, which is
// the child's controlling terminal (so a typed Ctrl-C interrupts it). The test reads what
// the terminal shows and types answers. A child still running at the end is killed.
//
// Threads: one owner thread.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace zephyrate::test {

class TerminalProcess {
  public:
    TerminalProcess(const std::vector<std::string>& arguments,
                    const std::vector<std::string>& environment);
    ~TerminalProcess();
    TerminalProcess(const TerminalProcess&) = delete;
    TerminalProcess& operator=(const TerminalProcess&) = delete;

    // Whether the terminal has shown text since the last call that found one (or the
    // start), within the limit.
    bool WaitFor(std::string_view text, std::chrono::milliseconds limit);
    // Types text at the terminal, as keys (the terminal's line rules apply).
    void Type(std::string_view text);
    // The exit status once the child ended within the limit (128 + N for signal N).
    std::optional<int> Wait(std::chrono::milliseconds limit);

    // All the terminal has shown so far, with its "\r\n" line ends.
    const std::string& Screen() const { return screen_; }
    // Whether the terminal echoes typed keys now.
    bool Echoes() const;

  private:
    // Takes what the terminal shows, waiting up to the limit for the first bytes.
    void Take(std::chrono::milliseconds limit);

    int master_ = -1;
    int slave_ = -1;  // kept open, so the terminal outlives the child for Echoes
    pid_t pid_ = -1;
    std::optional<int> code_;
    std::string screen_;
    std::size_t searched_ = 0;  // where WaitFor looks from
};

}  // namespace zephyrate::test
