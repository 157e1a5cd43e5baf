#include "transfer/ServerTime.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <optional>
#include <string>

namespace zephyrate::test {
namespace {

SYSTEMTIME Fields(int year, int month, int day, int hour = 0, int minute = 0, int second = 0) {
    SYSTEMTIME time;
    time.wYear = static_cast<std::uint16_t>(year);
    time.wMonth = static_cast<std::uint16_t>(month);
    time.wDay = static_cast<std::uint16_t>(day);
    time.wHour = static_cast<std::uint16_t>(hour);
    time.wMinute = static_cast<std::uint16_t>(minute);
    time.wSecond = static_cast<std::uint16_t>(second);
    return time;
}

std::uint64_t Units(const FILETIME& time) {
    return (std::uint64_t{time.dwHighDateTime} << 32) | time.dwLowDateTime;
}

FILETIME FileTime(std::uint64_t units) {
    FILETIME time;
    time.dwLowDateTime = static_cast<std::uint32_t>(units);
    time.dwHighDateTime = static_cast<std::uint32_t>(units >> 32);
    return time;
}

// Sets TZ for one scope and puts the old value back.
class ZoneScope {
  public:
    explicit ZoneScope(const char* zone) {
        if (const char* old = std::getenv("TZ")) {
            old_ = old;
        }
        setenv("TZ", zone, 1);
        tzset();
    }
    ~ZoneScope() {
        if (old_) {
            setenv("TZ", old_->c_str(), 1);
        } else {
            unsetenv("TZ");
        }
        tzset();
    }
    ZoneScope(const ZoneScope&) = delete;
    ZoneScope& operator=(const ZoneScope&) = delete;

  private:
    std::optional<std::string> old_;
};

TEST(ServerTimeTest, CountsSecondsFromCalendarFieldsWithoutAZone) {
    ZoneScope zone("NPT-5:45");  // a zone whose offset any conversion would show
    EXPECT_EQ(SecondsFromSystemTime(Fields(1970, 1, 1)), 0);
    EXPECT_EQ(SecondsFromSystemTime(Fields(1969, 12, 31, 23, 59, 59)), -1);
    EXPECT_EQ(SecondsFromSystemTime(Fields(2038, 1, 19, 3, 14, 8)), 2147483648);
    EXPECT_EQ(SecondsFromSystemTime(Fields(2106, 2, 7, 6, 28, 16)), 4294967296);
    EXPECT_EQ(SecondsFromSystemTime(Fields(1601, 1, 1)), -11644473600);
    EXPECT_EQ(
        SecondsFromSystemTime(Fields(2000, 2, 29)) - SecondsFromSystemTime(Fields(2000, 2, 28)),
        86400);
    // 1900 and 2100 are not leap years, 2000 and 1600 are.
    EXPECT_EQ(
        SecondsFromSystemTime(Fields(1900, 3, 1)) - SecondsFromSystemTime(Fields(1900, 2, 28)),
        86400);
    EXPECT_EQ(
        SecondsFromSystemTime(Fields(2100, 3, 1)) - SecondsFromSystemTime(Fields(2100, 2, 28)),
        86400);
    EXPECT_EQ(
        SecondsFromSystemTime(Fields(1600, 3, 1)) - SecondsFromSystemTime(Fields(1600, 2, 28)),
        2 * 86400);
    // Day of week and milliseconds take no part.
    SYSTEMTIME noisy = Fields(2024, 6, 1, 12, 0, 0);
    noisy.wDayOfWeek = 3;
    noisy.wMilliseconds = 999;
    EXPECT_EQ(SecondsFromSystemTime(noisy), 1717243200);
}

TEST(ServerTimeTest, AgreesWithTheCLibraryInBothDirections) {
    ZoneScope zone("America/St_Johns");
    // Every 9 days and 7 hours from 1900 to 2200, with the C library's UTC calendar as
    // the reference.
    const std::int64_t first = SecondsFromSystemTime(Fields(1900, 1, 1));
    const std::int64_t last = SecondsFromSystemTime(Fields(2200, 1, 1));
    for (std::int64_t seconds = first; seconds < last; seconds += 9 * 86400 + 7 * 3600 + 13) {
        const std::time_t moment = static_cast<std::time_t>(seconds);
        std::tm utc{};
        ASSERT_NE(gmtime_r(&moment, &utc), nullptr);
        const SYSTEMTIME fields = SystemTimeFromSeconds(seconds);
        ASSERT_EQ(fields.wYear, utc.tm_year + 1900) << seconds;
        ASSERT_EQ(fields.wMonth, utc.tm_mon + 1) << seconds;
        ASSERT_EQ(fields.wDay, utc.tm_mday) << seconds;
        ASSERT_EQ(fields.wDayOfWeek, utc.tm_wday) << seconds;
        ASSERT_EQ(fields.wHour, utc.tm_hour) << seconds;
        ASSERT_EQ(fields.wMinute, utc.tm_min) << seconds;
        ASSERT_EQ(fields.wSecond, utc.tm_sec) << seconds;
        ASSERT_EQ(fields.wMilliseconds, 0);
        ASSERT_EQ(SecondsFromSystemTime(fields), seconds);
        ASSERT_EQ(static_cast<std::int64_t>(timegm(&utc)), seconds);
    }
}

TEST(ServerTimeTest, FileTimeCountsFrom1601AndDropsFractions) {
    EXPECT_EQ(Units(FileTimeFromSeconds(0)), 116444736000000000u);
    EXPECT_EQ(SecondsFromFileTime(FileTime(116444736000000000u)), 0);
    EXPECT_EQ(SecondsFromFileTime(FileTime(116444736009999999u)), 0);  // 0.9999999 s
    EXPECT_EQ(SecondsFromFileTime(FileTime(0)), -11644473600);
    EXPECT_EQ(Units(FileTimeFromSeconds(-11644473600)), 0u);
    EXPECT_EQ(Units(FileTimeFromSeconds(-11644473601)), 0u);  // before 1601: its start

    // A stamp written from the server's fields is read back as the same seconds.
    const std::int64_t stamps[] = {SecondsFromSystemTime(Fields(1969, 7, 20, 20, 17, 40)),
                                   SecondsFromSystemTime(Fields(2024, 2, 29, 23, 59, 59)),
                                   SecondsFromSystemTime(Fields(2038, 1, 19, 3, 14, 8)),
                                   SecondsFromSystemTime(Fields(9999, 12, 31, 23, 59, 59))};
    for (const std::int64_t seconds : stamps) {
        EXPECT_EQ(SecondsFromFileTime(FileTimeFromSeconds(seconds)), seconds);
    }
    // 2038 needs the high word.
    EXPECT_GT(FileTimeFromSeconds(stamps[2]).dwHighDateTime, 0x01000000u);
}

TEST(ServerTimeTest, SixteenBitYearsBoundTheCalendarFields) {
    EXPECT_EQ(SystemTimeFromSeconds(SecondsFromSystemTime(Fields(65535, 12, 31, 23, 59, 59))),
              SystemTimeFromSeconds(SecondsFromSystemTime(Fields(65535, 12, 31, 23, 59, 59)) + 1));
    const SYSTEMTIME earliest = SystemTimeFromSeconds(-100000000000000);
    EXPECT_EQ(earliest.wYear, 0);
    EXPECT_EQ(earliest.wMonth, 1);
    EXPECT_EQ(earliest.wDay, 1);
    const SYSTEMTIME leapDay = SystemTimeFromSeconds(SecondsFromSystemTime(Fields(2400, 2, 29)));
    EXPECT_EQ(leapDay.wMonth, 2);
    EXPECT_EQ(leapDay.wDay, 29);
}

TEST(ServerTimeTest, CurrentUtcSecondsFollowsTheSystemClock) {
    ZoneScope zone("Pacific/Kiritimati");  // UTC+14
    const std::int64_t before = static_cast<std::int64_t>(std::time(nullptr));
    const std::int64_t now = CurrentUtcSeconds();
    const std::int64_t after = static_cast<std::int64_t>(std::time(nullptr));
    EXPECT_GE(now, before);
    EXPECT_LE(now, after);
}

}  // namespace
}  // namespace zephyrate::test
