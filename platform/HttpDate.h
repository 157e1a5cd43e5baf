// HTTP dates (Last-Modified) as calendar fields in UTC, and the preferred form for
// servers we run ourselves. Pure functions, safe from any thread.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "platform/WinTypes.h"

namespace zephyrate {

// Every form that servers send, read by libcurl's own date parser: RFC 1123
// ("Sun, 06 Nov 1994 08:49:37 GMT"), RFC 850 ("Sunday, 06-Nov-94 08:49:37 GMT"), asctime
// ("Sun Nov  6 08:49:37 1994"), and numeric zones ("+0000", "-0500"), which are turned
// into UTC. Nothing for text that is not a date or a moment before 1601, where the
// device's file times begin.
std::optional<SYSTEMTIME> ParseHttpDate(std::string_view text);

// The RFC 1123 form of a date, e.g. "Sun, 06 Nov 1994 08:49:37 GMT"; the weekday is
// computed from the date.
std::string FormatHttpDate(const SYSTEMTIME& time);

}  // namespace zephyrate
