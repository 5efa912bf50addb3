#include "bmp/bmp_image.h"

#include <cstring>

#include "bmp/bmp.h"
#include "bmp/bmp_layout.h"

namespace clipfile {

std::optional<DeviceBitmap> DecodeBmpFile(std::span<const std::uint8_t> file) {
    if (file.size() < kFileHeaderSize) return std::nullopt;
    const BmpFileHeader header = ReadFileHeader(file.first<kFileHeaderSize>());
    if (header.bfType != kBitmapSignature || header.bfOffBits < kFileHeaderSize) {
        return std::nullopt;
    }
    const auto contents = file.subspan(kFileHeaderSize);
    // The import's rule finds where the headers, masks and colour table end;
    // here the file header must say the pixels begin there or further on,
    // within the file, with room for every row.
    const auto pixels = LocateBitmapPixels(contents, header.bfOffBits);
    if (!pixels || pixels->offset != header.bfOffBits - kFileHeaderSize) return std::nullopt;
    return DecodeDib(contents.first(pixels->offset), contents.subspan(pixels->offset));
}

// As the bitmap export writes a 32-bit bitmap of the portable screen: its info
// header, file header and rows, the rows through the screen's own encoder.
std::optional<BmpFileImage> EncodeBmpFile(const DeviceBitmap& bitmap) {
    if (!bitmap.pixels) return std::nullopt;
    const BitmapDescription description{bitmap.width, bitmap.height, 1, 32};
    if (bitmap.width <= 0 || bitmap.height <= 0 || !BitmapImageSize(description)) {
        return std::nullopt;
    }
    const auto info = BuildBitmapInfo(description);
    const auto fileHeader = info ? BuildFileHeader(*info) : std::nullopt;
    if (!fileHeader) return std::nullopt;
    const BmpInfoHeader h = ReadInfoHeader(info->span());
    const std::size_t infoBytes = kInfoHeaderSize + std::size_t{kColourEntrySize} * h.biClrUsed;
    BmpFileImage image;
    image.size = fileHeader->bfSize;
    image.bytes = AllocateHeapBuffer(image.size);
    if (!image.bytes) return std::nullopt;
    const auto headerBytes = WriteFileHeader(*fileHeader);
    std::memcpy(image.bytes.get(), headerBytes.data(), headerBytes.size());
    std::memcpy(image.bytes.get() + kFileHeaderSize, info->bytes.get(), infoBytes);
    const std::span<std::uint8_t> rows(image.bytes.get() + fileHeader->bfOffBits, h.biSizeImage);
    if (EncodeDibRows(bitmap, info->span(), 0, static_cast<std::uint32_t>(bitmap.height), rows) !=
        bitmap.height) {
        return std::nullopt;
    }
    return image;
}

}  // namespace clipfile
