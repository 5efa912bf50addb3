#include "bmp/dib_codec.h"

#include <algorithm>
#include <cstring>
#include <limits>

#include "bmp/bmp_layout.h"
#include "util/byte_order.h"

namespace clipfile {

namespace {

constexpr std::uint32_t kLcsSrgb = 0x73524742;  // 'sRGB'
constexpr std::uint32_t kLcsGmImages = 4;

}  // namespace

std::optional<DeviceBitmap> AllocateDeviceBitmap(std::int32_t width, std::int32_t height,
                                                 bool zeroFilled) {
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
