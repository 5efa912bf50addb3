#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

#include "util/heap_buffer.h"

namespace clipfile {

// A device bitmap of 32 bits per pixel, the portable screen's only depth:
// rows bottom-up, blue, green, red and a fourth byte per pixel, no padding.
struct DeviceBitmap {
    std::int32_t width = 0;
    std::int32_t height = 0;
    HeapBuffer pixels;

    std::size_t size() const {
        return std::size_t{4} * static_cast<std::size_t>(width) * static_cast<std::size_t>(height);
    }
};

// Zero-filled unless the caller writes every byte itself.
std::optional<DeviceBitmap> AllocateDeviceBitmap(std::int32_t width, std::int32_t height,
                                                 bool zeroFilled = true);

// Converts a device-independent bitmap (info block and pixel bytes) to a
// device bitmap. Uncompressed 1, 4, 8, 16, 24 and 32-bit images with 40, 52,
// 56, 108 or 124-byte headers, bottom-up or top-down; none for anything else
// or when the bytes do not hold what the header describes. The fourth byte is
// the alpha that bit fields declare, a 32-bit BI_RGB pixel's own fourth byte,
// and 0 for the other depths.
std::optional<DeviceBitmap> DecodeDib(std::span<const std::uint8_t> info,
                                      std::span<const std::uint8_t> bits);

// Sets scan lines [startScan, startScan + scanLines) of a bitmap of the DIB's
// size from bits, which hold those rows alone, as many as fit the bitmap,
// counting from the bottom row up and stored in the order the header gives.
// Decodes as DecodeDib; returns the number of lines set, 0 on failure.
int DecodeDibRows(DeviceBitmap& bitmap, std::span<const std::uint8_t> info, std::uint32_t startScan,
                  std::uint32_t scanLines, std::span<const std::uint8_t> bits);

// What a request for scan lines of a width x height bitmap asks for: none when
// the info header is not 24 or 32 bits BI_RGB of that size, startScan lies
// past the bitmap, or the lines it gets do not fit outSize bytes.
struct DibRows {
    std::uint32_t lines = 0;
    std::uint64_t stride = 0;
    std::uint16_t depth = 0;
    bool topDown = false;
};
std::optional<DibRows> PlanDibRows(std::int32_t width, std::int32_t height,
                                   std::span<const std::uint8_t> info, std::uint32_t startScan,
                                   std::uint32_t scanLines, std::size_t outSize);

// Fills out with scan lines [startScan, startScan + scanLines) of the bitmap at
// the depth and orientation that the info header asks for (24 or 32 bits,
// rows padded to 4 bytes). Returns the number of lines written, 0 on failure.
int EncodeDibRows(const DeviceBitmap& bitmap, std::span<const std::uint8_t> info,
                  std::uint32_t startScan, std::uint32_t scanLines, std::span<std::uint8_t> out);

// A packed device-independent bitmap (header then pixels, 32 bits, BI_RGB)
// of the bitmap, with a 40-byte header or a 124-byte one; the size is
// PackedDibSize(bitmap, headerSize).
std::size_t PackedDibSize(const DeviceBitmap& bitmap, std::uint32_t headerSize);
void WritePackedDib(const DeviceBitmap& bitmap, std::uint32_t headerSize,
                    std::span<std::uint8_t> out);
// Only the header of such a DIB, for a width x height bitmap.
void WritePackedDibHeader(std::int32_t width, std::int32_t height, std::uint32_t headerSize,
                          std::span<std::uint8_t> out);

}  // namespace clipfile
