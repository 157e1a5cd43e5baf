// A site for the download tests of zephyrate-sync: an index that lists big.bin, a file of
// the given size served in 64 KiB blocks with a pause before each while the site is slow,
// so that a download is still in progress when a test looks.
#pragma once

#include <algorithm>
#include <atomic>
#include <chrono>
#include <string>
#include <thread>

#include "tests/cli/SyncProgramFixture.h"
#include "tests/support/FolderServer.h"
#include "tests/support/TestHttpServer.h"

namespace zephyrate::test {

class SlowFileSite {
  public:
    SlowFileSite(std::size_t size, std::chrono::milliseconds pause) : pause_(pause) {
        server_.Server().Get("/index.txt", [](const httplib::Request&, httplib::Response& reply) {
            reply.set_content(std::string(kIndexHead) + "File: big.bin\n", "text/plain");
        });
        server_.Server().Get(
            "/big.bin", [this, size](const httplib::Request&, httplib::Response& reply) {
                reply.set_header("Last-Modified", HttpDateOf(kStamp));
                reply.set_content_provider(
                    size, "application/octet-stream",
                    [this](std::size_t, std::size_t length, httplib::DataSink& sink) {
                        if (slow_) {
                            std::this_thread::sleep_for(pause_);
                        }
                        return sink.write(block_.data(), std::min(length, block_.size()));
                    });
            });
        server_.Start();
    }
    // From now on each block is sent at once.
    void Hurry() { slow_ = false; }
    std::string Address() const {
        return "127.0.0.1:" + std::to_string(server_.Port()) + "/index.txt";
    }

  private:
    const std::chrono::milliseconds pause_;
    const std::string block_ = std::string(64 * 1024, 'z');
    std::atomic<bool> slow_{true};
    TestHttpServer server_;  // last: its handlers use the members above
};

}  // namespace zephyrate::test
