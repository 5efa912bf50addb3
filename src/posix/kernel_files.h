#pragma once

#include <cstdint>

// File operations that move bytes or names inside the kernel, each with a
// result the callers can fall back from where the system lacks it.
namespace clipfile::portable {

// A new file without a name in the folder, open for reading and writing; -1
// when the system or the file system cannot make one.
int OpenUnnamedFile(int dirFd);
// Gives the file its first name in the folder; false when it cannot.
bool LinkUnnamedFile(int fd, int dirFd, const char* name);
// Allocates the file's first size bytes, so that writing them through a
// mapping cannot meet a full disk, and asks for roomAfter bytes more past its
// end without growing it; false when the first size bytes cannot be had.
bool ReserveFileSpace(int fd, std::uint64_t size, std::uint64_t roomAfter);

// Moves up to count bytes from one descriptor to another, through the kernel
// where it can (copy_file_range, then sendfile), else through a buffer. A null
// offset stands for the descriptor's position, which then advances. moved
// holds the bytes moved, short only at the end of the input; false on error.
bool CopyBetween(int from, std::uint64_t* fromOffset, int to, std::uint64_t* toOffset,
                 std::uint64_t count, std::uint64_t& moved);

}  // namespace clipfile::portable
