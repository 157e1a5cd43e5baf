// A site for the login tests of zephyrate-sync: every page wants the Basic login
// anna / secret; the wrong logins offered are counted.
#pragma once

#include <atomic>
#include <string>

#include "tests/cli/SyncProgramFixture.h"
#include "tests/support/FolderServer.h"
#include "tests/support/TestHttpServer.h"

namespace zephyrate::test {

class GuardedSite {
  public:
    static constexpr const char* kRight = "Basic YW5uYTpzZWNyZXQ=";  // anna:secret
    static constexpr const char* kWrong = "Basic YW5uYTp3cm9uZw==";  // anna:wrong
    GuardedSite() {
        server_.Server().Get(
            ".*", [this](const httplib::Request& request, httplib::Response& response) {
                const std::string offered = request.get_header_value("Authorization");
                wrongOffers_ += offered == kWrong ? 1 : 0;
                if (offered != kRight) {
                    response.status = 401;
                    response.set_header("WWW-Authenticate", "Basic realm=\"members\"");
                } else if (request.path == "/index.txt") {
                    response.set_content(std::string(kIndexHead) + "File: a.txt\n", "text/plain");
                } else {
                    response.set_header("Last-Modified", HttpDateOf(kStamp));
                    response.set_content("members only", "text/plain");
                }
            });
        server_.Start();
    }
    std::string Address() const {
        return "127.0.0.1:" + std::to_string(server_.Port()) + "/index.txt";
    }
    int WrongOffers() const { return wrongOffers_; }

  private:
    std::atomic<int> wrongOffers_{0};
    TestHttpServer server_;  // last: its handler uses the members above
};

}  // namespace zephyrate::test
