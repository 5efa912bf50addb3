#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/files.h"

namespace clipfile {

// The user's files through POSIX descriptors; a handle is the descriptor + 1.
class PosixFiles final : public Files {
public:
    FileHandle OpenFileForReading(const char* path) override;
    bool GetFileLength(FileHandle file, std::uint64_t& length) override;
    bool ReadFile(FileHandle file, void* buffer, std::size_t count, std::size_t& got) override;
    FileHandle CreateFileForWriting(const char* path) override;
    bool WriteFile(FileHandle file, const void* data, std::size_t count,
                   std::size_t& written) override;
    bool CloseFile(FileHandle file) override;

    // The descriptor of a handle this role gave out, or -1.
    static int Descriptor(FileHandle file);
};

}  // namespace clipfile
