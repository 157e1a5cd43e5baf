// The device writer on a real device folder: chunking, reports, the stamp, replacing files
// the device refuses, device failures and cancel requests between chunks.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <ctime>
#include <functional>
#include <string>
#include <vector>

#include "platform/MemoryFile.h"
#include "tests/platform/FolderDeviceFixture.h"
#include "tests/transfer/TransferFixture.h"
#include "transfer/DeviceWriter.h"
#include "transfer/ServerTime.h"

namespace zephyrate::test {
namespace {

// A memory file that counts the reads made of it and can run a hook after the first.
class CountingSource final : public ReadableFile {
  public:
    explicit CountingSource(const std::string& contents) {
        file_.Write(contents.data(), contents.size());
    }

    void SeekToBegin() override {
        ++seeks;
        file_.SeekToBegin();
    }
    std::size_t Read(void* buffer, std::size_t count) override {
        const std::size_t n = file_.Read(buffer, count);
        reads.push_back(n);
        if (reads.size() == 1 && afterFirstRead) {
            afterFirstRead();
        }
        return n;
    }

    int seeks = 0;
    std::vector<std::size_t> reads;
    std::function<void()> afterFirstRead;

  private:
    MemoryFile file_;
};

class DeviceWriterTest : public TransferFixture {
  protected:
    DeviceWriterTest() {
        entry_.SetFile("docs/a.bin");
        // 2021-02-03 04:05:06, stamped without any zone conversion.
        SYSTEMTIME time;
        time.wYear = 2021;
        time.wMonth = 2;
        time.wDay = 3;
        time.wHour = 4;
        time.wMinute = 5;
        time.wSecond = 6;
        entry_.ServerTime = SecondsFromSystemTime(time);
        std::tm parts{};
        parts.tm_year = 121;
        parts.tm_mon = 1;
        parts.tm_mday = 3;
        parts.tm_hour = 4;
        parts.tm_min = 5;
        parts.tm_sec = 6;
        stampUtc_ = timegm(&parts);
    }

    bool Write(ReadableFile& source, std::string_view path, std::uint32_t total = 0) {
        return WriteToDevice(console_, entry_, source, path, total);
    }

    FileEntry entry_;
    std::time_t stampUtc_ = 0;
};

TEST_F(DeviceWriterTest, ChunksReportsAndStampFollowTheSourceLength) {
    struct Case {
        std::size_t size;
        std::vector<std::size_t> reads;
        std::vector<std::string> reports;
    };
    const std::vector<Case> cases = {
        {0, {0}, {"Retrieving: docs/a.bin  0/???"}},
        {4096, {4096, 0}, {"Retrieving: docs/a.bin  4096/???", "Retrieving: docs/a.bin  4096/???"}},
        {4097, {4096, 1}, {"Retrieving: docs/a.bin  4096/???", "Retrieving: docs/a.bin  4097/???"}},
        {8192,
         {4096, 4096, 0},
         {"Retrieving: docs/a.bin  4096/???", "Retrieving: docs/a.bin  8192/???",
          "Retrieving: docs/a.bin  8192/???"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.size);
        surface_.Clear();
        Job().PresentObjects.clear();
        const std::string contents = Bytes(c.size, static_cast<unsigned>(c.size));
        CountingSource source(contents);
        EXPECT_TRUE(Write(source, "\\Zephyrate\\news\\docs/a.bin"));
        EXPECT_EQ(entry_.Result, 0);
        EXPECT_EQ(source.seeks, 1);
        EXPECT_EQ(source.reads, c.reads);
        // One report per device write, each showing the bytes the device took so far.
        EXPECT_EQ(surface_.StatusTexts(), c.reports);
        const auto file = OnDevice("Zephyrate/news/docs/a.bin");
        struct stat info {};
        ASSERT_EQ(stat(file.c_str(), &info), 0);  // before reading it moves the access time
        EXPECT_EQ(info.st_mtime, stampUtc_);
        EXPECT_EQ(info.st_atime, stampUtc_);
        EXPECT_EQ(Read(file), contents);
        EXPECT_EQ(Job().PresentObjects, std::vector<std::string>{"\\Zephyrate\\news\\docs/a.bin"});
    }
}

// Files the device will not overwrite (locked by another process, read-only) go to the
// trash folder under the lowest free number and the new file takes their place.
TEST_F(DeviceWriterTest, RefusedFilesAreMovedToTheTrashAndReplaced) {
    temp_.WriteFile("device/Zephyrate/Trash/a.txt.002", "older");
    temp_.WriteFile("device/Zephyrate/news/a.txt", "locked");
    temp_.WriteFile("device/Zephyrate/news/b.txt", "read-only");
    MakeReadOnly(OnDevice("Zephyrate/news/b.txt"));
    entry_.SetFile("a.txt");
    {
        OtherProcessLock lock(OnDevice("Zephyrate/news/a.txt"));
        ASSERT_TRUE(lock.Locked());
        CountingSource source("new a");
        EXPECT_TRUE(Write(source, "\\Zephyrate\\news\\a.txt"));
    }
    CountingSource source("new b");
    EXPECT_TRUE(Write(source, "\\Zephyrate\\news\\b.txt"));

    EXPECT_EQ(Read(OnDevice("Zephyrate/news/a.txt")), "new a");
    EXPECT_EQ(Read(OnDevice("Zephyrate/news/b.txt")), "new b");
    EXPECT_EQ(Read(OnDevice("Zephyrate/Trash/a.txt.001")), "locked");
    EXPECT_EQ(Read(OnDevice("Zephyrate/Trash/a.txt.002")), "older");
    EXPECT_EQ(Read(OnDevice("Zephyrate/Trash/b.txt.001")), "read-only");
}

TEST_F(DeviceWriterTest, WithoutATrashFolderARefusedFileFailsTheWrite) {
    temp_.WriteFile("device/Zephyrate/news/b.txt", "read-only");
    MakeReadOnly(OnDevice("Zephyrate/news/b.txt"));
    CountingSource source("new b");
    EXPECT_FALSE(Write(source, "\\Zephyrate\\news\\b.txt"));
    EXPECT_EQ(entry_.Result, 2);
    EXPECT_EQ(Read(OnDevice("Zephyrate/news/b.txt")), "read-only");
    EXPECT_TRUE(source.reads.empty()) << "nothing is read before the file is open";
    EXPECT_TRUE(Job().PresentObjects.empty());
    EXPECT_FALSE(std::filesystem::exists(OnDevice("Zephyrate/Trash")));
}

TEST_F(DeviceWriterTest, CancelBetweenChunksLeavesThePartialFile) {
    CountingSource skipping(Bytes(3 * 4096));
    skipping.afterFirstRead = [this] { console_.Control().SetCancelThisJob(); };
    EXPECT_FALSE(Write(skipping, "\\a.bin"));
    EXPECT_EQ(entry_.Result, 1);
    EXPECT_EQ(skipping.reads.size(), 1u);
    EXPECT_EQ(std::filesystem::file_size(OnDevice("a.bin")), 4096u);
    EXPECT_NE(ModifiedAt(OnDevice("a.bin")), stampUtc_);

    // A button pressed while the first report is on the screen.
    surface_.OnEvent([this](const std::string& event) {
        if (event.starts_with("status:Retrieving")) {
            console_.Control().SetCancelAll();
        }
    });
    CountingSource cancelling(Bytes(3 * 4096));
    EXPECT_FALSE(Write(cancelling, "\\a.bin"));
    surface_.OnEvent({});
    EXPECT_EQ(entry_.Result, -1);
    EXPECT_EQ(std::filesystem::file_size(OnDevice("a.bin")), 4096u);
    EXPECT_EQ(surface_.ProgressPosition(), 0u);
    EXPECT_TRUE(Job().PresentObjects.empty());

    // The handle was closed on the way out: the file can be replaced at once.
    CountingSource again("whole");
    EXPECT_TRUE(Write(again, "\\a.bin"));
    EXPECT_EQ(Read(OnDevice("a.bin")), "whole");
}

// A device that runs out of room in the middle of a file. The limit on file size is set in
// a child process, so the test process keeps its own.
TEST_F(DeviceWriterTest, AFailedDeviceWriteEndsWithResultTwoAndTheBarAtZero) {
    int pipeEnds[2];
    ASSERT_EQ(pipe(pipeEnds), 0);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        close(pipeEnds[0]);
        signal(SIGXFSZ, SIG_IGN);
        const rlimit limit{6000, 6000};
        setrlimit(RLIMIT_FSIZE, &limit);
        CountingSource source(Bytes(3 * 4096));
        const bool written = Write(source, "\\full.bin");
        char report[256];
        const int length = std::snprintf(report, sizeof report, "%d %d %zu %u %zu", written ? 1 : 0,
                                         entry_.Result, surface_.StatusTexts().size(),
                                         surface_.ProgressPosition(), Job().PresentObjects.size());
        (void)!write(pipeEnds[1], report, static_cast<std::size_t>(length));
        _exit(0);
    }
    close(pipeEnds[1]);
    std::string report;
    char buffer[256];
    for (ssize_t n; (n = read(pipeEnds[0], buffer, sizeof buffer)) > 0;) {
        report.append(buffer, static_cast<std::size_t>(n));
    }
    close(pipeEnds[0]);
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    // Not written, Result 2, one report (the first chunk), bar at 0, nothing present.
    EXPECT_EQ(report, "0 2 1 0 0");
    EXPECT_LE(std::filesystem::file_size(OnDevice("full.bin")), 6000u);
}

}  // namespace
}  // namespace zephyrate::test
