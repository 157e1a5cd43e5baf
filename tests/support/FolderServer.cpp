#include "tests/support/FolderServer.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <memory>
#include <vector>

namespace zephyrate::test {

namespace {

constexpr std::size_t kChunk = 256 * 1024;

bool HasParentStep(std::string path) {
    std::replace(path.begin(), path.end(), '\\', '/');
    return ("/" + path + "/").find("/../") != std::string::npos;
}

// One open file and its read buffer, alive as long as the response streams.
struct OpenFile {
    int fd = -1;
    std::vector<char> buffer = std::vector<char>(kChunk);
    ~OpenFile() {
        if (fd >= 0) {
            close(fd);
        }
    }
};

}  // namespace

FolderServer::FolderServer(std::filesystem::path root, int port) : root_(std::move(root)) {
    server_.Server().Get(
        R"(/.*)", [this](const httplib::Request& request, httplib::Response& response) {
            // httplib has already decoded the path; ".." is refused wherever it appears.
            if (HasParentStep(request.path)) {
                response.status = 403;
                return;
            }
            const std::filesystem::path file = root_ / request.path.substr(1);
            auto open = std::make_shared<OpenFile>();
            open->fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
            struct stat info {};
            if (open->fd < 0 || fstat(open->fd, &info) != 0 || !S_ISREG(info.st_mode)) {
                response.status = 404;
                return;
            }
            response.set_header("Last-Modified", HttpDateOf(info.st_mtime));
            if (info.st_size == 0) {
                response.set_content("", "application/octet-stream");
                return;
            }
            response.set_content_provider(
                static_cast<std::size_t>(info.st_size), "application/octet-stream",
                [open](std::size_t offset, std::size_t length, httplib::DataSink& sink) {
                    const std::size_t want = std::min(length, open->buffer.size());
                    ssize_t got =
                        pread(open->fd, open->buffer.data(), want, static_cast<off_t>(offset));
                    if (got <= 0) {
                        return false;  // the file shrank or failed: cut the response
                    }
                    return sink.write(open->buffer.data(), static_cast<std::size_t>(got));
                });
        });
    server_.Start(port);
}

}  // namespace zephyrate::test
