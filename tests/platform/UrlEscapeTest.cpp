#include "platform/UrlEscape.h"

#include <gtest/gtest.h>

namespace zephyrate {
namespace {

TEST(UrlEscapeTest, EncodesOnlyWhatMayNotStandRawAfterTheHost) {
    const std::pair<const char*, const char*> cases[] = {
        {"http://h:80/a b/c.txt", "http://h:80/a%20b/c.txt"},
        {"http://h/x\"<>\\^`{|}\t\x7F", "http://h/x%22%3C%3E%5C%5E%60%7B%7C%7D%09%7F"},
        {"http://h/\xC3\xA9t\xC3\xA9.pdf", "http://h/%C3%A9t%C3%A9.pdf"},
        {"http://h/100%25/50%/%zz", "http://h/100%25/50%25/%25zz"},
        {"http://u:p@h/a;b?x=1&y=(2)+[3]!*'$,~", "http://u:p@h/a;b?x=1&y=(2)+[3]!*'$,~"},
        {"http://b\xC3\xBC"
         "cher.example/a b",
         "http://b\xC3\xBC"
         "cher.example/a%20b"},
    };
    for (const auto& [raw, escaped] : cases) {
        EXPECT_EQ(EscapeUnsafeUrlCharacters(raw), escaped) << raw;
    }
}

}  // namespace
}  // namespace zephyrate
