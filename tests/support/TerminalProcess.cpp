#include "tests/support/TerminalProcess.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <cstdlib>
#include <stdexcept>

#include "tests/support/ChildStart.h"

namespace zephyrate::test {

namespace {

using Clock = std::chrono::steady_clock;

}  // namespace

TerminalProcess::TerminalProcess(const std::vector<std::string>& arguments,
                                 const std::vector<std::string>& environment) {
    if (arguments.empty()) {
        throw std::invalid_argument("no program to run");
    }
    master_ = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master_ < 0 || grantpt(master_) != 0 || unlockpt(master_) != 0) {
        throw std::runtime_error("no pseudo-terminal");
    }
    const char* name = ptsname(master_);
    slave_ = name == nullptr ? -1 : open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (slave_ < 0) {
        throw std::runtime_error("cannot open the pseudo-terminal");
    }
    const winsize size{24, 100, 0, 0};
    (void)ioctl(master_, TIOCSWINSZ, &size);

    std::vector<char*> argv = ExecPointers(arguments);
    std::vector<char*> envp = ExecPointers(environment);
    pid_ = fork();
    if (pid_ < 0) {
        throw std::runtime_error("fork failed");
    }
    if (pid_ == 0) {
        // A session of its own with the terminal as its controlling terminal.
        if (setsid() < 0 || ioctl(slave_, TIOCSCTTY, 0) != 0 || dup2(slave_, STDIN_FILENO) < 0 ||
            dup2(slave_, STDOUT_FILENO) < 0 || dup2(slave_, STDERR_FILENO) < 0) {
            _exit(126);
        }
        ExecInChild(argv, envp);
    }
}

TerminalProcess::~TerminalProcess() {
    if (pid_ > 0 && !code_) {
        kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
    }
    close(slave_);
    close(master_);
}

void TerminalProcess::Take(std::chrono::milliseconds limit) {
    pollfd ready{master_, POLLIN, 0};
    int wait = static_cast<int>(limit.count());
    while (poll(&ready, 1, wait) > 0 && (ready.revents & POLLIN) != 0) {
        char chunk[4096];
        const ssize_t got = read(master_, chunk, sizeof chunk);
        if (got <= 0) {
            return;
        }
        screen_.append(chunk, static_cast<std::size_t>(got));
        wait = 0;  // take what is there, without waiting for more
    }
}

bool TerminalProcess::WaitFor(std::string_view text, std::chrono::milliseconds limit) {
    const auto deadline = Clock::now() + limit;
    for (;;) {
        if (const std::size_t at = screen_.find(text, searched_); at != std::string::npos) {
            searched_ = at + text.size();
            return true;
        }
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        if (left.count() <= 0) {
            return false;
        }
        Take(std::min(left, std::chrono::milliseconds(20)));
    }
}

void TerminalProcess::Type(std::string_view text) {
    while (!text.empty()) {
        const ssize_t put = write(master_, text.data(), text.size());
        if (put <= 0) {
            return;
        }
        text.remove_prefix(static_cast<std::size_t>(put));
    }
}

std::optional<int> TerminalProcess::Wait(std::chrono::milliseconds limit) {
    const auto deadline = Clock::now() + limit;
    while (!code_) {
        // The child blocks once the terminal is full, so its output is taken meanwhile.
        Take(std::chrono::milliseconds(5));
        int status = 0;
        const pid_t ended = waitpid(pid_, &status, WNOHANG);
        if (ended == pid_) {
            code_ = ExitCodeOf(status);
        } else if (ended < 0 || Clock::now() >= deadline) {
            break;
        }
    }
    Take(std::chrono::milliseconds(0));
    return code_;
}

bool TerminalProcess::Echoes() const {
    termios settings{};
    return tcgetattr(slave_, &settings) == 0 && (settings.c_lflag & ECHO) != 0;
}

}  // namespace zephyrate::test
