// The web site of the tests: a real cpp-httplib server on 127.0.0.1 (an ephemeral port)
// that serves a folder with Last-Modified from the files' times, answers /status/N with
// status N, may guard its pages with a Basic login and may send one file slowly. Set it
// up, then Start(); it serves in its own thread until the object goes away. Counts what
// it served. After Start(), members may be called from any thread.
#pragma once

#include <httplib.h>

#include <atomic>
#include <chrono>
#include <cstddef>
#include <ctime>
#include <filesystem>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace zephyrate::test {

// The Last-Modified text of a moment given in Unix seconds.
std::string HttpDateOf(std::time_t seconds);

class TestSite {
  public:
    TestSite();
    ~TestSite();
    TestSite(const TestSite&) = delete;
    TestSite& operator=(const TestSite&) = delete;

    // The set-up, before Start(). Handlers of a test come before the folder's.
    httplib::Server& Server() { return server_; }
    // GET and HEAD, streamed from disk, 404 when missing, 403 for "..".
    void ServeFolder(std::filesystem::path root) { root_ = std::move(root); }
    // Paths that start with `area` want this Basic login (401 with a challenge otherwise);
    // a request that passes gets its page, or "secret of PATH" where nothing else answers.
    void RequireLogin(std::string user, std::string password, std::string area = "/");
    // After the next accepted login, the next `logins` requests that offer one are refused
    // whatever they offer (a server that lost its sessions); then all is as before.
    void RefuseAfterNextAccept(std::size_t logins) { refuseAfterAccept_ = logins; }
    // `path` answers with `size` bytes in 64 KiB blocks, each after `pause` until Hurry().
    void ServeSlowFile(std::string path, std::size_t size, std::chrono::milliseconds pause);
    // Binds (port 0: an ephemeral one); returns when the server accepts connections.
    void Start(int port = 0);
    void Hurry() { slow_ = false; }

    int Port() const { return port_; }
    std::string Url(std::string_view path) const {
        return "http://127.0.0.1:" + std::to_string(port_) + std::string(path);
    }
    // An address as the user types it, without "http://".
    std::string Address(std::string_view path) const { return Url(path).substr(7); }

    std::size_t RequestCount() const { return requests_; }
    // Distinct client connections (by remote port).
    std::size_t ConnectionCount() const;
    // Requests for exactly this path that passed the login.
    std::size_t AcceptedCount(std::string_view path) const;
    // Requests to the guarded area that offered a login and were refused.
    std::size_t RefusedLogins() const { return refused_; }

  private:
    bool LetIn(const httplib::Request& request, httplib::Response& response);
    void ServeFile(const httplib::Request& request, httplib::Response& response) const;

    std::filesystem::path root_;
    std::optional<std::string> area_;
    std::string expected_;  // the Authorization header that passes
    std::atomic<bool> slow_{true};

    std::atomic<std::size_t> requests_ = 0;
    std::atomic<std::size_t> refused_ = 0;
    mutable std::mutex mutex_;
    std::set<int> remotePorts_;
    std::size_t refuseAfterAccept_ = 0;
    std::size_t refuseNow_ = 0;
    std::vector<std::string> accepted_;

    int port_ = 0;
    httplib::Server server_;  // after the members its handlers use
    std::jthread thread_;     // last: joins first
};

}  // namespace zephyrate::test
