#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/types.h"
#include "posix/portable_store.h"

namespace clipfile::portable {

// <location>/formats, little-endian:
//   0   8 bytes  magic "CLIPFMTS"
//   8   u32      version (1)
//   12  u32      number of names
//   16  ...      per name, in the order registered: u16 id, u8 length, bytes
// The n-th name has id 0xC000 + n, and the file ends after the last name.
inline constexpr std::uint32_t kFormatsVersion = 1;
inline constexpr FormatId kFirstRegisteredFormat = 0xC000;
inline constexpr std::size_t kMaxFormatName = 255;

// Registered formats, shared by all processes of the user. 0 on failure.
FormatId RegisterFormat(int dirFd, const char* name);
// Copies the registered name, truncated to bufferSize - 1, and returns its
// length; 0 when the id is not registered.
int GetFormatName(int dirFd, FormatId id, char* buffer, int bufferSize);

}  // namespace clipfile::portable
