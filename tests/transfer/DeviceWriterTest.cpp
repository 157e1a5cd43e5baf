// The device writer on a real device folder: chunking, reports, the stamp, replacing files
// the device refuses, device failures and cancel requests between chunks.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cstdio>
#include <ctime>
#include <functional>
#include <string>
#include <tuple>
#include <vector>

#include "platform/MemoryFile.h"
#include "tests/platform/FolderDeviceFixture.h"
#include "tests/transfer/TransferFixture.h"
#include "transfer/DeviceWriter.h"

namespace zephyrate::test {
namespace {

using Sizes = std::vector<std::size_t>;

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
        entry_.ServerTime = kStamp;
    }

    bool Write(ReadableFile& source, std::string_view path, std::uint32_t total = 0) {
        return WriteToDevice(console_, entry_, source, path, total);
    }

    FileEntry entry_;
};

TEST_F(DeviceWriterTest, ChunksReportsAndStampFollowTheSourceLength) {
    // Source size, the reads made of it, and the bytes each report shows: one report per
    // device write, each with the bytes the device took so far.
    const std::vector<std::tuple<std::size_t, Sizes, Sizes>> cases = {
        {0, {0}, {0}},
        {4096, {4096, 0}, {4096, 4096}},
        {4097, {4096, 1}, {4096, 4097}},
        {8192, {4096, 4096, 0}, {4096, 8192, 8192}},
    };
    for (const auto& [size, reads, reported] : cases) {
        SCOPED_TRACE(size);
        surface_.Clear();
        Job().PresentObjects.clear();
        const std::string contents = Bytes(size, static_cast<unsigned>(size));
        CountingSource source(contents);
        EXPECT_TRUE(Write(source, "\\Zephyrate\\news\\docs/a.bin"));
        EXPECT_EQ(entry_.Result, 0);
        EXPECT_EQ(source.seeks, 1);
        EXPECT_EQ(source.reads, reads);
        std::vector<std::string> reports;
        for (const std::size_t done : reported) {
            reports.push_back("Retrieving: docs/a.bin  " + std::to_string(done) + "/???");
        }
        EXPECT_EQ(surface_.StatusTexts(), reports);
        const auto file = OnDevice("Zephyrate/news/docs/a.bin");
        struct stat info {};
        ASSERT_EQ(stat(file.c_str(), &info), 0);  // before reading it moves the access time
        EXPECT_EQ(info.st_mtime, kStamp);
        EXPECT_EQ(info.st_atime, kStamp);
        EXPECT_EQ(Read(file), contents);
        EXPECT_EQ(Job().PresentObjects, std::vector<std::string>{"\\Zephyrate\\news\\docs/a.bin"});
    }
}

// Files the device will not overwrite (locked by another process, read-only) go to the
// trash folder under the lowest free number and the new file takes their place; without
// a trash folder the write fails before anything is read.
TEST_F(DeviceWriterTest, RefusedFilesAreMovedToTheTrashAndReplaced) {
    temp_.WriteFile("device/Zephyrate/news/a.txt", "locked");
    temp_.WriteFile("device/Zephyrate/news/b.txt", "read-only");
    MakeReadOnly(OnDevice("Zephyrate/news/b.txt"));
    entry_.SetFile("a.txt");
    CountingSource refused("new b");
    EXPECT_FALSE(Write(refused, "\\Zephyrate\\news\\b.txt"));
    EXPECT_EQ(entry_.Result, 2);
    EXPECT_EQ(Read(OnDevice("Zephyrate/news/b.txt")), "read-only");
    EXPECT_TRUE(refused.reads.empty());
    EXPECT_TRUE(Job().PresentObjects.empty());
    EXPECT_FALSE(std::filesystem::exists(OnDevice("Zephyrate/Trash")));

    temp_.WriteFile("device/Zephyrate/Trash/a.txt.002", "older");
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

// A cancel pressed from the surface, during a report, is covered with the transfer step.
TEST_F(DeviceWriterTest, CancelBetweenChunksLeavesThePartialFile) {
    CountingSource source(Bytes(3 * 4096));
    source.afterFirstRead = [this] { console_.Control().SetCancelThisJob(); };
    EXPECT_FALSE(Write(source, "\\a.bin"));
    EXPECT_EQ(entry_.Result, 1);
    EXPECT_EQ(source.reads.size(), 1u);
    EXPECT_EQ(std::filesystem::file_size(OnDevice("a.bin")), 4096u);
    EXPECT_NE(ModifiedAt(OnDevice("a.bin")), kStamp);
    EXPECT_EQ(surface_.ProgressPosition(), 0u);
    EXPECT_TRUE(Job().PresentObjects.empty());
    EXPECT_TRUE(DeviceFileIsFree("\\a.bin")) << "the handle was left open";
}

// A device that runs out of room in the middle of a file. The limit on file size is set in
// a child process, so the test process keeps its own. The cut file is deleted: it would
// only hold the room that the next files need.
TEST_F(DeviceWriterTest, AFullDeviceEndsTheFileWithResultTwoTheBarAtZeroAndNoRest) {
    const auto writeIntoAFullDevice = [this] {
        signal(SIGXFSZ, SIG_IGN);
        const rlimit limit{6000, 6000};
        setrlimit(RLIMIT_FSIZE, &limit);
        CountingSource source(Bytes(3 * 4096));
        const bool written = Write(source, "\\full.bin");
        std::fprintf(stderr, "outcome %d %d %zu %u %zu\n", written ? 1 : 0, entry_.Result,
                     surface_.StatusTexts().size(), surface_.ProgressPosition(),
                     Job().PresentObjects.size());
        _exit(0);
    };
    // Not written, Result 2, one report (the first chunk), bar at 0, nothing present.
    EXPECT_EXIT(writeIntoAFullDevice(), ::testing::ExitedWithCode(0), "outcome 0 2 1 0 0");
    EXPECT_FALSE(std::filesystem::exists(OnDevice("full.bin")));
}

}  // namespace
}  // namespace zephyrate::test
