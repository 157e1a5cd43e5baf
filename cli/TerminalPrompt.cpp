#include "cli/TerminalPrompt.h"

#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <optional>

#include "platform/AsciiText.h"

namespace zephyrate {

namespace {

// Longer than any line a terminal hands over in one piece; a flood beyond it is cut.
constexpr std::size_t kLongestLine = 64 * 1024;

// Echo off from construction to destruction; a terminal whose modes cannot be read is
// left alone.
class HiddenInput {
  public:
    explicit HiddenInput(int fd) : fd_(fd) {
        if (tcgetattr(fd_, &saved_) != 0) {
            return;
        }
        termios hidden = saved_;
        hidden.c_lflag &= ~static_cast<tcflag_t>(ECHO);
        hidden.c_lflag |= ECHONL;  // Enter still ends the line on the screen
        active_ = tcsetattr(fd_, TCSANOW, &hidden) == 0;
    }
    ~HiddenInput() {
        if (active_) {
            tcsetattr(fd_, TCSANOW, &saved_);
        }
    }
    HiddenInput(const HiddenInput&) = delete;
    HiddenInput& operator=(const HiddenInput&) = delete;

  private:
    int fd_;
    termios saved_{};
    bool active_ = false;
};

}  // namespace

TerminalPrompt::TerminalPrompt(int input, int output, int wake)
    : input_(input), output_(output), wake_(wake) {}

void TerminalPrompt::Say(std::string_view text) {
    while (!text.empty()) {
        const ssize_t written = ::write(output_, text.data(), text.size());
        if (written < 0 && errno == EINTR) {
            continue;
        }
        if (written <= 0) {
            return;  // a terminal that went away has nobody left to read it
        }
        text.remove_prefix(static_cast<std::size_t>(written));
    }
}

std::optional<std::string> TerminalPrompt::Ask(std::string_view question, bool hidden) {
    std::optional<std::string> line;
    {
        // Echo goes off before the question shows, so that nothing typed at once is seen.
        std::optional<HiddenInput> echoOff;
        if (hidden) {
            echoOff.emplace(input_);
        }
        Say(question);
        line = ReadLine();
    }
    if (!line) {
        Say("\n");  // the cursor still stands after the question
    }
    return line;
}

std::optional<bool> TerminalPrompt::AskYesNo(std::string_view question, bool current) {
    for (;;) {
        std::optional<std::string> answer = Ask(question);
        if (!answer) {
            return std::nullopt;
        }
        std::string word = AsciiLowered(*answer);
        std::erase(word, ' ');
        if (word.empty()) {
            return current;
        }
        if (word == "y" || word == "yes") {
            return true;
        }
        if (word == "n" || word == "no") {
            return false;
        }
        Say("Please answer y or n.\n");
    }
}

std::optional<std::string> TerminalPrompt::ReadLine() {
    // Byte by byte, so that nothing typed ahead for the next question is swallowed.
    std::string line;
    for (;;) {
        pollfd waits[2] = {{input_, POLLIN, 0}, {wake_, POLLIN, 0}};
        if (poll(waits, wake_ >= 0 ? 2 : 1, -1) < 0) {
            if (errno == EINTR) {
                continue;
            }
            return std::nullopt;
        }
        if (wake_ >= 0 && waits[1].revents != 0) {
            return std::nullopt;
        }
        char c = 0;
        const ssize_t got = ::read(input_, &c, 1);
        if (got < 0 && (errno == EINTR || errno == EAGAIN)) {
            continue;
        }
        if (got <= 0) {
            return std::nullopt;
        }
        if (c == '\n') {
            if (!line.empty() && line.back() == '\r') {
                line.pop_back();
            }
            return line;
        }
        if (line.size() < kLongestLine) {
            line.push_back(c);
        }
    }
}

}  // namespace zephyrate
