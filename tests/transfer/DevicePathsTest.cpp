// Paths on the device and the time stamps of its files: pure functions.
#include "transfer/DevicePaths.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <string>
#include <tuple>

#include "transfer/ServerTime.h"

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

// Sets TZ for one scope and puts the old value back.
struct ZoneScope {
    explicit ZoneScope(const char* zone) : old(std::getenv("TZ") ? std::getenv("TZ") : "") {
        setenv("TZ", zone, 1);
        tzset();
    }
    ~ZoneScope() {
        old.empty() ? unsetenv("TZ") : setenv("TZ", old.c_str(), 1);
        tzset();
    }
    std::string old;  // empty: none set
};

// Every 9 days, 7 hours and 13 seconds from 1900 to 2200, against the C library's UTC
// calendar, under a zone with a half-hour offset that any zone conversion would show.
TEST(ServerTimeTest, CalendarFieldsAndSecondsAgreeWithTheCLibraryWithoutAZone) {
    ZoneScope zone("America/St_Johns");
    for (std::int64_t seconds = -2208988800; seconds < 7258118400;
         seconds += 9 * 86400 + 7 * 3600 + 13) {
        const std::time_t moment = static_cast<std::time_t>(seconds);
        std::tm utc{};
        ASSERT_NE(gmtime_r(&moment, &utc), nullptr);
        SYSTEMTIME fields = SystemTimeFromSeconds(seconds);
        const auto field = [](int value) { return static_cast<std::uint16_t>(value); };
        ASSERT_EQ(fields, (SYSTEMTIME{field(utc.tm_year + 1900), field(utc.tm_mon + 1),
                                      field(utc.tm_wday), field(utc.tm_mday), field(utc.tm_hour),
                                      field(utc.tm_min), field(utc.tm_sec), 0}))
            << seconds;
        fields.wDayOfWeek = 0;  // neither takes part
        fields.wMilliseconds = 999;
        ASSERT_EQ(SecondsFromSystemTime(fields), seconds);
    }
}

}  // namespace
}  // namespace zephyrate::test
