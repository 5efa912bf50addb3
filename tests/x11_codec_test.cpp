#include <gtest/gtest.h>
#include <png.h>

#include <csetjmp>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "bmp/bmp_image.h"
#include "bmp/bmp_layout.h"
#include "cli/dispatch.h"
#include "fake_platform.h"
#include "portable/portable_graphics.h"
#include "util/byte_order.h"
#include "util/utf_text.h"
#include "x11/png_image.h"

namespace clipfile {
namespace {

using testing::BmpFile;
using testing::Bytes;

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

// A PNG made by libpng's writer from sample rows as the file stores them
// (packed, 16-bit samples big-endian).
struct TestPng {
    png_uint_32 width = 0;
    png_uint_32 height = 0;
    int depth = 8;
    int colourType = PNG_COLOR_TYPE_RGB;
    int interlace = PNG_INTERLACE_NONE;
    std::vector<png_color> palette;
    Bytes trnsAlpha;  // palette images
    bool trnsKey = false;
    png_color_16 key{};  // gray and RGB images
    Bytes rows;
};

void AppendToBytes(png_structp png, png_bytep data, png_size_t size) {
    auto* out = static_cast<Bytes*>(png_get_io_ptr(png));
    out->insert(out->end(), data, data + size);
}

// Holds no object with a destructor: libpng's errors jump out of it.
bool WriteTestPng(png_structp png, png_infop info, const TestPng& t, Bytes* out) {
    if (setjmp(png_jmpbuf(png))) return false;
    png_set_write_fn(png, out, AppendToBytes, nullptr);
    png_set_IHDR(png, info, t.width, t.height, t.depth, t.colourType, t.interlace,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    if (!t.palette.empty()) {
        png_set_PLTE(png, info, t.palette.data(), static_cast<int>(t.palette.size()));
    }
    if (!t.trnsAlpha.empty() || t.trnsKey) {
        png_set_tRNS(png, info, t.trnsAlpha.empty() ? nullptr : t.trnsAlpha.data(),
                     static_cast<int>(t.trnsAlpha.size()), t.trnsKey ? &t.key : nullptr);
    }
    png_write_info(png, info);
    const int passes = png_set_interlace_handling(png);
    const std::size_t rowBytes = t.rows.size() / t.height;
    for (int pass = 0; pass < passes; ++pass) {
        for (png_uint_32 y = 0; y < t.height; ++y) png_write_row(png, &t.rows[rowBytes * y]);
    }
    png_write_end(png, info);
    return true;
}

Bytes EncodeTestPng(const TestPng& t) {
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    Bytes out;
    EXPECT_TRUE(WriteTestPng(png, info, t, &out));
    png_destroy_write_struct(&png, &info);
    return out;
}

int Channels(int colourType) {
    switch (colourType) {
        case PNG_COLOR_TYPE_GRAY:
        case PNG_COLOR_TYPE_PALETTE: return 1;
        case PNG_COLOR_TYPE_GRAY_ALPHA: return 2;
        case PNG_COLOR_TYPE_RGB: return 3;
        default: return 4;
    }
}

// Sample c of pixel (x, y): varied, every value of a low depth occurring.
unsigned SampleAt(png_uint_32 x, png_uint_32 y, int c, int depth) {
    const unsigned mask = (1U << depth) - 1;
    return (x * 4099U + y * 7919U + static_cast<unsigned>(c) * 12345U + x * y * 31U) & mask;
}

// The 8-bit value of a sample: low depths scaled up, 16 bits rounded.
std::uint8_t To8(unsigned value, int depth) {
    if (depth == 16) return static_cast<std::uint8_t>((value + 128) / 257);
    return static_cast<std::uint8_t>(value * 255 / ((1U << depth) - 1));
}

struct PngCase {
    const char* name;
    png_uint_32 width, height;
    int colourType, depth;
    bool interlaced;
    bool trns;
};

// Fills the rows and returns the bitmap expected from them, bottom-up BGRA.
Bytes MakeImage(const PngCase& c, TestPng& t) {
    t.width = c.width;
    t.height = c.height;
    t.depth = c.depth;
    t.colourType = c.colourType;
    t.interlace = c.interlaced ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE;
    const int channels = Channels(c.colourType);
    if (c.colourType == PNG_COLOR_TYPE_PALETTE) {
        for (unsigned i = 0; i < (1U << c.depth); ++i) {
            t.palette.push_back({static_cast<png_byte>(i * 3), static_cast<png_byte>(255 - i),
                                 static_cast<png_byte>(i * 7 + 1)});
        }
        // Fewer alpha entries than colours: the rest stay opaque.
        if (c.trns) {
            for (std::size_t i = 0; i * 2 + 1 < t.palette.size(); ++i) {
                t.trnsAlpha.push_back(static_cast<std::uint8_t>(i * 37));
            }
        }
    } else if (c.trns) {
        // The colour of pixel (1, 1) becomes transparent.
        t.trnsKey = true;
        t.key.gray = t.key.red = static_cast<png_uint_16>(SampleAt(1, 1, 0, c.depth));
        t.key.green = static_cast<png_uint_16>(SampleAt(1, 1, 1, c.depth));
        t.key.blue = static_cast<png_uint_16>(SampleAt(1, 1, 2, c.depth));
    }
    const std::size_t rowBytes = (std::size_t{c.width} * channels * c.depth + 7) / 8;
    t.rows.assign(rowBytes * c.height, 0);
    Bytes expected(std::size_t{4} * c.width * c.height);
    for (png_uint_32 y = 0; y < c.height; ++y) {
        for (png_uint_32 x = 0; x < c.width; ++x) {
            unsigned s[4] = {};
            for (int ch = 0; ch < channels; ++ch) {
                s[ch] = SampleAt(x, y, ch, c.depth);
                const std::size_t bit = (std::size_t{x} * channels + ch) * c.depth;
                std::uint8_t* at = &t.rows[rowBytes * y + bit / 8];
                if (c.depth == 16) {
                    at[0] = static_cast<std::uint8_t>(s[ch] >> 8);
                    at[1] = static_cast<std::uint8_t>(s[ch]);
                } else {
                    *at |= static_cast<std::uint8_t>(s[ch] << (8 - c.depth - bit % 8));
                }
            }
            std::uint8_t bgra[4] = {};
            const bool keyed = t.trnsKey && s[0] == t.key.red &&
                               (channels == 1 || (s[1] == t.key.green && s[2] == t.key.blue));
            switch (c.colourType) {
                case PNG_COLOR_TYPE_PALETTE: {
                    const png_color& p = t.palette[s[0]];
                    bgra[0] = p.blue;
                    bgra[1] = p.green;
                    bgra[2] = p.red;
                    bgra[3] = s[0] < t.trnsAlpha.size() ? t.trnsAlpha[s[0]] : 255;
                    break;
                }
                case PNG_COLOR_TYPE_GRAY:
                case PNG_COLOR_TYPE_GRAY_ALPHA:
                    bgra[0] = bgra[1] = bgra[2] = To8(s[0], c.depth);
                    bgra[3] = channels == 2 ? To8(s[1], c.depth) : keyed ? 0 : 255;
                    break;
                default:
                    bgra[0] = To8(s[2], c.depth);
                    bgra[1] = To8(s[1], c.depth);
                    bgra[2] = To8(s[0], c.depth);
                    bgra[3] = channels == 4 ? To8(s[3], c.depth) : keyed ? 0 : 255;
            }
            std::memcpy(&expected[std::size_t{4} * (c.width * (c.height - 1 - y) + x)], bgra, 4);
        }
    }
    return expected;
}

Bytes PixelsOf(const DeviceBitmap& bitmap) {
    return {bitmap.pixels.get(), bitmap.pixels.get() + bitmap.size()};
}

TEST(DecodePng, EveryColourTypeDepthInterlaceAndTransparencyAsBottomUpBgra) {
    constexpr int kGray = PNG_COLOR_TYPE_GRAY;
    constexpr int kRgb = PNG_COLOR_TYPE_RGB;
    constexpr int kPalette = PNG_COLOR_TYPE_PALETTE;
    constexpr int kGrayAlpha = PNG_COLOR_TYPE_GRAY_ALPHA;
    constexpr int kRgba = PNG_COLOR_TYPE_RGB_ALPHA;
    const std::vector<PngCase> cases = {
        {"gray 1", 13, 7, kGray, 1, false, false},
        {"gray 2", 13, 7, kGray, 2, false, false},
        {"gray 4", 13, 7, kGray, 4, false, false},
        {"gray 8", 13, 7, kGray, 8, false, false},
        {"gray 16", 13, 7, kGray, 16, false, false},
        {"gray 2 tRNS", 13, 7, kGray, 2, false, true},
        {"gray 16 tRNS", 13, 7, kGray, 16, false, true},
        {"rgb 8", 13, 7, kRgb, 8, false, false},
        {"rgb 16", 13, 7, kRgb, 16, false, false},
        {"rgb 8 tRNS", 13, 7, kRgb, 8, false, true},
        {"rgb 16 tRNS", 13, 7, kRgb, 16, false, true},
        {"palette 1", 13, 7, kPalette, 1, false, false},
        {"palette 2 tRNS", 13, 7, kPalette, 2, false, true},
        {"palette 4", 13, 7, kPalette, 4, false, false},
        {"palette 8 tRNS", 13, 7, kPalette, 8, false, true},
        {"gray alpha 8", 13, 7, kGrayAlpha, 8, false, false},
        {"gray alpha 16", 13, 7, kGrayAlpha, 16, false, false},
        {"rgba 8", 13, 7, kRgba, 8, false, false},
        {"rgba 16", 13, 7, kRgba, 16, false, false},
        {"interlaced gray 1", 13, 7, kGray, 1, true, false},
        {"interlaced palette 4 tRNS", 13, 7, kPalette, 4, true, true},
        {"interlaced rgb 8 tRNS", 19, 11, kRgb, 8, true, true},
        {"interlaced rgba 16", 19, 11, kRgba, 16, true, false},
        {"interlaced 1x1", 1, 1, kGrayAlpha, 8, true, false},
        {"interlaced 3x2", 3, 2, kRgb, 16, true, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TestPng t;
        const Bytes expected = MakeImage(c, t);
        const auto bitmap = DecodePng(EncodeTestPng(t));
        ASSERT_TRUE(bitmap);
        EXPECT_EQ(bitmap->width, static_cast<std::int32_t>(c.width));
        EXPECT_EQ(bitmap->height, static_cast<std::int32_t>(c.height));
        EXPECT_EQ(PixelsOf(*bitmap), expected);
    }
}

std::uint32_t Crc32(const std::uint8_t* data, std::size_t size) {
    std::uint32_t crc = 0xFFFFFFFFU;
    for (std::size_t i = 0; i < size; ++i) {
        crc ^= data[i];
        for (int k = 0; k < 8; ++k) crc = (crc >> 1) ^ (0xEDB88320U & (0U - (crc & 1U)));
    }
    return ~crc;
}

void PutBe32(std::uint8_t* at, std::uint32_t value) {
    for (int i = 0; i < 4; ++i) at[i] = static_cast<std::uint8_t>(value >> (24 - 8 * i));
}

// The offset of the first chunk of the type, its length field first.
std::size_t FindChunk(const Bytes& png, const char* type) {
    for (std::size_t at = 8; at + 12 <= png.size();) {
        const std::uint32_t length =
            (std::uint32_t{png[at]} << 24) | (png[at + 1] << 16) | (png[at + 2] << 8) | png[at + 3];
        if (std::memcmp(&png[at + 4], type, 4) == 0) return at;
        at += 12 + length;
    }
    ADD_FAILURE() << "no " << type;
    return 0;
}

// Rewrites the CRC of the chunk at the offset, so that only the damage shows.
void FixCrc(Bytes& png, std::size_t chunk) {
    const std::uint32_t length = (std::uint32_t{png[chunk]} << 24) | (png[chunk + 1] << 16) |
                                 (png[chunk + 2] << 8) | png[chunk + 3];
    PutBe32(&png[chunk + 8 + length], Crc32(&png[chunk + 4], 4 + length));
}

Bytes SmallRgbaPng() {
    TestPng t;
    MakeImage({"rgba", 13, 7, PNG_COLOR_TYPE_RGB_ALPHA, 8, false, false}, t);
    return EncodeTestPng(t);
}

TEST(DecodePng, DamagedOrTruncatedFilesAreRefused) {
    const Bytes good = SmallRgbaPng();
    ASSERT_TRUE(DecodePng(good));
    // Every proper prefix, down to nothing: the last misses part of IEND.
    for (std::size_t size = 0; size < good.size(); ++size) {
        ASSERT_FALSE(DecodePng(std::span(good).first(size))) << "prefix of " << size;
    }
    const std::size_t ihdr = FindChunk(good, "IHDR");
    const std::size_t idat = FindChunk(good, "IDAT");
    struct Case {
        const char* name;
        void (*damage)(Bytes&, std::size_t ihdr, std::size_t idat);
    };
    const std::vector<Case> cases = {
        {"signature", [](Bytes& p, std::size_t, std::size_t) { p[1] = 'Q'; }},
        {"IHDR CRC", [](Bytes& p, std::size_t h, std::size_t) { p[h + 8] ^= 1; }},
        {"IDAT CRC", [](Bytes& p, std::size_t, std::size_t d) { p[d + 10] ^= 0x40; }},
        {"zero width",
         [](Bytes& p, std::size_t h, std::size_t) {
             PutBe32(&p[h + 8], 0);
             FixCrc(p, h);
         }},
        {"bit depth 3",
         [](Bytes& p, std::size_t h, std::size_t) {
             p[h + 16] = 3;
             FixCrc(p, h);
         }},
        {"palette without PLTE",
         [](Bytes& p, std::size_t h, std::size_t) {
             p[h + 17] = PNG_COLOR_TYPE_PALETTE;
             FixCrc(p, h);
         }},
        {"zlib header",
         [](Bytes& p, std::size_t, std::size_t d) {
             p[d + 8] = 0xFF;
             FixCrc(p, d);
         }},
        // Rows a file of this size cannot hold, past 4 GiB as 8-bit BGRA.
        {"2^31-1 square",
         [](Bytes& p, std::size_t h, std::size_t) {
             PutBe32(&p[h + 8], PNG_UINT_31_MAX);
             PutBe32(&p[h + 12], PNG_UINT_31_MAX);
             FixCrc(p, h);
         }},
        {"more rows than the data holds",
         [](Bytes& p, std::size_t h, std::size_t) {
             PutBe32(&p[h + 12], 5000);
             FixCrc(p, h);
         }},
        {"IDAT cut short",
         [](Bytes& p, std::size_t, std::size_t d) {
             PutBe32(&p[d], 10);
             FixCrc(p, d);
         }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Bytes damaged = good;
        c.damage(damaged, ihdr, idat);
        EXPECT_FALSE(DecodePng(damaged));
    }
}

// A bitmap whose fourth bytes are all 0 came from a file without alpha.
struct EncodeCase {
    const char* name;
    std::int32_t width, height;
    bool alpha;
};

TEST(EncodePng, DecodesToTheSameBitmapRgbWithoutAlphaRgbaWithIt) {
    const std::vector<EncodeCase> cases = {
        {"no alpha", 17, 5, false},
        {"alpha", 17, 5, true},
        {"1x1 no alpha", 1, 1, false},
        {"one wide row with alpha", 3000, 1, true},
        {"one tall column no alpha", 1, 300, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto bitmap = AllocateDeviceBitmap(c.width, c.height);
        ASSERT_TRUE(bitmap);
        for (std::size_t i = 0; i < bitmap->size(); ++i) {
            bitmap->pixels[i] = static_cast<std::uint8_t>(i * 131 + i / 4 * 7);
            if (i % 4 == 3) bitmap->pixels[i] = c.alpha ? static_cast<std::uint8_t>(i / 4) : 0;
        }
        const auto png = EncodePng(*bitmap);
        ASSERT_TRUE(png);
        ASSERT_GT(png->size, 33U);
        EXPECT_EQ(png->bytes[25], c.alpha ? PNG_COLOR_TYPE_RGB_ALPHA : PNG_COLOR_TYPE_RGB);
        const auto back = DecodePng({png->bytes.get(), png->size});
        ASSERT_TRUE(back);
        ASSERT_EQ(back->width, c.width);
        ASSERT_EQ(back->height, c.height);
        Bytes expected = PixelsOf(*bitmap);
        if (!c.alpha) {
            for (std::size_t i = 3; i < expected.size(); i += 4) expected[i] = 255;
        }
        EXPECT_EQ(PixelsOf(*back), expected);
    }
}

// A BMP file of the shared test layout with its colour table filled too.
Bytes PaintedBmp(std::int32_t width, std::int32_t height, std::uint16_t bits,
                 std::uint32_t clrUsed) {
    Bytes file = BmpFile(width, height, bits, clrUsed);
    const std::uint32_t offBits = ReadLe32(&file[10]);
    for (std::size_t i = 54; i < offBits; ++i) file[i] = static_cast<std::uint8_t>(i * 7);
    return file;
}

Bytes FileBytes(const BmpFileImage& image) {
    return {image.bytes.get(), image.bytes.get() + image.size};
}

// The bytes GETDATA CF_BITMAP writes for the bitmap PUTDATA CF_BITMAP made
// of the file, both on the portable screen.
Bytes ExportedThroughTheScreen(const Bytes& file) {
    testing::FakePlatform fake;
    PortableGraphics screen;
    Platform platform{fake, fake, fake, screen, fake};
    fake.files["in.bmp"].bytes = file;
    DispatchCommand(platform, "PUTDATA", "CF_BITMAP", "in.bmp");
    DispatchCommand(platform, "GETDATA", "CF_BITMAP", "out.bmp");
    return fake.files["out.bmp"].bytes;
}

TEST(BmpFile, DecodesAsTheImportAndEncodesAsTheExport) {
    struct Case {
        std::int32_t width, height;
        std::uint16_t bits;
        std::uint32_t clrUsed;
    };
    const std::vector<Case> cases = {
        {13, 5, 1, 0},  {13, 5, 4, 0},  {13, 5, 8, 0},  {13, 5, 8, 20}, {13, 5, 16, 0},
        {13, 5, 24, 0}, {13, 5, 32, 0}, {7, -3, 24, 0}, {1, 1, 32, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::Message() << c.width << "x" << c.height << "x" << c.bits);
        const Bytes file = PaintedBmp(c.width, c.height, c.bits, c.clrUsed);
        const auto bitmap = DecodeBmpFile(file);
        ASSERT_TRUE(bitmap);
        const auto encoded = EncodeBmpFile(*bitmap);
        ASSERT_TRUE(encoded);
        const Bytes exported = ExportedThroughTheScreen(file);
        ASSERT_FALSE(exported.empty());
        EXPECT_EQ(FileBytes(*encoded), exported);
    }
}

TEST(DecodeBmpFile, RefusesFilesWhosePartsDisagree) {
    const Bytes good = PaintedBmp(5, 3, 24, 0);  // pixels at 54, 48 bytes
    ASSERT_TRUE(DecodeBmpFile(good));
    Bytes masks = PaintedBmp(5, 3, 16, 0);  // 40-byte header, masks, pixels at 66
    WriteLe32(&masks[30], kBiBitfields);
    masks.insert(masks.begin() + 54, {0x00, 0xF8, 0, 0, 0xE0, 0x07, 0, 0, 0x1F, 0, 0, 0});
    WriteLe32(&masks[10], 66);
    WriteLe32(&masks[2], static_cast<std::uint32_t>(masks.size()));
    ASSERT_TRUE(DecodeBmpFile(masks));
    struct Case {
        const char* name;
        Bytes file;
        bool decodes;
    };
    const auto with = [](Bytes file, std::size_t at, std::uint32_t value) {
        WriteLe32(&file[at], value);
        return file;
    };
    Bytes gap = good;  // 8 bytes between header and pixels, as bfOffBits says
    gap.insert(gap.begin() + 54, 8, 0xEE);
    Bytes core = good;
    WriteLe32(&core[14], kCoreHeaderSize);
    const std::vector<Case> cases = {
        {"pixels after a gap", with(gap, 10, 62), true},
        {"pixels inside the header", with(good, 10, 50), false},
        {"pixels at the masks", with(masks, 10, 54), false},
        {"no room for the rows", with(good, 10, 58), false},
        {"pixels past the end", with(good, 10, 200), false},
        {"offset below the file header", with(good, 10, 3), false},
        {"8-bit pixels inside the colour table", with(PaintedBmp(4, 2, 8, 0), 10, 54 + 64), false},
        {"signature", with(good, 0, 0x4D43), false},
        {"last byte missing", Bytes(good.begin(), good.end() - 1), false},
        {"file header only", Bytes(good.begin(), good.begin() + 14), false},
        {"13 bytes", Bytes(good.begin(), good.begin() + 13), false},
        {"core header", core, false},
        {"RLE8", with(PaintedBmp(4, 2, 8, 0), 30, 1), false},
        {"zero width", with(good, 18, 0), false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const auto bitmap = DecodeBmpFile(c.file);
        EXPECT_EQ(bitmap.has_value(), c.decodes);
    }
    // The gap is skipped: the same pixels as without it.
    EXPECT_EQ(PixelsOf(*DecodeBmpFile(with(gap, 10, 62))), PixelsOf(*DecodeBmpFile(good)));
}

// A PNG with alpha, exported as a BMP file and imported from it, gives the
// same PNG pixels; the 32-bit BMP keeps its fourth byte on the way.
TEST(BmpFile, AlphaSurvivesPngToBmpAndBack) {
    TestPng t;
    const Bytes pixels = MakeImage({"rgba", 13, 7, PNG_COLOR_TYPE_RGB_ALPHA, 8, false, false}, t);
    const auto fromPng = DecodePng(EncodeTestPng(t));
    ASSERT_TRUE(fromPng);
    const auto bmp = EncodeBmpFile(*fromPng);
    ASSERT_TRUE(bmp);
    const Bytes file = FileBytes(*bmp);
    EXPECT_EQ(Bytes(file.begin() + 54, file.end()), pixels);
    EXPECT_EQ(ExportedThroughTheScreen(file), file);
    const auto imported = DecodeBmpFile(file);
    ASSERT_TRUE(imported);
    const auto png = EncodePng(*imported);
    ASSERT_TRUE(png);
    const auto back = DecodePng({png->bytes.get(), png->size});
    ASSERT_TRUE(back);
    EXPECT_EQ(PixelsOf(*back), pixels);
}

}  // namespace
}  // namespace clipfile
