#include "transfer/get_data.h"

#include <cstring>

#include "formats/formats.h"
#include "platform/handles.h"
#include "platform/messages.h"
#include "transfer/bitmap_export.h"

namespace clipfile {

namespace {

// What a command keeps of a clipboard block, so that the clipboard is closed
// again before any file output starts: a block shared by the memory role, or
// a copy.
struct ClipboardCopy {
    UniqueMemoryBlock shared;
    HeapBuffer bytes;
    std::size_t size = 0;
};

bool CopyClipboardData(Platform& platform, FormatId id, ClipboardCopy& copy) {
    if (!platform.clipboard.IsClipboardFormatAvailable(id)) {
        message::DataFormatMissing(platform);
        return false;
    }
    OpenClipboardSession clipboard(platform);
    if (!clipboard) {
        message::CopyOpenFailed(platform);
        return false;
    }
    // The handle belongs to the clipboard and is only used while it is open.
    const MemoryHandle block = AsMemory(platform.clipboard.GetClipboardData(id));
    if (block == MemoryHandle::None) {
        message::InvalidDataHandle(platform);
        return false;
    }
    const std::size_t size = platform.memory.GlobalSize(block);
    copy.shared = UniqueMemoryBlock(platform, platform.memory.ShareBlock(block));
    if (copy.shared) {
        copy.size = size;
        return true;
    }
    MemoryLock lock(platform, block);
    if (!lock) {
        message::DataLockFailed(platform);
        return false;
    }
    // An empty buffer still has an address, so an empty block is not an
    // allocation failure.
    copy.bytes = platform.memory.AllocateBuffer(size);
    if (!copy.bytes) {
        message::CopyAllocationFailed(platform);
        return false;
    }
    std::memcpy(copy.bytes.get(), lock.bytes(), size);
    copy.size = size;
    return true;
}

// The shared block goes out through the memory role where it can move the
// bytes itself, else through its lock.
bool WriteCopy(Platform& platform, ClipboardCopy& copy, FileHandle file) {
    std::size_t written = 0;
    if (!copy.shared) {
        return platform.files.WriteFile(file, copy.bytes.get(), copy.size, written) &&
               written == copy.size;
    }
    switch (platform.memory.WriteBlockToFile(copy.shared.get(), file, written)) {
        case BlockTransfer::Done: return written == copy.size;
        case BlockTransfer::Failed: return false;
        case BlockTransfer::Unavailable: break;
    }
    MemoryLock lock(platform, copy.shared.get());
    return lock && platform.files.WriteFile(file, lock.bytes(), copy.size, written) &&
           written == copy.size;
}

bool ExportRawFormatToFile(Platform& platform, FormatId id, const char* path) {
    ClipboardCopy copy;
    if (!CopyClipboardData(platform, id, copy)) {
        return false;
    }
    UniqueFile file(platform, platform.files.CreateFileForWriting(path));
    if (!file) {
        message::OutputOpenFailed(platform, path);
        return false;
    }
    const bool wrote = WriteCopy(platform, copy, file.get());
    // A failed close means buffered bytes never reached the file.
    const bool closed = Close(platform, file);
    if (!wrote || !closed) {
        message::OutputWriteFailed(platform);
        return false;
    }
    return true;
}

}  // namespace

ExportResult ExportFormatToFile(Platform& platform, FormatId id, const char* path) {
    if (id == CF_BITMAP || id == CF_DIB) {
        return ExportBitmapToFile(platform, path);
    }
    return ExportRawFormatToFile(platform, id, path) ? ExportResult::Succeeded
                                                     : ExportResult::Failed;
}

int RunGetDataCommand(Platform& platform, const char* formatName, const char* path) {
    FormatSnapshot snapshot;
    // On failure the snapshot stays empty and the format is reported missing.
    TakeFormatSnapshot(platform, snapshot);
    const FormatEntry* entry = FindSnapshotEntry(snapshot, formatName);
    if (entry == nullptr) {
        message::FormatNotAvailable(platform, formatName);
        return 0;
    }
    switch (ExportFormatToFile(platform, entry->id, path)) {
        case ExportResult::Succeeded: message::GetDataSucceeded(platform, path); return 0;
        case ExportResult::Failed: message::GetDataFailed(platform, path); return 0;
        case ExportResult::EndProcess: break;
    }
    return 1;
}

}  // namespace clipfile
