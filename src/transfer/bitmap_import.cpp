#include "transfer/bitmap_import.h"

#include <array>
#include <limits>
#include <optional>
#include <span>

#include "bmp/bmp.h"
#include "platform/messages.h"
#include "transfer/put_data.h"

namespace clipfile {

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
    UniqueMemoryBlock block(platform, platform.memory.GlobalAlloc(size));
    MemoryLock lock(platform, block.get());
    if (!block || !lock) {
        message::BlockAllocationFailed(platform);
        return false;
    }
    if (!platform.files.ReadFile(file.get(), lock.bytes(), size, got) || got != size) {
        message::InputReadFailed(platform);
        return false;
    }
    const auto* bytes = static_cast<const std::uint8_t*>(lock.bytes());
    const std::span<const std::uint8_t> contents(bytes, size);
    const auto pixels = LocateBitmapPixels(contents, fileHeader.bfOffBits);
    if (!pixels) {
        message::UnsupportedBitmap(platform, path);
        return false;
    }
    // Screens take the 40-byte header; the pixels stay where the file has them.
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
