#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <new>

#include "platform/types.h"

// On-disk pieces of the portable clipboard: the private folder, its locks, the
// contents file and the table of registered formats. Every function works on
// descriptors relative to the folder's descriptor, never on paths inside it.
namespace clipfile::portable {

// <location>/contents, little-endian:
//   0   8 bytes  magic "CLIPFILE"
//   8   u32      version (1)
//   12  u32      number of formats
//   16  u64      offset of the table
//   24  ...      data blocks
//   table        per format, in the order placed: u32 id, u64 offset, u64 size
// The table ends exactly at the end of the file and every block lies between
// the header and the table, so a truncated file never passes as valid.
inline constexpr std::uint32_t kContentsVersion = 1;
inline constexpr std::uint64_t kContentsHeaderSize = 24;
inline constexpr std::uint64_t kContentsEntrySize = 20;

// <location>/formats, little-endian:
//   0   8 bytes  magic "CLIPFMTS"
//   8   u32      version (1)
//   12  u32      number of names
//   16  ...      per name, in the order registered: u16 id, u8 length, bytes
// The n-th name has id 0xC000 + n, and the file ends after the last name.
inline constexpr std::uint32_t kFormatsVersion = 1;
inline constexpr FormatId kFirstRegisteredFormat = 0xC000;
inline constexpr FormatId kLastFormat = 0xFFFF;
inline constexpr std::size_t kMaxFormatName = 255;

inline constexpr const char kContentsFile[] = "contents";
inline constexpr const char kContentsTempPrefix[] = "contents.tmp.";

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

struct ContentsEntry {
    FormatId id = 0;
    std::uint64_t offset = 0;
    std::uint64_t size = 0;
};
using EntryList = Array<ContentsEntry>;

// Index of the format in the list, or -1.
int FindEntry(const EntryList& entries, FormatId id);

// Exactly count bytes at offset; false on error or a short file.
bool ReadAt(int fd, void* buffer, std::size_t count, std::uint64_t offset);
bool WriteAt(int fd, const void* data, std::size_t count, std::uint64_t offset);
// Sequential transfers through the file position. got/written hold the bytes
// moved even when the call fails.
bool ReadSequential(int fd, void* buffer, std::size_t count, std::size_t& got);
bool WriteSequential(int fd, const void* data, std::size_t count, std::size_t& written);

// Opens the clipboard folder, creating it if missing, and returns its
// descriptor, or -1 when it is not a private directory of this user.
int OpenLocation(const char* path);

// Exclusive lock on <location>/lock, retried for about a second.
// Closing the returned descriptor releases it.
int TakeClipboardLock(int dirFd);

// Removes every file in the folder whose name starts with prefix.
void RemoveFilesWithPrefix(int dirFd, const char* prefix);

// The contents file as a regular file, or -1.
int OpenContents(int dirFd);
// Validates the header and table of an open contents file; false when it is
// damaged, of another version or unreadable.
bool ReadContentsTable(int fd, EntryList& entries);
bool WriteContentsHeader(int fd, std::uint32_t count, std::uint64_t tableOffset);
bool WriteContentsTable(int fd, std::uint64_t tableOffset, const EntryList& entries);
bool CopyRange(int from, std::uint64_t fromOffset, int to, std::uint64_t toOffset,
               std::uint64_t size);

// Registered formats, shared by all processes of the user. 0 on failure.
FormatId RegisterFormat(int dirFd, const char* name);
// Copies the registered name, truncated to bufferSize - 1, and returns its
// length; 0 when the id is not registered.
int GetFormatName(int dirFd, FormatId id, char* buffer, int bufferSize);

}  // namespace clipfile::portable
