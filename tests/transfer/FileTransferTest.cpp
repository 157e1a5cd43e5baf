// The transfer step against real servers and a real device folder: what lands on the
// device, when a copy counts as current, what the row and PresentObjects show.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/FolderServer.h"
#include "tests/support/TestHttpServer.h"
#include "tests/transfer/TransferFixture.h"
#include "transfer/FileTransfer.h"

namespace zephyrate::test {
namespace {

using Clock = std::chrono::steady_clock;
using Texts = std::vector<std::string>;

class FileTransferTest : public TransferFixture {
  protected:
    FileTransferTest() { Job().ServerFolderAddress = FolderAddress(server_.Port(), "/files"); }

    // Serves www/files/NAME with the given contents and stamp.
    std::filesystem::path Serve(std::string_view name, const std::string& contents,
                                std::time_t stamp) {
        const auto file = temp_.WriteFile("www/files/" + std::string(name), contents);
        SetModified(file, stamp);
        return file;
    }

    int StepFor(std::string_view name, bool force = false) {
        FileEntry entry = Named(name);
        return Step(entry, force);
    }

    FolderServer& server_ = Keep<FolderServer>(www_);
};

TEST_F(FileTransferTest, NewFileLandsWithTheServerStampAndThenCountsAsCurrent) {
    const std::string contents = Bytes(10000);
    Serve("docs/a.bin", contents, kStamp);
    FileEntry entry = Named("docs/a.bin");
    console_.Jobs().AddFileRow(entry, "Provider");

    EXPECT_EQ(Step(entry), 0);
    EXPECT_EQ(entry.StatusText, "Synchronisation succesful");
    EXPECT_EQ(Read(OnDevice("Zephyrate/news/docs/a.bin")), contents);
    EXPECT_EQ(ModifiedAt(OnDevice("Zephyrate/news/docs/a.bin")), kStamp);
    EXPECT_EQ(surface_.EventsOf("row-changed"),
              (Texts{"0|Connecting|2", "0|Checking time stamp|2", "0|Downloading to device|2"}));
    EXPECT_EQ(surface_.LastStatus(), "Retrieving: docs/a.bin  10000/10000");

    surface_.Clear();
    FileEntry again = Named("docs/a.bin");
    again.Row = 0;
    EXPECT_EQ(Step(again), 3);
    EXPECT_EQ(surface_.EventsOf("row-changed"),
              (Texts{"0|Connecting|2", "0|Checking time stamp|2"}));
    EXPECT_TRUE(surface_.StatusTexts().empty()) << "a current file shows no progress";
    EXPECT_EQ(Job().PresentObjects, Texts(2, "\\Zephyrate\\news\\docs/a.bin"));
}

TEST_F(FileTransferTest, CurrentMeansTheSameLengthAndAStampWithinTwoSeconds) {
    const std::filesystem::path served = Serve("a.txt", "first", kStamp);
    const std::filesystem::path copy = OnDevice("Zephyrate/news/a.txt");
    console_.Jobs().AddJobRow("job");
    ASSERT_EQ(StepFor("a.txt"), 0);
    // Each step compares with the copy the step before left; an older server copy
    // replaces the device copy too.
    for (const auto& [offset, outcome] : {std::pair{2, 3}, {-2, 3}, {3, 0}, {0, 0}}) {
        SetModified(served, kStamp + offset);
        EXPECT_EQ(StepFor("a.txt"), outcome) << offset;
        EXPECT_EQ(ModifiedAt(copy), outcome == 0 ? kStamp + offset : kStamp) << offset;
    }

    Serve("a.txt", "second", kStamp);  // same stamp, one byte longer
    EXPECT_EQ(StepFor("a.txt"), 0);
    EXPECT_EQ(Read(copy), "second");

    // Other bytes of the same length and stamp: only force can tell.
    temp_.WriteFile("device/Zephyrate/news/a.txt", "xxxxxx");
    SetModified(copy, kStamp);
    EXPECT_EQ(StepFor("a.txt"), 3);
    EXPECT_EQ(StepFor("a.txt", true), 0);
    EXPECT_EQ(Read(copy), "second");

    // The entries had no row (Row -1): no row changed.
    EXPECT_TRUE(surface_.EventsOf("row-changed").empty());
    EXPECT_EQ(console_.Jobs().Rows().at(0).status, "Connecting to Server");
}

// Servers that do not tell the stamp or the length, and one that hands out 8 MiB slowly.
class OddServerTest : public TransferFixture {
  protected:
    OddServerTest() {
        server_.Server().Get("/nostamp", [](const httplib::Request&, httplib::Response& res) {
            res.set_content("no stamp", "application/octet-stream");
        });
        server_.Server().Get("/nolength", [](const httplib::Request&, httplib::Response& res) {
            res.set_header("Last-Modified", HttpDateOf(kStamp));
            res.set_chunked_content_provider("application/octet-stream",
                                             [](std::size_t, httplib::DataSink& sink) {
                                                 sink.write("no length", 9);
                                                 sink.done();
                                                 return true;
                                             });
        });
        server_.Server().Get(
            "/big", [sent = sent_](const httplib::Request&, httplib::Response& res) {
                res.set_header("Last-Modified", HttpDateOf(kStamp));
                res.set_content_provider(
                    kBig, "application/octet-stream",
                    [sent](std::size_t offset, std::size_t, httplib::DataSink& sink) {
                        static const std::string piece(kPiece, 'z');
                        std::this_thread::sleep_for(std::chrono::milliseconds(20));
                        const std::size_t n = std::min(kPiece, kBig - offset);
                        *sent += n;
                        return sink.write(piece.data(), n);
                    });
            });
        server_.Start();
        Job().ServerFolderAddress = FolderAddress(server_.Port());
    }

    static constexpr std::size_t kBig = 8 * 1024 * 1024;
    static constexpr std::size_t kPiece = 64 * 1024;
    // Shared with the server's threads, which may still be sending when the test ends.
    std::shared_ptr<std::atomic<std::size_t>> sent_ = std::make_shared<std::atomic<std::size_t>>(0);
    TestHttpServer& server_ = Keep<TestHttpServer>();
};

TEST_F(OddServerTest, NoLastModifiedOrNoContentLengthDownloadsEveryTime) {
    // Copies that would be current if the server told their stamp or length: the one
    // without a stamp as if it had been downloaded a few seconds ago.
    const std::time_t before = std::time(nullptr);
    SetModified(temp_.WriteFile("device/Zephyrate/news/nostamp", "no stamp"), before - 3);
    SetModified(temp_.WriteFile("device/Zephyrate/news/nolength", "no length"), kStamp);

    FileEntry stampless = Named("nostamp");
    EXPECT_EQ(Step(stampless), 0);
    const std::time_t landed = ModifiedAt(OnDevice("Zephyrate/news/nostamp"));
    EXPECT_GE(landed, before - 1) << "the time of the download stands in";
    EXPECT_LE(landed, std::time(nullptr) + 1);

    FileEntry lengthless = Named("nolength");
    EXPECT_EQ(Step(lengthless), 0);
    EXPECT_EQ(lengthless.ServerLength, 0xFFFFFFFFu);
    EXPECT_EQ(ModifiedAt(OnDevice("Zephyrate/news/nolength")), kStamp);
    EXPECT_EQ(surface_.LastStatus(), "Retrieving: nolength  9/???");
}

TEST_F(OddServerTest, ACurrentCopyIsLeftWithoutReadingTheBody) {
    // Same length, same stamp, other bytes.
    temp_.WriteFile("device/Zephyrate/news/big", "");
    std::filesystem::resize_file(OnDevice("Zephyrate/news/big"), kBig);
    SetModified(OnDevice("Zephyrate/news/big"), kStamp);

    FileEntry entry = Named("big");
    const auto start = Clock::now();
    EXPECT_EQ(Step(entry), 3);
    // The whole body takes 128 pieces of 20 ms; the step must not wait for it.
    EXPECT_LT(Clock::now() - start, std::chrono::milliseconds(1500));
    EXPECT_LT(sent_->load(), kBig / 4);
    EXPECT_EQ(Read(OnDevice("Zephyrate/news/big")), std::string(kBig, '\0'));
}

}  // namespace
}  // namespace zephyrate::test
