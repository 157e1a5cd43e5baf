// A real tinyproxy (/usr/bin/tinyproxy) as a child process for tests: its own
// configuration and log in a temporary folder, listening on 127.0.0.1 on a free port,
// in the foreground. Ready when constructed; killed and reaped when destroyed.
#pragma once

#include <optional>
#include <string>

#include "tests/support/ChildProcess.h"
#include "tests/support/TempFolder.h"

namespace zephyrate::test {

class TinyProxy {
  public:
    // With a user, the proxy demands that Basic login (status 407 without it).
    explicit TinyProxy(const std::string& user = "", const std::string& password = "");
    TinyProxy(const TinyProxy&) = delete;
    TinyProxy& operator=(const TinyProxy&) = delete;

    // "127.0.0.1:port", as a proxy text.
    std::string Address() const { return "127.0.0.1:" + std::to_string(port_); }
    // Its log so far; each proxied request shows as "Request (...): GET http://...".
    std::string Log() const { return TempFolder::ReadFile(folder_ / "tinyproxy.log"); }

  private:
    bool Launch(int port, const std::string& login);

    TempFolder folder_;
    std::optional<ChildProcess> process_;  // killed and reaped when it goes
    int port_ = 0;
};

}  // namespace zephyrate::test
