// The device link, the device's registry and its shortcut format.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <map>
#include <string>
#include <thread>

#include "platform/DeviceFolderLocation.h"
#include "tests/platform/FolderDeviceFixture.h"

namespace zephyrate::test {
namespace {

namespace fs = std::filesystem;

TEST(FolderDeviceLinkTest, TheLinkOpensAndEndsAndErrorsArePerThread) {
    TempFolder temp;
    FolderDevice device((temp / "card").string(), false);
    EXPECT_EQ(device.CeRapiUninit(), S_OK);  // harmless without a link
    // Nothing works before the link is up.
    EXPECT_EQ(device.CeGetFileAttributes(u"\\"), INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(device.CeGetLastError(), ERROR_DEVICE_NOT_CONNECTED);
    HKEY key = 0;
    EXPECT_EQ(device.CeRegOpenKeyEx(HKEY_LOCAL_MACHINE, u"SYSTEM\\Platform", 0, 0, &key),
              static_cast<std::int32_t>(ERROR_DEVICE_NOT_CONNECTED));
    // A configured folder that is missing is waited for, never made.
    RAPIINIT stale;
    ASSERT_GE(device.CeRapiInitEx(stale), 0);
    EXPECT_EQ(device.WaitForRapiInit(stale, 100), WAIT_TIMEOUT);
    EXPECT_FALSE(fs::exists(temp / "card"));
    fs::create_directory(temp / "card");
    ASSERT_TRUE(Connect(device));
    EXPECT_EQ(device.WaitForRapiInit(stale, 100), WAIT_FAILED);  // an older attempt's event
    EXPECT_EQ(device.CeGetFileAttributes(u""), FILE_ATTRIBUTE_DIRECTORY);

    // An open file is closed with the link, so its lock does not outlive it.
    const DeviceHandle file = device.CeCreateFile(u"\\a", GENERIC_WRITE, 0, CREATE_ALWAYS, 0);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    EXPECT_EQ(device.CeRapiUninit(), S_OK);
    EXPECT_EQ(device.CeGetFileAttributes(u"\\a"), INVALID_FILE_ATTRIBUTES);
    EXPECT_FALSE(device.CeCloseHandle(file));
    EXPECT_EQ(device.CeGetLastError(), ERROR_INVALID_HANDLE);
    ASSERT_TRUE(Connect(device));
    EXPECT_EQ(device.CeGetFileAttributes(u"\\a"), FILE_ATTRIBUTE_ARCHIVE);

    // The last error is kept per thread and per device object.
    EXPECT_EQ(device.CeGetFileAttributes(u"\\missing"), INVALID_FILE_ATTRIBUTES);
    std::uint32_t otherThreadsError = 99;
    std::thread([&] {
        otherThreadsError = device.CeGetLastError();  // nothing failed on this thread yet
        device.CeGetFileAttributes(u"\\no\\such\\folder");
    }).join();
    EXPECT_EQ(otherThreadsError, ERROR_SUCCESS);
    EXPECT_EQ(device.CeGetLastError(), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(FolderDevice(temp.Path().string(), false).CeGetLastError(), ERROR_SUCCESS);
}

TEST(DeviceFolderLocationTest, ChoosesInOrderOfPrecedenceAndConnectingMakesTheDefault) {
    TempFolder temp;
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
    variables["HOME"] = (temp / "home").string();
    const Choice choice = choose("", "");
    FolderDevice device(choice.path, choice.createWhenMissing);
    ASSERT_TRUE(Connect(device, 1000));
    EXPECT_TRUE(fs::is_directory(temp / "home/.local/share/zephyrate/device"));
}

class FolderDeviceServicesTest : public FolderDeviceFixture {};

TEST_F(FolderDeviceServicesTest, ReadsTheDataPathFromTheDeviceRegistry) {
    const auto code = [](std::uint32_t error) { return static_cast<std::int32_t>(error); };
    const auto open = [&](const char16_t* path, HKEY& key) {
        return device_.CeRegOpenKeyEx(HKEY_LOCAL_MACHINE, path, 0, 0, &key);
    };
    HKEY key = 0;
    EXPECT_EQ(open(u"SYSTEM\\Platform", key), code(ERROR_FILE_NOT_FOUND));  // no file
    temp_.WriteFile("device/.registry.reg",
                    "Windows Registry Editor Version 5.00\r\n\r\n"
                    "[HKEY_LOCAL_MACHINE\\SYSTEM\\Other]\r\n\"DataPath\"=\"\\\\wrong\"\r\n\r\n"
                    "[HKEY_LOCAL_MACHINE\\System\\Platform]\r\n"
                    "\"DataPath\"=\"\\\\Storage Card\\\\\xC3\xA9t\xC3\xA9\"\r\n");
    EXPECT_EQ(open(u"SYSTEM\\Missing", key), code(ERROR_FILE_NOT_FOUND));
    ASSERT_EQ(open(u"SYSTEM\\Platform", key), ERROR_SUCCESS);
    std::uint8_t data[255];
    std::memset(data, 0xEE, sizeof data);
    std::uint32_t type = 0;
    std::uint32_t size = 0;
    const auto query = [&](const char16_t* name, std::uint32_t room) {
        size = room;
        return device_.CeRegQueryValueEx(key, name, &type, data, &size);
    };
    const std::u16string expected = u"\\Storage Card\\\u00e9t\u00e9";
    const auto needed = static_cast<std::uint32_t>((expected.size() + 1) * 2);
    ASSERT_EQ(query(u"DataPath", sizeof data), ERROR_SUCCESS);
    EXPECT_EQ(type, REG_SZ);
    EXPECT_EQ(size, needed);
    EXPECT_EQ(std::u16string(reinterpret_cast<const char16_t*>(data), size / 2), expected + u'\0');
    EXPECT_EQ(data[size], 0xEE);  // nothing written past the value
    EXPECT_EQ(query(u"datapath", needed - 1), code(ERROR_MORE_DATA));
    EXPECT_EQ(size, needed);
    EXPECT_EQ(query(u"Missing", sizeof data), code(ERROR_FILE_NOT_FOUND));
    EXPECT_EQ(device_.CeRegCloseKey(key), ERROR_SUCCESS);
    EXPECT_EQ(device_.CeRegCloseKey(key), code(ERROR_INVALID_HANDLE));
    EXPECT_EQ(query(u"DataPath", sizeof data), code(ERROR_INVALID_HANDLE));
}

TEST_F(FolderDeviceServicesTest, WritesTheShortcutFormat) {
    // The count is of UTF-16 units, the text is UTF-8.
    fs::create_directories(root_ / "windows");
    EXPECT_EQ(device_.CeSHCreateShortcut(u"\\Windows\\\u00e9.lnk", u"\"\\\u00e9\U0001F600\""), 1);
    EXPECT_EQ(TempFolder::ReadFile(root_ / "windows/\xC3\xA9.lnk"),
              "6#\"\\\xC3\xA9\xF0\x9F\x98\x80\"");
}

}  // namespace
}  // namespace zephyrate::test
