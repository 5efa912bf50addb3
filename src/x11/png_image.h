#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

#include "bmp/dib_codec.h"
#include "util/heap_buffer.h"

namespace clipfile {

// PNG files, the image format desktop programs exchange, to and from the
// portable screen's device bitmaps, through libpng.

// Any valid PNG (every colour type and depth, interlaced or not, with or
// without tRNS) as 8-bit blue, green, red and alpha; pixels without alpha get
// 255. None when damaged, truncated or too large for a device bitmap.
std::optional<DeviceBitmap> DecodePng(std::span<const std::uint8_t> png);

struct EncodedImage {
    HeapBuffer bytes;
    std::size_t size = 0;
};
// An 8-bit PNG of the bitmap: RGB when every fourth byte is 0 (a bitmap made
// from a file without alpha), RGBA otherwise. None when memory is short.
std::optional<EncodedImage> EncodePng(const DeviceBitmap& bitmap);

}  // namespace clipfile
