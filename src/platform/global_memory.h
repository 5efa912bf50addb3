#pragma once

#include <cstddef>

#include "platform/types.h"
#include "util/heap_buffer.h"

namespace clipfile {

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
};

}  // namespace clipfile
