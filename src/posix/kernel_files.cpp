#include "posix/kernel_files.h"

#include <fcntl.h>
#include <sys/sendfile.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <memory>
#include <new>

#include "posix/posix_io.h"

namespace clipfile::portable {

namespace {

constexpr std::uint64_t kMaxChunk = std::uint64_t{1} << 30;
constexpr std::size_t kCopyBuffer = std::size_t{1} << 20;

// The errors of a call that this pair of files, or this kernel, does not
// support; the next way of copying is tried instead.
bool IsUnsupported(int error) {
    return error == ENOSYS || error == EXDEV || error == EINVAL || error == EOPNOTSUPP ||
           error == EBADF || error == ETXTBSY;
}

// One step through a buffer: read at the offset or position, then write all.
ssize_t CopyThroughBuffer(int from, const std::uint64_t* fromOffset, int to,
                          const std::uint64_t* toOffset, std::size_t chunk,
                          std::unique_ptr<unsigned char[]>& buffer) {
    if (!buffer) {
        buffer.reset(new (std::nothrow) unsigned char[kCopyBuffer]);
        if (!buffer) {
            return -1;
        }
    }
    const std::size_t want = chunk < kCopyBuffer ? chunk : kCopyBuffer;
    ssize_t got = 0;
    do {
        got = fromOffset != nullptr
                  ? pread(from, buffer.get(), want, static_cast<off_t>(*fromOffset))
                  : read(from, buffer.get(), want);
    } while (got < 0 && errno == EINTR);
    if (got <= 0) {
        return got;
    }
    const auto size = static_cast<std::size_t>(got);
    std::size_t written = 0;
    const bool wrote = toOffset != nullptr ? WriteAt(to, buffer.get(), size, *toOffset)
                                           : WriteSequential(to, buffer.get(), size, written);
    return wrote ? got : -1;
}

}  // namespace

int OpenUnnamedFile(int dirFd) {
#ifdef O_TMPFILE
    return openat(dirFd, ".", O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
#else
    (void)dirFd;
    return -1;
#endif
}

// Linking a descriptor by its /proc entry needs no privilege, unlike
// AT_EMPTY_PATH.
bool LinkUnnamedFile(int fd, int dirFd, const char* name) {
    char path[64];
    std::snprintf(path, sizeof path, "/proc/self/fd/%d", fd);
    return linkat(AT_FDCWD, path, dirFd, name, AT_SYMLINK_FOLLOW) == 0;
}

// The room past the end costs nothing if refused: ext4 then gives the bytes
// written there delayed allocation, and renaming a file that has any over
// another flushes all of it first.
bool ReserveFileSpace(int fd, std::uint64_t size, std::uint64_t roomAfter) {
    if (size > static_cast<std::uint64_t>(INT64_MAX) - roomAfter) {
        return false;
    }
    int result = 0;
    do {
        result = fallocate(fd, 0, 0, static_cast<off_t>(size));
    } while (result != 0 && errno == EINTR);
    if (result == 0 && roomAfter > 0) {
        fallocate(fd, FALLOC_FL_KEEP_SIZE, static_cast<off_t>(size), static_cast<off_t>(roomAfter));
    }
    return result == 0;
}

bool CopyBetween(int from, std::uint64_t* fromOffset, int to, std::uint64_t* toOffset,
                 std::uint64_t count, std::uint64_t& moved) {
    moved = 0;
    bool kernelCopy = true;
    // sendfile writes only at the output's position.
    bool sendFile = toOffset == nullptr;
    std::unique_ptr<unsigned char[]> buffer;
    while (moved < count) {
        const std::uint64_t left = count - moved;
        const auto chunk = static_cast<std::size_t>(left < kMaxChunk ? left : kMaxChunk);
        ssize_t n = 0;
        if (kernelCopy) {
            loff_t in = fromOffset != nullptr ? static_cast<loff_t>(*fromOffset) : 0;
            loff_t out = toOffset != nullptr ? static_cast<loff_t>(*toOffset) : 0;
            n = copy_file_range(from, fromOffset != nullptr ? &in : nullptr, to,
                                toOffset != nullptr ? &out : nullptr, chunk, 0);
            if (n < 0 && IsUnsupported(errno)) {
                kernelCopy = false;
                continue;
            }
        } else if (sendFile) {
            off_t in = fromOffset != nullptr ? static_cast<off_t>(*fromOffset) : 0;
            n = sendfile(to, from, fromOffset != nullptr ? &in : nullptr, chunk);
            if (n < 0 && IsUnsupported(errno)) {
                sendFile = false;
                continue;
            }
        } else {
            n = CopyThroughBuffer(from, fromOffset, to, toOffset, chunk, buffer);
        }
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0) {
            return false;
        }
        if (n == 0) {
            break;
        }
        const auto step = static_cast<std::uint64_t>(n);
        moved += step;
        if (fromOffset != nullptr) {
            *fromOffset += step;
        }
        if (toOffset != nullptr) {
            *toOffset += step;
        }
    }
    return true;
}

}  // namespace clipfile::portable
