#include "tests/support/RawHttpServer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <stdexcept>

namespace zephyrate::test {

namespace {

sockaddr_in Loopback(int port) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    return address;
}

// A new socket bound to an ephemeral port of 127.0.0.1, whose number goes to port; -1 on
// failure.
int BindEphemeral(int& port) {
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address = Loopback(0);
    socklen_t length = sizeof address;
    if (bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        close(fd);
        fd = -1;
    }
    port = fd >= 0 ? ntohs(address.sin_port) : 0;
    return fd;
}

// Waits for the socket to become readable; false when the stop signal or the time-out
// came first.
bool WaitReadable(int socket, int stopSignal, int timeoutMs) {
    pollfd fds[2] = {{socket, POLLIN, 0}, {stopSignal, POLLIN, 0}};
    int ready = 0;
    do {
        ready = poll(fds, 2, timeoutMs);
    } while (ready < 0 && errno == EINTR);
    return ready > 0 && (fds[1].revents & POLLIN) == 0 && fds[0].revents != 0;
}

}  // namespace

int FreeLoopbackPort() {
    int port = 0;
    close(BindEphemeral(port));
    return port;
}

bool LoopbackAccepts(int port) {
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const sockaddr_in address = Loopback(port);
    const bool accepted =
        connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
    close(fd);
    return accepted;
}

std::string RawHttpServer::Connection::ReadRequest() {
    std::string request;
    char chunk[4096];
    while (socket_ >= 0 && request.find("\r\n\r\n") == std::string::npos &&
           WaitReadable(socket_, stopSignal_, 10000)) {
        const ssize_t n = recv(socket_, chunk, sizeof chunk, 0);
        if (n <= 0) {
            break;
        }
        request.append(chunk, static_cast<std::size_t>(n));
    }
    return request;
}

void RawHttpServer::Connection::Send(std::string_view bytes) {
    while (socket_ >= 0 && !bytes.empty()) {
        const ssize_t n = send(socket_, bytes.data(), bytes.size(), MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return;
        }
        bytes.remove_prefix(static_cast<std::size_t>(n));
    }
}

void RawHttpServer::Connection::Reset() {
    linger hard{1, 0};
    setsockopt(socket_, SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
    close(socket_);
    socket_ = -1;
}

void RawHttpServer::Connection::WaitForClientClose(std::chrono::milliseconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    char sink[4096];
    while (socket_ >= 0) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                              deadline - std::chrono::steady_clock::now())
                              .count();
        if (left <= 0 || !WaitReadable(socket_, stopSignal_, static_cast<int>(left)) ||
            recv(socket_, sink, sizeof sink, 0) <= 0) {
            return;  // time is up, the server stops, or the client closed (or reset) its end
        }
    }
}

RawHttpServer::RawHttpServer(Script script) : script_(std::move(script)) {
    listener_ = BindEphemeral(port_);
    if (listener_ < 0 || listen(listener_, 16) != 0 || pipe(stopPipe_) != 0) {
        close(listener_);
        throw std::runtime_error("raw test server cannot listen on 127.0.0.1");
    }
    thread_ = std::thread([this] { Serve(); });
}

RawHttpServer::~RawHttpServer() {
    const char stop = 's';
    (void)!write(stopPipe_[1], &stop, 1);
    thread_.join();
    close(listener_);
    close(stopPipe_[0]);
    close(stopPipe_[1]);
}

std::string RawHttpServer::Url(std::string_view path) const {
    return "http://127.0.0.1:" + std::to_string(port_) + std::string(path);
}

void RawHttpServer::Serve() {
    while (WaitReadable(listener_, stopPipe_[0], -1)) {
        Connection connection(accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC), stopPipe_[0]);
        if (connection.socket_ >= 0) {
            script_(connection);
            close(connection.socket_);
        }
    }
}

}  // namespace zephyrate::test
