#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>

#include "platform/types.h"

namespace clipfile {

inline constexpr std::size_t kFileHeaderSize = 14;
inline constexpr std::size_t kInfoHeaderSize = 40;
inline constexpr std::uint16_t kBitmapSignature = 0x4D42;  // the bytes B and M
inline constexpr std::uint32_t BI_RGB = 0;
inline constexpr std::uint32_t BI_BITFIELDS = 3;

struct BITMAPFILEHEADER {
    std::uint16_t bfType = 0;
    std::uint32_t bfSize = 0;
    std::uint16_t bfReserved1 = 0;
    std::uint16_t bfReserved2 = 0;
    std::uint32_t bfOffBits = 0;
};

struct BITMAPINFOHEADER {
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

// Little-endian field access; callers check the span's length first.
std::uint16_t ReadU16(std::span<const std::uint8_t> bytes, std::size_t offset);
std::uint32_t ReadU32(std::span<const std::uint8_t> bytes, std::size_t offset);
void WriteU16(std::span<std::uint8_t> bytes, std::size_t offset, std::uint16_t value);
void WriteU32(std::span<std::uint8_t> bytes, std::size_t offset, std::uint32_t value);

// Both need at least 40 bytes.
BITMAPINFOHEADER ReadInfoHeader(std::span<const std::uint8_t> bytes);
void WriteInfoHeader(const BITMAPINFOHEADER& header, std::span<std::uint8_t> bytes);

BITMAPFILEHEADER ReadFileHeader(std::span<const std::uint8_t, kFileHeaderSize> bytes);
std::array<std::uint8_t, kFileHeaderSize> WriteFileHeader(const BITMAPFILEHEADER& header);

// The info header with its colour table, zero-filled on allocation.
struct InfoBlock {
    std::unique_ptr<std::uint8_t[]> bytes;
    std::size_t size = 0;

    std::span<std::uint8_t> span() const { return {bytes.get(), size}; }
};

// Depth rounded up to one the BMP format knows: 1, 4, 8, 16, 24 or 32.
std::uint16_t RoundedDepth(std::uint16_t depth);

// Depth as planes x bits per pixel, taken as 16 bits.
std::uint16_t DescriptionDepth(const BitmapDescription& description);

// Bytes of pixel data for the description at its rounded depth, or none when
// they, or the whole file, would not fit the BMP's 32-bit size fields.
std::optional<std::uint32_t> BitmapImageSize(const BitmapDescription& description);

// None when the block cannot be allocated.
std::optional<InfoBlock> BuildBitmapInfo(const BitmapDescription& description);

// From a filled info block; none when its counts do not fit the block or the
// 32-bit size fields.
std::optional<BITMAPFILEHEADER> BuildFileHeader(const InfoBlock& infoBlock);

// Offset of the pixels within the bytes that follow a file's first 14, read
// as if the info header were 40 bytes long. The block must hold 40 bytes.
std::uint64_t FindPixelOffset(std::span<const std::uint8_t> infoBlock);

}  // namespace clipfile

namespace clipfile {

// Where the pixels of a BMP file lie within the bytes after its first 14.
struct PixelLocation {
    std::size_t offset = 0;
    std::size_t size = 0;
};

// Checks a whole BMP file's header, colour table and pixel rows against its
// length. Headers of 12, 40, 52, 56, 108 and 124 bytes are read; the pixels are
// taken at bfOffBits when that lies past the headers and colour table, else at
// the computed offset. None for anything unsupported or incomplete.
std::optional<PixelLocation> LocateBitmapPixels(std::span<const std::uint8_t> infoBlock,
                                                std::uint32_t bfOffBits);

inline constexpr std::size_t kCoreHeaderSize = 12;

// Whether the bytes after a file's first 14 begin with the 12-byte core
// header, whose colour entries are 3 bytes (blue, green, red) each.
bool IsCoreHeader(std::span<const std::uint8_t> infoBlock);

// A core header read as the 40-byte header it stands for. Its table holds up
// to 2^bits entries: as many as fit before bfOffBits when that lies within
// the file, else all of them, with the pixels right behind.
struct CoreLayout {
    BITMAPINFOHEADER info;
    std::uint32_t entries = 0;
    std::uint64_t pixelOffset = 0;
};

// None when the header or its table is cut short, a dimension is zero, or the
// depth is not 1, 4, 8 or 24.
std::optional<CoreLayout> ReadCoreLayout(std::span<const std::uint8_t> infoBlock,
                                         std::uint32_t bfOffBits);

// The 40-byte header and full table of 4-byte entries that screens take for
// a core header's bitmap, missing entries black; none as ReadCoreLayout, or
// when the block cannot be allocated.
std::optional<InfoBlock> ConvertCoreHeader(std::span<const std::uint8_t> infoBlock,
                                           std::uint32_t bfOffBits);

}  // namespace clipfile
