#include "bmp/bmp.h"

#include <cstdlib>
#include <limits>
#include <new>

namespace clipfile {

std::uint16_t ReadU16(std::span<const std::uint8_t> bytes, std::size_t offset) {
    return static_cast<std::uint16_t>(bytes[offset] | (bytes[offset + 1] << 8));
}

std::uint32_t ReadU32(std::span<const std::uint8_t> bytes, std::size_t offset) {
    return static_cast<std::uint32_t>(bytes[offset]) |
           (static_cast<std::uint32_t>(bytes[offset + 1]) << 8) |
           (static_cast<std::uint32_t>(bytes[offset + 2]) << 16) |
           (static_cast<std::uint32_t>(bytes[offset + 3]) << 24);
}

void WriteU16(std::span<std::uint8_t> bytes, std::size_t offset, std::uint16_t value) {
    bytes[offset] = static_cast<std::uint8_t>(value);
    bytes[offset + 1] = static_cast<std::uint8_t>(value >> 8);
}

void WriteU32(std::span<std::uint8_t> bytes, std::size_t offset, std::uint32_t value) {
    for (std::size_t i = 0; i < 4; ++i) {
        bytes[offset + i] = static_cast<std::uint8_t>(value >> (8 * i));
    }
}

BITMAPINFOHEADER ReadInfoHeader(std::span<const std::uint8_t> bytes) {
    BITMAPINFOHEADER h;
    h.biSize = ReadU32(bytes, 0);
    h.biWidth = static_cast<std::int32_t>(ReadU32(bytes, 4));
    h.biHeight = static_cast<std::int32_t>(ReadU32(bytes, 8));
    h.biPlanes = ReadU16(bytes, 12);
    h.biBitCount = ReadU16(bytes, 14);
    h.biCompression = ReadU32(bytes, 16);
    h.biSizeImage = ReadU32(bytes, 20);
    h.biXPelsPerMeter = static_cast<std::int32_t>(ReadU32(bytes, 24));
    h.biYPelsPerMeter = static_cast<std::int32_t>(ReadU32(bytes, 28));
    h.biClrUsed = ReadU32(bytes, 32);
    h.biClrImportant = ReadU32(bytes, 36);
    return h;
}

void WriteInfoHeader(const BITMAPINFOHEADER& h, std::span<std::uint8_t> bytes) {
    WriteU32(bytes, 0, h.biSize);
    WriteU32(bytes, 4, static_cast<std::uint32_t>(h.biWidth));
    WriteU32(bytes, 8, static_cast<std::uint32_t>(h.biHeight));
    WriteU16(bytes, 12, h.biPlanes);
    WriteU16(bytes, 14, h.biBitCount);
    WriteU32(bytes, 16, h.biCompression);
    WriteU32(bytes, 20, h.biSizeImage);
    WriteU32(bytes, 24, static_cast<std::uint32_t>(h.biXPelsPerMeter));
    WriteU32(bytes, 28, static_cast<std::uint32_t>(h.biYPelsPerMeter));
    WriteU32(bytes, 32, h.biClrUsed);
    WriteU32(bytes, 36, h.biClrImportant);
}

BITMAPFILEHEADER ReadFileHeader(std::span<const std::uint8_t, kFileHeaderSize> bytes) {
    BITMAPFILEHEADER h;
    h.bfType = ReadU16(bytes, 0);
    h.bfSize = ReadU32(bytes, 2);
    h.bfReserved1 = ReadU16(bytes, 6);
    h.bfReserved2 = ReadU16(bytes, 8);
    h.bfOffBits = ReadU32(bytes, 10);
    return h;
}

std::array<std::uint8_t, kFileHeaderSize> WriteFileHeader(const BITMAPFILEHEADER& h) {
    std::array<std::uint8_t, kFileHeaderSize> bytes{};
    WriteU16(bytes, 0, h.bfType);
    WriteU32(bytes, 2, h.bfSize);
    WriteU16(bytes, 6, h.bfReserved1);
    WriteU16(bytes, 8, h.bfReserved2);
    WriteU32(bytes, 10, h.bfOffBits);
    return bytes;
}

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

std::uint32_t ColourEntries(std::uint16_t roundedDepth) {
    return roundedDepth < 24 ? (1U << roundedDepth) : 0U;
}

}  // namespace

std::optional<std::uint32_t> BitmapImageSize(const BitmapDescription& description) {
    const std::uint16_t depth = RoundedDepth(DescriptionDepth(description));
    // Each row takes the smallest multiple of 4 bytes that holds it; heights
    // count by absolute value since top-down bitmaps have negative ones.
    const std::int64_t rowBits = (std::int64_t{description.width} * depth + 31) & ~std::int64_t{31};
    if (rowBits < 0) {
        return std::nullopt;
    }
    const std::int64_t rows = std::llabs(std::int64_t{description.height});
    const std::int64_t image = rowBits / 8 * rows;
    const std::int64_t file = std::int64_t{kFileHeaderSize + kInfoHeaderSize} +
                              std::int64_t{4} * ColourEntries(depth) + image;
    if (file > std::numeric_limits<std::uint32_t>::max()) {
        return std::nullopt;
    }
    return static_cast<std::uint32_t>(image);
}

std::optional<InfoBlock> BuildBitmapInfo(const BitmapDescription& description) {
    const std::uint16_t depth = RoundedDepth(DescriptionDepth(description));
    const std::uint32_t entries = ColourEntries(depth);
    InfoBlock block;
    block.size = kInfoHeaderSize + std::size_t{4} * entries;
    block.bytes.reset(new (std::nothrow) std::uint8_t[block.size]());
    if (!block.bytes) {
        return std::nullopt;
    }
    BITMAPINFOHEADER h;
    h.biSize = kInfoHeaderSize;
    h.biWidth = description.width;
    h.biHeight = description.height;
    h.biPlanes = description.planes;
    h.biBitCount = description.bitsPerPixel;
    h.biCompression = BI_RGB;
    h.biClrUsed = entries;
    // Wraps like the signed 32-bit arithmetic of the format's own rule; callers
    // check BitmapImageSize first for bitmaps too large for it.
    const std::int64_t rowBytes =
        ((std::int64_t{description.width} * depth + 31) & ~std::int64_t{31}) / 8;
    h.biSizeImage = static_cast<std::uint32_t>(rowBytes * description.height);
    WriteInfoHeader(h, block.span());
    return block;
}

std::optional<BITMAPFILEHEADER> BuildFileHeader(const InfoBlock& infoBlock) {
    if (infoBlock.size < kInfoHeaderSize) {
        return std::nullopt;
    }
    const BITMAPINFOHEADER info = ReadInfoHeader(infoBlock.span());
    const std::uint64_t offBits =
        std::uint64_t{kFileHeaderSize} + info.biSize + std::uint64_t{4} * info.biClrUsed;
    const std::uint64_t size = offBits + info.biSizeImage;
    if (size > std::numeric_limits<std::uint32_t>::max()) {
        return std::nullopt;
    }
    BITMAPFILEHEADER file;
    file.bfType = kBitmapSignature;
    file.bfSize = static_cast<std::uint32_t>(size);
    file.bfOffBits = static_cast<std::uint32_t>(offBits);
    return file;
}

std::uint64_t FindPixelOffset(std::span<const std::uint8_t> infoBlock) {
    const BITMAPINFOHEADER info = ReadInfoHeader(infoBlock);
    if (info.biBitCount <= 8) {
        const std::uint64_t entries =
            info.biClrUsed != 0 ? info.biClrUsed : (std::uint64_t{1} << info.biBitCount);
        return kInfoHeaderSize + 4 * entries;
    }
    std::uint64_t offset = kInfoHeaderSize + std::uint64_t{4} * info.biClrUsed;
    if (info.biCompression == BI_BITFIELDS) {
        offset += 12;
    }
    return offset;
}

}  // namespace clipfile

namespace clipfile {

namespace {

bool IsKnownInfoHeaderSize(std::uint32_t size) {
    return size == 40 || size == 52 || size == 56 || size == 108 || size == 124;
}

// Bytes of uncompressed pixel rows, or none when they exceed limit.
std::optional<std::uint64_t> UncompressedImageSize(const BITMAPINFOHEADER& info,
                                                   std::uint64_t limit) {
    const std::uint64_t width = static_cast<std::uint64_t>(std::llabs(std::int64_t{info.biWidth}));
    const std::uint64_t rows = static_cast<std::uint64_t>(std::llabs(std::int64_t{info.biHeight}));
    const std::uint64_t rowBytes = ((width * info.biBitCount + 31) & ~std::uint64_t{31}) / 8;
    if (rowBytes != 0 && rows > limit / rowBytes) {
        return std::nullopt;
    }
    return rowBytes * rows;
}

// The pixels from offset on, which lies within the available bytes.
std::optional<PixelLocation> LocateRows(const BITMAPINFOHEADER& info, std::uint64_t offset,
                                        std::uint64_t available) {
    const bool compressed = info.biCompression != BI_RGB && info.biCompression != BI_BITFIELDS;
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
    return PixelLocation{static_cast<std::size_t>(offset), static_cast<std::size_t>(needed)};
}

}  // namespace

std::optional<PixelLocation> LocateBitmapPixels(std::span<const std::uint8_t> infoBlock,
                                                std::uint32_t bfOffBits) {
    const std::uint64_t available = infoBlock.size();
    if (IsCoreHeader(infoBlock)) {
        const auto core = ReadCoreLayout(infoBlock, bfOffBits);
        if (!core) {
            return std::nullopt;
        }
        return LocateRows(core->info, core->pixelOffset, available);
    }
    if (infoBlock.size() < kInfoHeaderSize) {
        return std::nullopt;
    }
    const BITMAPINFOHEADER info = ReadInfoHeader(infoBlock);
    if (!IsKnownInfoHeaderSize(info.biSize) || info.biSize > infoBlock.size() ||
        info.biWidth == 0 || info.biHeight == 0 || info.biBitCount > 32) {
        return std::nullopt;
    }
    std::uint64_t computed = 0;
    if (info.biSize == kInfoHeaderSize) {
        computed = FindPixelOffset(infoBlock);
    } else {
        const std::uint64_t entries = (info.biBitCount <= 8 && info.biClrUsed == 0)
                                          ? (std::uint64_t{1} << info.biBitCount)
                                          : info.biClrUsed;
        computed = info.biSize + 4 * entries;
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
    return LocateRows(info, offset, available);
}

}  // namespace clipfile
