#include "transfer/DevicePaths.h"

#include <gtest/gtest.h>

#include <string>

namespace zephyrate::test {
namespace {

using namespace std::string_literals;

JobValues Job(std::string root, std::string ceFolder) {
    JobValues job;
    job.DeviceRoot = std::move(root);
    job.CeFolder = std::move(ceFolder);
    return job;
}

TEST(DevicePathsTest, TheSystemFolderAndZeroBytesAreRefusedWhereverTheDeviceResolvesThem) {
    const struct {
        const char* root;
        std::string folder;
        std::string name;
        bool accepted;
    } cases[] = {
        {"\\Windows\\Data", "news", "a", false},
        {"", "WINDOWS\\Start Menu", "a", false},
        {"\\windows", "", "a", false},
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
    for (const auto& c : cases) {
        const JobValues job = Job(c.root, c.folder);
        FileEntry entry;
        entry.Name = c.name;
        EXPECT_EQ(CheckDestination(job) && CheckEntry(job, entry), c.accepted)
            << c.root << " " << c.folder << " " << c.name;
    }
    FileEntry zeroInLink;
    zeroInLink.Name = "a.txt";
    zeroInLink.FavoriteFile = "F\0.url"s;
    EXPECT_FALSE(CheckEntry(Job("", ""), zeroInLink));
}

}  // namespace
}  // namespace zephyrate::test
