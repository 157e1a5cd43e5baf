// The destination checks of the device paths: pure functions.
#include "transfer/DevicePaths.h"

#include <gtest/gtest.h>

#include <string>
#include <tuple>

namespace zephyrate::test {
namespace {

using namespace std::string_literals;

TEST(DevicePathsTest, TheSystemFolderAndZeroBytesAreRefusedWhereverTheDeviceResolvesThem) {
    // The root, the CE folder, the entry's name, and whether they are accepted.
    const std::tuple<std::string, std::string, std::string, bool> cases[] = {
        {"\\Windows\\Data", "news", "a", false},
        {"", "WINDOWS\\Start Menu", "a", false},
        {"/Windows/x", "news", "a", false},
        {"\\", "Windows", "a", false},
        {"\\\\", "/windows/Fonts", "a", false},
        {"", "w\xC4\xB1ndows", "a", false},  // a dotless i is an I to the device
        {"", "", "windows\\evil.lnk", false},
        {"", "", "", true},
        {"\\windowsx", "", "a", true},
        {"\\Zephyrate", "windows", "a", true},  // not at the top
        {"\\Zephyrate", "", "windows\\a", true},
        // A zero byte would hand the device a shorter path than the one judged here.
        {"\\Zephyrate", "news\0windows"s, "a", false},
        {"\\Zephyrate", "news", "good.txt\0.evil"s, false},
    };
    for (const auto& [root, folder, name, accepted] : cases) {
        JobValues job;
        job.DeviceRoot = root;
        job.CeFolder = folder;
        FileEntry entry;
        entry.Name = name;
        EXPECT_EQ(CheckDestination(job) && CheckEntry(job, entry), accepted)
            << root << " " << folder << " " << name;
    }
    FileEntry zeroInLink;
    zeroInLink.Name = "a.txt";
    zeroInLink.FavoriteFile = "F\0.url"s;
    EXPECT_FALSE(CheckEntry(JobValues(), zeroInLink));
}

}  // namespace
}  // namespace zephyrate::test
