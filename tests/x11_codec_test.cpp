#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "util/utf_text.h"

namespace clipfile {
namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes Of(const std::string& s) { return {s.begin(), s.end()}; }

// UTF-16LE bytes of the code units.
Bytes Units(std::initializer_list<std::uint16_t> units) {
    Bytes out;
    for (const std::uint16_t u : units) {
        out.push_back(static_cast<std::uint8_t>(u));
        out.push_back(static_cast<std::uint8_t>(u >> 8));
    }
    return out;
}

Bytes ToUtf16(const Bytes& utf8) {
    const auto size = Utf16LeSizeOfUtf8(utf8);
    EXPECT_TRUE(size);
    Bytes out(size.value_or(0), 0xAA);
    Utf8ToUtf16Le(utf8, out);
    return out;
}

Bytes ToUtf8(const Bytes& utf16) {
    const auto size = Utf8SizeOfUtf16Le(utf16);
    EXPECT_TRUE(size);
    Bytes out(size.value_or(0), 0xAA);
    Utf16LeToUtf8(utf16, out);
    return out;
}

struct Utf8Case {
    const char* name;
    Bytes utf8;
    Bytes utf16;
};

TEST(Utf8ToUtf16Le, WellFormedRoundTripsAndIllFormedBecomesReplacementPerMaximalSubpart) {
    const std::vector<Utf8Case> cases = {
        {"empty", {}, {}},
        {"ascii with a zero", Of(std::string("a\0b", 3)), Units({'a', 0, 'b'})},
        {"two, three and four bytes", Of("\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80"),
         Units({0xE9, 0x20AC, 0xD83D, 0xDE00})},
        {"limits", Of("\x7F\xC2\x80\xDF\xBF\xE0\xA0\x80\xEF\xBF\xBF\xF4\x8F\xBF\xBF"),
         Units({0x7F, 0x80, 0x7FF, 0x800, 0xFFFF, 0xDBFF, 0xDFFF})},
        // Ill-formed: one U+FFFD per maximal subpart.
        {"lone continuation", Of("a\x80z"), Units({'a', 0xFFFD, 'z'})},
        {"overlong two bytes", Of("\xC0\xAF"), Units({0xFFFD, 0xFFFD})},
        {"overlong three bytes", Of("\xE0\x80\xAF"), Units({0xFFFD, 0xFFFD, 0xFFFD})},
        {"surrogate encoded", Of("\xED\xA0\x80"), Units({0xFFFD, 0xFFFD, 0xFFFD})},
        {"past U+10FFFF", Of("\xF4\x90\x80\x80"), Units({0xFFFD, 0xFFFD, 0xFFFD, 0xFFFD})},
        {"F5 and FF", Of("\xF5\xFF"), Units({0xFFFD, 0xFFFD})},
        {"truncated three bytes then ascii", Of("\xE2\x82z"), Units({0xFFFD, 'z'})},
        {"truncated four bytes at the end", Of("a\xF0\x9F\x98"), Units({'a', 0xFFFD})},
        {"lead interrupted by a lead", Of("\xC3\xC3\xA9"), Units({0xFFFD, 0xE9})},
        {"Unicode's example", Of("\x61\xF1\x80\x80\xE1\x80\xC2\x62\x80\x63\x80\xBF\x64"),
         Units({'a', 0xFFFD, 0xFFFD, 0xFFFD, 'b', 0xFFFD, 'c', 0xFFFD, 0xFFFD, 'd'})},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(ToUtf16(c.utf8), c.utf16);
        // The converted text is well-formed, so it comes back unchanged.
        EXPECT_EQ(ToUtf16(ToUtf8(c.utf16)), c.utf16);
    }
}

struct Utf16Case {
    const char* name;
    Bytes utf16;
    Bytes utf8;
};

TEST(Utf16LeToUtf8, UnpairedSurrogatesAndAnOddByteBecomeReplacement) {
    const std::string fffd = "\xEF\xBF\xBD";
    const std::vector<Utf16Case> cases = {
        {"empty", {}, {}},
        {"pair", Units({'x', 0xD83D, 0xDE00, 'y'}), Of("x\xF0\x9F\x98\x80y")},
        {"high at the end", Units({'x', 0xD83D}), Of("x" + fffd)},
        {"high then ascii", Units({0xD800, 'y'}), Of(fffd + "y")},
        {"two highs then low", Units({0xD800, 0xDBFF, 0xDC00}), Of(fffd + "\xF4\x8F\xB0\x80")},
        {"lone low", Units({0xDFFF, 'y'}), Of(fffd + "y")},
        {"reversed pair", Units({0xDC00, 0xD800}), Of(fffd + fffd)},
        {"odd final byte", {'a', 0, 'b'}, Of("a" + fffd)},
        {"one byte", {0x41}, Of(fffd)},
        {"zero character kept", Units({0, 'a'}), Of(std::string("\0a", 2))},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(ToUtf8(c.utf16), c.utf8);
    }
}

TEST(Utf8ToUtf16Le, ShortOutputIsNotOverrun) {
    const Bytes utf8 = Of("ab\xF0\x9F\x98\x80");
    Bytes out(5, 0xAA);  // one byte short of the 6 needed
    Utf8ToUtf16Le(utf8, std::span(out).first(4));
    EXPECT_EQ(out, (Bytes{'a', 0, 'b', 0, 0xAA}));
    Bytes back(4, 0xAA);
    Utf16LeToUtf8(Units({0x20AC, 0x20AC}), std::span(back).first(3));
    EXPECT_EQ(back, (Bytes{0xE2, 0x82, 0xAC, 0xAA}));
}

}  // namespace
}  // namespace clipfile
