// File times of the device (FILETIME: 100 ns since 1601-01-01 UTC) and of POSIX
// (timespec since 1970-01-01 UTC). No zone conversion on either side. Pure functions.
#pragma once

#include <ctime>

#include "platform/WinTypes.h"

namespace zephyrate {

// The device's file times run from 1601 to below 2^63 units: a time outside that is
// taken to the nearest whole second inside it.
FILETIME FileTimeFromTimespec(const timespec& time);
timespec TimespecFromFileTime(const FILETIME& time);

}  // namespace zephyrate
