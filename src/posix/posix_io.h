#pragma once

#include <cstddef>
#include <cstdint>

// Whole transfers on borrowed descriptors, retried after EINTR and split into
// pieces a single system call can move.
namespace clipfile::portable {

// Exactly count bytes at offset; false on error or a short file.
bool ReadAt(int fd, void* buffer, std::size_t count, std::uint64_t offset);
bool WriteAt(int fd, const void* data, std::size_t count, std::uint64_t offset);
// Sequential transfers through the file position. got/written hold the bytes
// moved even when the call fails.
bool ReadSequential(int fd, void* buffer, std::size_t count, std::size_t& got);
bool WriteSequential(int fd, const void* data, std::size_t count, std::size_t& written);
bool CopyRange(int from, std::uint64_t fromOffset, int to, std::uint64_t toOffset,
               std::uint64_t size);

}  // namespace clipfile::portable
