#include "transfer/DevicePaths.h"

#include <gtest/gtest.h>

#include <string>

#include "platform/WidePath.h"

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

TEST(DevicePathsTest, TheSystemFolderIsRefusedWhereverTheDeviceResolvesIt) {
    // Root, CE folder, the entry's name, and whether the entry may go there.
    const struct {
        const char* root;
        std::string folder;
        std::string name;
        bool accepted;
    } cases[] = {
        {"\\Windows\\Data", "news", "a", false},
        {"", "WINDOWS\\Start Menu", "a", false},
        {"\\windows", "", "a", false},
        {"/Windows/x", "news", "a", false},
        {"\\", "Windows", "a", false},
        {"\\WINDOWS\\", "", "a", false},
        {"", "windows\\", "a", false},
        {"\\\\", "/windows/Fonts", "a", false},
        {"", "w\xC4\xB1ndows", "a", false},  // a dotless i is an I to the device
        {"", "", "windows\\evil.lnk", false},
        {"", "", "", true},
        {"\\windowsx", "", "a", true},
        {"\\My windows", "", "a", true},
        {"\\Zephyrate", "windows", "a", true},  // not at the top
        {"\\Zephyrate", "", "windows\\a", true},
        // A zero byte would hand the device a shorter path than the one judged here.
        {"\\Zephyrate", std::string("news\0windows", 12), "a", false},
        {"\\Zephyrate", "news", std::string("good.txt\0.evil", 14), false},
    };
    for (const auto& c : cases) {
        const JobValues job = Job(c.root, c.folder);
        EXPECT_EQ(CheckDestination(job) && CheckEntry(job, Entry(c.name)), c.accepted)
            << c.root << " " << c.folder << " " << c.name;
    }
    FileEntry zeroInLink = Entry("a.txt", std::string("F\0.url", 6));
    EXPECT_FALSE(CheckEntry(Job("", ""), zeroInLink));
}

TEST(DevicePathsTest, TheTemporaryNameIsHiddenInTheSameFolder) {
    EXPECT_EQ(TemporaryPath("\\Zephyrate\\news\\docs/a.txt"),
              "\\Zephyrate\\news\\docs/.a.txt.zephyrate-part");
    EXPECT_EQ(TemporaryPath("\\windows\\favorites\\\\F.url"),
              "\\windows\\favorites\\\\.F.url.zephyrate-part");
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
