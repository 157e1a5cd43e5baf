// The device writer on a real device folder: chunking, reports, the stamp, replacing files
// the device refuses, device failures and cancel requests between chunks, and the old copy
// that a write which breaks off leaves as it was.
#include <gtest/gtest.h>

#include <sched.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <ctime>
#include <functional>
#include <string>
#include <tuple>
#include <vector>

#include "platform/InternetError.h"
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
        return WriteToDevice(context_, entry_, source, path, total);
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
// a trash folder the write fails and the old copy stays.
TEST_F(DeviceWriterTest, RefusedFilesAreMovedToTheTrashAndReplaced) {
    temp_.WriteFile("device/Zephyrate/news/a.txt", "locked");
    temp_.WriteFile("device/Zephyrate/news/b.txt", "read-only");
    MakeReadOnly(OnDevice("Zephyrate/news/b.txt"));
    entry_.SetFile("a.txt");
    CountingSource refused("new b");
    EXPECT_FALSE(Write(refused, "\\Zephyrate\\news\\b.txt"));
    EXPECT_EQ(entry_.Result, 2);
    EXPECT_EQ(Read(OnDevice("Zephyrate/news/b.txt")), "read-only");
    EXPECT_FALSE(std::filesystem::exists(OnDevice("Zephyrate/news/.b.txt.zephyrate-part")));
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

// A write that breaks off, by a cancel between chunks or a source that fails, leaves the old
// copy as it was and no temporary file behind. A cancel from the surface, during a report,
// is covered with the transfer step.
TEST_F(DeviceWriterTest, AWriteThatBreaksOffLeavesTheOldCopy) {
    for (const bool sourceFails : {false, true}) {
        SCOPED_TRACE(sourceFails);
        temp_.WriteFile("device/a.bin", "the old copy");
        CountingSource source(Bytes(3 * 4096));
        source.afterFirstRead = [&] {
            if (sourceFails) {
                throw InternetError("cut");
            }
            console_.Control().SetCancelThisJob();
        };
        if (sourceFails) {
            EXPECT_THROW(Write(source, "\\a.bin"), InternetError);
        } else {
            EXPECT_FALSE(Write(source, "\\a.bin"));
            EXPECT_EQ(entry_.Result, 1);
            EXPECT_EQ(source.reads.size(), 1u);
            EXPECT_EQ(surface_.ProgressPosition(), 0u);
        }
        EXPECT_EQ(Read(OnDevice("a.bin")), "the old copy");
        EXPECT_FALSE(std::filesystem::exists(OnDevice(".a.bin.zephyrate-part")));
        EXPECT_TRUE(Job().PresentObjects.empty());
        EXPECT_TRUE(DeviceFileIsFree("\\a.bin")) << "the handle was left open";
    }
}

// What a killed run left is removed when its folder is next written; a folder that stands
// where the file must go holds the user's files: it stays, out of the trash, and the entry
// fails.
TEST_F(DeviceWriterTest, StaleTemporariesGoAndAFolderInTheWayStays) {
    temp_.WriteFile("device/news/.gone.txt.zephyrate-part", "stale");
    temp_.WriteFile("device/news/.keep", "the user's");
    temp_.WriteFile("device/news/a.txt/inside.txt", "the user's");
    std::filesystem::create_directories(OnDevice("Zephyrate/Trash"));
    CountingSource source("new");
    EXPECT_FALSE(Write(source, "\\news\\a.txt"));
    EXPECT_EQ(entry_.Result, 2);
    EXPECT_EQ(Read(OnDevice("news/a.txt/inside.txt")), "the user's");
    EXPECT_TRUE(std::filesystem::is_empty(OnDevice("Zephyrate/Trash")));
    EXPECT_FALSE(std::filesystem::exists(OnDevice("news/.gone.txt.zephyrate-part")));
    EXPECT_TRUE(std::filesystem::exists(OnDevice("news/.keep")));
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
    EXPECT_FALSE(std::filesystem::exists(OnDevice(".full.bin.zephyrate-part")));
}

// Whether this process may mount a small file system of its own (a private mount
// namespace needs CAP_SYS_ADMIN).
bool CanMountPrivately() {
    const pid_t child = fork();
    if (child == 0) {
        _exit(unshare(CLONE_NEWNS) == 0 ? 0 : 1);
    }
    int status = 0;
    return child > 0 && waitpid(child, &status, 0) == child && WIFEXITED(status) &&
           WEXITSTATUS(status) == 0;
}

// A device with room for the new file but not for it beside the old copy: the old copy
// makes way and the file is written in place, as the device itself writes files.
TEST_F(DeviceWriterTest, WithoutRoomForTwoCopiesTheFileIsWrittenInPlace) {
    if (!CanMountPrivately()) {
        GTEST_SKIP() << "no private mounts here";
    }
    const std::string contents = Bytes(56 * 1024);
    const auto writeOnASmallDevice = [&] {
        // 96 KiB: the old copy of 56 KiB leaves 40 KiB, too little for a second copy.
        if (unshare(CLONE_NEWNS) != 0 ||
            mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
            mount("tmpfs", root_.c_str(), "tmpfs", 0, "size=96k") != 0) {
            _exit(1);
        }
        temp_.WriteFile("device/a.bin", Bytes(56 * 1024, 7));
        FolderDevice small(root_.string(), false);
        RAPIINIT init;
        small.CeRapiInitEx(init);
        small.WaitForRapiInit(init, 2000);
        Console console(surface_, session_, small, settings_);
        TransferContext context{small, console.Job(), console.Jobs(), console};
        CountingSource source(contents);
        const bool written = WriteToDevice(context, entry_, source, "\\a.bin", 0);
        std::fprintf(stderr, "outcome %d %d %d\n", written ? 1 : 0, source.seeks,
                     Read(OnDevice("a.bin")) == contents ? 1 : 0);
        _exit(0);
    };
    // Written, after starting the source over once, with the new contents.
    EXPECT_EXIT(writeOnASmallDevice(), ::testing::ExitedWithCode(0), "outcome 1 2 1");
}

}  // namespace
}  // namespace zephyrate::test
