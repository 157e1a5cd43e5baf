#include "platform/HttpDate.h"

#include <gtest/gtest.h>

namespace zephyrate {
namespace {

SYSTEMTIME Time(int year, int month, int weekday, int day, int hour, int minute, int second) {
    SYSTEMTIME t;
    t.wYear = static_cast<std::uint16_t>(year);
    t.wMonth = static_cast<std::uint16_t>(month);
    t.wDayOfWeek = static_cast<std::uint16_t>(weekday);
    t.wDay = static_cast<std::uint16_t>(day);
    t.wHour = static_cast<std::uint16_t>(hour);
    t.wMinute = static_cast<std::uint16_t>(minute);
    t.wSecond = static_cast<std::uint16_t>(second);
    return t;
}

TEST(HttpDateTest, ReadsAllThreeFormsOfTheSameMoment) {
    const SYSTEMTIME expected = Time(1994, 11, 0, 6, 8, 49, 37);
    for (const char* text : {"Sun, 06 Nov 1994 08:49:37 GMT", "Sunday, 06-Nov-94 08:49:37 GMT",
                             "Sun Nov  6 08:49:37 1994", "  Sun, 06 Nov 1994 08:49:37 GMT\t"}) {
        auto parsed = ParseHttpDate(text);
        ASSERT_TRUE(parsed.has_value()) << text;
        EXPECT_EQ(*parsed, expected) << text;
    }
    auto late = ParseHttpDate("Fri Dec 31 23:59:59 1999");
    ASSERT_TRUE(late.has_value());
    EXPECT_EQ(*late, Time(1999, 12, 5, 31, 23, 59, 59));
}

TEST(HttpDateTest, ComputesTheWeekdayInsteadOfTrustingTheName) {
    // The name is wrong (6 Nov 1994 was a Sunday); the date still stands.
    auto parsed = ParseHttpDate("Wed, 06 Nov 1994 08:49:37 GMT");
    ASSERT_TRUE(parsed.has_value());
    EXPECT_EQ(parsed->wDayOfWeek, 0);
    EXPECT_EQ(DayOfWeek(2024, 2, 29), 4);  // a Thursday
    EXPECT_EQ(DayOfWeek(2000, 1, 1), 6);
    EXPECT_EQ(DayOfWeek(1601, 1, 1), 1);
}

TEST(HttpDateTest, KnowsLeapDays) {
    EXPECT_TRUE(ParseHttpDate("Thu, 29 Feb 2024 12:00:00 GMT").has_value());
    EXPECT_TRUE(ParseHttpDate("Tue, 29 Feb 2000 12:00:00 GMT").has_value());
    EXPECT_FALSE(ParseHttpDate("Wed, 29 Feb 2023 12:00:00 GMT").has_value());
    EXPECT_FALSE(ParseHttpDate("Thu, 29 Feb 1900 12:00:00 GMT").has_value());
    EXPECT_FALSE(ParseHttpDate("Fri, 30 Feb 2024 12:00:00 GMT").has_value());
}

TEST(HttpDateTest, PlacesTwoDigitYearsAroundNineteenSeventy) {
    EXPECT_EQ(ParseHttpDate("Thursday, 01-Jan-70 00:00:00 GMT")->wYear, 1970);
    EXPECT_EQ(ParseHttpDate("Friday, 31-Dec-99 00:00:00 GMT")->wYear, 1999);
    EXPECT_EQ(ParseHttpDate("Saturday, 01-Jan-00 00:00:00 GMT")->wYear, 2000);
    EXPECT_EQ(ParseHttpDate("Wednesday, 05-Jan-05 00:00:00 GMT")->wYear, 2005);
    EXPECT_EQ(ParseHttpDate("Sunday, 29-Feb-04 00:00:00 GMT")->wDay, 29);
    EXPECT_FALSE(ParseHttpDate("Monday, 29-Feb-05 00:00:00 GMT").has_value());
}

TEST(HttpDateTest, RejectsEverythingElse) {
    for (const char* text : {
             "",
             "yesterday",
             "Sun, 06 Nov 1994 08:49:37",           // no zone
             "Sun, 06 Nov 1994 08:49:37 GMT junk",  // trailing junk
             "Sun, 06 Nov 1994 08:49:37 GMT\r\n",
             "Sun, 06 Nox 1994 08:49:37 GMT",  // bad month
             "Sun, 31 Apr 1994 08:49:37 GMT",  // April has 30 days
             "Sun, 00 Nov 1994 08:49:37 GMT",
             "Sun, 06 Nov 1994 24:00:00 GMT",  // hour 24
             "Sun, 06 Nov 1994 08:60:00 GMT",
             "Sun, 06 Nov 1994 08:49:60 GMT",
             "Sun, 06 Nov 94 08:49:37 GMT",  // two-digit year in the four-digit form
             "Sun, 06 Nov 1994 8:49:37 GMT",
             "Sun, 06 Nov 1994 08:49:37 PST",
             "Sun 06 Nov 1994 08:49:37 GMT",
             "Sunday, 06 Nov 1994 08:49:37 GMT",  // long name with the short form
             "Sun, 06-Nov-94 08:49:37 GMT",       // short name with the long form
             "Sun Nov  6 08:49:37 1994 GMT",
             "Sun Nov  6 08:49:37 94",
             "Sun, 06 Nov 1500 08:49:37 GMT",  // before file times begin
             "Sun, 123 Nov 1994 08:49:37 GMT",
         }) {
        EXPECT_FALSE(ParseHttpDate(text).has_value()) << '"' << text << '"';
    }
}

TEST(HttpDateTest, FormatsTheFormItReads) {
    const SYSTEMTIME time = Time(2024, 2, 4, 29, 7, 5, 9);
    EXPECT_EQ(FormatHttpDate(time), "Thu, 29 Feb 2024 07:05:09 GMT");
    EXPECT_EQ(ParseHttpDate(FormatHttpDate(time)), time);
}

}  // namespace
}  // namespace zephyrate
