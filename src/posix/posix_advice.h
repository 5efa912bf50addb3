#pragma once

#include <sys/mman.h>

#include <cstddef>

namespace clipfile {

// Memory advice that not every system has: MADV_POPULATE_READ and _WRITE came
// with Linux 5.14 and its C library headers, MADV_HUGEPAGE is Linux's own.
// Advice never changes a result, so where the headers lack one it is not given.
#ifdef MADV_POPULATE_READ
inline constexpr int kAdvisePopulateRead = MADV_POPULATE_READ;
#else
inline constexpr int kAdvisePopulateRead = -1;
#endif
#ifdef MADV_POPULATE_WRITE
inline constexpr int kAdvisePopulateWrite = MADV_POPULATE_WRITE;
#else
inline constexpr int kAdvisePopulateWrite = -1;
#endif
#ifdef MADV_HUGEPAGE
inline constexpr int kAdviseHugePage = MADV_HUGEPAGE;
#else
inline constexpr int kAdviseHugePage = -1;
#endif

#if defined(__has_feature)
#define CLIPFILE_HAS_FEATURE(feature) __has_feature(feature)
#else
#define CLIPFILE_HAS_FEATURE(feature) 0
#endif

// AddressSanitizer guards the heap and caps its allocations, which is how the
// tests meet exhausted memory under it: its builds keep large buffers and
// blocks on the heap rather than in mappings of their own.
#if defined(__SANITIZE_ADDRESS__) || CLIPFILE_HAS_FEATURE(address_sanitizer)
inline constexpr bool kHeapOnly = true;
#else
inline constexpr bool kHeapOnly = false;
#endif

// Grows or shrinks a mapping, moving its pages rather than copying them where
// the system can (Linux's mremap); null where it cannot, and the caller copies.
inline void* RemapMemory(void* start, std::size_t bytes, std::size_t newBytes) {
#ifdef MREMAP_MAYMOVE
    void* moved = mremap(start, bytes, newBytes, MREMAP_MAYMOVE);
    return moved == MAP_FAILED ? nullptr : moved;
#else
    (void)start;
    (void)bytes;
    (void)newBytes;
    return nullptr;
#endif
}

// Gives the advice where the system has it; the kernel may refuse it anyway.
inline void AdviseMemory(void* start, std::size_t bytes, int advice) {
    if (advice >= 0) {
        madvise(start, bytes, advice);
    }
}

}  // namespace clipfile
