// A real HTTP server on 127.0.0.1 whose areas want a login: every path below /basic asks for
// Basic, every path below /digest for Digest (checked here: cpp-httplib has none);
// /status/N answers with status N. An empty user and password is a login like any other.
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

#include "platform/HttpFile.h"
#include "tests/support/TestHttpServer.h"

namespace zephyrate::test {

class LoginServer {
  public:
    LoginServer(std::string user, std::string password);

    std::string Url(std::string_view path) const { return server_.Url(path); }
    // "127.0.0.1:port" + path: an address as the user types it, without "http://".
    std::string Address(std::string_view path) const { return Url(path).substr(7); }

    // What a client got: "STATUS BODY", the body read to its end; "none" without a response.
    static std::string Reply(HttpFile* response);
    // The reply for an accepted page.
    static std::string Served(std::string_view path) { return "200 " + Body(path); }

    void SetLogin(std::string user, std::string password);
    // After the next accepted request, the next `logins` requests that offer a login are
    // refused whatever they offer (a server that lost its sessions); then all is as before.
    void RefuseAfterNextAccept(std::size_t logins);

    // The Authorization header of every request so far, empty when none was sent.
    std::vector<std::string> Authorizations() const;
    // Requests for exactly this path that were answered with the page.
    std::size_t AcceptedCount(std::string_view path) const;

  private:
    static std::string Body(std::string_view path) { return "secret of " + std::string(path); }
    void Answer(const httplib::Request& req, httplib::Response& res, bool digest);

    mutable std::mutex mutex_;
    std::string user_;
    std::string password_;
    std::size_t refuseAfterAccept_ = 0;
    std::size_t refuseNow_ = 0;
    std::vector<std::string> authorizations_;
    std::vector<std::string> accepted_;  // the paths answered with the page
    TestHttpServer server_;              // last: its handlers use the members above until it stops
};

}  // namespace zephyrate::test
