// What the two child-process runners share: argument lists for execve, made before fork,
// the start of the program in the child, and the reading of an exit status.
#pragma once

#include <string>
#include <vector>

namespace zephyrate::test {

// Pointers into the texts, ending with nullptr; valid while the texts live.
std::vector<char*> ExecPointers(const std::vector<std::string>& texts);

// In the child after fork, with its standard descriptors in place: closes every other
// descriptor (the test's own sockets stay with the test), unblocks all signals (the test
// runner may block some in its threads) and runs the program; exit status 127 when it
// cannot. Only async-signal-safe calls.
[[noreturn]] void ExecInChild(const std::vector<char*>& argv, const std::vector<char*>& envp);

// A wait status as an exit code: the code itself, or 128 + N after signal N.
int ExitCodeOf(int status);

}  // namespace zephyrate::test
