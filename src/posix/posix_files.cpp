#include "posix/posix_files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>

#include "posix/posix_io.h"
#include "posix/unique_fd.h"

namespace clipfile {

namespace {

int FdOf(FileHandle file) { return PosixFiles::Descriptor(file); }

FileHandle HandleOf(int fd) { return static_cast<FileHandle>(static_cast<std::uintptr_t>(fd) + 1); }

}  // namespace

int PosixFiles::Descriptor(FileHandle file) {
    const auto value = static_cast<std::uintptr_t>(file);
    return value == 0 || value - 1 > INT_MAX ? -1 : static_cast<int>(value - 1);
}

FileHandle PosixFiles::OpenFileForReading(const char* path) {
    if (path == nullptr) {
        return FileHandle::None;
    }
    // O_NONBLOCK lets a FIFO without a writer be refused instead of blocking
    // the open; regular files ignore it, and it is cleared for the reads.
    UniqueFd fd(open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC));
    if (!fd) {
        return FileHandle::None;
    }
    struct stat info {};
    const int flags = fcntl(fd.get(), F_GETFL);
    if (fstat(fd.get(), &info) != 0 || !S_ISREG(info.st_mode) || flags < 0 ||
        fcntl(fd.get(), F_SETFL, flags & ~O_NONBLOCK) != 0) {
        return FileHandle::None;
    }
    // The caller owns it from here until CloseFile.
    return HandleOf(fd.release());
}

bool PosixFiles::GetFileLength(FileHandle file, std::uint64_t& length) {
    struct stat info {};
    const int fd = FdOf(file);
    if (fd < 0 || fstat(fd, &info) != 0 || info.st_size < 0) {
        return false;
    }
    length = static_cast<std::uint64_t>(info.st_size);
    return true;
}

bool PosixFiles::ReadFile(FileHandle file, void* buffer, std::size_t count, std::size_t& got) {
    got = 0;
    const int fd = FdOf(file);
    return fd >= 0 && portable::ReadSequential(fd, buffer, count, got);
}

FileHandle PosixFiles::CreateFileForWriting(const char* path) {
    if (path == nullptr) {
        return FileHandle::None;
    }
    const int fd = open(path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    return fd < 0 ? FileHandle::None : HandleOf(fd);
}

bool PosixFiles::WriteFile(FileHandle file, const void* data, std::size_t count,
                           std::size_t& written) {
    written = 0;
    const int fd = FdOf(file);
    return fd >= 0 && portable::WriteSequential(fd, data, count, written);
}

bool PosixFiles::CloseFile(FileHandle file) {
    const int fd = FdOf(file);
    return fd >= 0 && UniqueFd(fd).Close();
}

}  // namespace clipfile
