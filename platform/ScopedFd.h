// Owns one POSIX file descriptor and closes it when it goes away. Move-only; not
// thread-safe by itself (share it through a shared_ptr when several threads use it).
#pragma once

#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <string_view>
#include <utility>

namespace zephyrate {

class ScopedFd {
  public:
    ScopedFd() = default;
    explicit ScopedFd(int fd) : fd_(fd) {}
    ~ScopedFd() { Reset(); }
    ScopedFd(ScopedFd&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
    ScopedFd& operator=(ScopedFd&& other) noexcept {
        if (this != &other) {
            Reset(std::exchange(other.fd_, -1));
        }
        return *this;
    }
    ScopedFd(const ScopedFd&) = delete;
    ScopedFd& operator=(const ScopedFd&) = delete;

    int Get() const { return fd_; }
    bool Valid() const { return fd_ >= 0; }
    // Gives the descriptor up without closing it.
    int Release() { return std::exchange(fd_, -1); }
    void Reset(int fd = -1) {
        if (fd_ >= 0) {
            (void)::close(fd_);  // nothing useful to do when closing fails
        }
        fd_ = fd;
    }

  private:
    int fd_ = -1;
};

// Writes all bytes to a descriptor, retrying short and interrupted writes. Returns 0 or
// an errno value (also left in errno); written counts the bytes that reached the file.
inline int WriteAll(int fd, std::string_view bytes, std::size_t* written = nullptr) {
    std::size_t done = 0;
    int error = 0;
    while (done < bytes.size() && error == 0) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n > 0) {
            done += static_cast<std::size_t>(n);
        } else if (n == 0) {
            error = errno = ENOSPC;  // a regular file that takes nothing has no room left
        } else if (errno != EINTR) {
            error = errno;
        }
    }
    if (written != nullptr) {
        *written = done;
    }
    return error;
}

}  // namespace zephyrate
