#include "platform/HttpDate.h"

#include <curl/curl.h>

#include <array>
#include <chrono>
#include <cstdio>

namespace zephyrate {

namespace {

constexpr std::array<std::string_view, 7> kDays = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
constexpr std::array<std::string_view, 12> kMonths = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                                      "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

}  // namespace

std::optional<SYSTEMTIME> ParseHttpDate(std::string_view text) {
    using namespace std::chrono;
    const std::string terminated(text);
    const time_t parsed = curl_getdate(terminated.c_str(), nullptr);
    if (parsed == -1) {
        return std::nullopt;
    }
    const sys_seconds moment{seconds{parsed}};
    const sys_days day = floor<days>(moment);
    const year_month_day date{day};
    if (date.year() < year{1601}) {
        return std::nullopt;
    }
    const hh_mm_ss time{moment - day};
    SYSTEMTIME result;
    result.wYear = static_cast<std::uint16_t>(static_cast<int>(date.year()));
    result.wMonth = static_cast<std::uint16_t>(static_cast<unsigned>(date.month()));
    result.wDay = static_cast<std::uint16_t>(static_cast<unsigned>(date.day()));
    result.wDayOfWeek = static_cast<std::uint16_t>(weekday{day}.c_encoding());
    result.wHour = static_cast<std::uint16_t>(time.hours().count());
    result.wMinute = static_cast<std::uint16_t>(time.minutes().count());
    result.wSecond = static_cast<std::uint16_t>(time.seconds().count());
    result.wMilliseconds = 0;
    return result;
}

std::string FormatHttpDate(const SYSTEMTIME& time) {
    using namespace std::chrono;
    const weekday day{sys_days{year{time.wYear} / month{time.wMonth} / time.wDay}};
    char text[40];
    std::snprintf(text, sizeof text, "%s, %02u %s %04u %02u:%02u:%02u GMT",
                  kDays[day.c_encoding()].data(), static_cast<unsigned>(time.wDay),
                  kMonths[static_cast<std::size_t>((time.wMonth + 11) % 12)].data(),
                  static_cast<unsigned>(time.wYear), static_cast<unsigned>(time.wHour),
                  static_cast<unsigned>(time.wMinute), static_cast<unsigned>(time.wSecond));
    return text;
}

}  // namespace zephyrate
