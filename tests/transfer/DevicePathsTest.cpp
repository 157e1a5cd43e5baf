#include "transfer/DevicePaths.h"

#include <gtest/gtest.h>

#include <string>

#include "transfer/WidePath.h"

namespace zephyrate::test {
namespace {

JobValues Job(std::string root, std::string ceFolder, std::string dataPath = "") {
    JobValues job;
    job.DeviceRoot = std::move(root);
    job.CeFolder = std::move(ceFolder);
    job.DataPath = std::move(dataPath);
    return job;
}

FileEntry Entry(std::string name, std::string favorite = "", std::string shortcut = "") {
    FileEntry entry;
    entry.Name = std::move(name);
    entry.FavoriteFile = std::move(favorite);
    entry.ShortcutFile = std::move(shortcut);
    return entry;
}

TEST(DevicePathsTest, ParentPathCutsAtTheLastSeparatorOfEitherKind) {
    EXPECT_EQ(ParentPath("\\a"), "");
    EXPECT_EQ(ParentPath("a/b\\c"), "a/b");
    EXPECT_EQ(ParentPath("a\\b/c"), "a\\b");
    EXPECT_EQ(ParentPath("abc"), "");
    EXPECT_EQ(ParentPath("\\a\\"), "\\a");
    EXPECT_EQ(ParentPath("news.example/feeds/sub.txt"), "news.example/feeds");
}

TEST(DevicePathsTest, DevicePathJoinsRootFolderAndName) {
    EXPECT_EQ(DevicePath(Job("", ""), Entry("a.txt")), "\\a.txt");
    EXPECT_EQ(DevicePath(Job("\\Zephyrate", ""), Entry("a.txt")), "\\Zephyrate\\a.txt");
    EXPECT_EQ(DevicePath(Job("", "news"), Entry("a.txt")), "\\news\\a.txt");
    EXPECT_EQ(DevicePath(Job("\\Zephyrate", "news"), Entry("docs/a.txt")),
              "\\Zephyrate\\news\\docs/a.txt");
    EXPECT_EQ(DevicePath(Job("\\Zephyrate", "news"), Entry("")), "");
}

TEST(DevicePathsTest, ShortcutsAndFavoritesLiveUnderTheDataPath) {
    const JobValues job = Job("\\Zephyrate", "news", "\\Storage Card");
    const FileEntry both = Entry("a.exe", "Front page.url", "Reader.lnk");
    EXPECT_EQ(ShortcutPath(job, both), "\\Storage Card\\windows\\Start Menu\\Programs\\Reader.lnk");
    EXPECT_EQ(FavoritePath(job, both), "\\Storage Card\\windows\\favorites\\news\\Front page.url");
    // Without a data path they go under \windows; shortcuts ignore root and CE folder.
    EXPECT_EQ(ShortcutPath(Job("\\x", "y"), both), "\\windows\\Start Menu\\Programs\\Reader.lnk");
    // An empty CE folder leaves two separators next to each other.
    EXPECT_EQ(FavoritePath(Job("\\x", ""), both), "\\windows\\favorites\\\\Front page.url");
    EXPECT_EQ(ShortcutPath(job, Entry("a.exe")), "");
    EXPECT_EQ(FavoritePath(job, Entry("a.exe")), "");
    EXPECT_EQ(TrashFolder(job), "\\Zephyrate\\Trash");
}

TEST(DevicePathsTest, CheckDestinationRefusesTheSystemFolderInAnyCase) {
    EXPECT_FALSE(CheckDestination(Job("\\Windows\\Data", "news")));
    EXPECT_FALSE(CheckDestination(Job("", "WINDOWS\\Start Menu")));
    EXPECT_FALSE(CheckDestination(Job("\\windows", "")));
    EXPECT_FALSE(CheckDestination(Job("/Windows/x", "news")));
    EXPECT_TRUE(CheckDestination(Job("", "")));
    EXPECT_TRUE(CheckDestination(Job("\\windowsx", "")));
    EXPECT_TRUE(CheckDestination(Job("\\My windows", "")));
    EXPECT_TRUE(CheckDestination(Job("\\Zephyrate", "windows")));  // not at the top
}

TEST(DevicePathsTest, WidePathRoundTripsEveryByteAndEndsWithZero) {
    for (const std::string name : {"\\Zephyrate\\\xC3\xA9t\xC3\xA9\\a.txt",
                                   "\\bad\\\xFF\xC3(\xE2\x82", "\\emoji\\\xF0\x9F\x98\x80", ""}) {
        WidePath path(name);
        // Read up to the terminating zero.
        EXPECT_EQ(WidePath::FromDevice(std::u16string_view(path.Wide())), name);
        EXPECT_EQ(path.Text(), name);
    }
    WidePath path("\\\xC3\xA9");
    EXPECT_EQ(std::u16string_view(path.Wide()), u"\\\u00e9");
}

}  // namespace
}  // namespace zephyrate::test
