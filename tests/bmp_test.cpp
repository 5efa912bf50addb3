#include <gtest/gtest.h>

#include <vector>

#include "bmp/bmp.h"

namespace clipfile {
namespace {

struct LayoutCase {
    BitmapDescription description;
    std::uint16_t rounded;
    std::size_t infoBytes;
    std::uint32_t clrUsed;
    std::uint32_t sizeImage;
    std::uint32_t offBits;
};

TEST(BuildBitmapInfo, SizesHeaderTableAndRowsByTheRoundedDepth) {
    const std::vector<LayoutCase> cases = {
        {{10, 5, 1, 24}, 24, 40, 0, 160, 54},
        {{3, 2, 1, 1}, 1, 48, 2, 8, 62},
        {{10, 10, 1, 8}, 8, 1064, 256, 120, 54 + 4 * 256},
        {{7, 1, 1, 32}, 32, 40, 0, 28, 54},
        {{5, 5, 2, 4}, 8, 1064, 256, 40, 54 + 4 * 256},
        {{4, 3, 1, 16}, 16, 40 + 4 * 65536, 65536, 24, 54 + 4 * 65536},
        {{8, 1, 1, 0}, 4, 104, 16, 4, 54 + 64},
        {{8, 1, 1, 2}, 4, 104, 16, 4, 54 + 64},
        {{8, 1, 1, 3}, 4, 104, 16, 4, 54 + 64},
        {{9, 2, 1, 20}, 24, 40, 0, 2 * 28, 54},
    };
    for (const auto& c : cases) {
        const auto& d = c.description;
        SCOPED_TRACE(::testing::Message() << d.width << "x" << d.height << " " << d.planes << "x" << d.bitsPerPixel);
        EXPECT_EQ(RoundedDepth(DescriptionDepth(d)), c.rounded);
        const auto block = BuildBitmapInfo(d);
        ASSERT_TRUE(block);
        ASSERT_EQ(block->size, c.infoBytes);
        const BITMAPINFOHEADER h = ReadInfoHeader(block->span());
        EXPECT_EQ(h.biSize, 40U);
        EXPECT_EQ(h.biWidth, d.width);
        EXPECT_EQ(h.biHeight, d.height);
        EXPECT_EQ(h.biPlanes, d.planes);
        EXPECT_EQ(h.biBitCount, d.bitsPerPixel);  // the bitmap's own depth, not the rounded one
        EXPECT_EQ(h.biCompression, BI_RGB);
        EXPECT_EQ(h.biClrUsed, c.clrUsed);
        EXPECT_EQ(h.biSizeImage, c.sizeImage);
        EXPECT_EQ(h.biXPelsPerMeter | h.biYPelsPerMeter | static_cast<std::int32_t>(h.biClrImportant), 0);
        for (std::size_t i = 40; i < block->size; ++i) ASSERT_EQ(block->bytes[i], 0) << "colour table not zeroed";
        EXPECT_EQ(BitmapImageSize(d), c.sizeImage);

        const auto file = BuildFileHeader(*block);
        ASSERT_TRUE(file);
        EXPECT_EQ(file->bfType, 0x4D42);
        EXPECT_EQ(file->bfOffBits, c.offBits);
        EXPECT_EQ(file->bfSize, c.offBits + c.sizeImage);
    }
}

TEST(BuildFileHeader, SerialisesLittleEndianFieldByField) {
    const auto block = BuildBitmapInfo({10, 5, 1, 24});
    ASSERT_TRUE(block);
    const auto bytes = WriteFileHeader(*BuildFileHeader(*block));
    const std::array<std::uint8_t, 14> expected = {'B', 'M', 214, 0, 0, 0, 0, 0, 0, 0, 54, 0, 0, 0};
    EXPECT_EQ(bytes, expected);
    EXPECT_EQ(ReadFileHeader(bytes).bfSize, 214U);
}

TEST(BitmapImageSize, RefusesWhatTheThirtyTwoBitFieldsCannotHold) {
    EXPECT_FALSE(BitmapImageSize({65536, 65536, 1, 32}));
    EXPECT_FALSE(BitmapImageSize({0x7FFFFFFF, 1, 1, 32}));
    EXPECT_FALSE(BitmapImageSize({-5, 1, 1, 32}));
    EXPECT_EQ(BitmapImageSize({8192, 8192, 1, 32}), 8192U * 8192U * 4U);
    EXPECT_EQ(BitmapImageSize({10, -5, 1, 24}), 160U);
}

std::vector<std::uint8_t> Header(std::uint32_t size, std::int32_t width, std::int32_t height, std::uint16_t bits,
                                 std::uint32_t compression, std::uint32_t clrUsed, std::size_t total) {
    std::vector<std::uint8_t> bytes(total, 0);
    BITMAPINFOHEADER h;
    h.biSize = size;
    h.biWidth = width;
    h.biHeight = height;
    h.biPlanes = 1;
    h.biBitCount = bits;
    h.biCompression = compression;
    h.biClrUsed = clrUsed;
    WriteInfoHeader(h, bytes);
    return bytes;
}

TEST(FindPixelOffset, ReadsTheHeaderAsFortyBytes) {
    EXPECT_EQ(FindPixelOffset(Header(40, 1, 1, 8, BI_RGB, 0, 40)), 40U + 4 * 256);
    EXPECT_EQ(FindPixelOffset(Header(40, 1, 1, 4, BI_RGB, 5, 40)), 60U);
    EXPECT_EQ(FindPixelOffset(Header(40, 1, 1, 16, BI_BITFIELDS, 0, 40)), 52U);
    EXPECT_EQ(FindPixelOffset(Header(40, 1, 1, 24, BI_RGB, 0, 40)), 40U);
    EXPECT_EQ(FindPixelOffset(Header(124, 1, 1, 24, BI_RGB, 0, 40)), 40U);
}

struct LocateCase {
    const char* label;
    std::vector<std::uint8_t> block;
    std::uint32_t offBits;
    bool ok;
    std::size_t offset;
    std::size_t size;
};

TEST(LocateBitmapPixels, ChecksEveryRegionAgainstTheFileLength) {
    const std::vector<LocateCase> cases = {
        {"24-bit exact", Header(40, 10, 5, 24, BI_RGB, 0, 40 + 160), 54, true, 40, 160},
        {"24-bit one byte short", Header(40, 10, 5, 24, BI_RGB, 0, 40 + 159), 54, false, 0, 0},
        {"top-down", Header(40, 10, -5, 24, BI_RGB, 0, 40 + 160), 54, true, 40, 160},
        {"8-bit full table", Header(40, 4, 2, 8, BI_RGB, 0, 40 + 1024 + 8), 14 + 40 + 1024, true, 1064, 8},
        {"8-bit table missing", Header(40, 4, 2, 8, BI_RGB, 0, 40 + 8), 54, false, 0, 0},
        {"bitfields", Header(40, 2, 2, 16, BI_BITFIELDS, 0, 52 + 8), 66, true, 52, 8},
        {"v5 header", Header(124, 2, 2, 32, BI_BITFIELDS, 0, 124 + 16), 138, true, 124, 16},
        {"v4 header 8-bit", Header(108, 4, 1, 8, BI_RGB, 2, 108 + 8 + 4), 14 + 116, true, 116, 4},
        {"gap before pixels", Header(40, 2, 1, 32, BI_RGB, 0, 40 + 4 + 8), 14 + 44, true, 44, 8},
        {"offBits inside the headers", Header(40, 2, 1, 32, BI_RGB, 0, 40 + 8), 20, true, 40, 8},
        {"offBits past the end", Header(40, 2, 1, 32, BI_RGB, 0, 40 + 8), 0xFFFFFFF0, true, 40, 8},
        {"core header", Header(12, 2, 1, 24, BI_RGB, 0, 40 + 8), 26, false, 0, 0},
        {"odd header size", Header(64, 2, 1, 24, BI_RGB, 0, 64 + 8), 78, false, 0, 0},
        {"header beyond file", Header(124, 2, 1, 24, BI_RGB, 0, 100), 138, false, 0, 0},
        {"short block", std::vector<std::uint8_t>(39, 0), 54, false, 0, 0},
        {"huge clrUsed", Header(40, 2, 1, 8, BI_RGB, 0xFFFFFFFF, 64), 54, false, 0, 0},
        {"huge dimensions", Header(40, 0x7FFFFFFF, 0x7FFFFFFF, 32, BI_RGB, 0, 64), 54, false, 0, 0},
        {"zero width", Header(40, 0, 1, 32, BI_RGB, 0, 64), 54, false, 0, 0},
        {"rle sized by biSizeImage", [] {
             auto b = Header(40, 4, 4, 8, 1, 2, 40 + 8 + 6);
             b[20] = 6;
             return b;
         }(), 0, true, 48, 6},
    };
    for (const auto& c : cases) {
        const auto located = LocateBitmapPixels(c.block, c.offBits);
        ASSERT_EQ(located.has_value(), c.ok) << c.label;
        if (located) {
            EXPECT_EQ(located->offset, c.offset) << c.label;
            EXPECT_EQ(located->size, c.size) << c.label;
        }
    }
}

}  // namespace
}  // namespace clipfile
