#pragma once

#include <cstddef>
#include <cstring>

#include "platform/types.h"
#include "util/heap_buffer.h"

namespace clipfile {

// How a move between a block and a file went when the memory role makes it
// itself: Unavailable means it moved nothing and the caller copies through
// GlobalLock and the files role instead.
enum class BlockTransfer { Unavailable, Done, Failed };

// Global memory blocks, the currency of the clipboard, always GMEM_FIXED; and
// the heap for the commands' own working copies.
class GlobalMemory {
public:
    virtual ~GlobalMemory() = default;

    virtual MemoryHandle GlobalAlloc(std::size_t bytes) = 0;
    virtual std::size_t GlobalSize(MemoryHandle block) = 0;
    virtual void* GlobalLock(MemoryHandle block) = 0;
    virtual void GlobalUnlock(MemoryHandle block) = 0;
    virtual void GlobalFree(MemoryHandle block) = 0;

    virtual HeapBuffer AllocateBuffer(std::size_t bytes) = 0;

    // A new size for an unlocked block, keeping its bytes up to the smaller
    // size: the block's handle, which may have changed, or None with the
    // block untouched. Unless a role moves blocks itself, a new block takes
    // a copy.
    virtual MemoryHandle GlobalReAlloc(MemoryHandle block, std::size_t bytes) {
        const MemoryHandle resized = GlobalAlloc(bytes);
        void* to = GlobalLock(resized);
        const void* from = GlobalLock(block);
        if (to == nullptr || from == nullptr) {
            if (from != nullptr) GlobalUnlock(block);
            if (to != nullptr) GlobalUnlock(resized);
            GlobalFree(resized);
            return MemoryHandle::None;
        }
        const std::size_t kept = GlobalSize(block) < bytes ? GlobalSize(block) : bytes;
        if (kept != 0) std::memcpy(to, from, kept);
        GlobalUnlock(block);
        GlobalUnlock(resized);
        GlobalFree(block);
        return resized;
    }

    // A new block, owned by the caller, that holds the bytes of block for as
    // long as it lives, taken without copying them: what a command keeps of a
    // clipboard block once the clipboard is closed. None when the block cannot
    // be kept so; the caller then copies it.
    virtual MemoryHandle ShareBlock(MemoryHandle block) = 0;
    // Fills the block's first count bytes from the file's position without
    // passing them through this process. got holds the bytes moved, short at
    // the end of the file.
    virtual BlockTransfer ReadFileIntoBlock(MemoryHandle block, FileHandle file, std::size_t count,
                                            std::size_t& got) = 0;
    // Writes the whole block at the file's position the same way.
    virtual BlockTransfer WriteBlockToFile(MemoryHandle block, FileHandle file,
                                           std::size_t& written) = 0;
};

}  // namespace clipfile
