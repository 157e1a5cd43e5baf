// A real HTTP server on 127.0.0.1 whose areas want a login, for the HTTP layer's and the
// engine's tests. Every path below /basic asks for Basic, every path below /digest for
// Digest (checked here: cpp-httplib has none); /status/N answers with status N; other
// paths give 404. An accepted page's body is Body(path). The login can change at any time;
// an empty user and password is a login like any other. Every request is recorded.
//
// Threads: all members may be called from any thread while it serves. Lifetime: make it
// before, and so end it after, every InternetSession that used it; a server that stops
// while a session holds an idle connection to it waits for that connection's keep-alive.
#pragma once

#include <cstddef>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "tests/support/TestHttpServer.h"

namespace zephyrate::test {

class LoginServer {
  public:
    struct Request {
        std::string path;
        std::string authorization;  // the Authorization header, empty when none was sent
        bool accepted = false;      // answered with the page (not 401)
    };

    LoginServer(std::string user, std::string password);

    int Port() const { return server_.Port(); }
    std::string Url(std::string_view path) const { return server_.Url(path); }
    // "127.0.0.1:port" + path: an address as the user types it, without "http://".
    std::string Address(std::string_view path) const;
    static std::string Body(std::string_view path) { return "secret of " + std::string(path); }

    void SetLogin(std::string user, std::string password);
    // After the next accepted request, the next `logins` requests that offer a login are
    // refused whatever they offer (a server that lost its sessions); then all is as before.
    void RefuseAfterNextAccept(std::size_t logins);

    std::vector<Request> Requests() const;
    std::vector<std::string> Authorizations() const;
    // Requests for exactly this path, all of them or only the accepted ones.
    std::size_t RequestCount(std::string_view path) const;
    std::size_t AcceptedCount(std::string_view path) const;

  private:
    struct Login {
        std::string user;
        std::string password;
    };

    void Answer(const httplib::Request& req, httplib::Response& res, bool digest);
    static bool BasicAccepted(const httplib::Request& req, const Login& login);
    static bool DigestAccepted(const httplib::Request& req, const Login& login);

    mutable std::mutex mutex_;
    Login login_;
    std::size_t refuseAfterAccept_ = 0;
    std::size_t refuseNow_ = 0;
    std::vector<Request> requests_;
    TestHttpServer server_;  // last: its handlers use the members above until it stops
};

}  // namespace zephyrate::test
