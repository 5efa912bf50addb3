#include "clipboard/heap_memory.h"

#include <cstdlib>
#include <new>

namespace clipfile {

struct HeapGlobalMemory::Block {
    std::size_t size = 0;
    unsigned char* bytes = nullptr;
    unsigned locks = 0;
};

HeapGlobalMemory::~HeapGlobalMemory() {
    for (Block* block : live_) {
        std::free(block->bytes);
        delete block;
    }
}

MemoryHandle HeapGlobalMemory::Alloc(std::size_t bytes) {
    // A block of 0 bytes is a valid, empty block with a real address.
    auto* data = static_cast<unsigned char*>(std::malloc(bytes == 0 ? 1 : bytes));
    if (data == nullptr) {
        return MemoryHandle::None;
    }
    auto* block = new (std::nothrow) Block{bytes, data, 0};
    if (block == nullptr) {
        std::free(data);
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
    return found->bytes;
}

void HeapGlobalMemory::Unlock(MemoryHandle block) {
    Block* found = Find(block);
    if (found != nullptr && found->locks > 0) {
        --found->locks;
    }
}

void HeapGlobalMemory::Free(MemoryHandle block) {
    Block* found = Find(block);
    if (found == nullptr) {
        return;
    }
    live_.erase(found);
    std::free(found->bytes);
    delete found;
}

std::span<unsigned char> HeapGlobalMemory::Bytes(MemoryHandle block) const {
    const Block* found = Find(block);
    return found != nullptr ? std::span<unsigned char>(found->bytes, found->size)
                            : std::span<unsigned char>();
}

bool HeapGlobalMemory::IsLive(MemoryHandle block) const { return Find(block) != nullptr; }

}  // namespace clipfile
