#include "posix/portable_memory.h"

#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>

#include "posix/posix_advice.h"

namespace clipfile {

namespace {

constexpr std::size_t kPrefaultMin = std::size_t{64} * 1024;

}  // namespace

std::uint64_t PageSize() {
    static const long size = sysconf(_SC_PAGESIZE);
    return size > 0 ? static_cast<std::uint64_t>(size) : 4096;
}

// Older kernels refuse the advice and fault the pages in as they are touched.
void PrefaultForWriting(void* data, std::size_t bytes) {
    if (bytes < kPrefaultMin) {
        return;
    }
    const auto at = reinterpret_cast<std::uintptr_t>(data);
    const auto page = static_cast<std::uintptr_t>(PageSize());
    const std::uintptr_t first = (at + page - 1) / page * page;
    const std::uintptr_t end = (at + bytes) / page * page;
    if (end > first) {
        AdviseMemory(reinterpret_cast<void*>(first), end - first, kAdvisePopulateWrite);
    }
}

MemoryHandle PortableMemory::GlobalAlloc(std::size_t bytes) {
    const MemoryHandle block = heap_.Alloc(bytes);
    // Blocks are filled right after allocation.
    if (block != MemoryHandle::None) {
        PrefaultForWriting(heap_.Bytes(block).data(), bytes);
    }
    return block;
}

std::size_t PortableMemory::GlobalSize(MemoryHandle block) {
    const MappedBlock* mapped = FindMapped(block);
    return mapped != nullptr ? mapped->size : heap_.Size(block);
}

void* PortableMemory::GlobalLock(MemoryHandle block) {
    const MappedBlock* mapped = FindMapped(block);
    return mapped != nullptr ? mapped->bytes : heap_.Lock(block);
}

void PortableMemory::GlobalUnlock(MemoryHandle block) {
    if (FindMapped(block) == nullptr) {
        heap_.Unlock(block);
    }
}

void PortableMemory::GlobalFree(MemoryHandle block) {
    const MappedBlock* mapped = FindMapped(block);
    if (mapped == nullptr) {
        heap_.Free(block);
        return;
    }
    munmap(mapped->mapping, mapped->mappingSize);
    // The last entry takes the freed one's place.
    const auto index = static_cast<std::uint32_t>(mapped - mapped_.items.get());
    mapped_.items[index] = mapped_.items[--mapped_.count];
}

HeapBuffer PortableMemory::AllocateBuffer(std::size_t bytes) { return AllocateHeapBuffer(bytes); }

// Writes through the block stay in this process (a private mapping). Only
// another program truncating the file inside the private folder could pull the
// pages from under a reader (SIGBUS); clipfile itself never does.
MemoryHandle PortableMemory::MapFileRange(int fd, std::uint64_t offset, std::uint64_t size) {
    const std::uint64_t page = PageSize();
    const std::uint64_t start = offset / page * page;
    const std::uint64_t length = offset - start + size;
    if (fd < 0 || length > SIZE_MAX || start > static_cast<std::uint64_t>(INT64_MAX) ||
        !portable::Reserve(mapped_, mapped_.count + 1)) {
        return MemoryHandle::None;
    }
    void* mapping = mmap(nullptr, static_cast<std::size_t>(length), PROT_READ | PROT_WRITE,
                         MAP_PRIVATE, fd, static_cast<off_t>(start));
    if (mapping == MAP_FAILED) {
        return MemoryHandle::None;
    }
    // One call fills the page tables that would otherwise take a fault every
    // few pages; older kernels refuse it and fault them in as read.
    AdviseMemory(mapping, static_cast<std::size_t>(length), kAdvisePopulateRead);
    mapped_.items[mapped_.count++] = {mapping, static_cast<std::size_t>(length),
                                      static_cast<unsigned char*>(mapping) + (offset - start),
                                      static_cast<std::size_t>(size)};
    return static_cast<MemoryHandle>(reinterpret_cast<std::uintptr_t>(mapping));
}

const PortableMemory::MappedBlock* PortableMemory::FindMapped(MemoryHandle block) const {
    for (std::uint32_t i = 0; i < mapped_.count; ++i) {
        if (reinterpret_cast<std::uintptr_t>(mapped_.items[i].mapping) ==
            static_cast<std::uintptr_t>(block)) {
            return &mapped_.items[i];
        }
    }
    return nullptr;
}

void PortableMemory::UnmapAll() {
    for (std::uint32_t i = 0; i < mapped_.count; ++i) {
        munmap(mapped_.items[i].mapping, mapped_.items[i].mappingSize);
    }
    mapped_.count = 0;
}

}  // namespace clipfile
