#include "bmp/dib_codec.h"

#include <bit>
#include <cstring>
#include <limits>

#include "bmp/bmp_layout.h"
#include "util/byte_order.h"

namespace clipfile {

namespace {

constexpr std::uint32_t kLcsSrgb = 0x73524742;  // 'sRGB'
constexpr std::uint32_t kLcsGmImages = 4;

struct Channel {
    std::uint32_t mask = 0;
    int shift = 0;
    int width = 0;

    static Channel Of(std::uint32_t mask) {
        Channel c;
        c.mask = mask;
        if (mask != 0) {
            c.shift = std::countr_zero(mask);
            c.width = std::popcount(mask);
        }
        return c;
    }

    // Scales the channel's value in pixel to 8 bits. A narrower value is
    // repeated from the top bit down, as Windows widens 5-bit and 6-bit
    // channels: 5 bits v give (v << 3) | (v >> 2).
    std::uint8_t Extract(std::uint32_t pixel) const {
        if (width == 0) return 0;
        const std::uint32_t value = (pixel & mask) >> shift;
        if (width >= 8) return static_cast<std::uint8_t>(value >> (width - 8));
        std::uint32_t repeated = 0;
        int bits = 0;
        for (; bits < 8; bits += width) repeated = (repeated << width) | value;
        return static_cast<std::uint8_t>(repeated >> (bits - 8));
    }
};

struct Masks {
    Channel red, green, blue, alpha;
};

std::uint32_t ReadBits(std::span<const std::uint8_t> row, std::size_t x, std::uint16_t bits) {
    switch (bits) {
        case 1: return (row[x / 8] >> (7 - x % 8)) & 1U;
        case 4: return (row[x / 2] >> (x % 2 == 0 ? 4 : 0)) & 0xFU;
        case 8: return row[x];
        case 16: return ReadLe16(row.data() + x * 2);
        case 24:
            return ReadLe16(row.data() + x * 3) |
                   (static_cast<std::uint32_t>(row[x * 3 + 2]) << 16);
        default: return ReadLe32(row.data() + x * 4);
    }
}

// The byte of a 32-bit pixel that a channel's mask selects whole (-1 for an
// absent channel), or -2 when it needs shifting and scaling.
int WholeByteOf(const Channel& c) {
    if (c.mask == 0) return -1;
    return c.width == 8 && c.shift % 8 == 0 ? c.shift / 8 : -2;
}

// Rows of 24 and 32 bits whose channels are whole bytes, the usual case for
// large pictures, without the per-channel arithmetic of the general loop.
// at[] gives the source byte of blue, green, red and alpha (-1: absent).
void DecodeWholeByteRow(const std::uint8_t* in, std::uint8_t* out, std::size_t width,
                        std::uint16_t depth, const int (&at)[4]) {
    if (depth == 24) {
        for (std::size_t x = 0; x < width; ++x, in += 3, out += 4) {
            out[0] = in[0];
            out[1] = in[1];
            out[2] = in[2];
            out[3] = 0;
        }
    } else if (at[0] == 0 && at[1] == 1 && at[2] == 2 && at[3] == 3) {
        std::memcpy(out, in, 4 * width);
    } else if (at[0] == 0 && at[1] == 1 && at[2] == 2 && at[3] == -1) {
        // A pixel at a time with its fourth byte masked off: the compiler
        // turns this into vector code, which byte copies defeat.
        constexpr std::uint32_t kFirstThreeBytes =
            std::endian::native == std::endian::little ? 0x00FFFFFFU : 0xFFFFFF00U;
        for (std::size_t x = 0; x < width; ++x) {
            std::uint32_t pixel = 0;
            std::memcpy(&pixel, in + 4 * x, 4);
            pixel &= kFirstThreeBytes;
            std::memcpy(out + 4 * x, &pixel, 4);
        }
    } else {
        for (std::size_t x = 0; x < width; ++x, in += 4, out += 4) {
            for (int c = 0; c < 4; ++c) out[c] = at[c] >= 0 ? in[at[c]] : 0;
        }
    }
}

// Unfilled storage spares a pass over a large picture when the caller writes
// every byte itself, as DecodeDib does.
std::optional<DeviceBitmap> Allocate(std::int32_t width, std::int32_t height, bool zeroFilled) {
    if (width <= 0 || height <= 0) return std::nullopt;
    const std::uint64_t bytes =
        std::uint64_t{4} * static_cast<std::uint64_t>(width) * static_cast<std::uint64_t>(height);
    // Within 32 bits, so it also fits the 32-bit build's size_t.
    if (bytes > std::numeric_limits<std::uint32_t>::max()) {
        return std::nullopt;
    }
    DeviceBitmap bitmap;
    bitmap.width = width;
    bitmap.height = height;
    const auto size = static_cast<std::size_t>(bytes);
    bitmap.pixels = AllocateHeapBuffer(size, zeroFilled);
    if (!bitmap.pixels) return std::nullopt;
    return bitmap;
}

}  // namespace

std::optional<DeviceBitmap> AllocateDeviceBitmap(std::int32_t width, std::int32_t height) {
    return Allocate(width, height, true);
}

std::optional<DeviceBitmap> DecodeDib(std::span<const std::uint8_t> info,
                                      std::span<const std::uint8_t> bits) {
    if (info.size() < kInfoHeaderSize) return std::nullopt;
    const BmpInfoHeader h = ReadInfoHeader(info);
    const std::uint16_t depth = h.biBitCount;
    if (!IsKnownInfoHeaderSize(h.biSize) || h.biSize > info.size() || h.biWidth <= 0 ||
        h.biHeight == 0 || h.biHeight == std::numeric_limits<std::int32_t>::min()) {
        return std::nullopt;
    }
    if (depth != 1 && depth != 4 && depth != 8 && depth != 16 && depth != 24 && depth != 32)
        return std::nullopt;
    const bool bitfields = h.biCompression == kBiBitfields;
    if (h.biCompression != kBiRgb && !(bitfields && (depth == 16 || depth == 32)))
        return std::nullopt;

    Masks masks;
    if (bitfields) {
        // Masks follow a 40-byte header, or are part of the longer ones.
        LeReader in(info, kInfoHeaderSize);
        std::uint32_t red = 0;
        std::uint32_t green = 0;
        std::uint32_t blue = 0;
        std::uint32_t alpha = 0;
        if (!in.ReadU32(red) || !in.ReadU32(green) || !in.ReadU32(blue)) return std::nullopt;
        if (h.biSize >= kV3HeaderSize) in.ReadU32(alpha);
        masks = {Channel::Of(red), Channel::Of(green), Channel::Of(blue), Channel::Of(alpha)};
    } else if (depth == 16) {
        masks = {Channel::Of(0x7C00), Channel::Of(0x03E0), Channel::Of(0x001F), {}};
    } else {
        // The fourth byte of a 32-bit pixel passes through: the bitmap export
        // writes alpha there, and so do other programs; a file without alpha
        // has it 0 and keeps it so.
        masks = {Channel::Of(0xFF0000), Channel::Of(0x00FF00), Channel::Of(0x0000FF),
                 Channel::Of(depth == 32 ? 0xFF000000 : 0)};
    }

    std::span<const std::uint8_t> palette;
    if (depth <= 8) {
        const std::uint64_t entries = ColourTableEntries(depth, h.biClrUsed);
        const std::uint64_t start = h.biSize;
        const std::uint64_t available =
            info.size() > start ? (info.size() - start) / kColourEntrySize : 0;
        palette = info.subspan(static_cast<std::size_t>(start) <= info.size()
                                   ? static_cast<std::size_t>(start)
                                   : info.size(),
                               static_cast<std::size_t>(
                                   (entries < available ? entries : available) * kColourEntrySize));
    }

    const bool topDown = h.biHeight < 0;
    const std::int32_t rows = topDown ? -h.biHeight : h.biHeight;
    const std::uint64_t stride = RowStride(static_cast<std::uint32_t>(h.biWidth), depth);
    if (stride != 0 && static_cast<std::uint64_t>(rows) > bits.size() / stride) return std::nullopt;

    auto bitmap = Allocate(h.biWidth, rows, false);
    if (!bitmap) return std::nullopt;
    const auto width = static_cast<std::size_t>(h.biWidth);
    const int at[4] = {WholeByteOf(masks.blue), WholeByteOf(masks.green), WholeByteOf(masks.red),
                       WholeByteOf(masks.alpha)};
    const bool wholeBytes =
        (depth == 24 || depth == 32) && at[0] != -2 && at[1] != -2 && at[2] != -2 && at[3] != -2;
    for (std::int32_t y = 0; y < rows; ++y) {
        const auto source =
            bits.subspan(static_cast<std::size_t>(stride * static_cast<std::uint64_t>(y)),
                         static_cast<std::size_t>(stride));
        const std::int32_t targetRow = topDown ? rows - 1 - y : y;
        std::uint8_t* out =
            bitmap->pixels.get() + std::size_t{4} * width * static_cast<std::size_t>(targetRow);
        if (wholeBytes) {
            DecodeWholeByteRow(source.data(), out, width, depth, at);
            continue;
        }
        for (std::size_t x = 0; x < width; ++x, out += 4) {
            const std::uint32_t value = ReadBits(source, x, depth);
            if (depth <= 8) {
                // An index past the colour table gives black.
                if (std::size_t{4} * value + 4 <= palette.size()) {
                    std::memcpy(out, palette.data() + std::size_t{4} * value, 3);
                } else {
                    std::memset(out, 0, 3);
                }
                out[3] = 0;
            } else {
                out[0] = masks.blue.Extract(value);
                out[1] = masks.green.Extract(value);
                out[2] = masks.red.Extract(value);
                out[3] = masks.alpha.Extract(value);
            }
        }
    }
    return bitmap;
}

std::optional<DibRows> PlanDibRows(std::int32_t width, std::int32_t height,
                                   std::span<const std::uint8_t> info, std::uint32_t startScan,
                                   std::uint32_t scanLines, std::size_t outSize) {
    if (info.size() < kInfoHeaderSize || width <= 0 || height <= 0) return std::nullopt;
    const BmpInfoHeader h = ReadInfoHeader(info);
    const std::uint16_t depth = h.biBitCount;
    if ((depth != 24 && depth != 32) || h.biCompression != kBiRgb || h.biWidth != width ||
        (h.biHeight != height && h.biHeight != -height)) {
        return std::nullopt;
    }
    if (startScan >= static_cast<std::uint32_t>(height)) return std::nullopt;
    const std::uint32_t lines = std::min(scanLines, static_cast<std::uint32_t>(height) - startScan);
    const std::uint64_t stride = RowStride(static_cast<std::uint32_t>(width), depth);
    if (lines == 0 || lines > outSize / stride) return std::nullopt;
    return DibRows{lines, stride, depth, h.biHeight < 0};
}

int EncodeDibRows(const DeviceBitmap& bitmap, std::span<const std::uint8_t> info,
                  std::uint32_t startScan, std::uint32_t scanLines, std::span<std::uint8_t> out) {
    const auto plan =
        PlanDibRows(bitmap.width, bitmap.height, info, startScan, scanLines, out.size());
    if (!plan || !bitmap.pixels) return 0;
    const auto [lines, stride, depth, topDown] = *plan;
    const auto width = static_cast<std::size_t>(bitmap.width);
    for (std::uint32_t line = 0; line < lines; ++line) {
        // Scan lines count from the bottom row up, whichever way the output runs.
        const std::uint32_t sourceRow = startScan + line;
        const std::uint32_t outRow = topDown ? lines - 1 - line : line;
        const std::uint8_t* in = bitmap.pixels.get() + std::size_t{4} * width * sourceRow;
        std::uint8_t* target = out.data() + static_cast<std::size_t>(stride) * outRow;
        if (depth == 32) {
            std::memcpy(target, in, std::size_t{4} * width);
        } else {
            for (std::size_t x = 0; x < width; ++x) std::memcpy(target + 3 * x, in + 4 * x, 3);
            std::memset(target + 3 * width, 0, static_cast<std::size_t>(stride) - 3 * width);
        }
    }
    return static_cast<int>(lines);
}

std::size_t PackedDibSize(const DeviceBitmap& bitmap, std::uint32_t headerSize) {
    return headerSize + bitmap.size();
}

void WritePackedDibHeader(std::int32_t width, std::int32_t height, std::uint32_t headerSize,
                          std::span<std::uint8_t> out) {
    std::memset(out.data(), 0, headerSize);
    BmpInfoHeader h;
    h.biSize = headerSize;
    h.biWidth = width;
    h.biHeight = height;
    h.biPlanes = 1;
    h.biBitCount = 32;
    h.biCompression = kBiRgb;
    h.biSizeImage = 4U * static_cast<std::uint32_t>(width) * static_cast<std::uint32_t>(height);
    WriteInfoHeader(h, out);
    if (headerSize == kV5HeaderSize) {
        WriteLe32(out.data() + 56, kLcsSrgb);       // bV5CSType
        WriteLe32(out.data() + 108, kLcsGmImages);  // bV5Intent
    }
}

void WritePackedDib(const DeviceBitmap& bitmap, std::uint32_t headerSize,
                    std::span<std::uint8_t> out) {
    WritePackedDibHeader(bitmap.width, bitmap.height, headerSize, out);
    std::memcpy(out.data() + headerSize, bitmap.pixels.get(), bitmap.size());
}

}  // namespace clipfile
