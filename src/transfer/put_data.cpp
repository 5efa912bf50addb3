#include "transfer/put_data.h"

#include <cstdint>
#include <cstring>
#include <limits>

#include "formats/formats.h"
#include "platform/handles.h"
#include "platform/print.h"
#include "transfer/bitmap_import.h"

namespace clipfile {

namespace {

void PrintReadFailure(Platform& platform) {
    Print(platform, "\n * Error while reading the bits from Global Memory. * \n");
}

void PrintAllocationFailure(Platform& platform) {
    Print(platform, "\n * Error while allocating the Global Memory. * \n");
}

// A new block holding a copy of the first `size` bytes of `from`.
UniqueMemoryBlock CopyIntoExactBlock(Platform& platform, const std::uint8_t* from,
                                     std::size_t size) {
    UniqueMemoryBlock block(platform, platform.memory.GlobalAlloc(size));
    if (!block) {
        PrintAllocationFailure(platform);
        return {};
    }
    MemoryLock lock(platform, block.get());
    if (!lock) {
        PrintAllocationFailure(platform);
        return {};
    }
    if (size != 0) {
        std::memcpy(lock.bytes(), from, size);
    }
    lock.Unlock();
    return block;
}

// Reads the whole file into a new memory block; prints its own messages.
// Text formats get their terminator when the file lacks one: the block is
// sized for it up front, and only text that already ends with one is copied
// into a block of its exact size.
UniqueMemoryBlock ReadFileIntoBlock(Platform& platform, FileHandle file, FormatId id) {
    std::uint64_t length = 0;
    if (!platform.files.GetFileLength(file, length)) {
        PrintReadFailure(platform);
        return {};
    }
    const std::size_t maxSize = std::numeric_limits<std::size_t>::max();
    if (length > maxSize - TerminatorRoom(id, 1)) {
        PrintAllocationFailure(platform);
        return {};
    }
    const auto size = static_cast<std::size_t>(length);
    const std::size_t room = TerminatorRoom(id, size);
    UniqueMemoryBlock block(platform, platform.memory.GlobalAlloc(size + room));
    if (!block) {
        PrintAllocationFailure(platform);
        return {};
    }
    MemoryLock lock(platform, block.get());
    if (!lock) {
        PrintAllocationFailure(platform);
        return {};
    }
    auto* bytes = static_cast<std::uint8_t*>(lock.bytes());
    std::size_t got = 0;
    if (!platform.files.ReadFile(file, bytes, size, got) || got != size) {
        PrintReadFailure(platform);
        return {};
    }
    if (room != 0 && EndsWithTerminator(id, bytes, size)) {
        return CopyIntoExactBlock(platform, bytes, size);
    }
    std::memset(bytes + size, 0, room);
    lock.Unlock();
    return block;
}

}  // namespace

bool PlaceOnEmptyClipboard(Platform& platform, FormatId id, DataHandle data, bool& handedOver) {
    handedOver = false;
    OpenClipboardSession clipboard(platform);
    if (!clipboard) {
        Print(platform, "\n * Couldn't able to open the Clipboard. * \n");
        return false;
    }
    if (!platform.clipboard.EmptyClipboard()) {
        Print(platform, "\n * Couldn't able to Clear the Clipboard Contents. * \n");
        return false;
    }
    if (!platform.clipboard.SetClipboardData(id, data)) {
        Print(platform, "\n * Couldn't able to place the data on the Clipboard. * \n");
        return false;
    }
    handedOver = true;
    // The portable clipboard commits at close; a failure there loses the data.
    if (!clipboard.Close()) {
        Print(platform, "\n * Couldn't able to place the data on the Clipboard. * \n");
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
        Print(platform, "\n * Couldn't able to place the data on the Clipboard. * \n");
        return false;
    }
    UniqueFile file(platform, platform.files.OpenFileForReading(path));
    if (!file) {
        Print(platform, "\n * Error while reading the \"%s\" file * \n", path);
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
            Print(platform, "\n * Couldn't able to register the \"%s\" Clipboard Format. * \n",
                  formatName);
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
        PrintReadFailure(platform);
        return false;
    }
    return true;
}

void RunPutDataCommand(Platform& platform, const char* formatName, const char* path) {
    if (ImportFileToClipboard(platform, formatName, path)) {
        Print(platform, "\n\n\"%s\" File contents were Successfully copied into the Clipboard.\n",
              path);
    } else {
        Print(platform,
              "\n\n * Couldn't able to transfer the contents of \"%s\" file into Clipboard. * \n",
              path);
    }
}

}  // namespace clipfile
