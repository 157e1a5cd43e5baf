// Shared set-up of the transfer tests: a temporary folder holding the device folder
// "device", the served folder "www" and a folder "outside" that nothing may touch; a
// connected FolderDevice, a direct internet session with short time-outs, a recording
// surface and the console over them. Job values: root \Zephyrate, CE folder news.
// Servers made with Keep outlive the session: a server that stops while the session still
// holds an idle connection to it waits for that connection's keep-alive time.
#pragma once

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <chrono>
#include <ctime>
#include <filesystem>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/FolderDevice.h"
#include "platform/InternetSession.h"
#include "platform/WideText.h"
#include "run/Console.h"
#include "run/FileEntry.h"
#include "settings/SettingsStore.h"
#include "tests/support/FolderServer.h"
#include "tests/support/RecordingSurface.h"
#include "tests/support/TempFolder.h"
#include "transfer/FileTransfer.h"
#include "transfer/TransferContext.h"

namespace zephyrate::test {

class TransferFixture : public ::testing::Test {
  protected:
    TransferFixture()
        : device_((temp_ / "device").string(), false),
          settings_((temp_ / "settings.reg").string()),
          console_(surface_, session_, device_, settings_),
          root_(temp_ / "device"),
          www_(temp_ / "www") {
        std::filesystem::create_directories(root_);
        std::filesystem::create_directories(www_);
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

    // A fresh entry for a file of the index, as the driver builds one per run.
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

    // "127.0.0.1:port" + folder: what the driver keeps of a typed address.
    static std::string FolderAddress(int port, std::string_view folder = "") {
        return "127.0.0.1:" + std::to_string(port) + std::string(folder);
    }

    // A file of the device folder, named with '/' relative to it.
    std::filesystem::path OnDevice(std::string_view relative) const { return root_ / relative; }

    // True when no handle holds the device file: only then can it be opened exclusively.
    bool DeviceFileIsFree(std::string_view path) {
        const std::u16string wide = Utf8ToUtf16(path);
        const DeviceHandle file =
            device_.CeCreateFile(wide.c_str(), GENERIC_WRITE, 0, OPEN_EXISTING, 0);
        return file != INVALID_HANDLE_VALUE && device_.CeCloseHandle(file);
    }

    static std::string Read(const std::filesystem::path& file) {
        return TempFolder::ReadFile(file);
    }

    static std::time_t ModifiedAt(const std::filesystem::path& file) {
        struct stat info {};
        return stat(file.c_str(), &info) == 0 ? info.st_mtime : -1;
    }

    static void SetModified(const std::filesystem::path& file, std::time_t seconds) {
        const timespec times[2] = {{seconds, 0}, {seconds, 0}};
        ASSERT_EQ(utimensat(AT_FDCWD, file.c_str(), times, 0), 0) << file;
    }

    static void MakeReadOnly(const std::filesystem::path& file) { chmod(file.c_str(), 0444); }

    static std::string Bytes(std::size_t count, unsigned seed = 1) {
        std::string bytes(count, '\0');
        for (char& byte : bytes) {
            seed = seed * 1103515245u + 12345u;
            byte = static_cast<char>(seed >> 16);
        }
        return bytes;
    }

    // A fixed moment in the past, so that "now" never passes for the server's stamp.
    static constexpr std::time_t kStamp = 1600000000;  // 2020-09-13 12:26:40 UTC

    TempFolder temp_;
    std::vector<std::shared_ptr<void>> servers_;
    RecordingSurface surface_;
    InternetSession session_;
    FolderDevice device_;
    SettingsStore settings_;
    Console console_;
    TransferContext context_{device_, console_.Job(), console_.Jobs(), console_};
    const std::filesystem::path root_;
    const std::filesystem::path www_;
};

}  // namespace zephyrate::test
