#include <cstdlib>

#include "util/heap_buffer.h"

namespace clipfile {

void HeapBufferRelease::operator()(unsigned char* bytes) const noexcept { std::free(bytes); }

HeapBuffer AllocateHeapBuffer(std::size_t bytes, bool zeroFilled) {
    const std::size_t size = bytes == 0 ? 1 : bytes;
    void* data = zeroFilled ? std::calloc(size, 1) : std::malloc(size);
    return HeapBuffer(static_cast<unsigned char*>(data));
}

bool ResizeHeapBuffer(HeapBuffer& buffer, std::size_t /*oldBytes*/, std::size_t newBytes) {
    void* resized = std::realloc(buffer.get(), newBytes == 0 ? 1 : newBytes);
    if (resized == nullptr) {
        return false;
    }
    static_cast<void>(buffer.release());
    buffer.reset(static_cast<unsigned char*>(resized));
    return true;
}

}  // namespace clipfile
