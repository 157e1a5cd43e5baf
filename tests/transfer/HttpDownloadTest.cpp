// Opening an entry's response (the address it is fetched from, which statuses count as
// errors) and reading the stamp of a device file.
#include <gtest/gtest.h>

#include <mutex>
#include <string>
#include <vector>

#include "platform/WideText.h"
#include "tests/platform/FolderDeviceFixture.h"
#include "tests/support/TestHttpServer.h"
#include "tests/transfer/TransferFixture.h"
#include "transfer/HttpDownload.h"
#include "transfer/ServerTime.h"

namespace zephyrate::test {
namespace {

class HttpDownloadTest : public TransferFixture {
  protected:
    HttpDownloadTest() {
        server_.Server().Get(R"(/.*)", [this](const httplib::Request& req, httplib::Response& res) {
            {
                std::lock_guard lock(mutex_);
                paths_.push_back(req.path);
            }
            if (req.path.starts_with("/status/")) {
                res.status = std::stoi(req.path.substr(8));
            }
            res.set_content("body", "text/plain");
        });
        server_.Start();
        Job().ServerFolderAddress = FolderAddress(server_.Port(), "/files");
    }

    std::vector<std::string> Paths() {
        std::lock_guard lock(mutex_);
        return paths_;
    }

    TestHttpServer& server_ = Keep<TestHttpServer>();
    std::mutex mutex_;
    std::vector<std::string> paths_;
};

TEST_F(HttpDownloadTest, RelativeNamesFollowTheServerFolderAndAbsoluteAddressesStandAlone) {
    FileEntry relative;
    relative.SetFile("docs/a.txt");
    auto response = OpenEntryUrl(relative, session_, Job());
    ASSERT_NE(response, nullptr) << relative.StatusText;
    EXPECT_EQ(relative.HttpStatus, 200u);
    response->Close();

    FileEntry absolute;
    absolute.SetUrl(server_.Url("/elsewhere/b.txt"));
    ASSERT_NE(OpenEntryUrl(absolute, session_, Job()), nullptr) << absolute.StatusText;

    EXPECT_EQ(Paths(), (std::vector<std::string>{"/files/docs/a.txt", "/elsewhere/b.txt"}));
}

TEST_F(HttpDownloadTest, StatusesFromFourHundredOnAreErrors) {
    FileEntry accepted;
    accepted.SetUrl(server_.Url("/status/399"));
    EXPECT_NE(OpenEntryUrl(accepted, session_, Job()), nullptr);
    EXPECT_EQ(accepted.HttpStatus, 399u);
    EXPECT_EQ(accepted.StatusText, "");

    for (const int status : {400, 404, 500}) {
        FileEntry refused;
        refused.SetUrl(server_.Url("/status/" + std::to_string(status)));
        EXPECT_EQ(OpenEntryUrl(refused, session_, Job()), nullptr);
        EXPECT_EQ(refused.HttpStatus, static_cast<std::uint32_t>(status));
        EXPECT_EQ(refused.StatusText, "HTTP ERROR CODE: " + std::to_string(status));
    }
}

class DeviceStampTest : public TransferFixture {};

TEST_F(DeviceStampTest, StampAndLengthComeFromTheDeviceFile) {
    temp_.WriteFile("device/Zephyrate/a.txt", "12345");
    SetModified(OnDevice("Zephyrate/a.txt"), kStamp);
    FileEntry entry;
    EXPECT_TRUE(ReadDeviceFileStamp(device_, entry, "\\zephyrate\\A.TXT"));
    EXPECT_EQ(entry.DeviceLength, 5u);
    FILETIME written;
    // 100 ns units since 1601: the same moment as the file's Unix time.
    const std::uint64_t units = (static_cast<std::uint64_t>(kStamp) + 11644473600ull) * 10000000ull;
    written.dwLowDateTime = static_cast<std::uint32_t>(units);
    written.dwHighDateTime = static_cast<std::uint32_t>(units >> 32);
    EXPECT_EQ(entry.DeviceTime, SecondsFromFileTime(written));

    // The stamp read left the file free for the writer.
    const std::u16string path = Utf8ToUtf16("\\Zephyrate\\a.txt");
    const DeviceHandle file =
        device_.CeCreateFile(path.c_str(), GENERIC_WRITE, 0, CREATE_ALWAYS, 0);
    EXPECT_NE(file, INVALID_HANDLE_VALUE);
    device_.CeCloseHandle(file);
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
