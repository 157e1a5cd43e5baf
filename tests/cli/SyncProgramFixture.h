// What the tests of zephyrate-sync share: a place of their own for each run (device
// folder, settings file, log folder), the command line around it, a served site whose
// files carry one fixed time stamp, and a few checks on the program's output.
#pragma once

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdint>
#include <ctime>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "tests/support/ChildProcess.h"
#include "tests/support/TempFolder.h"

namespace zephyrate::test {

namespace fs = std::filesystem;
using Strings = std::vector<std::string>;

inline constexpr std::time_t kStamp = 1700000000;  // the server's time stamp of every file
inline constexpr const char* kIndexHead = "Header:Zephyrate v1.0\nCEFolder: \\News\\\n";

inline bool Has(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

inline int CountOf(const std::string& text, const std::string& part) {
    int count = 0;
    for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) {
        ++count;
    }
    return count;
}

// A device folder, a settings file and a log folder of one's own.
struct Place {
    TempFolder folder;
    Place() { fs::create_directories(Device()); }
    fs::path Device() const { return folder / "device"; }
    std::string Settings() const { return (folder / "settings.reg").string(); }
    fs::path Logs() const { return folder / "logs"; }
};

class SyncProgramFixture : public ::testing::Test {
  protected:
    static Strings Command(const Place& place, const std::string& address, Strings extra = {}) {
        Strings command = {ZEPHYRATE_SYNC_PROGRAM, "--device",       place.Device().string(),
                           "--settings",           place.Settings(), "--log-dir",
                           place.Logs().string()};
        command.insert(command.end(), extra.begin(), extra.end());
        command.push_back(address);
        return command;
    }
    ChildProcess::Result Sync(const Place& place, const std::string& address, Strings extra = {},
                              Strings environment = {}) const {
        environment.insert(environment.end(), environment_.begin(), environment_.end());
        return ChildProcess::Run(Command(place, address, std::move(extra)), environment);
    }
    // A file of the served site, stamped with kStamp.
    void Publish(std::string_view path, std::string_view contents) const {
        const fs::path file = site_.WriteFile(path, contents);
        const timespec times[2] = {{kStamp, 0}, {kStamp, 0}};
        utimensat(AT_FDCWD, file.c_str(), times, 0);
    }
    static std::string Host(int port) { return "127.0.0.1:" + std::to_string(port); }
    // The site of most tests: one file; gives the index's address.
    std::string PublishOneFile(int port) const {
        Publish("index.txt", std::string(kIndexHead) + "File: a.txt\n");
        Publish("a.txt", "alpha");
        return Host(port) + "/index.txt";
    }

    Place place_;
    TempFolder site_;
    Strings environment_ = ChildProcess::CleanEnvironment();
};

// Each file's modification time in seconds, then its change time in nanoseconds (which
// moves with every write, also one that restores the modification time).
inline std::vector<std::int64_t> Times(const std::vector<fs::path>& files) {
    std::vector<std::int64_t> times;
    for (const fs::path& file : files) {
        struct stat info {};
        times.push_back(stat(file.c_str(), &info) == 0 ? info.st_mtime : -1);
        times.push_back(info.st_ctim.tv_sec * 1000000000LL + info.st_ctim.tv_nsec);
    }
    return times;
}

}  // namespace zephyrate::test
