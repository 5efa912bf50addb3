#include "transfer/put_data.h"

#include <cstdint>
#include <cstring>
#include <limits>
#include <optional>
#include <utility>

#include "formats/formats.h"
#include "platform/handles.h"
#include "platform/messages.h"
#include "transfer/bitmap_import.h"

namespace clipfile {

namespace {

// A new memory block, locked.
struct FillableBlock {
    UniqueMemoryBlock block;
    MemoryLock lock;
};

// A new block of blockSize bytes whose first size bytes are read from the
// file's position, locked; prints its own messages. The block is filled
// before it is locked: a memory role that moves the bytes itself may then keep
// them where they landed (the portable one keeps a large block filled so in a
// file, which the commit links as the new contents). The BMP import locks
// first, as its pixels are converted faster from memory.
std::optional<FillableBlock> ReadIntoNewBlock(Platform& platform, FileHandle file, std::size_t size,
                                              std::size_t blockSize) {
    UniqueMemoryBlock block(platform, platform.memory.GlobalAlloc(blockSize));
    if (!block) {
        message::BlockAllocationFailed(platform);
        return std::nullopt;
    }
    std::size_t got = 0;
    const BlockTransfer moved = platform.memory.ReadFileIntoBlock(block.get(), file, size, got);
    MemoryLock lock(platform, block.get());
    if (!lock) {
        message::BlockAllocationFailed(platform);
        return std::nullopt;
    }
    const bool read = moved == BlockTransfer::Unavailable
                          ? platform.files.ReadFile(file, lock.bytes(), size, got) && got == size
                          : moved == BlockTransfer::Done && got == size;
    if (!read) {
        message::InputReadFailed(platform);
        return std::nullopt;
    }
    return FillableBlock{std::move(block), std::move(lock)};
}

std::optional<FillableBlock> AllocateFillable(Platform& platform, std::size_t size) {
    UniqueMemoryBlock block(platform, platform.memory.GlobalAlloc(size));
    if (block) {
        MemoryLock lock(platform, block.get());
        if (lock) {
            return FillableBlock{std::move(block), std::move(lock)};
        }
    }
    message::BlockAllocationFailed(platform);
    return std::nullopt;
}

// Reads the whole file into a new memory block; prints its own messages.
// Text formats get their terminator when the file lacks one: the block is
// sized for it up front, and only text that already ends with one is copied
// into a block of its exact size.
UniqueMemoryBlock ReadFileIntoBlock(Platform& platform, FileHandle file, FormatId id) {
    std::uint64_t length = 0;
    if (!platform.files.GetFileLength(file, length)) {
        message::InputReadFailed(platform);
        return {};
    }
    const std::size_t maxSize = std::numeric_limits<std::size_t>::max();
    if (length > maxSize - TerminatorRoom(id, 1)) {
        message::BlockAllocationFailed(platform);
        return {};
    }
    const auto size = static_cast<std::size_t>(length);
    const std::size_t room = TerminatorRoom(id, size);
    std::optional<FillableBlock> read = ReadIntoNewBlock(platform, file, size, size + room);
    if (!read) {
        return {};
    }
    auto* bytes = static_cast<std::uint8_t*>(read->lock.bytes());
    if (room != 0 && EndsWithTerminator(id, bytes, size)) {
        std::optional<FillableBlock> exact = AllocateFillable(platform, size);
        if (!exact) {
            return {};
        }
        if (size != 0) {
            std::memcpy(exact->lock.bytes(), bytes, size);
        }
        exact->lock.Unlock();
        return std::move(exact->block);
    }
    std::memset(bytes + size, 0, room);
    read->lock.Unlock();
    return std::move(read->block);
}

}  // namespace

bool PlaceOnEmptyClipboard(Platform& platform, FormatId id, DataHandle data, bool& handedOver) {
    handedOver = false;
    OpenClipboardSession clipboard(platform);
    if (!clipboard) {
        message::PlaceOpenFailed(platform);
        return false;
    }
    if (!platform.clipboard.EmptyClipboard()) {
        message::EmptyFailed(platform);
        return false;
    }
    if (!platform.clipboard.SetClipboardData(id, data)) {
        message::PlaceFailed(platform);
        return false;
    }
    handedOver = true;
    // The portable clipboard commits at close; a failure there loses the data.
    if (!clipboard.Close()) {
        message::PlaceFailed(platform);
        return false;
    }
    return true;
}

bool ImportFileToClipboard(Platform& platform, const char* formatName, const char* path) {
    const KnownFormat* row = FindKnownFormat(formatName);
    if (row != nullptr && (row->id == CF_BITMAP || row->id == CF_DIB || row->id == CF_DIBV5)) {
        return ImportBitmapFile(platform, path);
    }
    // Refused before anything is read or emptied: the clipboard keeps its
    // contents.
    if (row != nullptr && IsGraphicsObjectFormat(row->id)) {
        message::PlaceFailed(platform);
        return false;
    }
    UniqueFile file(platform, platform.files.OpenFileForReading(path));
    if (!file) {
        message::InputOpenFailed(platform, path);
        return false;
    }
    UniqueMemoryBlock block = ReadFileIntoBlock(platform, file.get(), row != nullptr ? row->id : 0);
    if (!block) {
        return false;
    }
    // A registered name is resolved before the clipboard is touched, so a
    // failed registration leaves its contents as they were.
    FormatId id = 0;
    if (row != nullptr) {
        id = row->id;
    } else {
        id = platform.clipboard.RegisterClipboardFormatA(formatName);
        if (id == 0) {
            message::RegisterFailed(platform, formatName);
            return false;
        }
    }
    bool handedOver = false;
    const bool placed = PlaceOnEmptyClipboard(platform, id, ToData(block.get()), handedOver);
    if (handedOver) {
        block.release();
    }
    if (!placed) {
        return false;
    }
    if (!Close(platform, file)) {
        message::InputReadFailed(platform);
        return false;
    }
    return true;
}

void RunPutDataCommand(Platform& platform, const char* formatName, const char* path) {
    if (ImportFileToClipboard(platform, formatName, path)) {
        message::PutDataSucceeded(platform, path);
    } else {
        message::PutDataFailed(platform, path);
    }
}

}  // namespace clipfile
