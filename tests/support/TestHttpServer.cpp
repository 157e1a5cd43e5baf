#include "tests/support/TestHttpServer.h"

#include <chrono>
#include <stdexcept>

namespace zephyrate::test {

TestHttpServer::TestHttpServer() {
    // Connection reuse is under test: do not let the server end connections early.
    server_.set_keep_alive_max_count(1000);
    server_.set_keep_alive_timeout(30);
    // Headers and body go out in separate writes; without this, Nagle's algorithm and the
    // client's delayed ACK add 40 ms to many responses.
    server_.set_tcp_nodelay(true);
    // Counted before the handler runs, so a count is complete once a response arrived.
    server_.set_pre_routing_handler([this](const httplib::Request& request, httplib::Response&) {
        std::lock_guard lock(mutex_);
        remotePorts_.insert(request.remote_port);
        ++requests_;
        return httplib::Server::HandlerResponse::Unhandled;
    });
}

TestHttpServer::~TestHttpServer() {
    server_.stop();
    if (thread_.joinable()) {
        thread_.join();
    }
}

void TestHttpServer::Start(int port) {
    port_ = port == 0 ? server_.bind_to_any_port("127.0.0.1")
                      : (server_.bind_to_port("127.0.0.1", port) ? port : -1);
    if (port_ <= 0) {
        throw std::runtime_error("test server cannot bind to 127.0.0.1");
    }
    thread_ = std::thread([this] { server_.listen_after_bind(); });
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!server_.is_running()) {
        if (std::chrono::steady_clock::now() > deadline) {
            throw std::runtime_error("test server did not start");
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
}

}  // namespace zephyrate::test
