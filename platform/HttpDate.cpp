#include "platform/HttpDate.h"

#include <array>
#include <cstdio>

namespace zephyrate {

namespace {

constexpr std::array<std::string_view, 7> kShortDays = {"Sun", "Mon", "Tue", "Wed",
                                                        "Thu", "Fri", "Sat"};
constexpr std::array<std::string_view, 7> kLongDays = {"Sunday",   "Monday", "Tuesday", "Wednesday",
                                                       "Thursday", "Friday", "Saturday"};
constexpr std::array<std::string_view, 12> kMonths = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                                      "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

bool SameLetters(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (std::size_t i = 0; i < a.size(); ++i) {
        char x = a[i] >= 'A' && a[i] <= 'Z' ? static_cast<char>(a[i] - 'A' + 'a') : a[i];
        char y = b[i] >= 'A' && b[i] <= 'Z' ? static_cast<char>(b[i] - 'A' + 'a') : b[i];
        if (x != y) {
            return false;
        }
    }
    return true;
}

bool IsLeapYear(int year) {
    return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

int DaysInMonth(int year, int month) {
    static constexpr std::array<int, 12> kDays = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return month == 2 && IsLeapYear(year) ? 29 : kDays[static_cast<std::size_t>(month - 1)];
}

// A forward-only reader over the text; every step fails softly so that one check at the
// end decides.
class Cursor {
  public:
    explicit Cursor(std::string_view text) : text_(text) {}

    bool AtEnd() const { return pos_ == text_.size(); }

    bool Char(char c) {
        if (pos_ < text_.size() && text_[pos_] == c) {
            ++pos_;
            return true;
        }
        return false;
    }

    bool Spaces() {
        std::size_t start = pos_;
        while (pos_ < text_.size() && text_[pos_] == ' ') {
            ++pos_;
        }
        return pos_ > start;
    }

    // Between minDigits and maxDigits decimal digits.
    bool Number(int minDigits, int maxDigits, int& value) {
        int count = 0;
        value = 0;
        while (count < maxDigits && pos_ < text_.size() && text_[pos_] >= '0' &&
               text_[pos_] <= '9') {
            value = value * 10 + (text_[pos_] - '0');
            ++pos_;
            ++count;
        }
        return count >= minDigits &&
               !(pos_ < text_.size() && text_[pos_] >= '0' && text_[pos_] <= '9');
    }

    std::string_view Letters() {
        std::size_t start = pos_;
        while (pos_ < text_.size() && ((text_[pos_] >= 'a' && text_[pos_] <= 'z') ||
                                       (text_[pos_] >= 'A' && text_[pos_] <= 'Z'))) {
            ++pos_;
        }
        return text_.substr(start, pos_ - start);
    }

    template <std::size_t N>
    bool OneOf(const std::array<std::string_view, N>& names, int& index) {
        std::string_view word = Letters();
        for (std::size_t i = 0; i < N; ++i) {
            if (SameLetters(word, names[i])) {
                index = static_cast<int>(i);
                return true;
            }
        }
        return false;
    }

    bool Clock(int& hour, int& minute, int& second) {
        return Number(2, 2, hour) && Char(':') && Number(2, 2, minute) && Char(':') &&
               Number(2, 2, second);
    }

    bool Zone() {
        std::string_view zone = Letters();
        return zone == "GMT" || zone == "UTC";
    }

  private:
    std::string_view text_;
    std::size_t pos_ = 0;
};

struct Fields {
    int year = 0;
    int month = 0;  // 0-based while parsing
    int day = 0;
    int hour = 0;
    int minute = 0;
    int second = 0;
};

// "06 Nov 1994 08:49:37 GMT"
bool ParseRfc1123Rest(Cursor& in, Fields& f) {
    return in.Spaces() && in.Number(1, 2, f.day) && in.Spaces() && in.OneOf(kMonths, f.month) &&
           in.Spaces() && in.Number(4, 4, f.year) && in.Spaces() &&
           in.Clock(f.hour, f.minute, f.second) && in.Spaces() && in.Zone() && in.AtEnd();
}

// "06-Nov-94 08:49:37 GMT"
bool ParseRfc850Rest(Cursor& in, Fields& f) {
    int year = 0;
    if (!(in.Spaces() && in.Number(1, 2, f.day) && in.Char('-') && in.OneOf(kMonths, f.month) &&
          in.Char('-') && in.Number(2, 4, year) && in.Spaces() &&
          in.Clock(f.hour, f.minute, f.second) && in.Spaces() && in.Zone() && in.AtEnd())) {
        return false;
    }
    if (year < 100) {
        year += year < 70 ? 2000 : 1900;
    } else if (year < 1000) {
        return false;
    }
    f.year = year;
    return true;
}

// "Nov  6 08:49:37 1994"
bool ParseAsctimeRest(Cursor& in, Fields& f) {
    return in.Spaces() && in.OneOf(kMonths, f.month) && in.Spaces() && in.Number(1, 2, f.day) &&
           in.Spaces() && in.Clock(f.hour, f.minute, f.second) && in.Spaces() &&
           in.Number(4, 4, f.year) && in.AtEnd();
}

std::string_view TrimBlanks(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) {
        text.remove_prefix(1);
    }
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) {
        text.remove_suffix(1);
    }
    return text;
}

}  // namespace

int DayOfWeek(int year, int month, int day) {
    // Sakamoto's method: offsets of each month's first day, with January and February
    // counted in the previous year so that the leap day falls at the year's end.
    static constexpr std::array<int, 12> kOffsets = {0, 3, 2, 5, 0, 3, 5, 1, 4, 6, 2, 4};
    if (month < 3) {
        year -= 1;
    }
    return (year + year / 4 - year / 100 + year / 400 +
            kOffsets[static_cast<std::size_t>(month - 1)] + day) %
           7;
}

std::optional<SYSTEMTIME> ParseHttpDate(std::string_view text) {
    Cursor in(TrimBlanks(text));
    Fields f;
    bool parsed = false;
    std::string_view name = in.Letters();
    if (in.Char(',')) {
        for (std::size_t i = 0; i < kShortDays.size() && !parsed; ++i) {
            if (SameLetters(name, kShortDays[i])) {
                parsed = ParseRfc1123Rest(in, f);
            } else if (SameLetters(name, kLongDays[i])) {
                parsed = ParseRfc850Rest(in, f);
            }
        }
    } else {
        for (std::size_t i = 0; i < kShortDays.size() && !parsed; ++i) {
            if (SameLetters(name, kShortDays[i])) {
                parsed = ParseAsctimeRest(in, f);
            }
        }
    }
    if (!parsed) {
        return std::nullopt;
    }
    const int month = f.month + 1;
    // FILETIME, which these dates end up in, starts in 1601.
    if (f.year < 1601 || f.day < 1 || f.day > DaysInMonth(f.year, month) || f.hour > 23 ||
        f.minute > 59 || f.second > 59) {
        return std::nullopt;
    }
    SYSTEMTIME result;
    result.wYear = static_cast<std::uint16_t>(f.year);
    result.wMonth = static_cast<std::uint16_t>(month);
    result.wDay = static_cast<std::uint16_t>(f.day);
    result.wDayOfWeek = static_cast<std::uint16_t>(DayOfWeek(f.year, month, f.day));
    result.wHour = static_cast<std::uint16_t>(f.hour);
    result.wMinute = static_cast<std::uint16_t>(f.minute);
    result.wSecond = static_cast<std::uint16_t>(f.second);
    return result;
}

std::string FormatHttpDate(const SYSTEMTIME& time) {
    const int weekday = DayOfWeek(time.wYear, time.wMonth, time.wDay);
    char text[40];
    std::snprintf(text, sizeof text, "%s, %02u %s %04u %02u:%02u:%02u GMT",
                  kShortDays[static_cast<std::size_t>(weekday)].data(),
                  static_cast<unsigned>(time.wDay),
                  kMonths[static_cast<std::size_t>((time.wMonth + 11) % 12)].data(),
                  static_cast<unsigned>(time.wYear), static_cast<unsigned>(time.wHour),
                  static_cast<unsigned>(time.wMinute), static_cast<unsigned>(time.wSecond));
    return text;
}

}  // namespace zephyrate
