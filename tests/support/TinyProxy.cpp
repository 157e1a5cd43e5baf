#include "tests/support/TinyProxy.h"

#include <chrono>
#include <stdexcept>
#include <thread>

#include "tests/support/RawHttpServer.h"

namespace zephyrate::test {

TinyProxy::TinyProxy(const std::string& user, const std::string& password) {
    const std::string login = user.empty() ? "" : "BasicAuth " + user + " " + password + "\n";
    // tinyproxy wants a fixed port in its configuration, so another process may take the
    // free port first: try again.
    for (int attempt = 0; attempt < 5; ++attempt) {
        if (Launch(FreeLoopbackPort(), login)) {
            return;
        }
    }
    throw std::runtime_error("tinyproxy did not start");
}

bool TinyProxy::Launch(int port, const std::string& login) {
    const std::string config = "Port " + std::to_string(port) +
                               "\nListen 127.0.0.1\nTimeout 60\nLogFile \"" +
                               (folder_ / "tinyproxy.log").string() +
                               "\"\nLogLevel Info\nMaxClients 20\nAllow 127.0.0.1\n" + login;
    process_.emplace(ChildProcess::Strings{"/usr/bin/tinyproxy", "-d", "-c",
                                           folder_.WriteFile("tinyproxy.conf", config).string()},
                     ChildProcess::CleanEnvironment());
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    // It logs that it accepts connections once it listens, and ends at once when the port
    // was taken meanwhile.
    while (process_->Running() && std::chrono::steady_clock::now() < deadline) {
        if (Log().find("Accepting connections") != std::string::npos) {
            port_ = port;
            return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    process_.reset();
    return false;
}

}  // namespace zephyrate::test
