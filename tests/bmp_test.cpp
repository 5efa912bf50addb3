#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "bmp/bmp.h"
#include "bmp/dib_codec.h"
#include "util/byte_order.h"

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
        SCOPED_TRACE(::testing::Message()
                     << d.width << "x" << d.height << " " << d.planes << "x" << d.bitsPerPixel);
        EXPECT_EQ(RoundedDepth(DescriptionDepth(d)), c.rounded);
        const auto block = BuildBitmapInfo(d);
        ASSERT_TRUE(block);
        ASSERT_EQ(block->size, c.infoBytes);
        const BmpInfoHeader h = ReadInfoHeader(block->span());
        EXPECT_EQ(h.biSize, 40U);
        EXPECT_EQ(h.biWidth, d.width);
        EXPECT_EQ(h.biHeight, d.height);
        EXPECT_EQ(h.biPlanes, d.planes);
        EXPECT_EQ(h.biBitCount, d.bitsPerPixel);  // the bitmap's own depth, not the rounded one
        EXPECT_EQ(h.biCompression, kBiRgb);
        EXPECT_EQ(h.biClrUsed, c.clrUsed);
        EXPECT_EQ(h.biSizeImage, c.sizeImage);
        EXPECT_EQ(
            h.biXPelsPerMeter | h.biYPelsPerMeter | static_cast<std::int32_t>(h.biClrImportant), 0);
        for (std::size_t i = 40; i < block->size; ++i)
            ASSERT_EQ(block->bytes[i], 0) << "colour table not zeroed";
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

std::vector<std::uint8_t> Header(std::uint32_t size, std::int32_t width, std::int32_t height,
                                 std::uint16_t bits, std::uint32_t compression,
                                 std::uint32_t clrUsed, std::size_t total) {
    std::vector<std::uint8_t> bytes(total, 0);
    BmpInfoHeader h;
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
    EXPECT_EQ(FindPixelOffset(Header(40, 1, 1, 8, kBiRgb, 0, 40)), 40U + 4 * 256);
    EXPECT_EQ(FindPixelOffset(Header(40, 1, 1, 4, kBiRgb, 5, 40)), 60U);
    EXPECT_EQ(FindPixelOffset(Header(40, 1, 1, 16, kBiBitfields, 0, 40)), 52U);
    EXPECT_EQ(FindPixelOffset(Header(40, 1, 1, 24, kBiRgb, 0, 40)), 40U);
    EXPECT_EQ(FindPixelOffset(Header(124, 1, 1, 24, kBiRgb, 0, 40)), 40U);
}

TEST(LeCursor, StopsAtTheEndAndStaysStopped) {
    const std::uint8_t bytes[] = {1, 2, 3, 4, 5, 6, 7};
    LeReader in(bytes);
    std::uint32_t word = 0;
    std::uint16_t half = 0;
    EXPECT_TRUE(in.ReadU32(word));
    EXPECT_EQ(word, 0x04030201U);
    EXPECT_FALSE(in.ReadU32(word)) << "three bytes left";
    EXPECT_EQ(word, 0x04030201U) << "a failed read keeps the value";
    EXPECT_FALSE(in.ReadU16(half)) << "nor does a shorter read follow a failed one";
    EXPECT_FALSE(LeReader(bytes, 8).ReadU16(half)) << "offset past the end";

    std::uint8_t out[5] = {};
    LeWriter writer(out, 2);
    EXPECT_TRUE(writer.WriteU16(0xBBAA));
    EXPECT_FALSE(writer.WriteU16(0xDDCC));
    EXPECT_FALSE(writer.WriteU16(0xFFEE));
    EXPECT_EQ(std::vector<std::uint8_t>(out, out + 5),
              (std::vector<std::uint8_t>{0, 0, 0xAA, 0xBB, 0}));

    // A header cut short reads its missing fields as 0.
    const auto header = Header(40, 7, 9, 24, kBiRgb, 3, 40);
    const BmpInfoHeader cut = ReadInfoHeader(std::span(header).first(34));
    EXPECT_EQ(cut.biHeight, 9);
    EXPECT_EQ(cut.biClrUsed, 0U);
}

// A file's bytes after its first 14 with a core header: entries 3-byte colour
// entries (entry i holds 3i+1, 3i+2, 3i+3), gap unused bytes, then pixels.
std::vector<std::uint8_t> Core(std::uint16_t width, std::uint16_t height, std::uint16_t bits,
                               std::size_t entries, std::size_t pixels, std::size_t gap = 0) {
    std::vector<std::uint8_t> bytes(kCoreHeaderSize + 3 * entries + gap + pixels, 0);
    if (bytes.size() < kCoreHeaderSize) return bytes;
    WriteLe32(bytes.data(), kCoreHeaderSize);
    WriteLe16(bytes.data() + 4, width);
    WriteLe16(bytes.data() + 6, height);
    WriteLe16(bytes.data() + 8, 1);
    WriteLe16(bytes.data() + 10, bits);
    for (std::size_t i = 0; i < 3 * entries; ++i)
        bytes[kCoreHeaderSize + i] = static_cast<std::uint8_t>(i + 1);
    return bytes;
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
        {"24-bit exact", Header(40, 10, 5, 24, kBiRgb, 0, 40 + 160), 54, true, 40, 160},
        {"24-bit one byte short", Header(40, 10, 5, 24, kBiRgb, 0, 40 + 159), 54, false, 0, 0},
        {"top-down", Header(40, 10, -5, 24, kBiRgb, 0, 40 + 160), 54, true, 40, 160},
        {"8-bit full table", Header(40, 4, 2, 8, kBiRgb, 0, 40 + 1024 + 8), 14 + 40 + 1024, true,
         1064, 8},
        {"8-bit table missing", Header(40, 4, 2, 8, kBiRgb, 0, 40 + 8), 54, false, 0, 0},
        {"bitfields", Header(40, 2, 2, 16, kBiBitfields, 0, 52 + 8), 66, true, 52, 8},
        {"v5 header", Header(124, 2, 2, 32, kBiBitfields, 0, 124 + 16), 138, true, 124, 16},
        {"v4 header 8-bit", Header(108, 4, 1, 8, kBiRgb, 2, 108 + 8 + 4), 14 + 116, true, 116, 4},
        {"gap before pixels", Header(40, 2, 1, 32, kBiRgb, 0, 40 + 4 + 8), 14 + 44, true, 44, 8},
        {"offBits inside the headers", Header(40, 2, 1, 32, kBiRgb, 0, 40 + 8), 20, true, 40, 8},
        {"offBits past the end", Header(40, 2, 1, 32, kBiRgb, 0, 40 + 8), 0xFFFFFFF0, true, 40, 8},
        {"core size over 40-byte fields", Header(12, 2, 1, 24, kBiRgb, 0, 40 + 8), 26, false, 0, 0},
        {"core 24-bit", Core(2, 1, 24, 0, 8), 26, true, 12, 8},
        {"core 24-bit, no offset", Core(2, 1, 24, 0, 8), 0, true, 12, 8},
        {"core offset inside the header", Core(2, 1, 24, 0, 8), 20, true, 12, 8},
        {"core offset past the end", Core(2, 1, 24, 0, 8), 0xFFFFFFF0, true, 12, 8},
        {"core 8-bit after its table", Core(4, 2, 8, 256, 8), 14 + 12 + 768, true, 780, 8},
        {"core 8-bit, no offset", Core(4, 2, 8, 256, 8), 0, true, 780, 8},
        {"core 4-bit, short table", Core(4, 2, 4, 5, 8), 14 + 12 + 15, true, 27, 8},
        {"core 1-bit, gap before pixels", Core(33, 2, 1, 2, 16, 4), 14 + 22, true, 22, 16},
        {"core table cut short", Core(4, 2, 8, 255, 0), 0, false, 0, 0},
        {"core short table, no offset", Core(4, 2, 4, 5, 8), 0, false, 0, 0},
        {"core pixels one byte short", Core(2, 1, 24, 0, 7), 26, false, 0, 0},
        {"core header without pixels", Core(2, 1, 24, 0, 0), 26, false, 0, 0},
        {"core header 11 bytes", {12, 0, 0, 0, 2, 0, 1, 0, 1, 0, 24}, 26, false, 0, 0},
        {"core 16-bit", Core(2, 1, 16, 0, 8), 26, false, 0, 0},
        {"core 32-bit", Core(2, 1, 32, 0, 8), 26, false, 0, 0},
        {"core 2-bit", Core(2, 1, 2, 4, 8), 38, false, 0, 0},
        {"core zero height", Core(2, 0, 24, 0, 8), 26, false, 0, 0},
        {"core largest dimensions", Core(65535, 65535, 24, 0, 8), 26, false, 0, 0},
        {"odd header size", Header(64, 2, 1, 24, kBiRgb, 0, 64 + 8), 78, false, 0, 0},
        {"header beyond file", Header(124, 2, 1, 24, kBiRgb, 0, 100), 138, false, 0, 0},
        {"short block", std::vector<std::uint8_t>(39, 0), 54, false, 0, 0},
        {"huge clrUsed", Header(40, 2, 1, 8, kBiRgb, 0xFFFFFFFF, 64), 54, false, 0, 0},
        {"huge dimensions", Header(40, 0x7FFFFFFF, 0x7FFFFFFF, 32, kBiRgb, 0, 64), 54, false, 0, 0},
        {"zero width", Header(40, 0, 1, 32, kBiRgb, 0, 64), 54, false, 0, 0},
        {"rle sized by biSizeImage",
         [] {
             auto b = Header(40, 4, 4, 8, 1, 2, 40 + 8 + 6);
             b[20] = 6;
             return b;
         }(),
         0, true, 48, 6},
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

TEST(ConvertCoreHeader, WidensTheHeaderAndEveryColourEntry) {
    struct Case {
        const char* label;
        std::size_t entries;  // in the file
        std::size_t gap;
        std::uint32_t offBits;
        std::uint16_t bits;
    };
    const Case cases[] = {
        {"1-bit", 2, 0, 0, 1},
        {"4-bit, short table", 5, 0, 14 + 12 + 15, 4},
        {"8-bit", 256, 0, 14 + 12 + 768, 8},
        {"8-bit, gap before pixels", 256, 4, 14 + 12 + 768 + 4, 8},
        {"24-bit", 0, 0, 26, 24},
    };
    for (const Case& c : cases) {
        const auto file = Core(3, 2, c.bits, c.entries, 24, c.gap);
        const auto converted = ConvertCoreHeader(file, c.offBits);
        ASSERT_TRUE(converted) << c.label;
        const std::size_t full = c.bits <= 8 ? std::size_t{1} << c.bits : 0;
        ASSERT_EQ(converted->size, 40 + 4 * full) << c.label;
        const BmpInfoHeader h = ReadInfoHeader(converted->span());
        EXPECT_EQ(h.biSize, 40U) << c.label;
        EXPECT_EQ(h.biWidth, 3) << c.label;
        EXPECT_EQ(h.biHeight, 2) << c.label;
        EXPECT_EQ(h.biPlanes, 1) << c.label;
        EXPECT_EQ(h.biBitCount, c.bits) << c.label;
        EXPECT_EQ(h.biCompression, kBiRgb) << c.label;
        EXPECT_EQ(h.biClrUsed, full) << c.label;
        for (std::size_t i = 0; i < 4 * full; ++i) {
            const std::size_t entry = i / 4;
            const int want = (i % 4 == 3 || entry >= c.entries)
                                 ? 0
                                 : static_cast<std::uint8_t>(3 * entry + i % 4 + 1);
            ASSERT_EQ(converted->bytes[40 + i], want) << c.label << ", entry " << entry;
        }
    }
    EXPECT_FALSE(ConvertCoreHeader(Core(4, 2, 8, 255, 0), 0)) << "table cut short";
    EXPECT_FALSE(ConvertCoreHeader(Header(40, 2, 1, 24, kBiRgb, 0, 48), 54)) << "40-byte header";
}

// ------------------------------------------------------------------ DIB codec

struct Rgb {
    std::uint8_t r, g, b;
    bool operator==(const Rgb&) const = default;
};

// A 3 x 2 picture, top row first; every channel value survives 5-bit rounding.
const Rgb kPicture[2][3] = {{{255, 0, 0}, {0, 255, 0}, {0, 0, 255}},
                            {{255, 255, 255}, {0, 0, 0}, {8, 132, 255}}};

struct DibVariant {
    const char* label;
    std::uint32_t headerSize;
    std::uint16_t bits;
    std::uint32_t compression;
    bool topDown;
};

// Writes the picture in the variant's layout: palette images index a table of
// the six colours, 16-bit ones use 5-5-5 (BI_RGB) or 5-6-5 (BI_BITFIELDS).
std::pair<std::vector<std::uint8_t>, std::vector<std::uint8_t>> MakeDib(const DibVariant& v) {
    const std::uint32_t paletteEntries = v.bits <= 8 ? 6 : 0;
    const bool masksAfterHeader = v.compression == kBiBitfields && v.headerSize == 40;
    std::vector<std::uint8_t> info(v.headerSize + (masksAfterHeader ? 12 : 0) + 4 * paletteEntries,
                                   0);
    BmpInfoHeader h;
    h.biSize = v.headerSize;
    h.biWidth = 3;
    h.biHeight = v.topDown ? -2 : 2;
    h.biPlanes = 1;
    h.biBitCount = v.bits;
    h.biCompression = v.compression;
    h.biClrUsed = paletteEntries;
    WriteInfoHeader(h, info);
    const bool is565 = v.bits == 16 && v.compression == kBiBitfields;
    if (v.compression == kBiBitfields) {
        WriteLe32(info.data() + 40, is565 ? 0xF800 : 0xFF0000);
        WriteLe32(info.data() + 44, is565 ? 0x07E0 : 0x00FF00);
        WriteLe32(info.data() + 48, is565 ? 0x001F : 0x0000FF);
    }
    for (std::uint32_t i = 0; i < paletteEntries; ++i) {
        const Rgb& c = kPicture[i / 3][i % 3];
        const std::size_t at = v.headerSize + 4 * i;
        info[at] = c.b;
        info[at + 1] = c.g;
        info[at + 2] = c.r;
    }
    const std::size_t stride = ((std::size_t{3} * v.bits + 31) / 32) * 4;
    std::vector<std::uint8_t> bits(stride * 2, 0xEE);  // padding must be ignored
    for (int y = 0; y < 2; ++y) {
        const int pictureRow = v.topDown ? y : 1 - y;
        std::uint8_t* row = bits.data() + stride * static_cast<std::size_t>(y);
        for (int x = 0; x < 3; ++x) {
            const Rgb& c = kPicture[pictureRow][x];
            const std::uint32_t index = static_cast<std::uint32_t>(pictureRow * 3 + x);
            switch (v.bits) {
                case 1:
                case 4: break;  // filled below from the index pattern
                case 8: row[x] = static_cast<std::uint8_t>(index); break;
                case 16: {
                    const std::uint32_t value =
                        is565 ? ((c.r >> 3) << 11) | ((c.g >> 2) << 5) | (c.b >> 3)
                              : ((c.r >> 3) << 10) | ((c.g >> 3) << 5) | (c.b >> 3);
                    WriteLe16(row + 2 * static_cast<std::size_t>(x),
                              static_cast<std::uint16_t>(value));
                    break;
                }
                default:
                    row[x * v.bits / 8] = c.b;
                    row[x * v.bits / 8 + 1] = c.g;
                    row[x * v.bits / 8 + 2] = c.r;
                    if (v.bits == 32) row[x * 4 + 3] = 0x80;
            }
            if (v.bits == 4) {
                row[x / 2] =
                    static_cast<std::uint8_t>((x % 2 == 0) ? ((row[x / 2] & 0x0F) | (index << 4))
                                                           : ((row[x / 2] & 0xF0) | index));
            }
        }
    }
    return {info, bits};
}

// Writes a 40-byte DIB as a core-header file (3-byte entries, pixels right
// after them) and gives back the info block its import creates the bitmap from.
std::vector<std::uint8_t> ThroughCoreFile(const std::vector<std::uint8_t>& info,
                                          const std::vector<std::uint8_t>& bits) {
    const BmpInfoHeader h = ReadInfoHeader(info);
    auto file = Core(static_cast<std::uint16_t>(h.biWidth), static_cast<std::uint16_t>(h.biHeight),
                     h.biBitCount, h.biClrUsed, bits.size());
    for (std::size_t i = 0; i < h.biClrUsed; ++i)
        std::memcpy(&file[kCoreHeaderSize + 3 * i], &info[40 + 4 * i], 3);
    const std::size_t table = kCoreHeaderSize + 3 * std::size_t{h.biClrUsed};
    std::memcpy(&file[table], bits.data(), bits.size());
    const auto offBits = static_cast<std::uint32_t>(14 + table);
    const auto located = LocateBitmapPixels(file, offBits);
    EXPECT_TRUE(located && located->offset == table && located->size == bits.size());
    const auto converted = ConvertCoreHeader(file, offBits);
    if (!converted) return {};
    return {converted->bytes.get(), converted->bytes.get() + converted->size};
}

// Decoded band by band, bands of bandLines scan lines counted from the
// bottom, the picture is the one DecodeDib gives.
void ExpectSameInBands(std::span<const std::uint8_t> info, std::span<const std::uint8_t> bits,
                       const DeviceBitmap& whole, std::uint32_t bandLines,
                       const std::string& label) {
    auto banded = AllocateDeviceBitmap(whole.width, whole.height);
    ASSERT_TRUE(banded);
    const BmpInfoHeader h = ReadInfoHeader(info);
    const auto stride =
        static_cast<std::size_t>(RowStride(static_cast<std::uint32_t>(h.biWidth), h.biBitCount));
    const auto height = static_cast<std::uint32_t>(whole.height);
    for (std::uint32_t line = 0; line < height; line += bandLines) {
        const std::uint32_t lines = std::min(bandLines, height - line);
        const std::size_t firstRow = h.biHeight < 0 ? height - line - lines : line;
        EXPECT_EQ(DecodeDibRows(*banded, info, line, lines,
                                bits.subspan(firstRow * stride, lines * stride)),
                  static_cast<int>(lines))
            << label << ", line " << line;
    }
    EXPECT_EQ(std::memcmp(banded->pixels.get(), whole.pixels.get(), whole.size()), 0) << label;
}

TEST(DecodeDib, EveryDepthAndHeaderGivesTheSamePicture) {
    const std::vector<DibVariant> variants = {
        {"4-bit", 40, 4, kBiRgb, false},
        {"8-bit", 40, 8, kBiRgb, false},
        {"8-bit top-down", 40, 8, kBiRgb, true},
        {"16-bit 555", 40, 16, kBiRgb, false},
        {"16-bit 565", 40, 16, kBiBitfields, false},
        {"16-bit 565 v5", 124, 16, kBiBitfields, false},
        {"24-bit", 40, 24, kBiRgb, false},
        {"24-bit top-down v4", 108, 24, kBiRgb, true},
        {"32-bit", 40, 32, kBiRgb, false},
        {"32-bit bitfields v5", 124, 32, kBiBitfields, false},
        {"32-bit 52-byte header", 52, 32, kBiBitfields, false},
        {"4-bit core", 12, 4, kBiRgb, false},
        {"8-bit core", 12, 8, kBiRgb, false},
        {"24-bit core", 12, 24, kBiRgb, false},
    };
    for (const auto& v : variants) {
        const bool core = v.headerSize == kCoreHeaderSize;
        DibVariant made = v;
        if (core) made.headerSize = 40;
        auto [info, bits] = MakeDib(made);
        if (v.bits == 4) {  // indexes the six colours; rows hold 0,1,2 and 3,4,5 from the top
            for (auto& b : bits) b = 0;
            const std::size_t stride = 4;
            bits[v.topDown ? 0 : stride] = 0x01;
            bits[(v.topDown ? 0 : stride) + 1] = 0x20;
            bits[v.topDown ? stride : 0] = 0x34;
            bits[(v.topDown ? stride : 0) + 1] = 0x50;
        }
        if (core) info = ThroughCoreFile(info, bits);
        const auto bitmap = DecodeDib(info, bits);
        ASSERT_TRUE(bitmap) << v.label;
        ASSERT_EQ(bitmap->width, 3);
        ASSERT_EQ(bitmap->height, 2);
        ExpectSameInBands(info, bits, *bitmap, 1, v.label);
        for (int y = 0; y < 2; ++y) {
            for (int x = 0; x < 3; ++x) {
                const std::uint8_t* px = bitmap->pixels.get() +
                                         std::ptrdiff_t{4} * (3 * (1 - y) + x);  // stored bottom-up
                const Rgb got{px[2], px[1], px[0]};
                const Rgb want = kPicture[y][x];
                const int tolerance = v.bits == 16 ? 8 : 0;
                EXPECT_NEAR(got.r, want.r, tolerance) << v.label << " at " << x << "," << y;
                EXPECT_NEAR(got.g, want.g, tolerance) << v.label << " at " << x << "," << y;
                EXPECT_NEAR(got.b, want.b, tolerance) << v.label << " at " << x << "," << y;
            }
        }
    }
}

TEST(DecodeDib, MonochromeUsesItsTwoEntryTable) {
    std::vector<std::uint8_t> info(48, 0);
    BmpInfoHeader h;
    h.biSize = 40;
    h.biWidth = 9;
    h.biHeight = 1;
    h.biPlanes = 1;
    h.biBitCount = 1;
    WriteInfoHeader(h, info);
    info[44] = info[45] = info[46] = 0xFF;  // entry 1 white
    const std::vector<std::uint8_t> bits = {0xA0, 0x80, 0, 0};
    const auto bitmap = DecodeDib(info, bits);
    ASSERT_TRUE(bitmap);
    const std::vector<int> expected = {1, 0, 1, 0, 0, 0, 0, 0, 1};
    for (int x = 0; x < 9; ++x)
        EXPECT_EQ(bitmap->pixels[std::size_t{4} * x], expected[x] ? 0xFF : 0) << x;
}

TEST(DecodeDib, RefusesWhatItCannotReadSafely) {
    auto [info, bits] = MakeDib({"24", 40, 24, kBiRgb, false});
    EXPECT_FALSE(DecodeDib(info, std::span(bits).first(bits.size() - 1))) << "truncated pixels";
    EXPECT_FALSE(DecodeDib(std::span(info).first(39), bits)) << "short header";
    auto rle = info;
    WriteLe32(rle.data() + 16, 1);
    EXPECT_FALSE(DecodeDib(rle, bits)) << "RLE8";
    auto png = info;
    WriteLe32(png.data() + 16, 5);
    EXPECT_FALSE(DecodeDib(png, bits)) << "PNG";
    auto core = info;
    WriteLe32(core.data(), 12);
    EXPECT_FALSE(DecodeDib(core, bits)) << "core header";
    auto huge = info;
    WriteLe32(huge.data() + 4, 0x7FFFFFFF);
    EXPECT_FALSE(DecodeDib(huge, bits)) << "huge width";
    auto depth = info;
    WriteLe16(depth.data() + 14, 7);
    EXPECT_FALSE(DecodeDib(depth, bits)) << "odd depth";

    // A band: rows for the bitmap's size, within the bitmap, all there.
    auto bitmap = AllocateDeviceBitmap(3, 2);
    ASSERT_TRUE(bitmap);
    EXPECT_EQ(DecodeDibRows(*bitmap, info, 1, 5, std::span(bits).first(12)), 1)
        << "lines past the top";
    EXPECT_EQ(DecodeDibRows(*bitmap, info, 0, 2, std::span(bits).first(23)), 0) << "band cut short";
    EXPECT_EQ(DecodeDibRows(*bitmap, info, 2, 1, bits), 0) << "start past the top";
    EXPECT_EQ(DecodeDibRows(*bitmap, rle, 0, 2, bits), 0) << "RLE8";
    auto other = AllocateDeviceBitmap(4, 2);
    ASSERT_TRUE(other);
    EXPECT_EQ(DecodeDibRows(*other, info, 0, 2, bits), 0) << "another width";
}

TEST(EncodeDibRows, ReadsBackBottomUpAtTwentyFourAndThirtyTwoBits) {
    auto [info, bits] = MakeDib({"24", 40, 24, kBiRgb, false});
    const auto bitmap = DecodeDib(info, bits);
    ASSERT_TRUE(bitmap);
    for (int depth : {24, 32}) {
        auto request = BuildBitmapInfo({3, 2, 1, static_cast<std::uint16_t>(depth)});
        ASSERT_TRUE(request);
        std::vector<std::uint8_t> out(ReadInfoHeader(request->span()).biSizeImage, 0xCC);
        EXPECT_EQ(EncodeDibRows(*bitmap, request->span(), 0, 2, out), 2);
        const auto back = DecodeDib(request->span(), out);
        ASSERT_TRUE(back);
        EXPECT_EQ(0, std::memcmp(back->pixels.get(), bitmap->pixels.get(),
                                 3 * 2 * 4 - (depth == 24 ? 1 : 0)));
        if (depth == 24) {
            EXPECT_EQ(out[9], 0) << "row padding is zeroed";
        }
    }
    auto eightBit = BuildBitmapInfo({3, 2, 1, 8});
    std::vector<std::uint8_t> out(64);
    EXPECT_EQ(EncodeDibRows(*bitmap, eightBit->span(), 0, 2, out), 0);
    auto request = BuildBitmapInfo({3, 2, 1, 32});
    std::vector<std::uint8_t> small(23);
    EXPECT_EQ(EncodeDibRows(*bitmap, request->span(), 0, 2, small), 0) << "buffer too small";
}

TEST(WritePackedDib, FortyAndHundredTwentyFourByteHeaders) {
    auto [info, bits] = MakeDib({"32", 40, 32, kBiRgb, false});
    const auto bitmap = DecodeDib(info, bits);
    ASSERT_TRUE(bitmap);
    for (std::uint32_t header : {40U, 124U}) {
        std::vector<std::uint8_t> dib(PackedDibSize(*bitmap, header));
        ASSERT_EQ(dib.size(), header + 24);
        WritePackedDib(*bitmap, header, dib);
        const auto back = DecodeDib(std::span(dib).first(header), std::span(dib).subspan(header));
        ASSERT_TRUE(back);
        EXPECT_EQ(std::memcmp(back->pixels.get(), bitmap->pixels.get(), 24), 0);
    }
}

// Pictures whose channels are whole bytes take a row-at-a-time path. Each
// case names, for blue, green, red and the fourth byte of a decoded pixel,
// the source byte it comes from (-1: zero); widths cover row padding and
// rows that are not a multiple of any vector width.
TEST(DecodeDib, WholeByteChannelsAtEveryWidthAndRowOrder) {
    struct Case {
        const char* label;
        std::uint32_t headerSize;
        std::uint16_t bits;
        std::uint32_t compression;
        std::uint32_t masks[4];  // red, green, blue, alpha
        int source[4];
    };
    const Case cases[] = {
        {"24-bit", 40, 24, kBiRgb, {}, {0, 1, 2, -1}},
        {"32-bit, fourth byte kept", 40, 32, kBiRgb, {}, {0, 1, 2, 3}},
        {"32-bit with alpha",
         56,
         32,
         kBiBitfields,
         {0xFF0000, 0xFF00, 0xFF, 0xFF000000},
         {0, 1, 2, 3}},
        {"32-bit red in the low byte",
         40,
         32,
         kBiBitfields,
         {0xFF, 0xFF00, 0xFF0000, 0},
         {2, 1, 0, -1}},
        {"32-bit alpha in the low byte",
         124,
         32,
         kBiBitfields,
         {0xFF000000, 0xFF0000, 0xFF00, 0xFF},
         {1, 2, 3, 0}},
    };
    for (const Case& c : cases) {
        for (const std::int32_t width : {1, 3, 17, 64, 67}) {
            for (const bool topDown : {false, true}) {
                const std::int32_t rows = 3;
                const std::size_t bytesPerPixel = c.bits / 8;
                const std::size_t stride = (bytesPerPixel * width + 3) / 4 * 4;
                std::vector<std::uint8_t> info(
                    c.headerSize + (c.headerSize == 40 && c.compression == kBiBitfields ? 12 : 0),
                    0);
                BmpInfoHeader h;
                h.biSize = c.headerSize;
                h.biWidth = width;
                h.biHeight = topDown ? -rows : rows;
                h.biPlanes = 1;
                h.biBitCount = c.bits;
                h.biCompression = c.compression;
                WriteInfoHeader(h, info);
                if (c.compression == kBiBitfields) {
                    for (std::size_t m = 0; m < (c.headerSize >= 56 ? 4U : 3U); ++m)
                        WriteLe32(info.data() + 40 + 4 * m, c.masks[m]);
                }
                std::vector<std::uint8_t> bits(stride * rows, 0xEE);
                for (std::size_t i = 0; i < bits.size(); ++i) {
                    if (i % stride < bytesPerPixel * width)
                        bits[i] = static_cast<std::uint8_t>(i * 131 + 7);
                }
                const auto bitmap = DecodeDib(info, bits);
                ASSERT_TRUE(bitmap) << c.label;
                ExpectSameInBands(info, bits, *bitmap, 2, c.label);
                for (std::int32_t y = 0; y < rows; ++y) {
                    const std::int32_t sourceRow =
                        topDown ? rows - 1 - y : y;  // y counts from the bottom
                    for (std::int32_t x = 0; x < width; ++x) {
                        const std::uint8_t* in =
                            bits.data() + stride * sourceRow + bytesPerPixel * x;
                        const std::uint8_t* out =
                            bitmap->pixels.get() + std::size_t{4} * (width * y + x);
                        for (int k = 0; k < 4; ++k) {
                            const int want = c.source[k] < 0 ? 0 : in[c.source[k]];
                            ASSERT_EQ(out[k], want)
                                << c.label << ", width " << width << (topDown ? ", top-down" : "")
                                << ", pixel " << x << "," << y << ", byte " << k;
                        }
                    }
                }
            }
        }
    }
    // Eight bits wide but off a byte boundary: not a whole byte of the source.
    std::vector<std::uint8_t> info(52, 0);
    BmpInfoHeader h;
    h.biSize = 52;
    h.biWidth = 1;
    h.biHeight = 1;
    h.biPlanes = 1;
    h.biBitCount = 32;
    h.biCompression = kBiBitfields;
    WriteInfoHeader(h, info);
    WriteLe32(info.data() + 40, 0xFF00000);                            // red, bits 20 to 27
    WriteLe32(info.data() + 44, 0xFF000);                              // green, bits 12 to 19
    WriteLe32(info.data() + 48, 0xFF0);                                // blue, bits 4 to 11
    const std::vector<std::uint8_t> pixel = {0x30, 0x12, 0xFA, 0x0C};  // 0x0CFA1230
    const auto bitmap = DecodeDib(info, pixel);
    ASSERT_TRUE(bitmap);
    EXPECT_EQ(bitmap->pixels[0], 0x23);
    EXPECT_EQ(bitmap->pixels[1], 0xA1);
    EXPECT_EQ(bitmap->pixels[2], 0xCF);
    EXPECT_EQ(bitmap->pixels[3], 0);
}

// Decoded storage is not cleared beforehand, so an index past the colour
// table must still come out black rather than as what the memory last held.
TEST(DecodeDib, IndexPastTheColourTableIsBlackWhateverTheMemoryHeld) {
    std::vector<std::uint8_t> info(40 + 8, 0);
    BmpInfoHeader h;
    h.biSize = 40;
    h.biWidth = 64;
    h.biHeight = 1;
    h.biPlanes = 1;
    h.biBitCount = 8;
    h.biClrUsed = 2;
    WriteInfoHeader(h, info);
    info[44] = info[45] = info[46] = 0xFF;  // entry 1 white
    std::vector<std::uint8_t> white(64, 1);
    std::vector<std::uint8_t> mixed(64, 1);
    mixed[61] = 2;
    mixed[62] = 200;
    mixed[63] = 255;
    for (int round = 0; round < 2; ++round) {
        // The first picture leaves white pixels behind in freed memory.
        ASSERT_TRUE(DecodeDib(info, white));
        const auto bitmap = DecodeDib(info, mixed);
        ASSERT_TRUE(bitmap);
        EXPECT_EQ(bitmap->pixels[std::size_t{4} * 60], 0xFF) << "index 1 is white";
        for (int x = 61; x < 64; ++x) {
            for (int k = 0; k < 4; ++k)
                EXPECT_EQ(bitmap->pixels[4 * x + k], 0) << "pixel " << x << ", byte " << k;
        }
    }
}

}  // namespace
}  // namespace clipfile
