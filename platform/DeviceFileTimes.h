// File times of the device (FILETIME: 100 ns since 1601-01-01 UTC) and of POSIX
// (timespec since 1970-01-01 UTC). No zone conversion on either side. Pure functions.
#pragma once

#include <ctime>

#include "platform/WinTypes.h"

namespace zephyrate {

// Times before 1601 read as 0, times beyond the FILETIME range as its largest value.
FILETIME FileTimeFromTimespec(const timespec& time);
timespec TimespecFromFileTime(const FILETIME& time);

}  // namespace zephyrate
