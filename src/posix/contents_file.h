#pragma once

#include <cstdint>

#include "platform/types.h"
#include "posix/portable_store.h"
#include "posix/unique_fd.h"

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

inline constexpr const char kContentsFile[] = "contents";
inline constexpr const char kContentsTempPrefix[] = "contents.tmp.";

struct ContentsEntry {
    FormatId id = 0;
    std::uint64_t offset = 0;
    std::uint64_t size = 0;
};
using EntryList = Array<ContentsEntry>;

// Index of the format in the list, or -1.
int FindEntry(const EntryList& entries, FormatId id);

// The contents file as a regular file, or no descriptor.
UniqueFd OpenContents(int dirFd);
// Validates the header and table of an open contents file; false when it is
// damaged, of another version or unreadable.
bool ReadContentsTable(int fd, EntryList& entries);
bool WriteContentsHeader(int fd, std::uint32_t count, std::uint64_t tableOffset);
bool WriteContentsTable(int fd, std::uint64_t tableOffset, const EntryList& entries);

}  // namespace clipfile::portable
