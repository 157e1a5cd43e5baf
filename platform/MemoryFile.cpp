#include "platform/MemoryFile.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>

namespace zephyrate {

void MemoryFile::Write(const void* data, std::size_t count) {
    if (count == 0) {
        return;
    }
    if (count > bytes_.max_size() - position_) {
        throw std::length_error("MemoryFile too large");
    }
    const std::size_t end = position_ + count;
    if (end > bytes_.size()) {
        // Grow by at least half again so that many small writes stay linear in cost, and
        // keep the capacity a whole number of steps.
        std::size_t wanted = std::max(end, bytes_.size() + bytes_.size() / 2);
        wanted = (wanted + kGrowBy - 1) / kGrowBy * kGrowBy;
        bytes_.resize(wanted);
    }
    std::memcpy(bytes_.data() + position_, data, count);
    position_ = end;
    length_ = std::max(length_, end);
}

std::size_t MemoryFile::Read(void* buffer, std::size_t count) {
    const std::size_t available = position_ < length_ ? length_ - position_ : 0;
    const std::size_t n = std::min(count, available);
    if (n > 0) {
        std::memcpy(buffer, bytes_.data() + position_, n);
        position_ += n;
    }
    return n;
}

}  // namespace zephyrate
