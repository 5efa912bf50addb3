#pragma once

#include <cstddef>
#include <span>
#include <unordered_set>

#include "platform/types.h"
#include "util/heap_buffer.h"

namespace clipfile {

// Global memory kept on the process heap, for platforms without GlobalAlloc.
// Handles are checked against the live set, so a stale or foreign handle gives
// a size of 0 and no pointer rather than undefined behaviour.
class HeapGlobalMemory {
public:
    HeapGlobalMemory() = default;
    HeapGlobalMemory(const HeapGlobalMemory&) = delete;
    HeapGlobalMemory& operator=(const HeapGlobalMemory&) = delete;
    ~HeapGlobalMemory();

    MemoryHandle Alloc(std::size_t bytes);
    std::size_t Size(MemoryHandle block) const;
    void* Lock(MemoryHandle block);
    void Unlock(MemoryHandle block);
    void Free(MemoryHandle block);
    // A new size for an unlocked block, keeping its bytes up to the smaller
    // size; the handle stays the same. False, the block unchanged, when memory
    // is short.
    bool ReAlloc(MemoryHandle block, std::size_t bytes);
    // The same block for one more holder, who frees it too: the bytes go
    // only when every holder has freed the handle. None for an unknown one.
    MemoryHandle Share(MemoryHandle block);

    // The bytes of a live block (empty for an unknown handle).
    std::span<unsigned char> Bytes(MemoryHandle block) const;
    bool IsLive(MemoryHandle block) const;
    std::size_t LiveCount() const { return live_.size(); }

private:
    struct Block;
    Block* Find(MemoryHandle block) const;

    std::unordered_set<Block*> live_;
};

}  // namespace clipfile
