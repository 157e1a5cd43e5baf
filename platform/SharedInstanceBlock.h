// The 12 bytes that every running copy of the program sees at once: POSIX shared memory
// named after the lock file and the user, zero when made. Three 32-bit words, in this
// order: the owner's process id, its window's token, its heartbeat. Each word is read and
// written whole, with atomic operations, because two processes use them without a lock.
//
// Threads: any; the words are atomic.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

namespace zephyrate {

class SharedInstanceBlock {
  public:
    enum class Field : std::size_t { OwnerProcessId = 0, ConsoleWindow = 1, Heartbeat = 2 };
    static constexpr std::size_t kSize = 12;

    SharedInstanceBlock() = default;  // not mapped
    // The block of this lock file, made when missing (mode 0600). Not mapped when it
    // cannot be used: shared memory refused, or an object of another user's.
    static SharedInstanceBlock Open(std::string_view lockPath);
    // "/ZephyrateLock-<uid>-<hash of the lock file's path>": one block for each lock.
    static std::string NameFor(std::string_view lockPath);

    bool Mapped() const { return words_ != nullptr; }
    // 0 when not mapped.
    std::uint32_t Load(Field field) const;
    // Nothing when not mapped.
    void Store(Field field, std::uint32_t value);
    void Increment(Field field);

  private:
    struct Unmap {
        void operator()(std::uint32_t* words) const;
    };
    std::unique_ptr<std::uint32_t, Unmap> words_;
};

}  // namespace zephyrate
