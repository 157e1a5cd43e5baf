// A first-in first-out byte buffer that grows on demand up to a cap and then stays put,
// so a response's read-ahead costs no allocation per read. Not thread-safe.
#pragma once

#include <cstddef>
#include <vector>

namespace zephyrate {

class ByteRing {
  public:
    explicit ByteRing(std::size_t cap) : cap_(cap) {}

    std::size_t Size() const { return size_; }
    bool Empty() const { return size_ == 0; }
    // Whether count more bytes fit now or after growing, without passing the cap (a single
    // push larger than the cap fits into an empty ring, which then grows past it).
    bool Fits(std::size_t count) const;
    // Appends count bytes; the caller checked Fits.
    void Push(const void* data, std::size_t count);
    // Moves up to count bytes out; returns how many.
    std::size_t Pop(void* out, std::size_t count);
    void Clear() { head_ = size_ = 0; }

  private:
    void Grow(std::size_t minimum);

    std::size_t cap_;
    std::vector<unsigned char> bytes_;  // size() is the current capacity
    std::size_t head_ = 0;
    std::size_t size_ = 0;
};

}  // namespace zephyrate
