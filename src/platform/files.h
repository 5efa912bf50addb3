#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/types.h"

namespace clipfile {

// The user's files, always binary.
class Files {
public:
    virtual ~Files() = default;

    // Opens an existing regular file without blocking; anything else
    // (directory, FIFO, device) fails.
    virtual FileHandle OpenFileForReading(const char* path) = 0;
    virtual bool GetFileLength(FileHandle file, std::uint64_t& length) = 0;
    // Reads until count bytes, end of file or an error; false on error.
    virtual bool ReadFile(FileHandle file, void* buffer, std::size_t count, std::size_t& got) = 0;
    // Creates the file or truncates an existing one.
    virtual FileHandle CreateFileForWriting(const char* path) = 0;
    // Writes until count bytes or an error; false on error.
    virtual bool WriteFile(FileHandle file, const void* data, std::size_t count,
                           std::size_t& written) = 0;
    // False when buffered data could not be stored.
    virtual bool CloseFile(FileHandle file) = 0;
};

}  // namespace clipfile
