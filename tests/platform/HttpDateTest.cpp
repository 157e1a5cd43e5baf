#include "platform/HttpDate.h"

#include <gtest/gtest.h>

namespace zephyrate {
namespace {

TEST(HttpDateTest, ReadsAllThreeFormsComputesTheWeekdayAndFormatsTheFirstForm) {
    // 6 Nov 1994 was a Sunday; "Wed" is wrong, but the date still stands.
    for (const char* text : {"Sun, 06 Nov 1994 08:49:37 GMT", "Sunday, 06-Nov-94 08:49:37 GMT",
                             "Sun Nov  6 08:49:37 1994", "  Sun, 06 Nov 1994 08:49:37 GMT\t",
                             "Wed, 06 Nov 1994 08:49:37 GMT"}) {
        EXPECT_EQ(ParseHttpDate(text), (SYSTEMTIME{1994, 11, 0, 6, 8, 49, 37})) << text;
    }
    EXPECT_EQ(ParseHttpDate("Fri Dec 31 23:59:59 1999"), (SYSTEMTIME{1999, 12, 5, 31, 23, 59, 59}));
    EXPECT_EQ(DayOfWeek(2024, 2, 29), 4);  // a Thursday
    EXPECT_EQ(DayOfWeek(1601, 1, 1), 1);

    const SYSTEMTIME time{2024, 2, 4, 29, 7, 5, 9};
    EXPECT_EQ(FormatHttpDate(time), "Thu, 29 Feb 2024 07:05:09 GMT");
    EXPECT_EQ(ParseHttpDate(FormatHttpDate(time)), time);
}

TEST(HttpDateTest, KnowsLeapDaysAndPlacesTwoDigitYearsAroundNineteenSeventy) {
    const std::pair<const char*, int> cases[] = {
        // the year read, 0 for none
        {"Thu, 29 Feb 2024 12:00:00 GMT", 2024},     {"Tue, 29 Feb 2000 12:00:00 GMT", 2000},
        {"Wed, 29 Feb 2023 12:00:00 GMT", 0},        {"Thu, 29 Feb 1900 12:00:00 GMT", 0},
        {"Fri, 30 Feb 2024 12:00:00 GMT", 0},        {"Thursday, 01-Jan-70 00:00:00 GMT", 1970},
        {"Friday, 31-Dec-99 00:00:00 GMT", 1999},    {"Saturday, 01-Jan-00 00:00:00 GMT", 2000},
        {"Wednesday, 05-Jan-05 00:00:00 GMT", 2005}, {"Sunday, 29-Feb-04 00:00:00 GMT", 2004},
        {"Monday, 29-Feb-05 00:00:00 GMT", 0},
    };
    for (const auto& [text, year] : cases) {
        const auto parsed = ParseHttpDate(text);
        EXPECT_EQ(parsed ? parsed->wYear : 0, year) << text;
    }
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

}  // namespace
}  // namespace zephyrate
