// A real cpp-httplib server on 127.0.0.1 with an ephemeral port, for tests. Add handlers
// through Server() before Start(); the server then runs in its own thread until the
// object goes away (stopped and joined). Counts the TCP connections it served.
#pragma once

#include <httplib.h>

#include <cstddef>
#include <mutex>
#include <set>
#include <string>
#include <string_view>
#include <thread>

namespace zephyrate::test {

class TestHttpServer {
  public:
    TestHttpServer();
    ~TestHttpServer();
    TestHttpServer(const TestHttpServer&) = delete;
    TestHttpServer& operator=(const TestHttpServer&) = delete;

    // For adding handlers; only before Start().
    httplib::Server& Server() { return server_; }
    // Binds (port 0: an ephemeral one) and starts serving; returns when the server
    // accepts connections.
    void Start(int port = 0);

    int Port() const { return port_; }
    // "http://127.0.0.1:port" + path (path starts with '/').
    std::string Url(std::string_view path) const {
        return "http://127.0.0.1:" + std::to_string(port_) + std::string(path);
    }

    // Distinct client connections (by remote port) and requests answered so far.
    std::size_t ConnectionCount() const {
        std::lock_guard lock(mutex_);
        return remotePorts_.size();
    }
    std::size_t RequestCount() const {
        std::lock_guard lock(mutex_);
        return requests_;
    }

  private:
    httplib::Server server_;
    std::thread thread_;
    int port_ = 0;
    mutable std::mutex mutex_;
    std::set<int> remotePorts_;
    std::size_t requests_ = 0;
};

}  // namespace zephyrate::test
