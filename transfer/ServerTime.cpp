#include "transfer/ServerTime.h"

#include <algorithm>
#include <chrono>
#include <limits>

namespace zephyrate {

namespace {

constexpr std::int64_t kSecondsPerDay = 86400;
// Seconds from 1601-01-01 (the start of file time) to 1970-01-01 (our count's zero).
constexpr std::int64_t kFileTimeEpochOffset = 11644473600;
constexpr std::int64_t kFileTimeUnitsPerSecond = 10000000;

// Days from 1970-01-01 in the proleptic Gregorian calendar, by era arithmetic (400 years
// repeat exactly), so no library call and no time zone take part.
constexpr std::int64_t DaysFromCivil(std::int64_t year, std::int64_t month, std::int64_t day) {
    year -= month <= 2 ? 1 : 0;
    const std::int64_t era = (year >= 0 ? year : year - 399) / 400;
    const std::int64_t yearOfEra = year - era * 400;
    const std::int64_t dayOfYear = (153 * (month > 2 ? month - 3 : month + 9) + 2) / 5 + day - 1;
    const std::int64_t dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
    return era * 146097 + dayOfEra - 719468;
}

struct CivilDate {
    std::int64_t year;
    std::int64_t month;
    std::int64_t day;
};

constexpr CivilDate CivilFromDays(std::int64_t days) {
    days += 719468;
    const std::int64_t era = (days >= 0 ? days : days - 146096) / 146097;
    const std::int64_t dayOfEra = days - era * 146097;
    const std::int64_t yearOfEra =
        (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
    const std::int64_t dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    const std::int64_t shiftedMonth = (5 * dayOfYear + 2) / 153;
    const std::int64_t day = dayOfYear - (153 * shiftedMonth + 2) / 5 + 1;
    const std::int64_t month = shiftedMonth < 10 ? shiftedMonth + 3 : shiftedMonth - 9;
    return {yearOfEra + era * 400 + (month <= 2 ? 1 : 0), month, day};
}

static_assert(DaysFromCivil(1970, 1, 1) == 0);
static_assert(CivilFromDays(-1).year == 1969);

// The range that calendar fields of 16-bit years can express.
constexpr std::int64_t kFirstSecond = DaysFromCivil(0, 1, 1) * kSecondsPerDay;
constexpr std::int64_t kLastSecond = DaysFromCivil(65536, 1, 1) * kSecondsPerDay - 1;

}  // namespace

std::int64_t SecondsFromSystemTime(const SYSTEMTIME& time) {
    return DaysFromCivil(time.wYear, time.wMonth, time.wDay) * kSecondsPerDay +
           std::int64_t{time.wHour} * 3600 + std::int64_t{time.wMinute} * 60 + time.wSecond;
}

SYSTEMTIME SystemTimeFromSeconds(std::int64_t seconds) {
    // Outside 16-bit years the fields cannot hold the moment; the nearest one is taken.
    seconds = std::clamp(seconds, kFirstSecond, kLastSecond);
    std::int64_t days = seconds / kSecondsPerDay;
    std::int64_t secondOfDay = seconds % kSecondsPerDay;
    if (secondOfDay < 0) {
        secondOfDay += kSecondsPerDay;
        --days;
    }
    const CivilDate date = CivilFromDays(days);
    SYSTEMTIME time;
    time.wYear = static_cast<std::uint16_t>(date.year);
    time.wMonth = static_cast<std::uint16_t>(date.month);
    time.wDay = static_cast<std::uint16_t>(date.day);
    // 1970-01-01 was a Thursday (4).
    time.wDayOfWeek = static_cast<std::uint16_t>(((days + 4) % 7 + 7) % 7);
    time.wHour = static_cast<std::uint16_t>(secondOfDay / 3600);
    time.wMinute = static_cast<std::uint16_t>(secondOfDay / 60 % 60);
    time.wSecond = static_cast<std::uint16_t>(secondOfDay % 60);
    time.wMilliseconds = 0;
    return time;
}

std::int64_t SecondsFromFileTime(const FILETIME& time) {
    const std::uint64_t units =
        (std::uint64_t{time.dwHighDateTime} << 32) | std::uint64_t{time.dwLowDateTime};
    return static_cast<std::int64_t>(units / kFileTimeUnitsPerSecond) - kFileTimeEpochOffset;
}

FILETIME FileTimeFromSeconds(std::int64_t seconds) {
    // File time counts from 1601 and, on the device, stays below 2^63; moments outside
    // that are taken to its nearest end.
    constexpr std::int64_t kLast =
        std::numeric_limits<std::int64_t>::max() / kFileTimeUnitsPerSecond - kFileTimeEpochOffset;
    seconds = std::clamp(seconds, -kFileTimeEpochOffset, kLast);
    const auto units =
        static_cast<std::uint64_t>(seconds + kFileTimeEpochOffset) * kFileTimeUnitsPerSecond;
    FILETIME time;
    time.dwLowDateTime = static_cast<std::uint32_t>(units & 0xFFFFFFFFu);
    time.dwHighDateTime = static_cast<std::uint32_t>(units >> 32);
    return time;
}

std::int64_t CurrentUtcSeconds() {
    const auto now = std::chrono::floor<std::chrono::seconds>(std::chrono::system_clock::now());
    return now.time_since_epoch().count();  // system_clock counts from 1970-01-01 UTC
}

}  // namespace zephyrate
