// A growable file in memory (the favorite text before it goes to the device). Writes and
// reads share one position, as with a disk file. Not thread-safe; one owner at a time.
#pragma once

#include <cstddef>
#include <vector>

#include "platform/ReadableFile.h"

namespace zephyrate {

class MemoryFile final : public ReadableFile {
  public:
    // Capacity always grows in whole steps of this many bytes.
    static constexpr std::size_t kGrowBy = 1024;

    MemoryFile() = default;

    // Writes at the position, overwriting or extending the contents; moves the position on.
    void Write(const void* data, std::size_t count);
    void SeekToBegin() override { position_ = 0; }
    std::size_t Read(void* buffer, std::size_t count) override;

    std::size_t Length() const { return length_; }
    std::size_t Capacity() const { return bytes_.size(); }
    std::size_t Position() const { return position_; }

  private:
    std::vector<unsigned char> bytes_;  // size() is the capacity; length_ of it are used
    std::size_t length_ = 0;
    std::size_t position_ = 0;
};

}  // namespace zephyrate
