#include "transfer/ServerTime.h"

#include <algorithm>
#include <chrono>

#include "platform/DeviceFileTimes.h"

namespace zephyrate {

namespace {

namespace chrono = std::chrono;

// 400 Gregorian years, which repeat exactly. chrono's years end at 32767 and 16-bit years
// at 65535, so whole cycles are counted apart from the year that chrono sees.
using Cycles = chrono::duration<std::int64_t, std::ratio<146097LL * 86400>>;
static_assert(Cycles{1} == chrono::years{400});

// The day of calendar fields that may run over, as the fields' arithmetic gives it
// (month 13 is January of the next year, day 0 the last of the month before).
constexpr chrono::sys_days DayOf(std::int64_t year, std::int64_t month, std::int64_t day) {
    const Cycles cycles{year / 400};
    const chrono::year_month first =
        chrono::year{static_cast<int>(year % 400)} / chrono::January + chrono::months{month - 1};
    return chrono::sys_days{first / 1} + chrono::days{day - 1} + cycles;
}

// The range that calendar fields of 16-bit years can express.
constexpr chrono::sys_seconds kFirstSecond{DayOf(0, 1, 1)};
constexpr chrono::sys_seconds kLastSecond{DayOf(65536, 1, 1) - chrono::seconds{1}};

}  // namespace

std::int64_t SecondsFromSystemTime(const SYSTEMTIME& time) {
    const chrono::sys_seconds moment = DayOf(time.wYear, time.wMonth, time.wDay) +
                                       chrono::hours{time.wHour} + chrono::minutes{time.wMinute} +
                                       chrono::seconds{time.wSecond};
    return moment.time_since_epoch().count();
}

SYSTEMTIME SystemTimeFromSeconds(std::int64_t seconds) {
    // Outside 16-bit years the fields cannot hold the moment; the nearest one is taken.
    const chrono::sys_seconds moment =
        std::clamp(chrono::sys_seconds{chrono::seconds{seconds}}, kFirstSecond, kLastSecond);
    const chrono::sys_days day = chrono::floor<chrono::days>(moment);
    const Cycles cycles = chrono::floor<Cycles>(day.time_since_epoch());
    const chrono::year_month_day date{day - cycles};
    const chrono::hh_mm_ss clock{moment - day};
    SYSTEMTIME time;
    time.wYear = static_cast<std::uint16_t>(static_cast<int>(date.year()) + 400 * cycles.count());
    time.wMonth = static_cast<std::uint16_t>(static_cast<unsigned>(date.month()));
    time.wDay = static_cast<std::uint16_t>(static_cast<unsigned>(date.day()));
    time.wDayOfWeek = static_cast<std::uint16_t>(chrono::weekday{day}.c_encoding());
    time.wHour = static_cast<std::uint16_t>(clock.hours().count());
    time.wMinute = static_cast<std::uint16_t>(clock.minutes().count());
    time.wSecond = static_cast<std::uint16_t>(clock.seconds().count());
    time.wMilliseconds = 0;
    return time;
}

std::int64_t SecondsFromFileTime(const FILETIME& time) {
    return TimespecFromFileTime(time).tv_sec;
}

FILETIME FileTimeFromSeconds(std::int64_t seconds) {
    return FileTimeFromTimespec(timespec{static_cast<std::time_t>(seconds), 0});
}

std::int64_t CurrentUtcSeconds() {
    const auto now = chrono::floor<chrono::seconds>(chrono::system_clock::now());
    return now.time_since_epoch().count();  // system_clock counts from 1970-01-01 UTC
}

}  // namespace zephyrate
