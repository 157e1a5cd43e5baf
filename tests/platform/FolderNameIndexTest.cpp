// The name index of large device folders: it must answer exactly what a scan of the folder
// would, also after other programs created, deleted or renamed entries behind its back.
#include "platform/FolderNameIndex.h"

#include <fcntl.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "platform/DeviceNameFold.h"
#include "tests/platform/FolderDeviceFixture.h"

namespace zephyrate::test {
namespace {

namespace fs = std::filesystem;

class FolderNameIndexTest : public ::testing::Test {
  protected:
    // A folder with count empty files "f1000", "f1001", ..., opened and offered to the index.
    ScopedFd Indexed(const std::string& name, std::size_t count) {
        fs::create_directories(temp_ / name);
        for (std::size_t i = 0; i < count; ++i) {
            temp_.WriteFile(name + "/f" + std::to_string(1000 + i), "");
        }
        ScopedFd fd(open((temp_ / name).c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
        index_.Offer(fd.Get(), count);
        return fd;
    }
    // The name found, or "(missing)" or "(unknown)".
    std::string Lookup(const ScopedFd& folder, std::string_view wanted) {
        using Answer = FolderNameIndex::Answer;
        std::string name;
        const Answer answer = index_.Lookup(folder.Get(), fold_.Fold(wanted), name);
        return answer == Answer::Found     ? name
               : answer == Answer::Missing ? "(missing)"
                                           : "(unknown)";
    }

    TempFolder temp_;
    DeviceNameFold fold_;
    FolderNameIndex index_{[this](std::string_view name) { return fold_.Fold(name); }};
};

TEST_F(FolderNameIndexTest, ChangesByOthersAreSeenAtOnce) {
    EXPECT_EQ(Lookup(Indexed("small", 10), "F1000"), "(unknown)");  // small: not kept
    const ScopedFd large = Indexed("large", 100);
    ASSERT_EQ(Lookup(large, "NEW.TXT"), "(missing)");
    temp_.WriteFile("large/New.txt", "x");
    fs::remove(temp_ / "large/f1050");
    fs::rename(temp_ / "large/f1060", temp_ / "large/Renamed");
    fs::create_directory(temp_ / "large/Sub");
    temp_.WriteFile("large/new.txt", "y");
    // Of names equal ignoring case the first in byte order wins, as a scan picks it.
    const std::pair<const char*, const char*> cases[] = {
        {"F1042", "f1042"},     {"new.TXT", "New.txt"}, {"F1050", "(missing)"},
        {"F1060", "(missing)"}, {"renamed", "Renamed"}, {"SUB", "Sub"},
    };
    for (const auto& [wanted, found] : cases) {
        EXPECT_EQ(Lookup(large, wanted), found) << wanted;
    }
    fs::remove(temp_ / "large/New.txt");
    EXPECT_EQ(Lookup(large, "NEW.TXT"), "new.txt");

    // A deleted folder is forgotten; a new one of the same name (perhaps the same inode
    // number) starts unknown.
    Indexed("gone", 100);
    ASSERT_EQ(index_.FolderCount(), 2u);
    fs::remove_all(temp_ / "gone");
    EXPECT_EQ(index_.FolderCount(), 1u);
    EXPECT_EQ(Lookup(Indexed("gone", 0), "F1000"), "(unknown)");
}

// Through the device: once a large folder was scanned, names are found by the index,
// ignoring case, and names the device adds are found at once.
class FolderDeviceLargeFolderTest : public FolderDeviceFixture {};

TEST_F(FolderDeviceLargeFolderTest, NamesAreFoundThroughTheIndexIgnoringCase) {
    for (std::size_t i = 0; i < FolderNameIndex::kMinEntries; ++i) {
        temp_.WriteFile("device/big/File" + std::to_string(i) + ".txt", "x");
    }
    ASSERT_EQ(Do(Op::Attributes, "\\big\\none"), ERROR_FILE_NOT_FOUND);  // a scan offers it
    ASSERT_EQ(Do(Op::Write, "\\BIG\\FILE8.TXT"), ERROR_SUCCESS);
    EXPECT_EQ(TempFolder::ReadFile(root_ / "big/File8.txt"), "\\BIG\\FILE8.TXT");
    ASSERT_EQ(Do(Op::Write, "\\big\\New"), ERROR_SUCCESS);
    EXPECT_EQ(Do(Op::Attributes, "\\BIG\\NEW"), ERROR_SUCCESS);
}

}  // namespace
}  // namespace zephyrate::test
