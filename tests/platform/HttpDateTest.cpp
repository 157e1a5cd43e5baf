#include "platform/HttpDate.h"

#include <gtest/gtest.h>

namespace zephyrate {
namespace {

TEST(HttpDateTest, ReadsEveryFormServersSendInUtc) {
    const SYSTEMTIME sunday{1994, 11, 0, 6, 8, 49, 37};
    // The date forms are libcurl's to read; an offset shows the result is in UTC.
    EXPECT_EQ(ParseHttpDate("Sun, 06 Nov 1994 10:49:37 +0200"), sunday);
    for (const char* text : {"yesterday", "Sun, 06 Nov 1500 08:49:37 GMT"}) {
        EXPECT_FALSE(ParseHttpDate(text).has_value()) << text;
    }
    const SYSTEMTIME leapDay{2024, 2, 4, 29, 7, 5, 9};
    EXPECT_EQ(FormatHttpDate(leapDay), "Thu, 29 Feb 2024 07:05:09 GMT");
    EXPECT_EQ(ParseHttpDate(FormatHttpDate(leapDay)), leapDay);
}

}  // namespace
}  // namespace zephyrate
