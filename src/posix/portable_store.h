#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <new>

#include "platform/types.h"

// Pieces shared by the portable clipboard's on-disk parts (store_location,
// contents_file, format_registry, pending_contents) and its memory: the
// highest format id, the little-endian fields of its files and a growable
// array. Every function of those parts works on descriptors relative to the
// folder's descriptor, never on paths inside it.
namespace clipfile::portable {

inline constexpr FormatId kLastFormat = 0xFFFF;

// A growable array that reports allocation failure instead of throwing.
template <typename T>
struct Array {
    std::unique_ptr<T[]> items;
    std::uint32_t count = 0;
    std::uint32_t capacity = 0;
};

template <typename T>
bool Reserve(Array<T>& array, std::uint32_t wanted) {
    if (wanted <= array.capacity) {
        return true;
    }
    std::uint32_t capacity = array.capacity < 8 ? 8 : array.capacity;
    while (capacity < wanted) {
        capacity = capacity > UINT32_MAX / 2 ? wanted : capacity * 2;
    }
    std::unique_ptr<T[]> grown(new (std::nothrow) T[capacity]);
    if (!grown) {
        return false;
    }
    std::copy(array.items.get(), array.items.get() + array.count, grown.get());
    array.items = std::move(grown);
    array.capacity = capacity;
    return true;
}

template <typename T>
bool Push(Array<T>& array, const T& item) {
    if (!Reserve(array, array.count + 1)) {
        return false;
    }
    array.items[array.count++] = item;
    return true;
}

}  // namespace clipfile::portable
