#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/global_memory.h"
#include "portable/heap_memory.h"
#include "posix/portable_store.h"

namespace clipfile {

std::uint64_t PageSize();

// Fresh memory about to be filled whole: its pages are cheaper taken in one
// call than in a fault each.
void PrefaultForWriting(void* data, std::size_t bytes);

// Global memory of the portable clipboard: heap blocks, and private mappings
// of committed clipboard contents that the clipboard hands out in place of
// large copies; the handle of a mapping is its address.
class PortableMemory final : public GlobalMemory {
public:
    PortableMemory() = default;
    PortableMemory(const PortableMemory&) = delete;
    PortableMemory& operator=(const PortableMemory&) = delete;
    ~PortableMemory() override { UnmapAll(); }

    MemoryHandle GlobalAlloc(std::size_t bytes) override;
    std::size_t GlobalSize(MemoryHandle block) override;
    void* GlobalLock(MemoryHandle block) override;
    void GlobalUnlock(MemoryHandle block) override;
    void GlobalFree(MemoryHandle block) override;
    HeapBuffer AllocateBuffer(std::size_t bytes) override;

    HeapGlobalMemory& heap() { return heap_; }
    // size bytes of fd from offset, as a block; None when it cannot be mapped.
    MemoryHandle MapFileRange(int fd, std::uint64_t offset, std::uint64_t size);
    void UnmapAll();

private:
    struct MappedBlock {
        void* mapping = nullptr;
        std::size_t mappingSize = 0;
        unsigned char* bytes = nullptr;
        std::size_t size = 0;
    };
    const MappedBlock* FindMapped(MemoryHandle block) const;

    HeapGlobalMemory heap_;
    portable::Array<MappedBlock> mapped_;
};

}  // namespace clipfile
