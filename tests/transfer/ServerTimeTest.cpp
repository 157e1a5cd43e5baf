#include "transfer/ServerTime.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <optional>
#include <string>
#include <utility>

namespace zephyrate::test {
namespace {

SYSTEMTIME Fields(std::uint16_t year, std::uint16_t month, std::uint16_t day,
                  std::uint16_t hour = 0, std::uint16_t minute = 0, std::uint16_t second = 0) {
    return {year, month, /*wDayOfWeek=*/0, day, hour, minute, second, /*wMilliseconds=*/0};
}

std::int64_t Seconds(std::uint16_t year, std::uint16_t month, std::uint16_t day,
                     std::uint16_t hour = 0, std::uint16_t minute = 0, std::uint16_t second = 0) {
    return SecondsFromSystemTime(Fields(year, month, day, hour, minute, second));
}

std::uint64_t Units(const FILETIME& time) {
    return (std::uint64_t{time.dwHighDateTime} << 32) | time.dwLowDateTime;
}

FILETIME FileTime(std::uint64_t units) {
    return {static_cast<std::uint32_t>(units), static_cast<std::uint32_t>(units >> 32)};
}

// Sets TZ for one scope, so that any zone conversion would show, and puts the old back.
struct ZoneScope {
    explicit ZoneScope(const char* zone) {
        if (const char* value = std::getenv("TZ")) {
            old = value;
        }
        setenv("TZ", zone, 1);
        tzset();
    }
    ~ZoneScope() {
        old ? setenv("TZ", old->c_str(), 1) : unsetenv("TZ");
        tzset();
    }
    std::optional<std::string> old;
};

TEST(ServerTimeTest, CountsSecondsFromCalendarFieldsWithoutAZone) {
    ZoneScope zone("NPT-5:45");
    EXPECT_EQ(Seconds(1970, 1, 1), 0);
    EXPECT_EQ(Seconds(1969, 12, 31, 23, 59, 59), -1);
    EXPECT_EQ(Seconds(2106, 2, 7, 6, 28, 16), 4294967296);
    EXPECT_EQ(Seconds(1601, 1, 1), -11644473600);
    // 1900 and 2100 are not leap years, 2000 and 1600 are.
    for (const auto& [year, days] :
         {std::pair<std::uint16_t, int>{1600, 2}, {1900, 1}, {2000, 2}, {2100, 1}}) {
        EXPECT_EQ(Seconds(year, 3, 1) - Seconds(year, 2, 28), days * 86400) << year;
    }
    // Day of week and milliseconds take no part.
    SYSTEMTIME noisy = Fields(2024, 6, 1, 12);
    noisy.wDayOfWeek = 3;
    noisy.wMilliseconds = 999;
    EXPECT_EQ(SecondsFromSystemTime(noisy), 1717243200);
}

TEST(ServerTimeTest, AgreesWithTheCLibraryInBothDirections) {
    ZoneScope zone("America/St_Johns");
    // Every 9 days, 7 hours and 13 seconds from 1900 to 2200, with the C library's UTC
    // calendar as the reference.
    for (std::int64_t seconds = Seconds(1900, 1, 1); seconds < Seconds(2200, 1, 1);
         seconds += 9 * 86400 + 7 * 3600 + 13) {
        const std::time_t moment = static_cast<std::time_t>(seconds);
        std::tm utc{};
        ASSERT_NE(gmtime_r(&moment, &utc), nullptr);
        const SYSTEMTIME fields = SystemTimeFromSeconds(seconds);
        SYSTEMTIME expected = Fields(utc.tm_year + 1900, utc.tm_mon + 1, utc.tm_mday, utc.tm_hour,
                                     utc.tm_min, utc.tm_sec);
        expected.wDayOfWeek = static_cast<std::uint16_t>(utc.tm_wday);
        ASSERT_EQ(fields, expected) << seconds;
        ASSERT_EQ(SecondsFromSystemTime(fields), seconds);
        ASSERT_EQ(static_cast<std::int64_t>(timegm(&utc)), seconds);
    }
}

TEST(ServerTimeTest, FileTimeCountsFrom1601AndDropsFractions) {
    EXPECT_EQ(Units(FileTimeFromSeconds(0)), 116444736000000000u);
    EXPECT_EQ(SecondsFromFileTime(FileTime(116444736009999999u)), 0);  // 0.9999999 s
    EXPECT_EQ(SecondsFromFileTime(FileTime(0)), -11644473600);
    EXPECT_EQ(Units(FileTimeFromSeconds(-11644473601)), 0u);  // before 1601: its start

    // A stamp written from the server's fields is read back as the same seconds; 2038
    // and later need the high word.
    for (const std::int64_t seconds :
         {Seconds(1969, 7, 20, 20, 17, 40), Seconds(2024, 2, 29, 23, 59, 59),
          Seconds(2038, 1, 19, 3, 14, 8), Seconds(9999, 12, 31)}) {
        EXPECT_EQ(SecondsFromFileTime(FileTimeFromSeconds(seconds)), seconds);
    }
}

TEST(ServerTimeTest, CurrentUtcSecondsFollowsTheSystemClock) {
    ZoneScope zone("Pacific/Kiritimati");  // UTC+14
    const std::int64_t before = std::time(nullptr);
    const std::int64_t now = CurrentUtcSeconds();
    EXPECT_GE(now, before);
    EXPECT_LE(now, static_cast<std::int64_t>(std::time(nullptr)));
}

}  // namespace
}  // namespace zephyrate::test
