// Other processes of the user's: this process's id, and ending another one.
// Threads: any.
#pragma once

#include <chrono>
#include <cstdint>

namespace zephyrate {

std::uint32_t OwnProcessId();

// Ends the process with SIGKILL and waits until it has ended (not until its parent has
// collected it), at most `limit`. False when it may not be signalled (another user's) or
// it outlived the limit; true when it has ended, also when it was gone already.
bool KillAndWait(std::uint32_t process, std::chrono::milliseconds limit);

}  // namespace zephyrate
