#include <algorithm>
#include <cstring>
#include <new>

#include "bmp/bmp.h"

namespace clipfile {

bool IsCoreHeader(std::span<const std::uint8_t> infoBlock) {
    return infoBlock.size() >= 4 && ReadU32(infoBlock, 0) == kCoreHeaderSize;
}

std::optional<CoreLayout> ReadCoreLayout(std::span<const std::uint8_t> infoBlock,
                                         std::uint32_t bfOffBits) {
    if (infoBlock.size() < kCoreHeaderSize || !IsCoreHeader(infoBlock)) {
        return std::nullopt;
    }
    CoreLayout core;
    BITMAPINFOHEADER& h = core.info;
    h.biSize = kInfoHeaderSize;
    h.biWidth = ReadU16(infoBlock, 4);
    h.biHeight = ReadU16(infoBlock, 6);
    h.biPlanes = ReadU16(infoBlock, 8);
    h.biBitCount = ReadU16(infoBlock, 10);
    h.biCompression = BI_RGB;
    const std::uint16_t bits = h.biBitCount;
    if (h.biWidth == 0 || h.biHeight == 0 || (bits != 1 && bits != 4 && bits != 8 && bits != 24)) {
        return std::nullopt;
    }
    const std::uint32_t full = bits <= 8 ? (1U << bits) : 0U;
    h.biClrUsed = full;
    core.entries = full;
    core.pixelOffset = kCoreHeaderSize + std::uint64_t{3} * full;
    // The header has no count of colours: a shorter table shows only in
    // where the file says its pixels begin.
    const std::uint64_t available = infoBlock.size();
    if (bfOffBits >= kFileHeaderSize + kCoreHeaderSize &&
        bfOffBits - kFileHeaderSize <= available) {
        const std::uint64_t declared = bfOffBits - kFileHeaderSize;
        core.entries = static_cast<std::uint32_t>(
            std::min<std::uint64_t>(full, (declared - kCoreHeaderSize) / 3));
        core.pixelOffset = declared;
    }
    if (core.pixelOffset > available) {
        return std::nullopt;
    }
    return core;
}

std::optional<InfoBlock> ConvertCoreHeader(std::span<const std::uint8_t> infoBlock,
                                           std::uint32_t bfOffBits) {
    const auto core = ReadCoreLayout(infoBlock, bfOffBits);
    if (!core) {
        return std::nullopt;
    }
    InfoBlock converted;
    converted.size = kInfoHeaderSize + std::size_t{4} * core->info.biClrUsed;
    converted.bytes.reset(new (std::nothrow) std::uint8_t[converted.size]());
    if (!converted.bytes) {
        return std::nullopt;
    }
    WriteInfoHeader(core->info, converted.span());
    for (std::size_t i = 0; i < core->entries; ++i) {
        std::memcpy(converted.bytes.get() + kInfoHeaderSize + 4 * i,
                    infoBlock.data() + kCoreHeaderSize + 3 * i, 3);
    }
    return converted;
}

}  // namespace clipfile
