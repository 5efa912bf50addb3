#include <cstdlib>

#include "util/heap_buffer.h"

namespace clipfile {

void HeapBufferRelease::operator()(unsigned char* bytes) const noexcept { std::free(bytes); }

HeapBuffer AllocateHeapBuffer(std::size_t bytes, bool zeroFilled) {
    const std::size_t size = bytes == 0 ? 1 : bytes;
    void* data = zeroFilled ? std::calloc(size, 1) : std::malloc(size);
    return HeapBuffer(static_cast<unsigned char*>(data));
}

}  // namespace clipfile
