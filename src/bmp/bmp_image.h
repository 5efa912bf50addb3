#pragma once

#include <cstdint>
#include <optional>
#include <span>

#include "bmp/dib_codec.h"
#include "util/heap_buffer.h"

namespace clipfile {

// Whole BMP files held in memory, as the X11 clipboard's image/bmp target
// carries them.

// The bitmap in a BMP file: the file header's offset locates the pixels; the
// headers and depths DecodeDib reads. None for anything else.
std::optional<DeviceBitmap> DecodeBmpFile(std::span<const std::uint8_t> file);

// The BMP file the bitmap exporter writes for the bitmap (32 bits, BI_RGB,
// 40-byte header), in memory. None when memory is short or the size overflows.
struct BmpFileImage {
    HeapBuffer bytes;
    std::size_t size = 0;
};
std::optional<BmpFileImage> EncodeBmpFile(const DeviceBitmap& bitmap);

}  // namespace clipfile
