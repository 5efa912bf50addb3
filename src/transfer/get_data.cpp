#include "transfer/get_data.h"

#include <cstring>

#include "formats/formats.h"
#include "platform/handles.h"
#include "platform/print.h"
#include "transfer/bitmap_export.h"

namespace clipfile {

namespace {

// A copy of a clipboard block, taken so that the clipboard is closed again
// before any file output starts.
struct ClipboardCopy {
    HeapBuffer bytes;
    std::size_t size = 0;
};

bool CopyClipboardData(Platform& platform, FormatId id, ClipboardCopy& copy) {
    if (!platform.clipboard.IsClipboardFormatAvailable(id)) {
        Print(platform, "\n * Clipboard doesn't contain the data of specified format. *\n");
        return false;
    }
    OpenClipboardSession clipboard(platform);
    if (!clipboard) {
        Print(platform, "\n * Couldn't able open the clipboard. *\n");
        return false;
    }
    // The handle belongs to the clipboard and is only used while it is open.
    const MemoryHandle block = AsMemory(platform.clipboard.GetClipboardData(id));
    if (block == MemoryHandle::None) {
        Print(platform, "\n * Retrieved an invalid handle from the clipboard. *\n");
        return false;
    }
    const std::size_t size = platform.memory.GlobalSize(block);
    MemoryLock lock(platform, block);
    if (!lock) {
        Print(platform, "\n * Couldn't able to lock the data * \n");
        return false;
    }
    // An empty buffer still has an address, so an empty block is not an
    // allocation failure.
    copy.bytes = platform.memory.AllocateBuffer(size);
    if (!copy.bytes) {
        Print(platform, "\n * Unable to allocate memory for the data. * \n");
        return false;
    }
    std::memcpy(copy.bytes.get(), lock.bytes(), size);
    copy.size = size;
    return true;
}

bool ExportRawFormatToFile(Platform& platform, FormatId id, const char* path) {
    ClipboardCopy copy;
    if (!CopyClipboardData(platform, id, copy)) {
        return false;
    }
    UniqueFile file(platform, platform.files.CreateFileForWriting(path));
    if (!file) {
        Print(platform, "\n * Error whle opening the \"%s\" file. * \n", path);
        return false;
    }
    std::size_t written = 0;
    const bool wrote = platform.files.WriteFile(file.get(), copy.bytes.get(), copy.size, written);
    // A failed close means buffered bytes never reached the file.
    const bool closed = Close(platform, file);
    if (!wrote || written != copy.size || !closed) {
        Print(platform, "\n * Variation in bytes copied into the file. * \n");
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
        Print(platform, "\n ! Specified Format \"%s\" is not available on the Clipboard. ! \n",
              formatName);
        return 0;
    }
    switch (ExportFormatToFile(platform, entry->id, path)) {
        case ExportResult::Succeeded:
            Print(platform,
                  "\n\nClipboard Contents were Successfully copied into the \"%s\" File\n", path);
            return 0;
        case ExportResult::Failed:
            Print(
                platform,
                "\n\n * Couldn't able to transfer the contents of clipboard into \"%s\" file. * \n",
                path);
            return 0;
        case ExportResult::EndProcess: break;
    }
    return 1;
}

}  // namespace clipfile
