#include "platform/ByteRing.h"

#include <algorithm>
#include <cstring>

namespace zephyrate {

bool ByteRing::Fits(std::size_t count) const {
    return size_ + count <= std::max(cap_, bytes_.size()) || size_ == 0;
}

void ByteRing::Push(const void* data, std::size_t count) {
    if (count == 0) {
        return;
    }
    if (size_ + count > bytes_.size()) {
        Grow(size_ + count);
    }
    const auto* in = static_cast<const unsigned char*>(data);
    std::size_t tail = (head_ + size_) % bytes_.size();
    std::size_t first = std::min(count, bytes_.size() - tail);
    std::memcpy(bytes_.data() + tail, in, first);
    std::memcpy(bytes_.data(), in + first, count - first);
    size_ += count;
}

std::size_t ByteRing::Pop(void* out, std::size_t count) {
    const std::size_t n = std::min(count, size_);
    if (n == 0) {
        return 0;
    }
    auto* dest = static_cast<unsigned char*>(out);
    std::size_t first = std::min(n, bytes_.size() - head_);
    std::memcpy(dest, bytes_.data() + head_, first);
    std::memcpy(dest + first, bytes_.data(), n - first);
    head_ = (head_ + n) % bytes_.size();
    size_ -= n;
    if (size_ == 0) {
        head_ = 0;  // keeps the next pushes contiguous
    }
    return n;
}

void ByteRing::Grow(std::size_t minimum) {
    // Doubling from 64 KiB keeps small responses small; the cap bounds big ones.
    std::size_t capacity = std::max<std::size_t>(bytes_.size() * 2, 64 * 1024);
    capacity = std::max(std::min(capacity, cap_), minimum);
    std::vector<unsigned char> grown(capacity);
    const std::size_t kept = size_;
    Pop(grown.data(), kept);  // linearises the contents at the start of the new storage
    bytes_.swap(grown);
    head_ = 0;
    size_ = kept;
}

}  // namespace zephyrate
