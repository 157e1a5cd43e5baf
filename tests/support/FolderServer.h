// Serves the files below a folder over HTTP on 127.0.0.1: GET and HEAD, Content-Length,
// Last-Modified from the file's modification time, bodies streamed from disk (a file of
// any size costs a small buffer), 404 for what is missing, 403 for paths with "..".
// Runs in its own threads from construction until destruction.
#pragma once

#include <ctime>
#include <filesystem>
#include <string>
#include <string_view>

#include "tests/support/TestHttpServer.h"

namespace zephyrate::test {

// The Last-Modified text of a moment given in Unix seconds.
std::string HttpDateOf(std::time_t seconds);

class FolderServer {
  public:
    // port 0: an ephemeral port.
    explicit FolderServer(std::filesystem::path root, int port = 0);

    int Port() const { return server_.Port(); }
    std::string Url(std::string_view path) const { return server_.Url(path); }
    std::size_t RequestCount() const { return server_.RequestCount(); }

  private:
    std::filesystem::path root_;
    TestHttpServer server_;
};

}  // namespace zephyrate::test
