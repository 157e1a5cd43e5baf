// The name index of large device folders: it must answer exactly what a scan of the folder
// would, also after other programs created, deleted or renamed entries behind its back.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <cctype>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "platform/FolderNameIndex.h"
#include "platform/ScopedFd.h"
#include "tests/platform/FolderDeviceFixture.h"

namespace zephyrate::test {
namespace {

namespace fs = std::filesystem;
using Answer = FolderNameIndex::Answer;

std::u32string AsciiFold(std::string_view name) {
    std::u32string folded;
    for (const char c : name) {
        folded.push_back(static_cast<char32_t>(std::toupper(static_cast<unsigned char>(c))));
    }
    return folded;
}

void Fill(const fs::path& folder, int count) {
    fs::create_directories(folder);
    for (int i = 0; i < count; ++i) {
        const std::string name = "f" + std::to_string(1000 + i);
        ScopedFd fd(open((folder / name).c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644));
        ASSERT_TRUE(fd.Valid());
    }
}

class FolderNameIndexTest : public ::testing::Test {
  protected:
    ScopedFd Open(const fs::path& folder) {
        return ScopedFd(open(folder.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
    }
    Answer Lookup(int folder, std::string_view wanted, std::string* name = nullptr) {
        std::string found;
        const Answer answer = index_.Lookup(folder, AsciiFold(wanted), found);
        if (name != nullptr) {
            *name = found;
        }
        return answer;
    }

    TempFolder temp_;
    FolderNameIndex index_{&AsciiFold};
};

TEST_F(FolderNameIndexTest, OnlyLargeFoldersAreRemembered) {
    Fill(temp_ / "small", 10);
    Fill(temp_ / "large", 100);
    const ScopedFd small = Open(temp_ / "small");
    const ScopedFd large = Open(temp_ / "large");
    index_.Offer(small.Get(), 10);
    EXPECT_EQ(Lookup(small.Get(), "F1000"), Answer::Unknown);
    index_.Offer(large.Get(), 100);
    std::string name;
    EXPECT_EQ(Lookup(large.Get(), "F1042", &name), Answer::Found);
    EXPECT_EQ(name, "f1042");
    EXPECT_EQ(Lookup(large.Get(), "f2000"), Answer::Missing);
    EXPECT_EQ(index_.FolderCount(), 1u);
}

TEST_F(FolderNameIndexTest, ChangesByOthersAreSeenAtOnce) {
    Fill(temp_ / "large", 100);
    const ScopedFd large = Open(temp_ / "large");
    index_.Offer(large.Get(), 100);
    ASSERT_EQ(Lookup(large.Get(), "NEW.TXT"), Answer::Missing);

    temp_.WriteFile("large/New.txt", "x");
    fs::remove(temp_ / "large/f1050");
    fs::rename(temp_ / "large/f1060", temp_ / "large/Renamed");
    fs::create_directory(temp_ / "large/Sub");
    std::string name;
    EXPECT_EQ(Lookup(large.Get(), "new.TXT", &name), Answer::Found);
    EXPECT_EQ(name, "New.txt");
    EXPECT_EQ(Lookup(large.Get(), "F1050"), Answer::Missing);
    EXPECT_EQ(Lookup(large.Get(), "F1060"), Answer::Missing);
    EXPECT_EQ(Lookup(large.Get(), "renamed", &name), Answer::Found);
    EXPECT_EQ(name, "Renamed");
    EXPECT_EQ(Lookup(large.Get(), "SUB"), Answer::Found);

    // Of names equal ignoring case the first in byte order wins, as a scan picks it.
    temp_.WriteFile("large/new.txt", "y");
    EXPECT_EQ(Lookup(large.Get(), "NEW.TXT", &name), Answer::Found);
    EXPECT_EQ(name, "New.txt");
    fs::remove(temp_ / "large/New.txt");
    EXPECT_EQ(Lookup(large.Get(), "NEW.TXT", &name), Answer::Found);
    EXPECT_EQ(name, "new.txt");
}

TEST_F(FolderNameIndexTest, ADeletedFolderIsForgotten) {
    Fill(temp_ / "large", 100);
    {
        const ScopedFd large = Open(temp_ / "large");
        index_.Offer(large.Get(), 100);
        ASSERT_EQ(index_.FolderCount(), 1u);
    }
    fs::remove_all(temp_ / "large");
    EXPECT_EQ(index_.FolderCount(), 0u);
    // A new folder of the same name (perhaps the same inode number) starts unknown.
    fs::create_directories(temp_ / "large");
    const ScopedFd again = Open(temp_ / "large");
    EXPECT_EQ(Lookup(again.Get(), "F1000"), Answer::Unknown);
}

TEST_F(FolderNameIndexTest, TheLeastRecentlyUsedFolderMakesRoom) {
    std::vector<ScopedFd> folders;
    for (std::size_t i = 0; i <= FolderNameIndex::kMaxFolders; ++i) {
        const fs::path folder = temp_ / ("d" + std::to_string(i));
        Fill(folder, static_cast<int>(FolderNameIndex::kMinEntries));
        folders.push_back(Open(folder));
        index_.Offer(folders.back().Get(), FolderNameIndex::kMinEntries);
        if (i == 0) {
            continue;
        }
        EXPECT_EQ(Lookup(folders.front().Get(), "F1000"), Answer::Found) << "kept in use";
    }
    EXPECT_EQ(index_.FolderCount(), FolderNameIndex::kMaxFolders);
    EXPECT_EQ(Lookup(folders.front().Get(), "F1000"), Answer::Found);
    EXPECT_EQ(Lookup(folders[1].Get(), "F1000"), Answer::Unknown);
}

// Through the device: many new files in one folder, found again ignoring case, with
// another process's changes in between and several threads at once.
class FolderDeviceLargeFolderTest : public FolderDeviceFixture {};

TEST_F(FolderDeviceLargeFolderTest, NewAndChangedNamesAreFoundIgnoringCase) {
    fs::create_directories(root_ / "big");
    for (int i = 0; i < 200; ++i) {
        ASSERT_TRUE(WriteDeviceFile("\\big\\File" + std::to_string(i) + ".txt", "x"));
    }
    temp_.WriteFile("device/big/Outside.Made", "by another program");
    fs::remove(root_ / "big/File7.txt");
    EXPECT_NE(Attributes("\\BIG\\outside.made"), INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(Attributes("\\big\\FILE7.TXT"), INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(device_.CeGetLastError(), ERROR_FILE_NOT_FOUND);

    ASSERT_TRUE(WriteDeviceFile("\\big\\FILE8.TXT", "replaced"));
    EXPECT_EQ(TempFolder::ReadFile(root_ / "big/File8.txt"), "replaced");
    EXPECT_FALSE(fs::exists(root_ / "big/FILE8.TXT"));

    std::atomic<int> wrong{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < 100; ++i) {
                const std::string mine = "\\big\\T" + std::to_string(t) + "-" + std::to_string(i);
                if (!WriteDeviceFile(mine, "t") ||
                    Attributes("\\BIG\\t" + std::to_string(t) + "-" + std::to_string(i)) ==
                        INVALID_FILE_ATTRIBUTES ||
                    Attributes("\\big\\file100.TXT") == INVALID_FILE_ATTRIBUTES) {
                    ++wrong;
                }
            }
        });
    }
    for (std::thread& thread : threads) {
        thread.join();
    }
    EXPECT_EQ(wrong.load(), 0);
    EXPECT_EQ(Names("\\big\\*.*").size(), 600u);  // 200, one from outside, one gone, 400
}

}  // namespace
}  // namespace zephyrate::test
