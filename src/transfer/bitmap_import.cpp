#include "transfer/bitmap_import.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <limits>
#include <optional>
#include <span>

#include "bmp/bmp.h"
#include "platform/messages.h"
#include "transfer/put_data.h"

namespace clipfile {

namespace {

// The headers and colour table of any bitmap the band path takes lie in the
// first bytes read; the rows then pass through a buffer of about a band.
constexpr std::size_t kHeadBytes = std::size_t{64} * 1024;
constexpr std::size_t kBandBytes = std::size_t{1} << 20;

// The bytes after the file header: the head read first, then the file.
struct FileBytes {
    Platform& platform;
    FileHandle file;
    std::span<const std::uint8_t> head;

    bool Read(std::uint8_t* to, std::size_t count) {
        const std::size_t fromHead = std::min(count, head.size());
        std::memcpy(to, head.data(), fromHead);
        head = head.subspan(fromHead);
        std::size_t got = 0;
        return fromHead == count ||
               (platform.files.ReadFile(file, to + fromHead, count - fromHead, got) &&
                got == count - fromHead);
    }
};

// The depths and compressions screens take band by band, as uncompressed rows.
bool TakesBands(const BmpInfoHeader& h) {
    const std::uint16_t depth = h.biBitCount;
    const bool rgb = h.biCompression == kBiRgb && (depth == 1 || depth == 4 || depth == 8 ||
                                                   depth == 16 || depth == 24 || depth == 32);
    const bool masks = h.biCompression == kBiBitfields && (depth == 16 || depth == 32);
    return (rgb || masks) && h.biWidth > 0 && h.biPlanes == 1 && h.biHeight != 0 &&
           h.biHeight != std::numeric_limits<std::int32_t>::min();
}

// Uncompressed rows whose headers and table lie in the head go band by band
// into a bitmap made for the screen, the way CreateDIBitmap itself works.
// Each band goes bottom-up: a top-down file's with its rows reversed, under
// the header turned bottom-up (info is rewritten so).
bool LoadBands(Platform& platform, FileBytes& source, std::span<std::uint8_t> info,
               const PixelLocation& pixels, const char* path, UniqueBitmap& bitmap) {
    BmpInfoHeader h = ReadInfoHeader(info);
    const bool topDown = h.biHeight < 0;
    const auto rows = static_cast<std::uint32_t>(topDown ? -h.biHeight : h.biHeight);
    h.biHeight = static_cast<std::int32_t>(rows);
    WriteInfoHeader(h, info);
    // Exact for uncompressed rows; a band holds no more than all of them, so
    // no product below exceeds the pixels' size.
    const std::size_t stride = pixels.size / rows;
    const std::size_t bandRows =
        std::min<std::size_t>(rows, std::max<std::size_t>(1, kBandBytes / stride));
    const std::size_t bandBytes = bandRows * stride;
    HeapBuffer band = platform.memory.AllocateBuffer(bandBytes);
    if (!band) {
        message::BlockAllocationFailed(platform);
        return false;
    }
    UniqueScreenDc screen(platform, platform.graphics.GetScreenDC());
    UniqueBitmap made(platform, platform.graphics.CreateCompatibleBitmap(
                                    screen.get(), h.biWidth, static_cast<std::int32_t>(rows)));
    if (!made) {
        message::BitmapCreateFailed(platform, path);
        return false;
    }
    // Bytes between the table and the pixels are read past.
    for (std::size_t gap = pixels.offset - pixels.tableEnd; gap > 0;) {
        const std::size_t step = std::min(gap, bandBytes);
        if (!source.Read(band.get(), step)) {
            message::InputReadFailed(platform);
            return false;
        }
        gap -= step;
    }
    for (std::uint32_t row = 0; row < rows;) {
        const auto lines = static_cast<std::uint32_t>(std::min<std::size_t>(bandRows, rows - row));
        const std::size_t bytes = stride * lines;
        if (!source.Read(band.get(), bytes)) {
            message::InputReadFailed(platform);
            return false;
        }
        std::uint32_t startScan = row;
        if (topDown) {
            for (std::uint32_t i = 0; i < lines / 2; ++i) {
                std::swap_ranges(band.get() + stride * i, band.get() + stride * (i + 1),
                                 band.get() + stride * (lines - 1 - i));
            }
            startScan = rows - row - lines;
        }
        if (platform.graphics.SetDIBits(screen.get(), made.get(), startScan, lines, band.get(),
                                        bytes, info.data(),
                                        info.size()) != static_cast<int>(lines)) {
            message::BitmapCreateFailed(platform, path);
            return false;
        }
        row += lines;
    }
    bitmap = std::move(made);
    return true;
}

// The whole file in one block, for what is not taken band by band (compressed
// rows, a colour table past the head, anything refused): the head already
// read, then the rest.
bool LoadWholeFile(Platform& platform, FileBytes& source, std::size_t size,
                   const BmpFileHeader& fileHeader, const char* path, UniqueBitmap& bitmap) {
    UniqueMemoryBlock block(platform, platform.memory.GlobalAlloc(size));
    MemoryLock lock(platform, block.get());
    if (!block || !lock) {
        message::BlockAllocationFailed(platform);
        return false;
    }
    auto* bytes = static_cast<std::uint8_t*>(lock.bytes());
    if (!source.Read(bytes, size)) {
        message::InputReadFailed(platform);
        return false;
    }
    const std::span<const std::uint8_t> contents(bytes, size);
    const auto pixels = LocateBitmapPixels(contents, fileHeader.bfOffBits);
    if (!pixels) {
        message::UnsupportedBitmap(platform, path);
        return false;
    }
    std::span<const std::uint8_t> info = contents;
    std::optional<InfoBlock> converted;
    if (IsCoreHeader(contents)) {
        converted = ConvertCoreHeader(contents, fileHeader.bfOffBits);
        if (!converted) {
            message::BlockAllocationFailed(platform);
            return false;
        }
        info = converted->span();
    }
    BitmapHandle created = BitmapHandle::None;
    {
        UniqueScreenDc screen(platform, platform.graphics.GetScreenDC());
        created = platform.graphics.CreateDIBitmap(screen.get(), info.data(), info.size(),
                                                   bytes + pixels->offset, pixels->size);
    }
    if (created == BitmapHandle::None) {
        message::BitmapCreateFailed(platform, path);
        return false;
    }
    bitmap = UniqueBitmap(platform, created);
    return true;
}

}  // namespace

bool LoadBitmapFile(Platform& platform, const char* path, UniqueBitmap& bitmap) {
    UniqueFile file(platform, platform.files.OpenFileForReading(path));
    if (!file) {
        message::InputOpenFailed(platform, path);
        return false;
    }
    std::array<std::uint8_t, kFileHeaderSize> headerBytes{};
    std::size_t got = 0;
    if (!platform.files.ReadFile(file.get(), headerBytes.data(), headerBytes.size(), got) ||
        got != headerBytes.size()) {
        message::BitmapHeaderReadFailed(platform, path);
        return false;
    }
    const BmpFileHeader fileHeader = ReadFileHeader(headerBytes);
    if (fileHeader.bfType != kBitmapSignature) {
        message::NotABitmap(platform);
        return false;
    }
    std::uint64_t length = 0;
    if (!platform.files.GetFileLength(file.get(), length) || length < kFileHeaderSize) {
        message::InputReadFailed(platform);
        return false;
    }
    if (length - kFileHeaderSize > std::numeric_limits<std::size_t>::max()) {
        message::BlockAllocationFailed(platform);
        return false;
    }
    const auto size = static_cast<std::size_t>(length - kFileHeaderSize);
    const std::size_t headSize = std::min(size, kHeadBytes);
    HeapBuffer head = platform.memory.AllocateBuffer(headSize);
    if (!head) {
        message::BlockAllocationFailed(platform);
        return false;
    }
    if (!platform.files.ReadFile(file.get(), head.get(), headSize, got) || got != headSize) {
        message::InputReadFailed(platform);
        return false;
    }
    const std::span<std::uint8_t> headBytes(head.get(), headSize);
    FileBytes source{platform, file.get(), headBytes};
    const auto located = LocateBitmapPixels(headBytes, size, fileHeader.bfOffBits);
    bool loaded = false;
    if (located && located->tableEnd <= headSize) {
        // Screens take the 40-byte header; the pixels stay where the file has them.
        std::span<std::uint8_t> info = headBytes.first(located->tableEnd);
        std::optional<InfoBlock> converted;
        if (IsCoreHeader(headBytes)) {
            converted = ConvertCoreHeader(headBytes, size, fileHeader.bfOffBits);
            if (!converted) {
                message::BlockAllocationFailed(platform);
                return false;
            }
            info = converted->span();
        }
        if (TakesBands(ReadInfoHeader(info))) {
            source.head = headBytes.subspan(located->tableEnd);
            if (!LoadBands(platform, source, info, *located, path, bitmap)) {
                return false;
            }
            loaded = true;
        }
    }
    if (!loaded && !LoadWholeFile(platform, source, size, fileHeader, path, bitmap)) {
        return false;
    }
    if (!Close(platform, file)) {
        message::InputReadFailed(platform);
        return false;
    }
    return true;
}

bool ImportBitmapFile(Platform& platform, const char* path) {
    UniqueBitmap bitmap;
    if (!LoadBitmapFile(platform, path, bitmap)) {
        return false;
    }
    bool handedOver = false;
    const bool placed =
        PlaceOnEmptyClipboard(platform, CF_BITMAP, ToData(bitmap.get()), handedOver);
    if (handedOver) {
        bitmap.release();
    }
    return placed;
}

}  // namespace clipfile
