#pragma once

// The BMP layout rules, each written once. The names keep clear of
// <windows.h>, whose macros and types spell the same things in capitals.

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

namespace clipfile {

inline constexpr std::size_t kFileHeaderSize = 14;
inline constexpr std::uint16_t kBitmapSignature = 0x4D42;  // the bytes B and M

// Info header sizes by version: core, 3 (info), 3 with RGB masks, 3 with
// RGBA masks, the OS/2 2.x header, 4 and 5.
inline constexpr std::uint32_t kCoreHeaderSize = 12;
inline constexpr std::uint32_t kInfoHeaderSize = 40;
inline constexpr std::uint32_t kV2HeaderSize = 52;
inline constexpr std::uint32_t kV3HeaderSize = 56;
inline constexpr std::uint32_t kOs2V2HeaderSize = 64;
inline constexpr std::uint32_t kV4HeaderSize = 108;
inline constexpr std::uint32_t kV5HeaderSize = 124;

// Colour entries: blue, green, red and a zero byte; 3 bytes after a core header.
inline constexpr std::uint32_t kColourEntrySize = 4;
inline constexpr std::uint32_t kCoreColourEntrySize = 3;
// The red, green and blue masks that follow a 40-byte header with bit fields.
inline constexpr std::uint32_t kBitfieldMasksSize = 12;

inline constexpr std::uint32_t kBiRgb = 0;
inline constexpr std::uint32_t kBiBitfields = 3;

struct BmpFileHeader {
    std::uint16_t bfType = 0;
    std::uint32_t bfSize = 0;
    std::uint16_t bfReserved1 = 0;
    std::uint16_t bfReserved2 = 0;
    std::uint32_t bfOffBits = 0;
};

struct BmpInfoHeader {
    std::uint32_t biSize = 0;
    std::int32_t biWidth = 0;
    std::int32_t biHeight = 0;
    std::uint16_t biPlanes = 0;
    std::uint16_t biBitCount = 0;
    std::uint32_t biCompression = 0;
    std::uint32_t biSizeImage = 0;
    std::int32_t biXPelsPerMeter = 0;
    std::int32_t biYPelsPerMeter = 0;
    std::uint32_t biClrUsed = 0;
    std::uint32_t biClrImportant = 0;
};

// The headers of 40 bytes or more that the reader takes.
constexpr bool IsKnownInfoHeaderSize(std::uint32_t size) {
    return size == kInfoHeaderSize || size == kV2HeaderSize || size == kV3HeaderSize ||
           size == kV4HeaderSize || size == kV5HeaderSize;
}

// Bytes per row: the smallest multiple of 4 that holds width pixels. Exact
// for every 32-bit width and depth, so it cannot overflow.
constexpr std::uint64_t RowStride(std::uint32_t width, std::uint32_t bitsPerPixel) {
    return (std::uint64_t{width} * bitsPerPixel + 31) / 32 * 4;
}

// Entries in the colour table: all 2^bits of a depth of 8 or less when the
// header counts none, else as many as it counts.
constexpr std::uint32_t ColourTableEntries(std::uint16_t bitCount, std::uint32_t clrUsed) {
    return bitCount <= 8 && clrUsed == 0 ? std::uint32_t{1} << bitCount : clrUsed;
}

// Fields past the end of bytes read as 0 and are not written.
BmpInfoHeader ReadInfoHeader(std::span<const std::uint8_t> bytes);
void WriteInfoHeader(const BmpInfoHeader& header, std::span<std::uint8_t> bytes);

BmpFileHeader ReadFileHeader(std::span<const std::uint8_t, kFileHeaderSize> bytes);
std::array<std::uint8_t, kFileHeaderSize> WriteFileHeader(const BmpFileHeader& header);

}  // namespace clipfile
