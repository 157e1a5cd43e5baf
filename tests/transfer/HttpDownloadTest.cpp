// Opening an entry's response (the address it is fetched from, which statuses count as
// errors) and reading the stamp of a device file.
#include <gtest/gtest.h>

#include <string>

#include "tests/platform/FolderDeviceFixture.h"
#include "tests/support/TestHttpServer.h"
#include "tests/transfer/TransferFixture.h"
#include "transfer/HttpDownload.h"

namespace zephyrate::test {
namespace {

class HttpDownloadTest : public TransferFixture {
  protected:
    HttpDownloadTest() {
        // Only the addresses the entries must be fetched from are found.
        server_.Server().Get(R"(/.*)", [](const httplib::Request& req, httplib::Response& res) {
            const bool found = req.path == "/files/docs/a.txt" || req.path == "/elsewhere/b.txt";
            res.status = req.path.starts_with("/status/") ? std::stoi(req.path.substr(8))
                         : found                          ? 200
                                                          : 404;
            res.set_content("body", "text/plain");
        });
        server_.Start();
        Job().ServerFolderAddress = FolderAddress(server_.Port(), "/files");
    }

    TestHttpServer& server_ = Keep<TestHttpServer>();
};

TEST_F(HttpDownloadTest, OpensTheEntrysAddressAndTakesStatusesFrom400AsErrors) {
    FileEntry relative = Named("docs/a.txt");  // below the server folder
    FileEntry absolute;                        // as given
    absolute.SetUrl(server_.Url("/elsewhere/b.txt"));
    FileEntry accepted;
    accepted.SetUrl(server_.Url("/status/399"));
    for (FileEntry* entry : {&relative, &absolute, &accepted}) {
        EXPECT_NE(OpenEntryUrl(*entry, session_, Job()), nullptr) << entry->StatusText;
        EXPECT_EQ(entry->StatusText, "");
    }
    EXPECT_EQ(relative.HttpStatus, 200u);
    EXPECT_EQ(accepted.HttpStatus, 399u);

    for (const int status : {400, 404, 500}) {
        FileEntry refused;
        refused.SetUrl(server_.Url("/status/" + std::to_string(status)));
        EXPECT_EQ(OpenEntryUrl(refused, session_, Job()), nullptr);
        EXPECT_EQ(refused.HttpStatus, static_cast<std::uint32_t>(status));
        EXPECT_EQ(refused.StatusText, "HTTP ERROR CODE: " + std::to_string(status));
    }
}

using DeviceStampTest = TransferFixture;

TEST_F(DeviceStampTest, StampAndLengthComeFromTheDeviceFile) {
    SetModified(temp_.WriteFile("device/Zephyrate/a.txt", "12345"), kStamp);
    FileEntry entry;
    EXPECT_TRUE(ReadDeviceFileStamp(device_, entry, "\\zephyrate\\A.TXT"));
    EXPECT_EQ(entry.DeviceLength, 5u);
    EXPECT_EQ(entry.DeviceTime, kStamp);
    EXPECT_TRUE(DeviceFileIsFree("\\Zephyrate\\a.txt")) << "left open after reading the stamp";
}

TEST_F(DeviceStampTest, MissingOrBusyFilesLeaveTheEntryUnchanged) {
    temp_.WriteFile("device/busy.txt", "busy");
    OtherProcessLock lock(OnDevice("busy.txt"));
    ASSERT_TRUE(lock.Locked());
    for (const char* path : {"\\missing.txt", "\\busy.txt", "\\", "\\..\\outside\\secret.txt"}) {
        FileEntry entry;
        entry.DeviceTime = 42;
        EXPECT_FALSE(ReadDeviceFileStamp(device_, entry, path)) << path;
        EXPECT_EQ(entry.DeviceTime, 42);
        EXPECT_EQ(entry.DeviceLength, 0xFFFFFFFFu);
    }
}

}  // namespace
}  // namespace zephyrate::test
