// Names from an index are not to be trusted: whatever the name, root or folder, nothing is
// written outside the device folder, and a name the file system cannot hold fails only its
// own entry.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/support/TestHttpServer.h"
#include "tests/transfer/TransferFixture.h"
#include "transfer/FileTransfer.h"

namespace zephyrate::test {
namespace {

class FileTransferInputTest : public TransferFixture {
  protected:
    FileTransferInputTest() {
        server_.Server().Get(R"(/.*)", [](const httplib::Request&, httplib::Response& res) {
            res.set_header("Last-Modified", HttpDate(kStamp));
            res.set_content("payload", "application/octet-stream");
        });
        server_.Start();
        Job().ServerFolderAddress = FolderAddress(server_.Port());
    }

    // The name goes to the device as given; the body comes from one fixed address, so
    // that only the device side is under test.
    FileEntry Entry(std::string_view name) {
        FileEntry entry;
        entry.Name = name;
        entry.Url = server_.Url("/payload");
        entry.UrlIsAbsolute = true;
        return entry;
    }

    int Step(FileEntry& entry) { return FileTransferStep(console_, entry, session_, false); }

    // Everything in the temporary folder except the device folder.
    std::map<std::string, std::string> AroundTheDevice() {
        auto files = Snapshot(temp_.Path());
        std::erase_if(files, [](const auto& item) { return item.first.starts_with("device"); });
        return files;
    }

    TestHttpServer& server_ = Keep<TestHttpServer>();
};

TEST_F(FileTransferInputTest, ParentStepsNeverLeaveTheDeviceFolder) {
    const auto before = AroundTheDevice();
    for (const char* name : {"../escape.txt", "..\\..\\..\\outside\\secret.txt", "a/../../../b.txt",
                             "a\\..\\..\\..\\outside/new.txt", ".."}) {
        FileEntry entry = Entry(name);
        EXPECT_EQ(Step(entry), 2) << name;
        EXPECT_EQ(entry.StatusText, "Error: writing file data to device") << name;
    }
    for (const auto& [root, folder] : std::vector<std::pair<std::string, std::string>>{
             {"\\Zephyrate", ".."}, {"\\..", "news"}, {"\\Zephyrate", "..\\..\\outside"}}) {
        Job().DeviceRoot = root;
        Job().CeFolder = folder;
        FileEntry entry = Entry("a.txt");
        EXPECT_EQ(Step(entry), 2) << root << " " << folder;
        EXPECT_EQ(entry.StatusText, "Error: writing file data to device");
    }
    EXPECT_EQ(AroundTheDevice(), before);
    EXPECT_TRUE(Job().PresentObjects.empty());
}

TEST_F(FileTransferInputTest, AbsolutePartsAndMixedSeparatorsStayBelowTheDestination) {
    const auto before = AroundTheDevice();
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"/etc/evil.txt", "Zephyrate/news/etc/evil.txt"},
        {"\\\\server\\share\\x.txt", "Zephyrate/news/server/share/x.txt"},
        {"a\\b/c.txt", "Zephyrate/news/a/b/c.txt"},
        {"C:\\d.txt", "Zephyrate/news/C:/d.txt"},
    };
    for (const auto& [name, landed] : cases) {
        FileEntry entry = Entry(name);
        const int outcome = Step(entry);
        // A doubled separator may keep the device from making the folder; then the entry
        // fails, but it never lands anywhere else.
        if (outcome == 0) {
            EXPECT_EQ(Read(OnDevice(landed)), "payload") << name;
        } else {
            EXPECT_EQ(outcome, 2) << name;
            EXPECT_EQ(entry.StatusText, "Error: writing file data to device") << name;
        }
    }
    EXPECT_EQ(AroundTheDevice(), before);
}

TEST_F(FileTransferInputTest, ANameTooLongFailsOnlyItsOwnEntry) {
    FileEntry longest = Entry(std::string(255, 'n'));
    EXPECT_EQ(Step(longest), 0) << longest.StatusText;

    FileEntry tooLong = Entry(std::string(256, 'n'));
    EXPECT_EQ(Step(tooLong), 2);
    EXPECT_EQ(tooLong.StatusText, "Error: writing file data to device");
    FileEntry deepTooLong = Entry(std::string(300, 'd') + "/a.txt");
    EXPECT_EQ(Step(deepTooLong), 2);

    FileEntry next = Entry("next.txt");
    EXPECT_EQ(Step(next), 0);
    EXPECT_EQ(Read(OnDevice("Zephyrate/news/next.txt")), "payload");
}

TEST_F(FileTransferInputTest, AnEntryWithoutANameIsNeverCurrent) {
    // "Url: http://host/" names no file, so there is no device copy to keep; not even a
    // favorite that happens to match the server's length and stamp makes it current.
    FileEntry entry;
    entry.SetUrl(server_.Url("/"));
    entry.AddFavorite("Front");
    ASSERT_EQ(entry.Name, "");
    SetModified(temp_.WriteFile("device/windows/favorites/news/Front.url", "7 bytes"), kStamp);
    EXPECT_EQ(Step(entry), 2);
    EXPECT_EQ(entry.StatusText, "Error: writing file data to device");
    EXPECT_TRUE(Job().PresentObjects.empty());
}

}  // namespace
}  // namespace zephyrate::test
