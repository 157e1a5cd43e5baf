// How the transfer step fails: the outcome code, the status text, what the row shows and
// what is left on the device, for servers that refuse, lie or break off, a device that
// refuses, and a user who cancels.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <vector>

#include "platform/InternetError.h"
#include "platform/WideText.h"
#include "tests/support/RawHttpServer.h"
#include "tests/support/TestHttpServer.h"
#include "tests/transfer/TransferFixture.h"
#include "transfer/FileTransfer.h"

namespace zephyrate::test {
namespace {

using Clock = std::chrono::steady_clock;

// A port on which nothing listens (it was free a moment ago).
int ClosedPort() {
    const int probe = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    bind(probe, reinterpret_cast<sockaddr*>(&address), sizeof address);
    getsockname(probe, reinterpret_cast<sockaddr*>(&address), &length);
    close(probe);
    return ntohs(address.sin_port);
}

class FileTransferFailureTest : public TransferFixture {
  protected:
    FileTransferFailureTest() {
        server_.Server().Get("/a.txt", [](const httplib::Request&, httplib::Response& res) {
            res.set_header("Last-Modified", HttpDate(kStamp));
            res.set_content("text", "text/plain");
        });
        server_.Server().Get("/slow", [this](const httplib::Request&, httplib::Response& res) {
            res.set_header("Last-Modified", HttpDate(kStamp));
            res.set_content_provider(
                kSlowSize, "application/octet-stream",
                [this](std::size_t offset, std::size_t, httplib::DataSink& sink) {
                    // The request lands before the rest of the body is sent, so the step
                    // cannot finish without seeing it.
                    const std::string piece(kSlowSize / 4, 's');
                    if (!sink.write(piece.data(), piece.size())) {
                        return false;
                    }
                    if (offset == 0 && cancelAll_) {
                        console_.Control().SetCancelAll();
                    } else if (offset == 0) {
                        console_.Control().SetCancelThisJob();
                    }
                    return true;
                });
        });
        server_.Start();
        Job().ServerFolderAddress = FolderAddress(server_.Port());
    }

    int StepFor(FileEntry& entry, std::string_view name) {
        entry.SetFile(name);
        entry.Row = console_.Jobs().AddFileRow(entry, "Provider");
        return FileTransferStep(console_, entry, session_, false);
    }

    static constexpr std::size_t kSlowSize = 1024 * 1024;
    bool cancelAll_ = false;
    TestHttpServer& server_ = Keep<TestHttpServer>();
};

TEST_F(FileTransferFailureTest, ServerRefusalsEndTheEntryWithTheirText) {
    FileEntry missing;
    EXPECT_EQ(StepFor(missing, "missing.txt"), 2);
    EXPECT_EQ(missing.Result, 2);
    EXPECT_EQ(missing.HttpStatus, 404u);
    EXPECT_EQ(missing.StatusText, "HTTP ERROR CODE: 404");
    EXPECT_EQ(surface_.EventsOf("row-changed"), std::vector<std::string>{"0|Connecting|2"});

    const int port = ClosedPort();
    Job().ServerFolderAddress = FolderAddress(port);
    FileEntry refused;
    EXPECT_EQ(StepFor(refused, "a.txt"), 2);
    EXPECT_EQ(refused.Result, 2);
    EXPECT_EQ(
        refused.StatusText.rfind("Failed to connect to 127.0.0.1 port " + std::to_string(port), 0),
        0u)
        << refused.StatusText;

    EXPECT_FALSE(std::filesystem::exists(OnDevice("Zephyrate")));
    EXPECT_TRUE(Job().PresentObjects.empty());
}

TEST_F(FileTransferFailureTest, DestinationInTheSystemFolderIsRefusedBeforeAnyRequest) {
    for (const auto& [root, folder] : std::vector<std::pair<std::string, std::string>>{
             {"\\Windows\\Data", "news"}, {"", "WINDOWS"}, {"/windows", ""}}) {
        Job().DeviceRoot = root;
        Job().CeFolder = folder;
        FileEntry entry;
        EXPECT_EQ(StepFor(entry, "a.txt"), 2) << root << " " << folder;
        EXPECT_EQ(entry.Result, 2);
        EXPECT_EQ(entry.StatusText,
                  "Invalid synchronisation object. Please contact support@kestrelwynd.example");
    }
    EXPECT_TRUE(surface_.EventsOf("row-changed").empty());
    EXPECT_EQ(server_.RequestCount(), 0u);
    EXPECT_TRUE(std::filesystem::is_empty(root_));
}

TEST_F(FileTransferFailureTest, DeviceThatCannotTakeTheFileFailsTheEntry) {
    // A file where the destination folder belongs: the folder cannot be made.
    temp_.WriteFile("device/Zephyrate/news", "in the way");
    FileEntry entry;
    EXPECT_EQ(StepFor(entry, "a.txt"), 2);
    EXPECT_EQ(entry.Result, 2);
    EXPECT_EQ(entry.StatusText, "Error: writing file data to device");
    EXPECT_EQ(Read(OnDevice("Zephyrate/news")), "in the way");
    EXPECT_TRUE(Job().PresentObjects.empty());
    EXPECT_EQ(surface_.EventsOf("row-changed").back(), "0|Downloading to device|2");
}

TEST_F(FileTransferFailureTest, CancelDuringTheDownloadLeavesAPartialFile) {
    FileEntry skipped;
    EXPECT_EQ(StepFor(skipped, "slow"), 1);
    EXPECT_EQ(skipped.Result, 1);
    EXPECT_EQ(skipped.StatusText, "Error: writing file data to device");
    const auto partial = std::filesystem::file_size(OnDevice("Zephyrate/news/slow"));
    EXPECT_GT(partial, 0u);
    EXPECT_LT(partial, kSlowSize);
    EXPECT_NE(ModifiedAt(OnDevice("Zephyrate/news/slow")), kStamp);
    EXPECT_TRUE(Job().PresentObjects.empty());

    // The partial copy is not current: the next run downloads it, this time cancelling all.
    cancelAll_ = true;
    FileEntry cancelled;
    EXPECT_EQ(StepFor(cancelled, "slow"), -1);
    EXPECT_EQ(cancelled.Result, -1);
    EXPECT_EQ(cancelled.StatusText, "Error: writing file data to device");
    EXPECT_EQ(surface_.ProgressPosition(), 0u);
}

// Bodies that break off raise the internet layer's error to the caller, without leaving
// the device file open; a body longer than announced ends cleanly at the announced length.
using BrokenBodyTest = TransferFixture;

TEST_F(BrokenBodyTest, NeverHangsAndReleasesTheDeviceFile) {
    const std::string head = "HTTP/1.1 200 OK\r\nLast-Modified: " + HttpDate(kStamp) +
                             "\r\nContent-Length: 100000\r\n\r\n";
    RawHttpServer shortBody([&](RawHttpServer::Connection& c) {
        c.ReadRequest();
        c.Send(head + std::string(60000, 'x'));
    });
    RawHttpServer reset([&](RawHttpServer::Connection& c) {
        c.ReadRequest();
        c.Send(head + std::string(20000, 'x'));
        c.WaitForClientClose(std::chrono::milliseconds(100));
        c.Reset();
    });
    RawHttpServer longBody([&](RawHttpServer::Connection& c) {
        c.ReadRequest();
        c.Send(head + std::string(150000, 'y'));
        c.WaitForClientClose(std::chrono::milliseconds(2000));
    });

    for (RawHttpServer* server : {&shortBody, &reset}) {
        Job().ServerFolderAddress = FolderAddress(server->Port());
        FileEntry entry;
        entry.SetFile("broken");
        const auto start = Clock::now();
        EXPECT_THROW(FileTransferStep(console_, entry, session_, false), InternetError);
        EXPECT_LT(Clock::now() - start, std::chrono::seconds(10));
        // Opening it exclusively succeeds only when the step closed its handle.
        const std::u16string path = Utf8ToUtf16("\\Zephyrate\\news\\broken");
        const DeviceHandle file =
            device_.CeCreateFile(path.c_str(), GENERIC_WRITE, 0, CREATE_ALWAYS, 0);
        EXPECT_NE(file, INVALID_HANDLE_VALUE) << "the device file was left open";
        device_.CeCloseHandle(file);
        EXPECT_TRUE(Job().PresentObjects.empty());
    }

    Job().ServerFolderAddress = FolderAddress(longBody.Port());
    FileEntry entry;
    entry.SetFile("long");
    EXPECT_EQ(FileTransferStep(console_, entry, session_, false), 0);
    EXPECT_EQ(Read(OnDevice("Zephyrate/news/long")), std::string(100000, 'y'));
}

}  // namespace
}  // namespace zephyrate::test
