// The process environment as the programs read it: plain values, and the base-directory
// variables (XDG_*), which count only when they hold an absolute path.
// Threads: any; the environment is only read.
#pragma once

#include <optional>
#include <string>

namespace zephyrate {

// The value of a variable; empty when it is unset.
std::string EnvironmentValue(const char* name);

// A base-directory variable's value; nothing when it is unset, empty or relative, which
// the base-directory rules say to ignore.
std::optional<std::string> BaseDirectory(const char* name);

}  // namespace zephyrate
