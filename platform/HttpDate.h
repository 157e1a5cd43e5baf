// HTTP dates (Last-Modified): parsing of the three forms that servers send, and the
// preferred form for servers we run ourselves. Pure functions, safe from any thread.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "platform/WinTypes.h"

namespace zephyrate {

// Accepts, with surrounding blanks ignored:
//   RFC 1123  "Sun, 06 Nov 1994 08:49:37 GMT"
//   RFC 850   "Sunday, 06-Nov-94 08:49:37 GMT"  (years 70-99 are 19xx, 00-69 are 20xx)
//   asctime   "Sun Nov  6 08:49:37 1994"
// Anything else, or a date that does not exist (31 April, 29 February 2023, hour 24),
// gives nothing. wDayOfWeek is computed from the date; the weekday name is only checked
// to be a weekday name.
std::optional<SYSTEMTIME> ParseHttpDate(std::string_view text);

// The RFC 1123 form of a valid date, e.g. "Sun, 06 Nov 1994 08:49:37 GMT".
std::string FormatHttpDate(const SYSTEMTIME& time);

// 0 = Sunday, for the proleptic Gregorian calendar.
int DayOfWeek(int year, int month, int day);

}  // namespace zephyrate
