#include "bmp/bmp_layout.h"

#include "util/byte_order.h"

namespace clipfile {

namespace {

// Each header's fields in file order, so that reading and writing share it.
template <typename Header, typename Field>
void InfoFields(Header& h, Field field) {
    field(h.biSize);
    field(h.biWidth);
    field(h.biHeight);
    field(h.biPlanes);
    field(h.biBitCount);
    field(h.biCompression);
    field(h.biSizeImage);
    field(h.biXPelsPerMeter);
    field(h.biYPelsPerMeter);
    field(h.biClrUsed);
    field(h.biClrImportant);
}

template <typename Header, typename Field>
void FileFields(Header& h, Field field) {
    field(h.bfType);
    field(h.bfSize);
    field(h.bfReserved1);
    field(h.bfReserved2);
    field(h.bfOffBits);
}

struct Reading {
    LeReader& in;
    void operator()(std::uint16_t& value) const { in.ReadU16(value); }
    void operator()(std::uint32_t& value) const { in.ReadU32(value); }
    void operator()(std::int32_t& value) const { in.ReadS32(value); }
};

struct Writing {
    LeWriter& out;
    void operator()(std::uint16_t value) const { out.WriteU16(value); }
    void operator()(std::uint32_t value) const { out.WriteU32(value); }
    void operator()(std::int32_t value) const { out.WriteS32(value); }
};

}  // namespace

BmpInfoHeader ReadInfoHeader(std::span<const std::uint8_t> bytes) {
    BmpInfoHeader h;
    LeReader in(bytes);
    InfoFields(h, Reading{in});
    return h;
}

void WriteInfoHeader(const BmpInfoHeader& h, std::span<std::uint8_t> bytes) {
    LeWriter out(bytes);
    InfoFields(h, Writing{out});
}

BmpFileHeader ReadFileHeader(std::span<const std::uint8_t, kFileHeaderSize> bytes) {
    BmpFileHeader h;
    LeReader in(bytes);
    FileFields(h, Reading{in});
    return h;
}

std::array<std::uint8_t, kFileHeaderSize> WriteFileHeader(const BmpFileHeader& h) {
    std::array<std::uint8_t, kFileHeaderSize> bytes{};
    LeWriter out(bytes);
    FileFields(h, Writing{out});
    return bytes;
}

}  // namespace clipfile
