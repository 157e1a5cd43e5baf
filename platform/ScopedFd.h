// Owns one POSIX file descriptor and closes it when it goes away. Move-only; not
// thread-safe by itself (share it through a shared_ptr when several threads use it).
#pragma once

#include <unistd.h>

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

}  // namespace zephyrate
