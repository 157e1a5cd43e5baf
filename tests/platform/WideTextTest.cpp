#include "platform/WideText.h"

#include <gtest/gtest.h>
#include <locale.h>
#include <wchar.h>

#include <cstdint>
#include <random>
#include <string>

namespace zephyrate {
namespace {

TEST(WideTextTest, ConvertsValidTextAndReplacesLoneSurrogatesThatAreNoEscapes) {
    // One, two, three and four bytes; the last becomes a surrogate pair.
    EXPECT_EQ(Utf8ToUtf16("a\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80"),
              (std::u16string{u'a', 0x00E9, 0x20AC, 0xD83D, 0xDE00}));
    EXPECT_EQ(Utf8ToUtf16(std::string("a\0b", 3)), std::u16string(u"a\0b", 3));
    EXPECT_EQ(Utf8ToUtf16(""), u"");
    EXPECT_EQ(Utf16ToUtf8(std::u16string{u'a', 0xD800, u'b'}),
              "a\xEF\xBF\xBD"
              "b");
    EXPECT_EQ(Utf16ToUtf8(std::u16string{0xDC7F}), "\xEF\xBF\xBD");
    EXPECT_EQ(Utf16ToUtf8(std::u16string{0xDE00, 0xD83D}), "\xEF\xBF\xBD\xEF\xBF\xBD");
}

// glibc's own UTF-8 encoder is the reference for every scalar value.
TEST(WideTextTest, AgreesWithTheCLibraryOnEveryCodePoint) {
    locale_t utf8 = newlocale(LC_CTYPE_MASK, "C.UTF-8", static_cast<locale_t>(nullptr));
    if (utf8 == nullptr) {
        GTEST_SKIP() << "no C.UTF-8 locale here";
    }
    locale_t previous = uselocale(utf8);
    int mismatches = 0;
    for (char32_t c = 1; c <= 0x10FFFF && mismatches < 5; ++c) {
        if (c >= 0xD800 && c <= 0xDFFF) {
            continue;
        }
        char bytes[MB_LEN_MAX];
        mbstate_t state{};
        const std::size_t length = wcrtomb(bytes, static_cast<wchar_t>(c), &state);
        ASSERT_NE(length, static_cast<std::size_t>(-1));
        const std::string encoded(bytes, length);
        const std::u16string expected =
            c < 0x10000 ? std::u16string(1, static_cast<char16_t>(c))
                        : std::u16string{static_cast<char16_t>(0xD800 + ((c - 0x10000) >> 10)),
                                         static_cast<char16_t>(0xDC00 + ((c - 0x10000) & 0x3FF))};
        const std::u16string wide = Utf8ToUtf16(encoded);
        if (wide != expected || Utf16ToUtf8(wide) != encoded) {
            ADD_FAILURE() << "code point " << std::hex << static_cast<std::uint32_t>(c);
            ++mismatches;
        }
    }
    uselocale(previous);
    freelocale(utf8);
}

TEST(WideTextTest, EscapesEachByteOfAnInvalidSequence) {
    struct Case {
        const char* what;
        std::string bytes;
        std::u16string wide;
    };
    const Case cases[] = {
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
    for (const Case& c : cases) {
        EXPECT_EQ(Utf8ToUtf16(c.bytes), c.wide) << c.what;
        EXPECT_EQ(Utf16ToUtf8(c.wide), c.bytes) << c.what;
    }
}

TEST(WideTextTest, RoundTripsEveryShortByteStringAndRandomOnes) {
    std::string bytes;
    for (int a = 0; a < 256; ++a) {
        for (int b = 0; b < 256; ++b) {
            bytes = {static_cast<char>(a), static_cast<char>(b)};
            ASSERT_EQ(Utf16ToUtf8(Utf8ToUtf16(bytes)), bytes) << a << " " << b;
        }
    }
    std::mt19937 random(20240521);
    // Bytes weighted towards lead and continuation bytes, where the decoder has its cases.
    std::uniform_int_distribution<int> pick(0, 255);
    for (int round = 0; round < 20000; ++round) {
        bytes.resize(static_cast<std::size_t>(pick(random) % 12));
        for (char& byte : bytes) {
            const int value = pick(random);
            byte = static_cast<char>(value < 64    ? 0x80 | (value & 0x3F)
                                     : value < 128 ? 0xC0 | (value & 0x3F)
                                                   : value);
        }
        ASSERT_EQ(Utf16ToUtf8(Utf8ToUtf16(bytes)), bytes);
    }
}

}  // namespace
}  // namespace zephyrate
