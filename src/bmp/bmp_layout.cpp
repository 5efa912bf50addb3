#include "bmp/bmp_layout.h"

#include "util/byte_order.h"

namespace clipfile {

BmpInfoHeader ReadInfoHeader(std::span<const std::uint8_t> bytes) {
    BmpInfoHeader h;
    LeReader in(bytes);
    in.ReadU32(h.biSize);
    in.ReadS32(h.biWidth);
    in.ReadS32(h.biHeight);
    in.ReadU16(h.biPlanes);
    in.ReadU16(h.biBitCount);
    in.ReadU32(h.biCompression);
    in.ReadU32(h.biSizeImage);
    in.ReadS32(h.biXPelsPerMeter);
    in.ReadS32(h.biYPelsPerMeter);
    in.ReadU32(h.biClrUsed);
    in.ReadU32(h.biClrImportant);
    return h;
}

void WriteInfoHeader(const BmpInfoHeader& h, std::span<std::uint8_t> bytes) {
    LeWriter out(bytes);
    out.WriteU32(h.biSize);
    out.WriteS32(h.biWidth);
    out.WriteS32(h.biHeight);
    out.WriteU16(h.biPlanes);
    out.WriteU16(h.biBitCount);
    out.WriteU32(h.biCompression);
    out.WriteU32(h.biSizeImage);
    out.WriteS32(h.biXPelsPerMeter);
    out.WriteS32(h.biYPelsPerMeter);
    out.WriteU32(h.biClrUsed);
    out.WriteU32(h.biClrImportant);
}

BmpFileHeader ReadFileHeader(std::span<const std::uint8_t, kFileHeaderSize> bytes) {
    BmpFileHeader h;
    LeReader in(bytes);
    in.ReadU16(h.bfType);
    in.ReadU32(h.bfSize);
    in.ReadU16(h.bfReserved1);
    in.ReadU16(h.bfReserved2);
    in.ReadU32(h.bfOffBits);
    return h;
}

std::array<std::uint8_t, kFileHeaderSize> WriteFileHeader(const BmpFileHeader& h) {
    std::array<std::uint8_t, kFileHeaderSize> bytes{};
    LeWriter out(bytes);
    out.WriteU16(h.bfType);
    out.WriteU32(h.bfSize);
    out.WriteU16(h.bfReserved1);
    out.WriteU16(h.bfReserved2);
    out.WriteU32(h.bfOffBits);
    return bytes;
}

}  // namespace clipfile
