// The name index of large device folders: it must answer exactly what a scan of the folder
// would, also after other programs created, deleted or renamed entries behind its back.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <cctype>
#include <filesystem>
#include <string>
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

class FolderNameIndexTest : public ::testing::Test {
  protected:
    // A folder with count empty files "f1000", "f1001", ..., opened and offered to the index.
    ScopedFd Indexed(const std::string& name, int count) {
        const fs::path folder = temp_ / name;
        fs::create_directories(folder);
        for (int i = 0; i < count; ++i) {
            temp_.WriteFile(name + "/f" + std::to_string(1000 + i), "");
        }
        ScopedFd fd(open(folder.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
        index_.Offer(fd.Get(), static_cast<std::size_t>(count));
        return fd;
    }
    // The name found, or "(missing)" or "(unknown)".
    std::string Lookup(const ScopedFd& folder, std::string_view wanted) {
        std::string name;
        switch (index_.Lookup(folder.Get(), AsciiFold(wanted), name)) {
            case Answer::Found:
                return name;
            case Answer::Missing:
                return "(missing)";
            default:
                return "(unknown)";
        }
    }

    TempFolder temp_;
    FolderNameIndex index_{&AsciiFold};
};

TEST_F(FolderNameIndexTest, ChangesByOthersAreSeenAtOnce) {
    EXPECT_EQ(Lookup(Indexed("small", 10), "F1000"), "(unknown)");  // small: not kept
    const ScopedFd large = Indexed("large", 100);
    EXPECT_EQ(Lookup(large, "F1042"), "f1042");
    ASSERT_EQ(Lookup(large, "NEW.TXT"), "(missing)");

    temp_.WriteFile("large/New.txt", "x");
    fs::remove(temp_ / "large/f1050");
    fs::rename(temp_ / "large/f1060", temp_ / "large/Renamed");
    fs::create_directory(temp_ / "large/Sub");
    EXPECT_EQ(Lookup(large, "new.TXT"), "New.txt");
    EXPECT_EQ(Lookup(large, "F1050"), "(missing)");
    EXPECT_EQ(Lookup(large, "F1060"), "(missing)");
    EXPECT_EQ(Lookup(large, "renamed"), "Renamed");
    EXPECT_EQ(Lookup(large, "SUB"), "Sub");

    // Of names equal ignoring case the first in byte order wins, as a scan picks it.
    temp_.WriteFile("large/new.txt", "y");
    EXPECT_EQ(Lookup(large, "NEW.TXT"), "New.txt");
    fs::remove(temp_ / "large/New.txt");
    EXPECT_EQ(Lookup(large, "NEW.TXT"), "new.txt");
}

TEST_F(FolderNameIndexTest, ADeletedFolderIsForgotten) {
    Indexed("large", 100);  // closed again at once
    ASSERT_EQ(index_.FolderCount(), 1u);
    fs::remove_all(temp_ / "large");
    EXPECT_EQ(index_.FolderCount(), 0u);
    // A new folder of the same name (perhaps the same inode number) starts unknown.
    fs::create_directories(temp_ / "large");
    const ScopedFd again(open((temp_ / "large").c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
    EXPECT_EQ(Lookup(again, "F1000"), "(unknown)");
}

TEST_F(FolderNameIndexTest, TheLeastRecentlyUsedFolderMakesRoom) {
    std::vector<ScopedFd> folders;
    for (std::size_t i = 0; i <= FolderNameIndex::kMaxFolders; ++i) {
        folders.push_back(
            Indexed("d" + std::to_string(i), static_cast<int>(FolderNameIndex::kMinEntries)));
        if (i > 0) {
            EXPECT_EQ(Lookup(folders.front(), "F1000"), "f1000") << "kept in use";
        }
    }
    EXPECT_EQ(index_.FolderCount(), FolderNameIndex::kMaxFolders);
    EXPECT_EQ(Lookup(folders.front(), "F1000"), "f1000");
    EXPECT_EQ(Lookup(folders[1], "F1000"), "(unknown)");
}

// Through the device: once a large folder was scanned, names are found by the index,
// ignoring case, and names the device adds are found at once.
class FolderDeviceLargeFolderTest : public FolderDeviceFixture {};

TEST_F(FolderDeviceLargeFolderTest, NamesAreFoundThroughTheIndexIgnoringCase) {
    for (std::size_t i = 0; i < FolderNameIndex::kMinEntries; ++i) {
        temp_.WriteFile("device/big/File" + std::to_string(i) + ".txt", "x");
    }
    ASSERT_EQ(Attributes("\\big\\none"), INVALID_FILE_ATTRIBUTES);  // a scan offers the folder
    ASSERT_TRUE(WriteDeviceFile("\\BIG\\FILE8.TXT", "replaced"));
    EXPECT_EQ(TempFolder::ReadFile(root_ / "big/File8.txt"), "replaced");
    ASSERT_TRUE(WriteDeviceFile("\\big\\New", "n"));
    EXPECT_EQ(Attributes("\\BIG\\NEW"), FILE_ATTRIBUTE_ARCHIVE);
}

}  // namespace
}  // namespace zephyrate::test
