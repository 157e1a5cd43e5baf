// The console fixture of the tests: a temporary folder holding the connected device folder
// "device"; test sites (not started), a direct internet session with short time-outs, a
// settings file, a recording surface and the console over them, on a tick count of its
// own. Job values: root \Zephyrate, CE folder news.
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <ctime>
#include <filesystem>
#include <list>
#include <string>
#include <vector>

#include "platform/FolderDevice.h"
#include "platform/InternetSession.h"
#include "run/Console.h"
#include "settings/SettingsStore.h"
#include "tests/support/RecordingSurface.h"
#include "tests/support/TempFolder.h"
#include "tests/support/TestSite.h"
#include "transfer/FileTransfer.h"
#include "transfer/TransferContext.h"

namespace zephyrate::test {

namespace fs = std::filesystem;
using Texts = std::vector<std::string>;

class ConsoleFixture : public ::testing::Test {
  protected:
    ConsoleFixture() {
        fs::create_directories(root_);
        session_.SetProxy(INTERNET_OPEN_TYPE_DIRECT, "");
        session_.SetTimeouts(std::chrono::seconds(2), std::chrono::seconds(3));
        Job().DeviceRoot = "\\Zephyrate";
        Job().CeFolder = "news";
    }
    void SetUp() override {
        RAPIINIT init;
        ASSERT_GE(device_.CeRapiInitEx(init), 0);
        ASSERT_EQ(device_.WaitForRapiInit(init, 2000), WAIT_OBJECT_0);
    }

    JobValues& Job() { return console_.Job(); }
    int Step(FileEntry& entry, bool force = false) {
        return FileTransferStep(context_, entry, session_, force);
    }
    // The job list as "OBJECT|STATUS|IMAGE" per row.
    Texts Rows() {
        Texts rows;
        for (const JobList::Row& row : console_.Jobs().Rows()) {
            rows.push_back(row.object + "|" + row.status + "|" + std::to_string(row.image));
        }
        return rows;
    }

    // A file of the device folder, named with '/' relative to it.
    fs::path OnDevice(std::string_view relative) const { return root_ / relative; }
    // Writes a file below the temporary folder with a modification time.
    fs::path Place(std::string_view relative, const std::string& text, std::time_t stamp) {
        const fs::path file = temp_.WriteFile(relative, text);
        fs::last_write_time(file, fs::file_time_type::clock::from_sys(
                                      std::chrono::system_clock::from_time_t(stamp)));
        return file;
    }
    static std::string Read(const fs::path& file) { return TempFolder::ReadFile(file); }
    static std::time_t ModifiedAt(const fs::path& file) {
        return std::chrono::system_clock::to_time_t(
            fs::file_time_type::clock::to_sys(fs::last_write_time(file)));
    }

    // A fixed moment in the past, so that "now" never passes for the server's stamp.
    static constexpr std::time_t kStamp = 1600000000;

    TempFolder temp_;
    // Sites outlive the session, so that none waits for an idle connection's keep-alive
    // time when it stops.
    std::list<TestSite> sites_;
    TestSite& site_ = sites_.emplace_back();
    RecordingSurface surface_;
    InternetSession session_;
    const fs::path root_ = temp_ / "device";
    FolderDevice device_{root_.string(), false};
    SettingsStore settings_{(temp_ / "settings.reg").string()};
    std::atomic<std::uint32_t> now_{1000};  // the console's tick count, moved by the tests
    Console console_{surface_, session_, device_, settings_, [this] { return now_.load(); }};
    TransferContext context_{device_, console_.Job(), console_.Jobs(), console_};
};

}  // namespace zephyrate::test
