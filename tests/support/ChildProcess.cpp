#include "tests/support/ChildProcess.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <stdexcept>
#include <thread>

#include "platform/AsciiText.h"

extern char** environ;

namespace zephyrate::test {

namespace {

using Clock = std::chrono::steady_clock;

// Pointers into the texts, ending with nullptr; valid while the texts live.
std::vector<char*> Pointers(const ChildProcess::Strings& texts) {
    std::vector<char*> pointers(texts.size() + 1, nullptr);
    std::ranges::transform(texts, pointers.begin(),
                           [](const std::string& text) { return const_cast<char*>(text.c_str()); });
    return pointers;
}

}  // namespace

ChildProcess::ChildProcess(const Strings& arguments, const Strings& environment, Io io) {
    std::string in = "/dev/null";
    std::string out = folder_ / "out";
    std::string err = folder_ / "err";
    short flags = POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF;
    if (io == Io::Terminal) {
        master_.Reset(posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC));
        const bool made = grantpt(master_.Get()) == 0 && unlockpt(master_.Get()) == 0;
        in = out = err = made ? ptsname(master_.Get()) : "";
        slave_.Reset(open(in.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC));
        if (!slave_.Valid()) {
            throw std::runtime_error("no pseudo-terminal");
        }
        // A session leader that opens a terminal without O_NOCTTY gets it as its
        // controlling terminal.
        flags |= POSIX_SPAWN_SETSID;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    const std::unique_ptr<posix_spawn_file_actions_t, int (*)(posix_spawn_file_actions_t*)>
        actionsGuard(&actions, posix_spawn_file_actions_destroy);
    // The actions keep copies of the names.
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, in.c_str(), O_RDWR, 0);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, out.c_str(), O_RDWR | O_CREAT, 0600);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, err.c_str(), O_RDWR | O_CREAT, 0600);
    // The test's own sockets stay with the test.
    posix_spawn_file_actions_addclosefrom_np(&actions, STDERR_FILENO + 1);
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    const std::unique_ptr<posix_spawnattr_t, int (*)(posix_spawnattr_t*)> attributesGuard(
        &attributes, posix_spawnattr_destroy);
    // All signals unblocked and at their default: the test runner may block or ignore the
    // stop signals that the program must see as a user's.
    sigset_t none;
    sigset_t all;
    sigemptyset(&none);
    sigfillset(&all);
    posix_spawnattr_setsigmask(&attributes, &none);
    posix_spawnattr_setsigdefault(&attributes, &all);
    posix_spawnattr_setflags(&attributes, flags);
    const std::vector<char*> argv = Pointers(arguments);
    const std::vector<char*> envp = Pointers(environment);
    if (posix_spawn(&pid_, argv[0], &actions, &attributes, argv.data(), envp.data()) != 0) {
        throw std::runtime_error("cannot start " + arguments.at(0));
    }
}

void ChildProcess::Signal(int signal) {
    if (!code_ && pid_ > 0) {
        kill(pid_, signal);
    }
}

bool ChildProcess::Running() {
    int status = 0;
    if (!code_ && pid_ > 0 && waitpid(pid_, &status, WNOHANG) == pid_) {
        code_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }
    return !code_ && pid_ > 0;
}

std::optional<int> ChildProcess::Wait(std::chrono::milliseconds limit) {
    const auto deadline = Clock::now() + limit;
    while (Running()) {
        if (Clock::now() >= deadline) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
            pid_ = -1;
        } else {
            Take(std::chrono::milliseconds(5));  // a full terminal would block the child
        }
    }
    Take(std::chrono::milliseconds(0));
    return code_;
}

std::string ChildProcess::Out() const {
    return master_.Valid() ? screen_ : TempFolder::ReadFile(folder_ / "out");
}

void ChildProcess::Take(std::chrono::milliseconds limit) {
    if (!master_.Valid()) {
        std::this_thread::sleep_for(limit);
        return;
    }
    pollfd ready{master_.Get(), POLLIN, 0};
    char chunk[4096];
    // Waits for the first bytes only, then takes what is there.
    for (int wait = static_cast<int>(limit.count()); poll(&ready, 1, wait) > 0; wait = 0) {
        const ssize_t got = read(master_.Get(), chunk, sizeof chunk);
        if (got <= 0) {
            return;
        }
        screen_.append(chunk, static_cast<std::size_t>(got));
    }
}

bool ChildProcess::WaitFor(std::string_view text, std::chrono::milliseconds limit) {
    const auto deadline = Clock::now() + limit;
    std::size_t at = std::string::npos;
    while ((at = screen_.find(text, searched_)) == std::string::npos && Clock::now() < deadline) {
        Take(std::chrono::milliseconds(20));
    }
    searched_ = at == std::string::npos ? searched_ : at + text.size();
    return at != std::string::npos;
}

ChildProcess::Result ChildProcess::Run(const Strings& arguments, const Strings& environment,
                                       std::chrono::milliseconds limit) {
    ChildProcess child(arguments, environment);
    const std::optional<int> code = child.Wait(limit);
    return {code.value_or(-1), child.Out(), child.Err()};
}

ChildProcess::Strings ChildProcess::CleanEnvironment() {
    Strings kept;
    for (char** entry = environ; *entry != nullptr; ++entry) {
        const std::string name = AsciiLowered(std::string(*entry, std::strcspn(*entry, "=")));
        if (!name.starts_with("zephyrate_") && !name.starts_with("xdg_") &&
            !name.ends_with("_proxy")) {
            kept.emplace_back(*entry);
        }
    }
    return kept;
}

}  // namespace zephyrate::test
