#include "tests/support/ChildProcess.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <stdexcept>
#include <thread>

#include "platform/AsciiText.h"
#include "tests/support/ChildStart.h"

extern char** environ;

namespace zephyrate::test {

ChildProcess::ChildProcess(const std::vector<std::string>& arguments,
                           const std::vector<std::string>& environment) {
    if (arguments.empty()) {
        throw std::invalid_argument("no program to run");
    }
    // Everything the child needs is made before fork: after it only exec-safe calls.
    const std::string out = (folder_ / "out").string();
    const std::string err = (folder_ / "err").string();
    std::vector<char*> argv = ExecPointers(arguments);
    std::vector<char*> envp = ExecPointers(environment);
    pid_ = fork();
    if (pid_ < 0) {
        throw std::runtime_error("fork failed");
    }
    if (pid_ == 0) {
        const int in = open("/dev/null", O_RDONLY);
        const int outFd = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        const int errFd = open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        if (in < 0 || outFd < 0 || errFd < 0 || dup2(in, STDIN_FILENO) < 0 ||
            dup2(outFd, STDOUT_FILENO) < 0 || dup2(errFd, STDERR_FILENO) < 0) {
            _exit(126);
        }
        ExecInChild(argv, envp);
    }
}

ChildProcess::~ChildProcess() {
    if (pid_ > 0 && !code_) {
        kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
    }
}

void ChildProcess::Signal(int signal) {
    if (pid_ > 0 && !code_) {
        kill(pid_, signal);
    }
}

std::optional<int> ChildProcess::Wait(std::chrono::milliseconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!code_) {
        int status = 0;
        const pid_t ended = waitpid(pid_, &status, WNOHANG);
        if (ended == pid_) {
            code_ = ExitCodeOf(status);
        } else if (ended < 0 || std::chrono::steady_clock::now() >= deadline) {
            break;
        } else {
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
    }
    return code_;
}

ChildProcess::Result ChildProcess::Run(const std::vector<std::string>& arguments,
                                       const std::vector<std::string>& environment,
                                       std::chrono::milliseconds limit) {
    ChildProcess child(arguments, environment);
    const std::optional<int> code = child.Wait(limit);
    return {code.value_or(-1), child.Out(), child.Err()};
}

std::vector<std::string> ChildProcess::CleanEnvironment() {
    std::vector<std::string> kept;
    for (char** entry = environ; *entry != nullptr; ++entry) {
        const std::string text = *entry;
        const std::string name = AsciiLowered(text.substr(0, text.find('=')));
        if (name.starts_with("zephyrate_") || name.starts_with("xdg_") ||
            name.ends_with("_proxy")) {
            continue;
        }
        kept.push_back(text);
    }
    return kept;
}

}  // namespace zephyrate::test
