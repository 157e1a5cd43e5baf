// Questions on a terminal: the question goes to one descriptor (stderr), the answer is
// read as one line from another (stdin), with echo off for a password. A wait ends as a
// cancel when the wake descriptor becomes readable (a stop signal) or the input ends.
// Echo is switched back on on every way out of a hidden read.
//
// Threads: one question at a time, on the thread that runs the engine. The descriptors
// belong to the caller and must outlive the object.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace zephyrate {

class TerminalPrompt {
  public:
    TerminalPrompt(int input, int output, int wake);

    // The line typed, without its line end; nothing at the end of the input or on a stop.
    std::optional<std::string> Ask(std::string_view question, bool hidden = false);
    // A yes/no question; an empty answer gives current. Nothing as for Ask.
    std::optional<bool> AskYesNo(std::string_view question, bool current);
    // Writes the text as it stands.
    void Say(std::string_view text);

  private:
    std::optional<std::string> ReadLine();

    int input_;
    int output_;
    int wake_;
};

}  // namespace zephyrate
