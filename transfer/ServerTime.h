// Time stamps as the transfer compares them: seconds counted from calendar fields (year,
// month, day, hour, minute, second) with no time-zone conversion on either side, so that
// a file stamped by us compares equal on the next run. Milliseconds are dropped.
#pragma once

#include <cstdint>

#include "platform/WinTypes.h"

namespace zephyrate {

std::int64_t SecondsFromSystemTime(const SYSTEMTIME& time);
SYSTEMTIME SystemTimeFromSeconds(std::int64_t seconds);
std::int64_t SecondsFromFileTime(const FILETIME& time);
FILETIME FileTimeFromSeconds(std::int64_t seconds);
// The computer's current time in UTC, as seconds.
std::int64_t CurrentUtcSeconds();

}  // namespace zephyrate
