// The command line of zephyrate-sync: its options, their parsing and the usage text.
// A plain value; parsing touches nothing but its arguments.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace zephyrate {

// Exit codes of zephyrate-sync.
inline constexpr int kExitFinished = 0;
inline constexpr int kExitErrors = 1;
inline constexpr int kExitUsage = 2;
inline constexpr int kExitNoRun = 3;  // the device link or the root failed
inline constexpr int kExitInterrupted = 130;

struct SyncOptions {
    std::string address;  // as typed into the address prompt, without "http://"
    std::string device;   // empty: the usual choice (environment, setting, default)
    std::string settings;
    std::optional<std::string> root;
    bool force = false;
    std::optional<std::string> user;
    std::optional<std::string> passwordFile;
    std::string logDir;  // empty: the default log folder
    bool quiet = false;
    bool help = false;
    bool version = false;

    // The options, or the reason they are wrong in error. With --help or --version the
    // rest of the line is not checked.
    struct Parsed;
    static Parsed Parse(const std::vector<std::string_view>& arguments);

    static std::string_view Usage();
    static std::string Version();
};

struct SyncOptions::Parsed {
    SyncOptions options;
    std::string error;  // empty when the line was understood
};

}  // namespace zephyrate
