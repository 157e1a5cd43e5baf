#include "tests/support/RawHttpServer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>

#include <cstdint>
#include <stdexcept>

namespace zephyrate::test {

namespace {

using Clock = std::chrono::steady_clock;

sockaddr_in Loopback(int port) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    return address;
}

// A socket that listens on an ephemeral port of 127.0.0.1, whose number goes to port.
ScopedFd ListenEphemeral(int& port) {
    ScopedFd fd(socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    sockaddr_in address = Loopback(0);
    socklen_t length = sizeof address;
    if (bind(fd.Get(), reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        listen(fd.Get(), 16) != 0 ||
        getsockname(fd.Get(), reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        throw std::runtime_error("cannot listen on 127.0.0.1");
    }
    port = ntohs(address.sin_port);
    return fd;
}

// Waits for the socket to become readable; false when the stop signal or the time-out
// came first.
bool WaitReadable(int socket, int stopSignal, std::chrono::milliseconds limit) {
    pollfd fds[2] = {{socket, POLLIN, 0}, {stopSignal, POLLIN, 0}};
    // No handler of the test process interrupts it: a failure is one.
    return poll(fds, 2, static_cast<int>(limit.count())) > 0 && (fds[1].revents & POLLIN) == 0 &&
           fds[0].revents != 0;
}

}  // namespace

int FreeLoopbackPort() {
    int port = 0;
    ListenEphemeral(port);
    return port;
}

bool RawHttpServer::Connection::Receive(std::string& into, std::chrono::milliseconds limit) {
    char chunk[4096];
    if (!socket_.Valid() || limit.count() <= 0 ||
        !WaitReadable(socket_.Get(), stopSignal_, limit)) {
        return false;
    }
    const ssize_t n = recv(socket_.Get(), chunk, sizeof chunk, 0);
    into.append(chunk, n > 0 ? static_cast<std::size_t>(n) : 0);
    return n > 0;
}

std::string RawHttpServer::Connection::ReadRequest() {
    std::string request;
    while (request.find("\r\n\r\n") == std::string::npos &&
           Receive(request, std::chrono::seconds(10))) {
    }
    return request;
}

void RawHttpServer::Connection::Send(std::string_view bytes) {
    while (socket_.Valid() && !bytes.empty()) {
        const ssize_t n = send(socket_.Get(), bytes.data(), bytes.size(), MSG_NOSIGNAL);
        if (n <= 0) {
            return;
        }
        bytes.remove_prefix(static_cast<std::size_t>(n));
    }
}

void RawHttpServer::Connection::WaitForClientClose(std::chrono::milliseconds limit) {
    const auto deadline = Clock::now() + limit;
    std::string ignored;
    while (
        Receive(ignored, std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()))) {
        ignored.clear();
    }
}

RawHttpServer::RawHttpServer(Script script)
    : script_(std::move(script)),
      listener_(ListenEphemeral(port_)),
      stop_(eventfd(0, EFD_CLOEXEC)),
      thread_([this] { Serve(); }) {}

RawHttpServer::~RawHttpServer() {
    const std::uint64_t stop = 1;
    (void)!write(stop_.Get(), &stop, sizeof stop);  // then the thread joins
}

void RawHttpServer::Serve() {
    while (WaitReadable(listener_.Get(), stop_.Get(), std::chrono::milliseconds(-1))) {
        Connection connection(accept4(listener_.Get(), nullptr, nullptr, SOCK_CLOEXEC),
                              stop_.Get());
        if (connection.socket_.Valid()) {
            script_(connection);
        }
    }
}

}  // namespace zephyrate::test
