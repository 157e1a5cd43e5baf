// Favorites and shortcuts: their exact bytes on the device, replacing old ones, and how
// they take part in the transfer step (made after the file, forcing a download when
// missing, a failed favorite failing the entry).
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/support/FolderServer.h"
#include "tests/transfer/TransferFixture.h"
#include "transfer/DeviceLinks.h"
#include "transfer/FileTransfer.h"

namespace zephyrate::test {
namespace {

const std::string kFile = "\\Zephyrate\\news\\a.exe";
const std::string kFavorite = "\\windows\\favorites\\news\\Daily.url";
const std::string kShortcut = "\\windows\\Start Menu\\Programs\\Reader.lnk";
const std::string kFavoriteText = "[InternetShortcut]\r\nURL=file://\\Zephyrate\\news\\a.exe";
const std::string kShortcutText = "23#\"\\Zephyrate\\news\\a.exe\"";

class DeviceLinksTest : public TransferFixture {
  protected:
    DeviceLinksTest() {
        Job().ServerFolderAddress = FolderAddress(server_.Port());
        SetModified(temp_.WriteFile("www/a.exe", "program"), kStamp);
    }

    static FileEntry Entry() {
        FileEntry entry = Named("a.exe");
        entry.AddFavorite("Daily");
        entry.AddShortcut("Reader");
        return entry;
    }

    int StepAnew() {
        FileEntry entry = Entry();
        return Step(entry);
    }

    const std::filesystem::path favorite_ = OnDevice("windows/favorites/news/Daily.url");
    const std::filesystem::path shortcut_ = OnDevice("windows/Start Menu/Programs/Reader.lnk");
    FolderServer& server_ = Keep<FolderServer>(www_);
};

TEST_F(DeviceLinksTest, FileThenFavoriteThenShortcutAreMadeRecordedAndRemade) {
    EXPECT_EQ(StepAnew(), 0);
    EXPECT_EQ(Read(OnDevice("Zephyrate/news/a.exe")), "program");
    EXPECT_EQ(Read(favorite_), kFavoriteText);
    EXPECT_EQ(ModifiedAt(favorite_), kStamp) << "the favorite carries the server's stamp too";
    EXPECT_EQ(Read(shortcut_), kShortcutText);
    EXPECT_EQ(Job().PresentObjects, (std::vector<std::string>{kFile, kFavorite, kShortcut}));

    // Current: links are left as they are and recorded in the same order.
    EXPECT_EQ(StepAnew(), 3);
    EXPECT_EQ(Job().PresentObjects,
              (std::vector<std::string>{kFile, kFavorite, kShortcut, kFile, kFavorite, kShortcut}));

    // A missing link makes the file be downloaded again.
    for (const auto& [link, text] :
         {std::pair{favorite_, kFavoriteText}, {shortcut_, kShortcutText}}) {
        std::filesystem::remove(link);
        EXPECT_EQ(StepAnew(), 0) << link;
        EXPECT_EQ(Read(link), text);
    }
}

TEST_F(DeviceLinksTest, AnOldShortcutIsReplacedAndAnUndeletableOneGoesToTheTrash) {
    temp_.WriteFile("device/windows/Start Menu/Programs/Reader.lnk", "5#\"old\"");
    FileEntry entry = Entry();
    CreateShortcut(context_, entry);
    EXPECT_EQ(Read(shortcut_), kShortcutText);
    EXPECT_FALSE(std::filesystem::exists(OnDevice("Zephyrate/Trash")));

    // The device will not delete a read-only shortcut; the trash folder takes it.
    std::filesystem::create_directories(OnDevice("Zephyrate/Trash"));
    temp_.WriteFile("device/windows/Start Menu/Programs/Reader.lnk", "5#\"old\"");
    MakeReadOnly(shortcut_);
    CreateShortcut(context_, entry);
    EXPECT_EQ(Read(shortcut_), kShortcutText);
    EXPECT_EQ(Read(OnDevice("Zephyrate/Trash/Reader.lnk.001")), "5#\"old\"");
    EXPECT_EQ(Job().PresentObjects, (std::vector<std::string>{kShortcut, kShortcut}));
}

TEST_F(DeviceLinksTest, AShortcutThatCannotBeMadeIsStillRecordedAndTheEntrySucceeds) {
    temp_.WriteFile("device/windows/Start Menu", "in the way");  // a file where a folder belongs
    FileEntry entry = Entry();
    EXPECT_EQ(Step(entry), 0);
    EXPECT_EQ(entry.StatusText, "Synchronisation succesful");
    EXPECT_EQ(Job().PresentObjects, (std::vector<std::string>{kFile, kFavorite, kShortcut}));
    EXPECT_EQ(Read(OnDevice("windows/Start Menu")), "in the way");
}

TEST_F(DeviceLinksTest, AFailedFavoriteFailsTheEntryAndSkipsTheShortcut) {
    temp_.WriteFile("device/windows/favorites/news", "in the way");
    FileEntry entry = Entry();
    EXPECT_EQ(Step(entry), 2);
    EXPECT_EQ(entry.StatusText, "Error: creation of favorites link in IE");
    EXPECT_EQ(Read(OnDevice("Zephyrate/news/a.exe")), "program");
    EXPECT_EQ(ModifiedAt(OnDevice("Zephyrate/news/a.exe")), kStamp);
    EXPECT_FALSE(std::filesystem::exists(OnDevice("windows/Start Menu")));
    EXPECT_EQ(Job().PresentObjects, std::vector<std::string>{kFile});
}

}  // namespace
}  // namespace zephyrate::test
