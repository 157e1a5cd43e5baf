#include "tests/support/TinyProxy.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <stdexcept>
#include <thread>

#include "tests/support/RawHttpServer.h"

namespace zephyrate::test {

constexpr const char* kProgram = "/usr/bin/tinyproxy";

TinyProxy::TinyProxy(const std::string& user, const std::string& password) {
    if (access(kProgram, X_OK) != 0) {
        throw std::runtime_error("tinyproxy is not installed");
    }
    const std::string login = user.empty() ? "" : "BasicAuth " + user + " " + password + "\n";
    // tinyproxy wants a fixed port in its configuration, so another process may take the
    // free port first: try again.
    for (int attempt = 0; attempt < 5; ++attempt) {
        const int port = FreeLoopbackPort();
        if (port > 0 && Launch(port, login)) {
            return;
        }
    }
    throw std::runtime_error("tinyproxy did not start; see " + (folder_ / "output").string());
}

bool TinyProxy::Launch(int port, const std::string& login) {
    const std::string config = "Port " + std::to_string(port) +
                               "\nListen 127.0.0.1\nTimeout 60\nLogFile \"" +
                               (folder_ / "tinyproxy.log").string() +
                               "\"\nLogLevel Info\nMaxClients 20\nAllow 127.0.0.1\n" + login;
    const std::string configFile = folder_.WriteFile("tinyproxy.conf", config).string();
    const std::string output = (folder_ / "output").string();
    pid_ = fork();
    if (pid_ == 0) {  // only async-signal-safe calls until exec
        const int out = open(output.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0600);
        dup2(open("/dev/null", O_RDONLY), STDIN_FILENO);
        dup2(out, STDOUT_FILENO);
        dup2(out, STDERR_FILENO);
        execl(kProgram, kProgram, "-d", "-c", configFile.c_str(), nullptr);
        _exit(127);
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (pid_ > 0 && std::chrono::steady_clock::now() < deadline) {
        if (waitpid(pid_, nullptr, WNOHANG) == pid_) {
            pid_ = -1;  // it ended, most likely because the port was taken meanwhile
            return false;
        }
        if (LoopbackAccepts(port)) {
            port_ = port;
            return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    Stop();
    return false;
}

void TinyProxy::Stop() {
    if (pid_ > 0) {
        kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
    }
    pid_ = -1;
}

}  // namespace zephyrate::test
