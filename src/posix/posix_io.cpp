#include "posix/posix_io.h"

#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <memory>
#include <new>

namespace clipfile::portable {

// Offsets reach past 4 GiB: 32-bit builds need _FILE_OFFSET_BITS=64 (CMakeLists.txt).
static_assert(sizeof(off_t) == 8, "64-bit file offsets");

namespace {

// A single read() or write() moves at most about 2 GiB on Linux.
constexpr std::size_t kMaxTransfer = std::size_t{1} << 30;
constexpr std::size_t kCopyBuffer = std::size_t{1} << 20;

bool FitsAt(std::size_t count, std::uint64_t offset) {
    constexpr std::uint64_t kMaxOffset = INT64_MAX;
    return offset <= kMaxOffset && count <= kMaxOffset - offset;
}

}  // namespace

bool ReadAt(int fd, void* buffer, std::size_t count, std::uint64_t offset) {
    if (!FitsAt(count, offset)) {
        return false;
    }
    auto* at = static_cast<unsigned char*>(buffer);
    while (count > 0) {
        const ssize_t got =
            pread(fd, at, count < kMaxTransfer ? count : kMaxTransfer, static_cast<off_t>(offset));
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got <= 0) {
            return false;
        }
        at += got;
        count -= static_cast<std::size_t>(got);
        offset += static_cast<std::uint64_t>(got);
    }
    return true;
}

bool WriteAt(int fd, const void* data, std::size_t count, std::uint64_t offset) {
    if (!FitsAt(count, offset)) {
        return false;
    }
    const auto* at = static_cast<const unsigned char*>(data);
    while (count > 0) {
        const ssize_t put =
            pwrite(fd, at, count < kMaxTransfer ? count : kMaxTransfer, static_cast<off_t>(offset));
        if (put < 0 && errno == EINTR) {
            continue;
        }
        if (put <= 0) {
            return false;
        }
        at += put;
        count -= static_cast<std::size_t>(put);
        offset += static_cast<std::uint64_t>(put);
    }
    return true;
}

bool ReadSequential(int fd, void* buffer, std::size_t count, std::size_t& got) {
    got = 0;
    auto* at = static_cast<unsigned char*>(buffer);
    while (got < count) {
        const std::size_t left = count - got;
        const ssize_t n = read(fd, at + got, left < kMaxTransfer ? left : kMaxTransfer);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0) {
            return false;
        }
        if (n == 0) {
            break;
        }
        got += static_cast<std::size_t>(n);
    }
    return true;
}

bool WriteSequential(int fd, const void* data, std::size_t count, std::size_t& written) {
    written = 0;
    const auto* at = static_cast<const unsigned char*>(data);
    while (written < count) {
        const std::size_t left = count - written;
        const ssize_t n = write(fd, at + written, left < kMaxTransfer ? left : kMaxTransfer);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return false;
        }
        written += static_cast<std::size_t>(n);
    }
    return true;
}

bool CopyRange(int from, std::uint64_t fromOffset, int to, std::uint64_t toOffset,
               std::uint64_t size) {
    if (size == 0) {
        return true;
    }
    const std::size_t bufferSize =
        size < kCopyBuffer ? static_cast<std::size_t>(size) : kCopyBuffer;
    std::unique_ptr<unsigned char[]> buffer(new (std::nothrow) unsigned char[bufferSize]);
    if (!buffer) {
        return false;
    }
    while (size > 0) {
        const std::size_t chunk = size < bufferSize ? static_cast<std::size_t>(size) : bufferSize;
        if (!ReadAt(from, buffer.get(), chunk, fromOffset) ||
            !WriteAt(to, buffer.get(), chunk, toOffset)) {
            return false;
        }
        fromOffset += chunk;
        toOffset += chunk;
        size -= chunk;
    }
    return true;
}

}  // namespace clipfile::portable
