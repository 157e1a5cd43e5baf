#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <map>
#include <thread>

#include "platform/DeviceFolderLocation.h"
#include "platform/FolderDevice.h"
#include "tests/platform/FolderDeviceFixture.h"
#include "tests/support/TempFolder.h"

namespace zephyrate {
namespace {

using test::Connect;
using test::TempFolder;
using Clock = std::chrono::steady_clock;

double SecondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

TEST(FolderDeviceLinkTest, PresentFolderConnectsAtOnceUninitEndsTheLinkAndErrorsArePerThread) {
    TempFolder temp;
    FolderDevice device(temp.Path().string(), false);
    EXPECT_EQ(device.CeRapiUninit(), S_OK);  // harmless without a link

    // Nothing works before the link is up.
    EXPECT_EQ(device.CeGetFileAttributes(u"\\"), INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(device.CeGetLastError(), ERROR_DEVICE_NOT_CONNECTED);
    EXPECT_LT(device.CeRapiGetError(), 0);
    HKEY key = 0;
    EXPECT_EQ(device.CeRegOpenKeyEx(HKEY_LOCAL_MACHINE, u"SYSTEM\\Platform", 0, 0, &key),
              static_cast<std::int32_t>(ERROR_DEVICE_NOT_CONNECTED));

    RAPIINIT init;
    ASSERT_GE(device.CeRapiInitEx(init), 0);
    const auto start = Clock::now();
    EXPECT_EQ(device.WaitForRapiInit(init, 5000), WAIT_OBJECT_0);
    EXPECT_LT(SecondsSince(start), 0.5);
    EXPECT_GE(init.hrRapiInit, 0);
    EXPECT_EQ(device.CeGetFileAttributes(u"\\"), FILE_ATTRIBUTE_DIRECTORY);
    EXPECT_EQ(device.CeGetFileAttributes(u""), FILE_ATTRIBUTE_DIRECTORY);
    EXPECT_EQ(device.CeRapiGetError(), S_OK);
    CEOSVERSIONINFO version;
    EXPECT_TRUE(device.CeGetVersionEx(&version));
    EXPECT_GT(version.dwMajorVersion, 0u);

    // An open file is closed with the link, so its lock does not outlive it.
    const DeviceHandle file = device.CeCreateFile(u"\\a", GENERIC_WRITE, 0, CREATE_ALWAYS, 0);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    EXPECT_EQ(device.CeRapiUninit(), S_OK);
    EXPECT_EQ(device.CeGetFileAttributes(u"\\a"), INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(device.CeGetLastError(), ERROR_DEVICE_NOT_CONNECTED);
    EXPECT_FALSE(device.CeCloseHandle(file));
    EXPECT_EQ(device.CeGetLastError(), ERROR_INVALID_HANDLE);
    ASSERT_TRUE(Connect(device));
    EXPECT_EQ(device.CeGetFileAttributes(u"\\a"), FILE_ATTRIBUTE_ARCHIVE);

    // The last error is kept per thread and per device object.
    EXPECT_EQ(device.CeGetFileAttributes(u"\\missing"), INVALID_FILE_ATTRIBUTES);
    std::uint32_t otherThreadsError = 99;
    std::thread other([&] {
        otherThreadsError = device.CeGetLastError();  // nothing failed on this thread yet
        device.CeGetFileAttributes(u"\\no\\such\\folder");
    });
    other.join();
    EXPECT_EQ(otherThreadsError, ERROR_SUCCESS);
    EXPECT_EQ(device.CeGetLastError(), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(FolderDevice(temp.Path().string(), false).CeGetLastError(), ERROR_SUCCESS);
}

TEST(FolderDeviceLinkTest, MissingConfiguredFolderTimesOutAndConnectsOnceItAppears) {
    TempFolder temp;
    FolderDevice device((temp / "card").string(), false);
    RAPIINIT init;
    ASSERT_GE(device.CeRapiInitEx(init), 0);
    auto start = Clock::now();
    EXPECT_EQ(device.WaitForRapiInit(init, 5000), WAIT_TIMEOUT);
    const double waited = SecondsSince(start);
    EXPECT_GE(waited, 4.9);
    EXPECT_LE(waited, 6.0);
    EXPECT_FALSE(std::filesystem::exists(temp / "card"));  // a configured folder is not made

    RAPIINIT stale = init;
    ASSERT_GE(device.CeRapiInitEx(init), 0);
    std::thread plugIn([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        std::filesystem::create_directory(temp / "card");
    });
    start = Clock::now();
    EXPECT_EQ(device.WaitForRapiInit(init, 5000), WAIT_OBJECT_0);
    plugIn.join();
    EXPECT_LT(SecondsSince(start), 1.5);
    // A wait on an event from an older attempt is refused.
    EXPECT_EQ(device.WaitForRapiInit(stale, 100), WAIT_FAILED);
}

TEST(FolderDeviceLinkTest, DefaultFolderIsCreatedByConnecting) {
    TempFolder temp;
    const DeviceFolderChoice choice = DeviceFolderLocation::Choose("", "", [&](const char* name) {
        return std::string_view(name) == "XDG_DATA_HOME" ? std::optional((temp / "data").string())
                                                         : std::nullopt;
    });
    ASSERT_TRUE(choice.createWhenMissing);
    FolderDevice device(choice.path, choice.createWhenMissing);
    ASSERT_TRUE(Connect(device, 1000));
    EXPECT_TRUE(std::filesystem::is_directory(temp / "data/zephyrate/device"));
}

TEST(DeviceFolderLocationTest, ChoosesInOrderOfPrecedence) {
    std::map<std::string, std::string> variables = {
        {"ZEPHYRATE_DEVICE", "/media/env"}, {"XDG_DATA_HOME", "/xdg"}, {"HOME", "/home/u"}};
    const auto choose = [&](const char* cli, const char* setting) {
        return DeviceFolderLocation::Choose(cli, setting, [&](const char* name) {
            auto it = variables.find(name);
            return it == variables.end() ? std::nullopt : std::optional(it->second);
        });
    };
    using Choice = DeviceFolderChoice;
    EXPECT_EQ(choose("/media/cli", "/media/set"), (Choice{"/media/cli", false}));
    EXPECT_EQ(choose("", "/media/set"), (Choice{"/media/env", false}));
    variables["ZEPHYRATE_DEVICE"] = "";  // an empty variable counts as unset
    EXPECT_EQ(choose("", "/media/set"), (Choice{"/media/set", false}));
    EXPECT_EQ(choose("", ""), (Choice{"/xdg/zephyrate/device", true}));
    variables["XDG_DATA_HOME"] = "relative/data";  // not absolute: ignored
    EXPECT_EQ(choose("", ""), (Choice{"/home/u/.local/share/zephyrate/device", true}));
    variables.erase("XDG_DATA_HOME");
    EXPECT_EQ(choose("", ""), (Choice{"/home/u/.local/share/zephyrate/device", true}));
}

}  // namespace
}  // namespace zephyrate
