#include <algorithm>
#include <cstring>
#include <new>

#include "bmp/bmp.h"
#include "util/byte_order.h"

namespace clipfile {

bool IsCoreHeader(std::span<const std::uint8_t> infoBlock) {
    std::uint32_t size = 0;
    return LeReader(infoBlock).ReadU32(size) && size == kCoreHeaderSize;
}

std::optional<CoreLayout> ReadCoreLayout(std::span<const std::uint8_t> infoBlock,
                                         std::size_t totalLength, std::uint32_t bfOffBits) {
    LeReader in(infoBlock, 4);
    std::uint16_t width = 0;
    std::uint16_t height = 0;
    CoreLayout core;
    BmpInfoHeader& h = core.info;
    if (!IsCoreHeader(infoBlock) || !in.ReadU16(width) || !in.ReadU16(height) ||
        !in.ReadU16(h.biPlanes) || !in.ReadU16(h.biBitCount)) {
        return std::nullopt;
    }
    h.biSize = kInfoHeaderSize;
    h.biWidth = width;
    h.biHeight = height;
    h.biCompression = kBiRgb;
    const std::uint16_t bits = h.biBitCount;
    if (h.biWidth == 0 || h.biHeight == 0 || (bits != 1 && bits != 4 && bits != 8 && bits != 24)) {
        return std::nullopt;
    }
    const std::uint32_t full = ColourTableEntries(bits, 0);
    h.biClrUsed = full;
    core.entries = full;
    core.pixelOffset = kCoreHeaderSize + std::uint64_t{kCoreColourEntrySize} * full;
    // The header has no count of colours: a shorter table shows only in
    // where the file says its pixels begin.
    const std::uint64_t available = totalLength;
    if (bfOffBits >= kFileHeaderSize + kCoreHeaderSize &&
        bfOffBits - kFileHeaderSize <= available) {
        const std::uint64_t declared = bfOffBits - kFileHeaderSize;
        core.entries = static_cast<std::uint32_t>(
            std::min<std::uint64_t>(full, (declared - kCoreHeaderSize) / kCoreColourEntrySize));
        core.pixelOffset = declared;
    }
    if (core.pixelOffset > available) {
        return std::nullopt;
    }
    return core;
}

std::optional<InfoBlock> ConvertCoreHeader(std::span<const std::uint8_t> infoBlock,
                                           std::size_t totalLength, std::uint32_t bfOffBits) {
    const auto core = ReadCoreLayout(infoBlock, totalLength, bfOffBits);
    if (!core ||
        kCoreHeaderSize + std::uint64_t{kCoreColourEntrySize} * core->entries > infoBlock.size()) {
        return std::nullopt;
    }
    InfoBlock converted;
    converted.size = kInfoHeaderSize + std::size_t{kColourEntrySize} * core->info.biClrUsed;
    converted.bytes.reset(new (std::nothrow) std::uint8_t[converted.size]());
    if (!converted.bytes) {
        return std::nullopt;
    }
    WriteInfoHeader(core->info, converted.span());
    for (std::size_t i = 0; i < core->entries; ++i) {
        std::memcpy(converted.bytes.get() + kInfoHeaderSize + kColourEntrySize * i,
                    infoBlock.data() + kCoreHeaderSize + kCoreColourEntrySize * i,
                    kCoreColourEntrySize);
    }
    return converted;
}

}  // namespace clipfile
