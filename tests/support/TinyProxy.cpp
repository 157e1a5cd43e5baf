#include "tests/support/TinyProxy.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <stdexcept>
#include <thread>

namespace zephyrate::test {

namespace {

constexpr const char* kProgram = "/usr/bin/tinyproxy";

// A port that was free a moment ago. tinyproxy wants a fixed port in its configuration,
// so a race with another process is possible; Launch retries.
int FreePort() {
    int probe = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    int port = 0;
    if (probe >= 0 && bind(probe, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
        getsockname(probe, reinterpret_cast<sockaddr*>(&address), &length) == 0) {
        port = ntohs(address.sin_port);
    }
    if (probe >= 0) {
        close(probe);
    }
    return port;
}

bool Accepts(int port) {
    int client = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    bool ok =
        client >= 0 && connect(client, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    if (client >= 0) {
        close(client);
    }
    return ok;
}

}  // namespace

TinyProxy::TinyProxy(std::string user, std::string password)
    : user_(std::move(user)), password_(std::move(password)) {
    if (access(kProgram, X_OK) != 0) {
        throw std::runtime_error("tinyproxy is not installed");
    }
    for (int attempt = 0; attempt < 5; ++attempt) {
        if (Launch(FreePort())) {
            return;
        }
    }
    throw std::runtime_error("tinyproxy did not start; see " + (folder_ / "output").string());
}

TinyProxy::~TinyProxy() {
    Stop();
}

bool TinyProxy::Launch(int port) {
    if (port <= 0) {
        return false;
    }
    const std::string config =
        "Port " + std::to_string(port) +
        "\n"
        "Listen 127.0.0.1\n"
        "Timeout 60\n"
        "LogFile \"" +
        (folder_ / "tinyproxy.log").string() +
        "\"\n"
        "LogLevel Info\n"
        "MaxClients 20\n"
        "Allow 127.0.0.1\n" +
        (user_.empty() ? std::string() : "BasicAuth " + user_ + " " + password_ + "\n");
    const std::string configFile = folder_.WriteFile("tinyproxy.conf", config).string();
    const std::string output = (folder_ / "output").string();

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, output.c_str(),
                                     O_WRONLY | O_CREAT | O_APPEND, 0600);
    posix_spawn_file_actions_adddup2(&actions, STDOUT_FILENO, STDERR_FILENO);
    std::string arg0 = kProgram, arg1 = "-d", arg2 = "-c";
    char* argv[] = {arg0.data(), arg1.data(), arg2.data(), const_cast<char*>(configFile.c_str()),
                    nullptr};
    int failed = posix_spawn(&pid_, kProgram, &actions, nullptr, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    if (failed != 0) {
        pid_ = -1;
        return false;
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (std::chrono::steady_clock::now() < deadline) {
        int status = 0;
        if (waitpid(pid_, &status, WNOHANG) == pid_) {
            pid_ = -1;  // it ended, most likely because the port was taken meanwhile
            return false;
        }
        if (Accepts(port)) {
            port_ = port;
            return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    Stop();
    return false;
}

void TinyProxy::Stop() {
    if (pid_ <= 0) {
        return;
    }
    kill(pid_, SIGTERM);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    int status = 0;
    while (waitpid(pid_, &status, WNOHANG) == 0) {
        if (std::chrono::steady_clock::now() > deadline) {
            kill(pid_, SIGKILL);
            waitpid(pid_, &status, 0);
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    pid_ = -1;
}

std::string TinyProxy::Log() const {
    return TempFolder::ReadFile(folder_ / "tinyproxy.log");
}

}  // namespace zephyrate::test
