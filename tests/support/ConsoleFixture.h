// The one console fixture of the tests: a temporary folder holding the device folder
// "device", the served folder "www" and a folder "outside" that nothing may touch; a
// connected FolderDevice, a direct internet session with short time-outs, a settings file,
// a recording surface and the console over them. Job values: root \Zephyrate, CE folder
// news. Servers made with Keep outlive the session, so that none waits for an idle
// connection's keep-alive time when it stops.
#pragma once

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <chrono>
#include <ctime>
#include <filesystem>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "platform/FolderDevice.h"
#include "platform/InternetSession.h"
#include "run/Console.h"
#include "settings/SettingsStore.h"
#include "tests/support/RecordingSurface.h"
#include "tests/support/TempFolder.h"
#include "transfer/FileTransfer.h"
#include "transfer/TransferContext.h"

namespace zephyrate::test {

namespace fs = std::filesystem;
using Texts = std::vector<std::string>;

class ConsoleFixture : public ::testing::Test {
  protected:
    ConsoleFixture() {
        fs::create_directories(root_);
        fs::create_directories(temp_ / "www");
        temp_.WriteFile("outside/secret.txt", "secret");
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
    static FileEntry Named(std::string_view name) {
        FileEntry entry;
        entry.SetFile(name);
        return entry;
    }
    int Step(FileEntry& entry, bool force = false) {
        return FileTransferStep(context_, entry, session_, force);
    }
    template <typename Server, typename... Args>
    Server& Keep(Args&&... args) {
        auto server = std::make_shared<Server>(std::forward<Args>(args)...);
        servers_.push_back(server);
        return *server;
    }
    void ServeFrom(int port) { Job().ServerFolderAddress = "127.0.0.1:" + std::to_string(port); }

    // A file of the device folder, named with '/' relative to it; written with a stamp.
    fs::path OnDevice(std::string_view relative) const { return root_ / relative; }
    fs::path Place(std::string_view relative, const std::string& text, std::time_t stamp) {
        const fs::path file = temp_.WriteFile("device/" + std::string(relative), text);
        SetModified(file, stamp);
        return file;
    }
    static std::string Read(const fs::path& file) { return TempFolder::ReadFile(file); }
    static std::time_t ModifiedAt(const fs::path& file) {
        struct stat info {};
        return stat(file.c_str(), &info) == 0 ? info.st_mtime : -1;
    }
    static void SetModified(const fs::path& file, std::time_t seconds) {
        const timespec times[2] = {{seconds, 0}, {seconds, 0}};
        ASSERT_EQ(utimensat(AT_FDCWD, file.c_str(), times, 0), 0) << file;
    }
    static std::string Bytes(std::size_t count, unsigned seed = 1) {
        std::string bytes(count, '\0');
        for (char& byte : bytes) {
            seed = seed * 1103515245u + 12345u;
            byte = static_cast<char>(seed >> 16);
        }
        return bytes;
    }

    // A fixed moment in the past, so that "now" never passes for the server's stamp.
    static constexpr std::time_t kStamp = 1600000000;

    TempFolder temp_;
    std::vector<std::shared_ptr<void>> servers_;
    RecordingSurface surface_;
    InternetSession session_;
    const fs::path root_ = temp_ / "device";
    FolderDevice device_{root_.string(), false};
    SettingsStore settings_{(temp_ / "settings.reg").string()};
    Console console_{surface_, session_, device_, settings_};
    TransferContext context_{device_, console_.Job(), console_.Jobs(), console_};
};

}  // namespace zephyrate::test
