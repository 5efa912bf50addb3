// The decoding half of dib_codec.h: device-independent rows to device bitmaps.
#include <algorithm>
#include <bit>
#include <cstring>
#include <limits>

#include "bmp/bmp_layout.h"
#include "bmp/dib_codec.h"
#include "util/byte_order.h"

namespace clipfile {

namespace {

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

// What decoding rows takes from an info block, read once per call.
struct DibRows {
    std::int32_t width = 0;
    std::int32_t rows = 0;
    bool topDown = false;
    std::uint16_t depth = 0;
    std::uint64_t stride = 0;
    Masks masks;
    std::span<const std::uint8_t> palette;
    int at[4] = {};
    bool wholeBytes = false;
};

std::optional<DibRows> ReadDibRows(std::span<const std::uint8_t> info) {
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

    DibRows r;
    Masks& masks = r.masks;
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

    if (depth <= 8) {
        const std::uint64_t entries = ColourTableEntries(depth, h.biClrUsed);
        const std::uint64_t start = h.biSize;
        const std::uint64_t available =
            info.size() > start ? (info.size() - start) / kColourEntrySize : 0;
        r.palette = info.subspan(
            static_cast<std::size_t>(start) <= info.size() ? static_cast<std::size_t>(start)
                                                           : info.size(),
            static_cast<std::size_t>((entries < available ? entries : available) *
                                     kColourEntrySize));
    }

    r.width = h.biWidth;
    r.topDown = h.biHeight < 0;
    r.rows = r.topDown ? -h.biHeight : h.biHeight;
    r.depth = depth;
    r.stride = RowStride(static_cast<std::uint32_t>(h.biWidth), depth);
    r.at[0] = WholeByteOf(masks.blue);
    r.at[1] = WholeByteOf(masks.green);
    r.at[2] = WholeByteOf(masks.red);
    r.at[3] = WholeByteOf(masks.alpha);
    r.wholeBytes = (depth == 24 || depth == 32) && r.at[0] != -2 && r.at[1] != -2 &&
                   r.at[2] != -2 && r.at[3] != -2;
    return r;
}

// Scan lines [startScan, startScan + lines) from bits, which hold that many
// rows and no more, in the order the header gives.
void DecodeRows(const DibRows& r, DeviceBitmap& bitmap, std::uint32_t startScan,
                std::uint32_t lines, std::span<const std::uint8_t> bits) {
    const auto width = static_cast<std::size_t>(r.width);
    const std::uint16_t depth = r.depth;
    for (std::uint32_t line = 0; line < lines; ++line) {
        const std::uint32_t sourceRow = r.topDown ? lines - 1 - line : line;
        const auto source = bits.subspan(static_cast<std::size_t>(r.stride * sourceRow),
                                         static_cast<std::size_t>(r.stride));
        std::uint8_t* out = bitmap.pixels.get() + std::size_t{4} * width * (startScan + line);
        if (r.wholeBytes) {
            DecodeWholeByteRow(source.data(), out, width, depth, r.at);
            continue;
        }
        for (std::size_t x = 0; x < width; ++x, out += 4) {
            const std::uint32_t value = ReadBits(source, x, depth);
            if (depth <= 8) {
                // An index past the colour table gives black.
                if (std::size_t{4} * value + 4 <= r.palette.size()) {
                    std::memcpy(out, r.palette.data() + std::size_t{4} * value, 3);
                } else {
                    std::memset(out, 0, 3);
                }
                out[3] = 0;
            } else {
                out[0] = r.masks.blue.Extract(value);
                out[1] = r.masks.green.Extract(value);
                out[2] = r.masks.red.Extract(value);
                out[3] = r.masks.alpha.Extract(value);
            }
        }
    }
}

}  // namespace

std::optional<DeviceBitmap> DecodeDib(std::span<const std::uint8_t> info,
                                      std::span<const std::uint8_t> bits) {
    const auto r = ReadDibRows(info);
    if (!r || static_cast<std::uint64_t>(r->rows) > bits.size() / r->stride) return std::nullopt;
    // Unfilled: every byte is written below, which spares a pass over a large picture.
    auto bitmap = AllocateDeviceBitmap(r->width, r->rows, false);
    if (!bitmap) return std::nullopt;
    DecodeRows(*r, *bitmap, 0, static_cast<std::uint32_t>(r->rows), bits);
    return bitmap;
}

int DecodeDibRows(DeviceBitmap& bitmap, std::span<const std::uint8_t> info, std::uint32_t startScan,
                  std::uint32_t scanLines, std::span<const std::uint8_t> bits) {
    const auto r = ReadDibRows(info);
    if (!r || !bitmap.pixels || r->width != bitmap.width || r->rows != bitmap.height ||
        startScan >= static_cast<std::uint32_t>(r->rows)) {
        return 0;
    }
    const std::uint32_t lines =
        std::min(scanLines, static_cast<std::uint32_t>(r->rows) - startScan);
    if (lines == 0 || lines > bits.size() / r->stride) return 0;
    DecodeRows(*r, bitmap, startScan, lines, bits);
    return static_cast<int>(lines);
}

}  // namespace clipfile
