// The lock that one copy of the program holds at a time: an exclusive flock on a file of
// the user's, which the kernel drops when its holder ends, however it ends. The file's
// contents do not matter. It also says which process holds the lock, from the kernel's
// own list of locks, so that no process is signalled on the word of a stale record.
//
// Threads: one owner thread.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "platform/ScopedFd.h"

namespace zephyrate {

class InstanceLock {
  public:
    enum class Take {
        Taken,          // this process holds the lock now
        HeldElsewhere,  // another process holds it
        Unavailable,    // the file cannot be opened or locked: there is no lock to take
    };

    // $XDG_RUNTIME_DIR/ZephyrateLock, else /tmp/ZephyrateLock-<uid>. A relative
    // XDG_RUNTIME_DIR is invalid by the base-directory rules and is ignored.
    static std::string DefaultPath();

    // Opens the file, made when missing (mode 0600) and never through a symbolic link,
    // and tries the lock without waiting. The file stays open until Close(), also when
    // another process holds the lock; a new call closes what the last one opened.
    Take TryTake(const std::string& path);
    // The process that holds the lock on the open file; nothing when none, when it is not
    // visible from here, or when nothing is open.
    std::optional<std::uint32_t> Holder() const;
    void Close() { fd_.Reset(); }

  private:
    ScopedFd fd_;
};

}  // namespace zephyrate
