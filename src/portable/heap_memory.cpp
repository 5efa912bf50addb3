#include "portable/heap_memory.h"

#include <new>
#include <utility>

namespace clipfile {

struct HeapGlobalMemory::Block {
    std::size_t size = 0;
    HeapBuffer bytes;
    unsigned locks = 0;
    // Holders of the handle: one, and one more for each Share.
    unsigned owners = 1;
};

HeapGlobalMemory::~HeapGlobalMemory() {
    for (Block* block : live_) {
        delete block;
    }
}

MemoryHandle HeapGlobalMemory::Alloc(std::size_t bytes) {
    // A block of 0 bytes is a valid, empty block with a real address.
    HeapBuffer data = AllocateHeapBuffer(bytes);
    if (!data) {
        return MemoryHandle::None;
    }
    auto* block = new (std::nothrow) Block{bytes, std::move(data), 0, 1};
    if (block == nullptr) {
        return MemoryHandle::None;
    }
    live_.insert(block);
    return static_cast<MemoryHandle>(reinterpret_cast<std::uintptr_t>(block));
}

HeapGlobalMemory::Block* HeapGlobalMemory::Find(MemoryHandle block) const {
    auto* candidate = reinterpret_cast<Block*>(static_cast<std::uintptr_t>(block));
    return live_.contains(candidate) ? candidate : nullptr;
}

std::size_t HeapGlobalMemory::Size(MemoryHandle block) const {
    const Block* found = Find(block);
    return found != nullptr ? found->size : 0;
}

void* HeapGlobalMemory::Lock(MemoryHandle block) {
    Block* found = Find(block);
    if (found == nullptr) {
        return nullptr;
    }
    ++found->locks;
    return found->bytes.get();
}

void HeapGlobalMemory::Unlock(MemoryHandle block) {
    Block* found = Find(block);
    if (found != nullptr && found->locks > 0) {
        --found->locks;
    }
}

bool HeapGlobalMemory::ReAlloc(MemoryHandle block, std::size_t bytes) {
    Block* found = Find(block);
    if (found == nullptr || found->locks != 0 ||
        !ResizeHeapBuffer(found->bytes, found->size, bytes)) {
        return false;
    }
    found->size = bytes;
    return true;
}

MemoryHandle HeapGlobalMemory::Share(MemoryHandle block) {
    Block* found = Find(block);
    if (found == nullptr) {
        return MemoryHandle::None;
    }
    ++found->owners;
    return block;
}

void HeapGlobalMemory::Free(MemoryHandle block) {
    Block* found = Find(block);
    if (found == nullptr || --found->owners > 0) {
        return;
    }
    live_.erase(found);
    delete found;
}

std::span<unsigned char> HeapGlobalMemory::Bytes(MemoryHandle block) const {
    const Block* found = Find(block);
    return found != nullptr ? std::span<unsigned char>(found->bytes.get(), found->size)
                            : std::span<unsigned char>();
}

bool HeapGlobalMemory::IsLive(MemoryHandle block) const { return Find(block) != nullptr; }

}  // namespace clipfile
