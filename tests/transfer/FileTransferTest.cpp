// The transfer step against real servers and a real device folder: what lands on the
// device, when a copy counts as current, what the row and PresentObjects show.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
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

class FileTransferTest : public TransferFixture {
  protected:
    FileTransferTest() { Job().ServerFolderAddress = FolderAddress(server_.Port(), "/files"); }

    // Serves www/files/NAME with the given contents and stamp.
    std::filesystem::path Serve(std::string_view name, const std::string& contents,
                                std::time_t stamp) {
        const std::filesystem::path file =
            temp_.WriteFile("www/files/" + std::string(name), contents);
        SetModified(file, stamp);
        return file;
    }

    int Step(FileEntry& entry, bool force = false) {
        return FileTransferStep(console_, entry, session_, force);
    }

    // One fresh entry per run, as the driver builds them from the index.
    int StepFor(std::string_view name, bool force = false) {
        FileEntry entry;
        entry.SetFile(name);
        return Step(entry, force);
    }

    FolderServer& server_ = Keep<FolderServer>(www_);
};

TEST_F(FileTransferTest, NewFileLandsWithTheServerStampAndThenCountsAsCurrent) {
    const std::string contents = Bytes(10000);
    Serve("docs/a.bin", contents, kStamp);
    FileEntry entry;
    entry.SetFile("docs/a.bin");
    console_.Jobs().AddFileRow(entry, "Provider");
    ASSERT_EQ(entry.Row, 0);

    EXPECT_EQ(Step(entry), 0);
    EXPECT_EQ(entry.Result, 0);
    EXPECT_EQ(entry.StatusText, "Synchronisation succesful");
    EXPECT_EQ(entry.HttpStatus, 200u);
    EXPECT_EQ(entry.ServerLength, 10000u);
    EXPECT_EQ(Read(OnDevice("Zephyrate/news/docs/a.bin")), contents);
    EXPECT_EQ(ModifiedAt(OnDevice("Zephyrate/news/docs/a.bin")), kStamp);
    EXPECT_EQ(Job().PresentObjects, std::vector<std::string>{"\\Zephyrate\\news\\docs/a.bin"});
    EXPECT_EQ(surface_.EventsOf("row-changed"),
              (std::vector<std::string>{"0|Connecting|2", "0|Checking time stamp|2",
                                        "0|Downloading to device|2"}));
    EXPECT_EQ(surface_.LastStatus(), "Retrieving: docs/a.bin  10000/10000");

    surface_.Clear();
    FileEntry again;
    again.SetFile("docs/a.bin");
    again.Row = 0;
    EXPECT_EQ(Step(again), 3);
    EXPECT_EQ(again.Result, 0);
    EXPECT_EQ(again.StatusText, "");
    EXPECT_EQ(again.DeviceLength, 10000u);
    EXPECT_EQ(again.DeviceTime, again.ServerTime);
    EXPECT_EQ(surface_.EventsOf("row-changed"),
              (std::vector<std::string>{"0|Connecting|2", "0|Checking time stamp|2"}));
    EXPECT_TRUE(surface_.StatusTexts().empty()) << "a current file shows no progress";
    EXPECT_EQ(Job().PresentObjects, (std::vector<std::string>{"\\Zephyrate\\news\\docs/a.bin",
                                                              "\\Zephyrate\\news\\docs/a.bin"}));
}

TEST_F(FileTransferTest, StampsWithinTwoSecondsAreEqualAndLengthsMustMatch) {
    const std::filesystem::path served = Serve("a.txt", "first", kStamp);
    ASSERT_EQ(StepFor("a.txt"), 0);

    SetModified(served, kStamp + 2);
    EXPECT_EQ(StepFor("a.txt"), 3);
    SetModified(served, kStamp - 2);
    EXPECT_EQ(StepFor("a.txt"), 3);

    SetModified(served, kStamp + 3);
    EXPECT_EQ(StepFor("a.txt"), 0);
    EXPECT_EQ(ModifiedAt(OnDevice("Zephyrate/news/a.txt")), kStamp + 3);
    SetModified(served, kStamp);
    EXPECT_EQ(StepFor("a.txt"), 0) << "an older server copy replaces the device copy too";
    EXPECT_EQ(ModifiedAt(OnDevice("Zephyrate/news/a.txt")), kStamp);

    Serve("a.txt", "second", kStamp);  // same stamp, one byte longer
    EXPECT_EQ(StepFor("a.txt"), 0);
    EXPECT_EQ(Read(OnDevice("Zephyrate/news/a.txt")), "second");
    EXPECT_EQ(StepFor("a.txt"), 3);
}

TEST_F(FileTransferTest, ForceDownloadsACurrentCopy) {
    Serve("a.txt", "text", kStamp);
    ASSERT_EQ(StepFor("a.txt"), 0);
    // Other bytes of the same length and stamp: only force can tell.
    temp_.WriteFile("device/Zephyrate/news/a.txt", "xxxx");
    SetModified(OnDevice("Zephyrate/news/a.txt"), kStamp);
    ASSERT_EQ(StepFor("a.txt"), 3);

    FileEntry entry;
    entry.SetFile("a.txt");
    EXPECT_EQ(Step(entry, true), 0);
    EXPECT_EQ(entry.DeviceLength, 4u) << "the device stamp is still read first";
    EXPECT_EQ(Read(OnDevice("Zephyrate/news/a.txt")), "text");
}

TEST_F(FileTransferTest, RowMinusOneChangesNoRow) {
    Serve("a.txt", "text", kStamp);
    console_.Jobs().AddJobRow("job");
    FileEntry entry;
    entry.SetFile("a.txt");
    ASSERT_EQ(entry.Row, -1);
    EXPECT_EQ(Step(entry), 0);
    EXPECT_TRUE(surface_.EventsOf("row-changed").empty());
    EXPECT_EQ(console_.Jobs().Rows().at(0).status, "Connecting to Server");
}

// Servers that do not tell the stamp or the length: every run downloads.
class UnknownStampTest : public TransferFixture {
  protected:
    UnknownStampTest() {
        server_.Server().Get("/nostamp", [](const httplib::Request&, httplib::Response& res) {
            res.set_content("no stamp", "application/octet-stream");
        });
        server_.Server().Get("/nolength", [](const httplib::Request&, httplib::Response& res) {
            res.set_header("Last-Modified", HttpDate(kStamp));
            res.set_chunked_content_provider("application/octet-stream",
                                             [](std::size_t, httplib::DataSink& sink) {
                                                 sink.write("no length", 9);
                                                 sink.done();
                                                 return true;
                                             });
        });
        server_.Start();
        Job().ServerFolderAddress = FolderAddress(server_.Port());
    }

    TestHttpServer& server_ = Keep<TestHttpServer>();
};

TEST_F(UnknownStampTest, NoLastModifiedOrNoContentLengthDownloadsEveryTime) {
    for (int run = 0; run < 2; ++run) {
        FileEntry stampless;
        stampless.SetFile("nostamp");
        const std::time_t before = std::time(nullptr);
        EXPECT_EQ(FileTransferStep(console_, stampless, session_, false), 0) << "run " << run;
        const std::time_t landed = ModifiedAt(OnDevice("Zephyrate/news/nostamp"));
        EXPECT_GE(landed, before - 1) << "the time of the download stands in";
        EXPECT_LE(landed, std::time(nullptr) + 1);
        // As if this run had been a few seconds ago: the next one is then more than the
        // tolerance after the stamp it left.
        SetModified(OnDevice("Zephyrate/news/nostamp"), landed - 3);

        FileEntry lengthless;
        lengthless.SetFile("nolength");
        EXPECT_EQ(FileTransferStep(console_, lengthless, session_, false), 0) << "run " << run;
        EXPECT_EQ(lengthless.ServerLength, 0xFFFFFFFFu);
        EXPECT_EQ(Read(OnDevice("Zephyrate/news/nolength")), "no length");
        EXPECT_EQ(ModifiedAt(OnDevice("Zephyrate/news/nolength")), kStamp);
        // Unknown totals show as "???".
        EXPECT_EQ(surface_.LastStatus(), "Retrieving: nolength  9/???");
    }
}

// A current copy must not cost the body: 8 MiB that the server hands out slowly.
using CurrentCopyTest = TransferFixture;

TEST_F(CurrentCopyTest, IsLeftWithoutReadingTheBody) {
    constexpr std::size_t kSize = 8 * 1024 * 1024;
    constexpr std::size_t kPiece = 64 * 1024;
    std::atomic<std::size_t> sent{0};
    TestHttpServer& server = Keep<TestHttpServer>();
    server.Server().Get("/big", [&](const httplib::Request&, httplib::Response& res) {
        res.set_header("Last-Modified", HttpDate(kStamp));
        res.set_content_provider(kSize, "application/octet-stream",
                                 [&](std::size_t offset, std::size_t, httplib::DataSink& sink) {
                                     static const std::string piece(kPiece, 'z');
                                     std::this_thread::sleep_for(std::chrono::milliseconds(20));
                                     const std::size_t n = std::min(kPiece, kSize - offset);
                                     if (!sink.write(piece.data(), n)) {
                                         return false;
                                     }
                                     sent += n;
                                     return true;
                                 });
    });
    server.Start();
    Job().ServerFolderAddress = FolderAddress(server.Port());
    // A current copy: same length, same stamp, other bytes.
    std::filesystem::create_directories(OnDevice("Zephyrate/news"));
    temp_.WriteFile("device/Zephyrate/news/big", "");
    std::filesystem::resize_file(OnDevice("Zephyrate/news/big"), kSize);
    SetModified(OnDevice("Zephyrate/news/big"), kStamp);

    FileEntry entry;
    entry.SetFile("big");
    const auto start = Clock::now();
    EXPECT_EQ(FileTransferStep(console_, entry, session_, false), 3);
    const auto took = Clock::now() - start;
    // The whole body takes 128 pieces of 20 ms; the step must not wait for it.
    EXPECT_LT(took, std::chrono::milliseconds(1500));
    EXPECT_LT(sent.load(), kSize / 4);
    EXPECT_EQ(Read(OnDevice("Zephyrate/news/big")), std::string(kSize, '\0'));
}

}  // namespace
}  // namespace zephyrate::test
