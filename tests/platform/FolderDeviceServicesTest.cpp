#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <string>

#include "tests/platform/FolderDeviceFixture.h"

namespace zephyrate::test {
namespace {

namespace fs = std::filesystem;

class FolderDeviceServicesTest : public FolderDeviceFixture {
  protected:
    bool Move(std::string_view from, std::string_view to) {
        return device_.CeMoveFile(W(from).c_str(), W(to).c_str());
    }
    bool Delete(std::string_view path) { return device_.CeDeleteFile(W(path).c_str()); }

    std::int32_t OpenPlatformKey(HKEY& key) {
        return device_.CeRegOpenKeyEx(HKEY_LOCAL_MACHINE, u"SYSTEM\\Platform", 0, 0, &key);
    }
};

TEST_F(FolderDeviceServicesTest, MoveNeverReplacesAndWorksOnLockedAndReadOnlyFiles) {
    temp_.WriteFile("device/Zephyrate/news/a.txt", "a");
    temp_.WriteFile("device/Zephyrate/news/b.txt", "b");
    fs::create_directory(root_ / "Zephyrate/Trash");

    EXPECT_TRUE(Move("\\zephyrate\\NEWS\\a.txt", "\\Zephyrate\\trash\\a.txt.001"));
    EXPECT_EQ(TempFolder::ReadFile(root_ / "Zephyrate/Trash/a.txt.001"), "a");
    EXPECT_FALSE(Move("\\Zephyrate\\news\\b.txt", "\\Zephyrate\\Trash\\A.TXT.001"));
    EXPECT_EQ(device_.CeGetLastError(), ERROR_ALREADY_EXISTS);
    EXPECT_EQ(TempFolder::ReadFile(root_ / "Zephyrate/Trash/a.txt.001"), "a");
    EXPECT_FALSE(Move("\\Zephyrate\\news\\b.txt", "\\Zephyrate\\NoTrash\\b.txt"));
    EXPECT_EQ(device_.CeGetLastError(), ERROR_PATH_NOT_FOUND);
    EXPECT_FALSE(Move("\\Zephyrate\\news\\gone.txt", "\\Zephyrate\\Trash\\gone.txt"));
    EXPECT_EQ(device_.CeGetLastError(), ERROR_FILE_NOT_FOUND);
    EXPECT_FALSE(Move("\\Zephyrate\\news\\b.txt", "\\"));
    EXPECT_EQ(device_.CeGetLastError(), ERROR_ALREADY_EXISTS);
    // A change of case only is a rename of the same file.
    EXPECT_TRUE(Move("\\Zephyrate\\news\\b.txt", "\\Zephyrate\\news\\B.TXT"));
    EXPECT_TRUE(fs::exists(root_ / "Zephyrate/news/B.TXT"));
    EXPECT_FALSE(fs::exists(root_ / "Zephyrate/news/b.txt"));

    // The device cannot replace these files, so the writer moves them aside.
    temp_.WriteFile("device/Zephyrate/news/busy.txt", "busy");
    temp_.WriteFile("device/Zephyrate/news/ro.txt", "ro");
    MakeReadOnly(root_ / "Zephyrate/news/ro.txt");
    OtherProcessLock lock(root_ / "Zephyrate/news/busy.txt");
    ASSERT_TRUE(lock.Locked());
    EXPECT_FALSE(WriteDeviceFile("\\Zephyrate\\news\\busy.txt", "new"));
    EXPECT_EQ(device_.CeGetLastError(), ERROR_SHARING_VIOLATION);
    EXPECT_TRUE(Move("\\Zephyrate\\news\\busy.txt", "\\Zephyrate\\Trash\\busy.txt.001"));
    EXPECT_TRUE(WriteDeviceFile("\\Zephyrate\\news\\busy.txt", "new"));
    EXPECT_FALSE(WriteDeviceFile("\\Zephyrate\\news\\ro.txt", "new"));
    EXPECT_EQ(device_.CeGetLastError(), ERROR_ACCESS_DENIED);
    EXPECT_TRUE(Move("\\Zephyrate\\news\\ro.txt", "\\Zephyrate\\Trash\\ro.txt.001"));
    EXPECT_TRUE(WriteDeviceFile("\\Zephyrate\\news\\ro.txt", "new"));
    EXPECT_EQ(TempFolder::ReadFile(root_ / "Zephyrate/Trash/busy.txt.001"), "busy");
    EXPECT_EQ(TempFolder::ReadFile(root_ / "Zephyrate/news/ro.txt"), "new");
}

TEST_F(FolderDeviceServicesTest, DeletesFilesOnlyAndCreatesFolders) {
    temp_.WriteFile("device/dir/file.txt", "f");
    temp_.WriteFile("device/dir/ro.txt", "r");
    MakeReadOnly(root_ / "dir/ro.txt");

    EXPECT_TRUE(Delete("\\DIR\\FILE.TXT"));
    EXPECT_FALSE(fs::exists(root_ / "dir/file.txt"));
    EXPECT_FALSE(Delete("\\dir\\file.txt"));
    EXPECT_EQ(device_.CeGetLastError(), ERROR_FILE_NOT_FOUND);
    EXPECT_FALSE(Delete("\\nodir\\file.txt"));
    EXPECT_EQ(device_.CeGetLastError(), ERROR_PATH_NOT_FOUND);
    EXPECT_FALSE(Delete("\\dir\\ro.txt"));  // refused by the mode bits, also as root
    EXPECT_EQ(device_.CeGetLastError(), ERROR_ACCESS_DENIED);
    EXPECT_TRUE(fs::exists(root_ / "dir/ro.txt"));
    EXPECT_FALSE(Delete("\\dir"));
    EXPECT_EQ(device_.CeGetLastError(), ERROR_ACCESS_DENIED);
    EXPECT_FALSE(Delete("\\"));
    EXPECT_EQ(device_.CeGetLastError(), ERROR_ACCESS_DENIED);
    EXPECT_TRUE(fs::is_directory(root_ / "dir"));

    EXPECT_TRUE(device_.CeCreateDirectory(u"\\dir\\New"));
    EXPECT_TRUE(fs::is_directory(root_ / "dir/New"));
    EXPECT_EQ(ErrorOf([&] { return device_.CeCreateDirectory(u"\\DIR\\new"); }),
              ERROR_ALREADY_EXISTS);
    EXPECT_EQ(ErrorOf([&] { return device_.CeCreateDirectory(u"\\dir\\ro.txt"); }),
              ERROR_ALREADY_EXISTS);
    EXPECT_EQ(ErrorOf([&] { return device_.CeCreateDirectory(u"\\"); }), ERROR_ALREADY_EXISTS);
    EXPECT_EQ(ErrorOf([&] { return device_.CeCreateDirectory(u"\\a\\b"); }), ERROR_PATH_NOT_FOUND);
    EXPECT_FALSE(fs::exists(root_ / "a"));
}

TEST_F(FolderDeviceServicesTest, ReadsTheDataPathFromTheDeviceRegistry) {
    HKEY key = 0;
    EXPECT_EQ(OpenPlatformKey(key), static_cast<std::int32_t>(ERROR_FILE_NOT_FOUND));  // no file

    temp_.WriteFile("device/.registry.reg",
                    "Windows Registry Editor Version 5.00\r\n\r\n"
                    "[HKEY_LOCAL_MACHINE\\SYSTEM\\Other]\r\n\"DataPath\"=\"\\\\wrong\"\r\n\r\n"
                    "[HKEY_LOCAL_MACHINE\\System\\Platform]\r\n"
                    "\"DataPath\"=\"\\\\Storage Card\\\\\xC3\xA9t\xC3\xA9\"\r\n"
                    "\"Number\"=dword:0000abcd\r\n");
    ASSERT_EQ(OpenPlatformKey(key), ERROR_SUCCESS);

    const std::u16string expected = u"\\Storage Card\\\u00e9t\u00e9";
    const std::uint32_t needed = static_cast<std::uint32_t>((expected.size() + 1) * 2);
    std::uint8_t data[255];
    std::memset(data, 0xEE, sizeof data);
    std::uint32_t type = 0;
    std::uint32_t size = sizeof data;
    ASSERT_EQ(device_.CeRegQueryValueEx(key, u"DataPath", &type, data, &size), ERROR_SUCCESS);
    EXPECT_EQ(type, REG_SZ);
    EXPECT_EQ(size, needed);
    std::u16string text;
    for (std::uint32_t i = 0; i + 1 < size; i += 2) {
        text.push_back(static_cast<char16_t>(data[i] | (data[i + 1] << 8)));
    }
    EXPECT_EQ(text, expected + u'\0');
    EXPECT_EQ(data[size], 0xEE);  // nothing written past the value

    size = needed - 1;
    EXPECT_EQ(device_.CeRegQueryValueEx(key, u"datapath", &type, data, &size),
              static_cast<std::int32_t>(ERROR_MORE_DATA));
    EXPECT_EQ(size, needed);
    size = sizeof data;
    ASSERT_EQ(device_.CeRegQueryValueEx(key, u"Number", &type, data, &size), ERROR_SUCCESS);
    EXPECT_EQ(type, REG_DWORD);
    EXPECT_EQ(size, 4u);
    EXPECT_EQ(data[0] | (data[1] << 8) | (data[2] << 16) | (data[3] << 24), 0xABCD);
    EXPECT_EQ(device_.CeRegQueryValueEx(key, u"Missing", &type, data, &size),
              static_cast<std::int32_t>(ERROR_FILE_NOT_FOUND));

    EXPECT_EQ(device_.CeRegCloseKey(key), ERROR_SUCCESS);
    EXPECT_EQ(device_.CeRegCloseKey(key), static_cast<std::int32_t>(ERROR_INVALID_HANDLE));
    EXPECT_EQ(device_.CeRegQueryValueEx(key, u"DataPath", &type, data, &size),
              static_cast<std::int32_t>(ERROR_INVALID_HANDLE));
    EXPECT_EQ(device_.CeRegOpenKeyEx(HKEY_LOCAL_MACHINE, u"SYSTEM\\Missing", 0, 0, &key),
              static_cast<std::int32_t>(ERROR_FILE_NOT_FOUND));
}

TEST_F(FolderDeviceServicesTest, WritesTheShortcutFormat) {
    fs::create_directories(root_ / "windows/Start Menu/Programs");
    const char16_t* target = u"\"\\Zephyrate\\news\\a.exe\"";
    EXPECT_EQ(device_.CeSHCreateShortcut(u"\\Windows\\start menu\\Programs\\Reader.lnk", target),
              1);
    EXPECT_EQ(TempFolder::ReadFile(root_ / "windows/Start Menu/Programs/Reader.lnk"),
              "23#\"\\Zephyrate\\news\\a.exe\"");
    // The count is of UTF-16 units, the text is UTF-8.
    EXPECT_EQ(device_.CeSHCreateShortcut(u"\\windows\\\u00e9.lnk", u"\"\\\u00e9\U0001F600\""), 1);
    EXPECT_EQ(TempFolder::ReadFile(root_ / "windows/\xC3\xA9.lnk"),
              "6#\"\\\xC3\xA9\xF0\x9F\x98\x80\"");

    EXPECT_EQ(device_.CeSHCreateShortcut(u"\\windows\\Start Menu\\Programs\\Reader.lnk", u"x"), 0);
    EXPECT_EQ(device_.CeGetLastError(), ERROR_ALREADY_EXISTS);
    EXPECT_EQ(TempFolder::ReadFile(root_ / "windows/Start Menu/Programs/Reader.lnk"),
              "23#\"\\Zephyrate\\news\\a.exe\"");
    EXPECT_EQ(device_.CeSHCreateShortcut(u"\\nowhere\\Reader.lnk", target), 0);
    EXPECT_EQ(device_.CeGetLastError(), ERROR_PATH_NOT_FOUND);
    EXPECT_FALSE(fs::exists(root_ / "nowhere"));
}

}  // namespace
}  // namespace zephyrate::test
