#include <sys/mman.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <utility>

#include "posix/posix_advice.h"
#include "util/heap_buffer.h"

namespace clipfile {

namespace {

constexpr std::size_t kHugePage = std::size_t{2} * 1024 * 1024;

// AddressSanitizer guards only the heap: its builds keep every buffer there.
constexpr std::size_t kMappedMin = kHeapOnly ? SIZE_MAX : 2 * kHugePage;

// A large buffer is filled right after it is allocated, and taking its memory
// in 4 KiB faults costs as much as a copy of the whole file. Mapped on a 2 MiB
// boundary with huge pages advised, it takes one fault per 2 MiB where the
// system allows them; fresh mappings also arrive zero-filled.
unsigned char* MapLarge(std::size_t bytes, std::size_t& mappedBytes) {
    if (bytes > SIZE_MAX - 2 * kHugePage) {
        return nullptr;
    }
    const std::size_t length = (bytes + kHugePage - 1) / kHugePage * kHugePage;
    const std::size_t reserved = length + kHugePage;
    void* mapping =
        mmap(nullptr, reserved, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (mapping == MAP_FAILED) {
        return nullptr;
    }
    const auto at = reinterpret_cast<std::uintptr_t>(mapping);
    const std::uintptr_t aligned = (at + kHugePage - 1) / kHugePage * kHugePage;
    const std::size_t head = aligned - at;
    if (head > 0) {
        munmap(mapping, head);
    }
    if (reserved - head > length) {
        munmap(reinterpret_cast<void*>(aligned + length), reserved - head - length);
    }
    auto* bytesAt = reinterpret_cast<unsigned char*>(aligned);
    // Advice only: systems without huge pages refuse it and serve 4 KiB pages.
    AdviseMemory(bytesAt, length, kAdviseHugePage);
    mappedBytes = length;
    return bytesAt;
}

}  // namespace

void HeapBufferRelease::operator()(unsigned char* bytes) const noexcept {
    if (mappedBytes != 0) {
        munmap(bytes, mappedBytes);
    } else {
        std::free(bytes);
    }
}

HeapBuffer AllocateHeapBuffer(std::size_t bytes, bool zeroFilled) {
    if (bytes >= kMappedMin) {
        std::size_t mappedBytes = 0;
        unsigned char* mapped = MapLarge(bytes, mappedBytes);
        return mapped != nullptr ? HeapBuffer(mapped, HeapBufferRelease{mappedBytes})
                                 : HeapBuffer();
    }
    const std::size_t size = bytes == 0 ? 1 : bytes;
    void* data = zeroFilled ? std::calloc(size, 1) : std::malloc(size);
    return HeapBuffer(static_cast<unsigned char*>(data));
}

bool ResizeHeapBuffer(HeapBuffer& buffer, std::size_t oldBytes, std::size_t newBytes) {
    const std::size_t mapped = buffer.get_deleter().mappedBytes;
    if (mapped != 0 && newBytes >= kMappedMin && newBytes <= SIZE_MAX - kHugePage) {
        const std::size_t length = (newBytes + kHugePage - 1) / kHugePage * kHugePage;
        if (length == mapped) {
            return true;
        }
        if (void* moved = RemapMemory(buffer.get(), mapped, length)) {
            static_cast<void>(buffer.release());
            buffer = HeapBuffer(static_cast<unsigned char*>(moved), HeapBufferRelease{length});
            return true;
        }
    } else if (mapped == 0 && newBytes < kMappedMin) {
        void* resized = std::realloc(buffer.get(), newBytes == 0 ? 1 : newBytes);
        if (resized == nullptr) {
            return false;
        }
        static_cast<void>(buffer.release());
        buffer.reset(static_cast<unsigned char*>(resized));
        return true;
    }
    // Between the heap and a mapping, or where mappings cannot move: a copy.
    HeapBuffer resized = AllocateHeapBuffer(newBytes);
    if (!resized) {
        return false;
    }
    std::memcpy(resized.get(), buffer.get(), std::min(oldBytes, newBytes));
    buffer = std::move(resized);
    return true;
}

}  // namespace clipfile
