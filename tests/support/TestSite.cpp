#include "tests/support/TestSite.h"

#include <sys/stat.h>

#include <algorithm>
#include <fstream>
#include <memory>
#include <stdexcept>
#include <utility>

namespace zephyrate::test {

constexpr std::size_t kBlock = 64 * 1024;

std::string HttpDateOf(std::time_t seconds) {
    std::tm parts{};
    gmtime_r(&seconds, &parts);
    char text[64];
    return {text, std::strftime(text, sizeof text, "%a, %d %b %Y %H:%M:%S GMT", &parts)};
}

TestSite::TestSite() {
    // Connection reuse is under test: do not let the server end connections early.
    server_.set_keep_alive_max_count(1000);
    server_.set_keep_alive_timeout(30);
    // Headers and body go out in separate writes; without this, Nagle's algorithm and the
    // client's delayed ACK add 40 ms to many responses.
    server_.set_tcp_nodelay(true);
    // Counted before the handler runs, so a count is complete once a response arrived.
    server_.set_pre_routing_handler(
        [this](const httplib::Request& request, httplib::Response& response) {
            {
                std::lock_guard lock(mutex_);
                remotePorts_.insert(request.remote_port);
            }
            ++requests_;
            return LetIn(request, response) ? httplib::Server::HandlerResponse::Unhandled
                                            : httplib::Server::HandlerResponse::Handled;
        });
}

TestSite::~TestSite() {
    server_.stop();  // then the thread joins
}

void TestSite::RequireLogin(std::string user, std::string password, std::string area) {
    area_ = std::move(area);
    expected_ = httplib::make_basic_authentication_header(user, password).second;
}

void TestSite::ServeSlowFile(std::string path, std::size_t size, std::chrono::milliseconds pause) {
    server_.Get(path, [this, size, pause](const httplib::Request&, httplib::Response& response) {
        response.set_header("Last-Modified", HttpDateOf(1'700'000'000));
        response.set_content_provider(
            size, "application/octet-stream",
            [this, pause, block = std::string(kBlock, 'z')](std::size_t, std::size_t length,
                                                            httplib::DataSink& sink) {
                if (slow_) {
                    std::this_thread::sleep_for(pause);
                }
                return sink.write(block.data(), std::min(length, block.size()));
            });
    });
}

bool TestSite::LetIn(const httplib::Request& request, httplib::Response& response) {
    if (!area_ || !request.path.starts_with(*area_)) {
        return true;
    }
    const std::string offered = request.get_header_value("Authorization");
    std::lock_guard lock(mutex_);
    bool accepted = offered == expected_;
    if (refuseNow_ > 0 && !offered.empty()) {
        --refuseNow_;
        accepted = false;
    } else if (accepted && refuseAfterAccept_ > 0) {
        refuseNow_ = std::exchange(refuseAfterAccept_, 0);
    }
    if (accepted) {
        accepted_.push_back(request.path);
        return true;
    }
    refused_ += offered.empty() ? 0 : 1;
    response.status = 401;
    response.set_header("WWW-Authenticate", "Basic realm=\"zephyrate\"");
    response.set_content("login please", "text/plain");
    return false;
}

void TestSite::Start(int port) {
    server_.Get(R"(/status/(\d+))", [](const auto& request, auto& response) {
        response.status = std::stoi(request.matches[1].str());
        response.set_content("status " + request.matches[1].str(), "text/plain");
    });
    server_.Get(R"(/.*)", [this](const httplib::Request& request, httplib::Response& response) {
        ServeFile(request, response);
    });
    port_ = port == 0 ? server_.bind_to_any_port("127.0.0.1")
                      : (server_.bind_to_port("127.0.0.1", port) ? port : -1);
    if (port_ <= 0) {
        throw std::runtime_error("test site cannot bind to 127.0.0.1");
    }
    thread_ = std::jthread([this] { server_.listen_after_bind(); });
    while (!server_.is_running()) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
}

void TestSite::ServeFile(const httplib::Request& request, httplib::Response& response) const {
    // httplib has already decoded the path; ".." is refused wherever it appears.
    const std::filesystem::path relative = request.path.substr(1);
    if (std::find(relative.begin(), relative.end(), "..") != relative.end()) {
        response.status = 403;
        return;
    }
    const std::filesystem::path file = root_ / relative;
    struct stat info {};
    if (root_.empty() || stat(file.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) {
        if (area_ && request.path.starts_with(*area_)) {
            response.set_content("secret of " + request.path, "text/plain");
        } else {
            response.status = 404;
        }
        return;
    }
    response.set_header("Last-Modified", HttpDateOf(info.st_mtime));
    if (info.st_size == 0) {
        response.set_content("", "application/octet-stream");  // a provider would send no length
        return;
    }
    // Streamed, so that a big file never sits in memory whole.
    auto in = std::make_shared<std::ifstream>(file, std::ios::binary);
    response.set_content_provider(
        static_cast<std::size_t>(info.st_size), "application/octet-stream",
        [in, buffer = std::vector<char>(4 * kBlock)](std::size_t offset, std::size_t length,
                                                     httplib::DataSink& sink) mutable {
            in->seekg(static_cast<std::streamoff>(offset));
            in->read(buffer.data(), static_cast<std::streamsize>(std::min(length, buffer.size())));
            // A file that shrank or failed cuts the response.
            return in->gcount() > 0 && sink.write(buffer.data(), in->gcount());
        });
}

std::size_t TestSite::ConnectionCount() const {
    std::lock_guard lock(mutex_);
    return remotePorts_.size();
}

std::size_t TestSite::AcceptedCount(std::string_view path) const {
    std::lock_guard lock(mutex_);
    return static_cast<std::size_t>(std::ranges::count(accepted_, path));
}

}  // namespace zephyrate::test
