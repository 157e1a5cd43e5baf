#include "platform/WideText.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <tuple>

namespace zephyrate {
namespace {

// Valid text converts as it is; each byte of an invalid sequence becomes an escape
// (U+DC80..U+DCFF) and back, and a lone surrogate that is no escape becomes U+FFFD.
TEST(WideTextTest, ConvertsValidTextAndEscapesEachByteOfAnInvalidSequence) {
    const std::tuple<const char*, std::string, std::u16string> cases[] = {
        // what, the bytes, the text
        {"one to four bytes",
         "a\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80",
         {u'a', 0x00E9, 0x20AC, 0xD83D, 0xDE00}},
        {"zero byte", std::string("a\0b", 3), std::u16string(u"a\0b", 3)},
        {"Latin-1 byte", "caf\xE9", {u'c', u'a', u'f', 0xDCE9}},
        {"stray continuation", "\x80x", {0xDC80, u'x'}},
        {"overlong two-byte", "\xC0\xAF", {0xDCC0, 0xDCAF}},
        {"overlong three-byte", "\xE0\x80\xAF", {0xDCE0, 0xDC80, 0xDCAF}},
        {"overlong four-byte", "\xF0\x80\x80\xAF", {0xDCF0, 0xDC80, 0xDC80, 0xDCAF}},
        {"encoded surrogate", "\xED\xA0\x80", {0xDCED, 0xDCA0, 0xDC80}},
        {"above U+10FFFF", "\xF4\x90\x80\x80", {0xDCF4, 0xDC90, 0xDC80, 0xDC80}},
        {"F5 lead", "\xF5\x80", {0xDCF5, 0xDC80}},
        {"cut at the end", "a\xE2\x82", {u'a', 0xDCE2, 0xDC82}},
        // A broken sequence must not swallow the valid character that follows it.
        {"cut before ASCII", "\xE2\x82z", {0xDCE2, 0xDC82, u'z'}},
        {"cut before valid", "\xC3\xC3\xA9", {0xDCC3, 0x00E9}},
    };
    for (const auto& [what, bytes, wide] : cases) {
        EXPECT_EQ(Utf8ToUtf16(bytes), wide) << what;
        EXPECT_EQ(Utf16ToUtf8(wide), bytes) << what;
    }
    EXPECT_EQ(Utf16ToUtf8(std::u16string{u'a', 0xD800, u'b'}), "a\uFFFDb");
    EXPECT_EQ(Utf16ToUtf8(std::u16string{0xDC7F, 0xDE00, 0xD83D}),
              "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD");
}

}  // namespace
}  // namespace zephyrate
