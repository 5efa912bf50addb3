#pragma once

#include <cstddef>
#include <memory>

namespace clipfile {

// Frees a heap buffer the way it was obtained: from the C runtime's heap, or,
// for a large one, straight from the system (then mappedBytes says how much).
struct HeapBufferRelease {
    std::size_t mappedBytes = 0;
    void operator()(unsigned char* bytes) const noexcept;
};

// Working memory from the process heap, owned.
using HeapBuffer = std::unique_ptr<unsigned char[], HeapBufferRelease>;

// A buffer of the given size, zero-filled on request; an empty owner when
// memory is short. A buffer of 0 bytes still has an address.
HeapBuffer AllocateHeapBuffer(std::size_t bytes, bool zeroFilled = false);

// Gives a buffer of oldBytes a new size, keeping the bytes both sizes hold;
// a large buffer moves without its bytes being copied where the system
// allows. False, with the buffer as it was, when memory is short.
bool ResizeHeapBuffer(HeapBuffer& buffer, std::size_t oldBytes, std::size_t newBytes);

}  // namespace clipfile
