#include "bmp/bmp.h"

#include <cstdlib>
#include <limits>
#include <new>

#include "util/checked_math.h"

namespace clipfile {

std::uint16_t RoundedDepth(std::uint16_t depth) {
    if (depth == 1) return 1;
    if (depth <= 4) return 4;
    if (depth <= 8) return 8;
    if (depth <= 16) return 16;
    if (depth <= 24) return 24;
    return 32;
}

std::uint16_t DescriptionDepth(const BitmapDescription& description) {
    return static_cast<std::uint16_t>(description.planes * description.bitsPerPixel);
}

namespace {

// A written header carries a full table below 24 bits.
std::uint32_t WrittenColourEntries(std::uint16_t roundedDepth) {
    return roundedDepth < 24 ? (1U << roundedDepth) : 0U;
}

}  // namespace

std::optional<std::uint32_t> BitmapImageSize(const BitmapDescription& description) {
    if (description.width < 0) {
        return std::nullopt;
    }
    const std::uint16_t depth = RoundedDepth(DescriptionDepth(description));
    // Heights count by absolute value since top-down bitmaps have negative ones.
    const std::uint64_t rows =
        static_cast<std::uint64_t>(std::llabs(std::int64_t{description.height}));
    const auto image =
        CheckedMul(RowStride(static_cast<std::uint32_t>(description.width), depth), rows);
    const std::uint64_t headers = std::uint64_t{kFileHeaderSize} + kInfoHeaderSize +
                                  std::uint64_t{kColourEntrySize} * WrittenColourEntries(depth);
    const auto file = image ? CheckedAdd(headers, *image) : std::nullopt;
    if (!file || *file > std::numeric_limits<std::uint32_t>::max()) {
        return std::nullopt;
    }
    return static_cast<std::uint32_t>(*image);
}

std::optional<InfoBlock> BuildBitmapInfo(const BitmapDescription& description) {
    const std::uint16_t depth = RoundedDepth(DescriptionDepth(description));
    const std::uint32_t entries = WrittenColourEntries(depth);
    InfoBlock block;
    block.size = kInfoHeaderSize + std::size_t{kColourEntrySize} * entries;
    block.bytes.reset(new (std::nothrow) std::uint8_t[block.size]());
    if (!block.bytes) {
        return std::nullopt;
    }
    BmpInfoHeader h;
    h.biSize = kInfoHeaderSize;
    h.biWidth = description.width;
    h.biHeight = description.height;
    h.biPlanes = description.planes;
    h.biBitCount = description.bitsPerPixel;
    h.biCompression = kBiRgb;
    h.biClrUsed = entries;
    // Wraps like the signed 32-bit arithmetic of the format's own rule; callers
    // check BitmapImageSize first for bitmaps too large for it.
    const auto rowBytes =
        static_cast<std::int64_t>(RowStride(static_cast<std::uint32_t>(description.width), depth));
    h.biSizeImage = static_cast<std::uint32_t>(rowBytes * description.height);
    WriteInfoHeader(h, block.span());
    return block;
}

std::optional<BmpFileHeader> BuildFileHeader(const InfoBlock& infoBlock) {
    if (infoBlock.size < kInfoHeaderSize) {
        return std::nullopt;
    }
    const BmpInfoHeader info = ReadInfoHeader(infoBlock.span());
    const std::uint64_t offBits = std::uint64_t{kFileHeaderSize} + info.biSize +
                                  std::uint64_t{kColourEntrySize} * info.biClrUsed;
    const std::uint64_t size = offBits + info.biSizeImage;
    if (size > std::numeric_limits<std::uint32_t>::max()) {
        return std::nullopt;
    }
    BmpFileHeader file;
    file.bfType = kBitmapSignature;
    file.bfSize = static_cast<std::uint32_t>(size);
    file.bfOffBits = static_cast<std::uint32_t>(offBits);
    return file;
}

std::uint64_t FindPixelOffset(std::span<const std::uint8_t> infoBlock) {
    const BmpInfoHeader info = ReadInfoHeader(infoBlock);
    std::uint64_t offset =
        kInfoHeaderSize +
        std::uint64_t{kColourEntrySize} * ColourTableEntries(info.biBitCount, info.biClrUsed);
    if (info.biBitCount > 8 && info.biCompression == kBiBitfields) {
        offset += kBitfieldMasksSize;
    }
    return offset;
}

}  // namespace clipfile

namespace clipfile {

namespace {

// Bytes of uncompressed pixel rows, or none when they exceed limit.
std::optional<std::uint64_t> UncompressedImageSize(const BmpInfoHeader& info, std::uint64_t limit) {
    const auto width = static_cast<std::uint32_t>(std::llabs(std::int64_t{info.biWidth}));
    const std::uint64_t rows = static_cast<std::uint64_t>(std::llabs(std::int64_t{info.biHeight}));
    const auto image = CheckedMul(RowStride(width, info.biBitCount), rows);
    if (!image || *image > limit) {
        return std::nullopt;
    }
    return image;
}

// The pixels from offset on, which lies within the available bytes.
std::optional<PixelLocation> LocateRows(const BmpInfoHeader& info, std::uint64_t offset,
                                        std::uint64_t tableEnd, std::uint64_t available) {
    const bool compressed = info.biCompression != kBiRgb && info.biCompression != kBiBitfields;
    std::uint64_t needed = info.biSizeImage;
    if (!compressed) {
        const auto image = UncompressedImageSize(info, available);
        if (!image) {
            return std::nullopt;
        }
        needed = *image;
    }
    if (needed == 0 || needed > available - offset) {
        return std::nullopt;
    }
    return PixelLocation{static_cast<std::size_t>(offset), static_cast<std::size_t>(needed),
                         static_cast<std::size_t>(tableEnd)};
}

}  // namespace

std::optional<PixelLocation> LocateBitmapPixels(std::span<const std::uint8_t> infoBlock,
                                                std::size_t totalLength, std::uint32_t bfOffBits) {
    const std::uint64_t available = totalLength;
    if (infoBlock.size() > totalLength) {
        return std::nullopt;
    }
    if (IsCoreHeader(infoBlock)) {
        const auto core = ReadCoreLayout(infoBlock, totalLength, bfOffBits);
        if (!core) {
            return std::nullopt;
        }
        return LocateRows(core->info, core->pixelOffset,
                          kCoreHeaderSize + std::uint64_t{kCoreColourEntrySize} * core->entries,
                          available);
    }
    if (infoBlock.size() < kInfoHeaderSize) {
        return std::nullopt;
    }
    const BmpInfoHeader info = ReadInfoHeader(infoBlock);
    if (!IsKnownInfoHeaderSize(info.biSize) || info.biSize > infoBlock.size() ||
        info.biWidth == 0 || info.biHeight == 0 || info.biBitCount > 32) {
        return std::nullopt;
    }
    std::uint64_t computed = 0;
    if (info.biSize == kInfoHeaderSize) {
        computed = FindPixelOffset(infoBlock);
    } else {
        computed = info.biSize + std::uint64_t{kColourEntrySize} *
                                     ColourTableEntries(info.biBitCount, info.biClrUsed);
    }
    if (computed > available) {
        return std::nullopt;
    }
    std::uint64_t offset = computed;
    if (bfOffBits >= kFileHeaderSize) {
        const std::uint64_t declared = bfOffBits - kFileHeaderSize;
        if (declared >= computed && declared <= available) {
            offset = declared;
        }
    }
    return LocateRows(info, offset, computed, available);
}

}  // namespace clipfile
