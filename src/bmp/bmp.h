#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>

#include "bmp/bmp_layout.h"
#include "platform/types.h"

namespace clipfile {

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
std::optional<BmpFileHeader> BuildFileHeader(const InfoBlock& infoBlock);

// Offset of the pixels within the bytes that follow a file's first 14, read
// as if the info header were 40 bytes long. The block must hold 40 bytes.
std::uint64_t FindPixelOffset(std::span<const std::uint8_t> infoBlock);

}  // namespace clipfile

namespace clipfile {

// Where the pixels of a BMP file lie within the bytes after its first 14, and
// where the headers, masks and colour table before them end.
struct PixelLocation {
    std::size_t offset = 0;
    std::size_t size = 0;
    std::size_t tableEnd = 0;
};

// Checks a whole BMP file's header, colour table and pixel rows against its
// length. Headers of 12, 40, 52, 56, 108 and 124 bytes are read; the pixels are
// taken at bfOffBits when that lies past the headers and colour table, else at
// the computed offset. None for anything unsupported or incomplete. The bytes
// after the first 14 number totalLength; infoBlock holds the first of them, at
// least the header (the table may lie beyond, see tableEnd).
std::optional<PixelLocation> LocateBitmapPixels(std::span<const std::uint8_t> infoBlock,
                                                std::size_t totalLength, std::uint32_t bfOffBits);
inline std::optional<PixelLocation> LocateBitmapPixels(std::span<const std::uint8_t> infoBlock,
                                                       std::uint32_t bfOffBits) {
    return LocateBitmapPixels(infoBlock, infoBlock.size(), bfOffBits);
}

// Whether the bytes after a file's first 14 begin with the 12-byte core
// header, whose colour entries are 3 bytes (blue, green, red) each.
bool IsCoreHeader(std::span<const std::uint8_t> infoBlock);

// A core header read as the 40-byte header it stands for. Its table holds up
// to 2^bits entries: as many as fit before bfOffBits when that lies within
// the file, else all of them, with the pixels right behind.
struct CoreLayout {
    BmpInfoHeader info;
    std::uint32_t entries = 0;
    std::uint64_t pixelOffset = 0;
};

// None when the header or its table is cut short, a dimension is zero, or the
// depth is not 1, 4, 8 or 24. Lengths as for LocateBitmapPixels.
std::optional<CoreLayout> ReadCoreLayout(std::span<const std::uint8_t> infoBlock,
                                         std::size_t totalLength, std::uint32_t bfOffBits);

// The 40-byte header and full table of 4-byte entries that screens take for
// a core header's bitmap, missing entries black; none as ReadCoreLayout, when
// infoBlock does not hold the table, or when the block cannot be allocated.
std::optional<InfoBlock> ConvertCoreHeader(std::span<const std::uint8_t> infoBlock,
                                           std::size_t totalLength, std::uint32_t bfOffBits);
inline std::optional<InfoBlock> ConvertCoreHeader(std::span<const std::uint8_t> infoBlock,
                                                  std::uint32_t bfOffBits) {
    return ConvertCoreHeader(infoBlock, infoBlock.size(), bfOffBits);
}

}  // namespace clipfile
