// A tiny HTTP server on raw sockets at 127.0.0.1 for servers that misbehave on purpose
// (announce more than they send, stall). Each accepted connection is handed, one
// at a time in the server's own thread, to a script that reads the request and writes
// what it likes; the connection is closed when the script returns. The destructor stops
// the thread and wakes a script that waits.
#pragma once

#include <chrono>
#include <functional>
#include <string>
#include <string_view>
#include <thread>

#include "platform/ScopedFd.h"

namespace zephyrate::test {

// A port on 127.0.0.1 that was free a moment ago.
int FreeLoopbackPort();

class RawHttpServer {
  public:
    class Connection {
      public:
        Connection(int socket, int stopSignal) : socket_(socket), stopSignal_(stopSignal) {}
        // Reads up to the blank line after the request headers; empty when the client
        // closed first.
        std::string ReadRequest();
        // Best effort; a client that went away is not an error here.
        void Send(std::string_view bytes);
        // Returns when the client closed its end, the server stops, or the limit passed.
        void WaitForClientClose(std::chrono::milliseconds limit);

      private:
        friend class RawHttpServer;
        // Appends what arrives within the time; false when nothing more can.
        bool Receive(std::string& into, std::chrono::milliseconds limit);

        ScopedFd socket_;
        int stopSignal_;
    };
    using Script = std::function<void(Connection&)>;

    // Starts listening on an ephemeral port and serving with the script.
    explicit RawHttpServer(Script script);
    ~RawHttpServer();
    RawHttpServer(const RawHttpServer&) = delete;
    RawHttpServer& operator=(const RawHttpServer&) = delete;

    int Port() const { return port_; }
    std::string Url(std::string_view path) const {
        return "http://127.0.0.1:" + std::to_string(port_) + std::string(path);
    }

  private:
    void Serve();

    Script script_;
    int port_ = 0;  // before the listener, which sets it
    ScopedFd listener_;
    ScopedFd stop_;        // an eventfd, written once to wake every wait
    std::jthread thread_;  // last: joins first
};

}  // namespace zephyrate::test
