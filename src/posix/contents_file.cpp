#include "posix/contents_file.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <cstring>
#include <memory>
#include <new>

#include "posix/posix_io.h"
#include "util/byte_order.h"

namespace clipfile::portable {

namespace {

constexpr unsigned char kContentsMagic[8] = {'C', 'L', 'I', 'P', 'F', 'I', 'L', 'E'};

}  // namespace

int FindEntry(const EntryList& entries, FormatId id) {
    for (std::uint32_t i = 0; i < entries.count; ++i) {
        if (entries.items[i].id == id) {
            return static_cast<int>(i);
        }
    }
    return -1;
}

UniqueFd OpenContents(int dirFd) {
    // O_NONBLOCK keeps a FIFO planted under the name from stalling the open.
    UniqueFd fd(openat(dirFd, kContentsFile, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    if (!fd) {
        return {};
    }
    struct stat info {};
    if (fstat(fd.get(), &info) != 0 || !S_ISREG(info.st_mode)) {
        return {};
    }
    return fd;
}

bool ReadContentsTable(int fd, EntryList& entries) {
    entries.count = 0;
    struct stat info {};
    if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode) || info.st_size < 0) {
        return false;
    }
    const auto fileSize = static_cast<std::uint64_t>(info.st_size);
    unsigned char header[kContentsHeaderSize];
    if (fileSize < kContentsHeaderSize || !ReadAt(fd, header, sizeof header, 0) ||
        std::memcmp(header, kContentsMagic, 8) != 0 || ReadLe32(header + 8) != kContentsVersion) {
        return false;
    }
    const std::uint32_t count = ReadLe32(header + 12);
    const std::uint64_t tableOffset = ReadLe64(header + 16);
    if (count > kLastFormat || tableOffset < kContentsHeaderSize || tableOffset > fileSize ||
        fileSize - tableOffset != count * kContentsEntrySize) {
        return false;
    }
    const std::size_t tableSize = static_cast<std::size_t>(count * kContentsEntrySize);
    std::unique_ptr<unsigned char[]> table(new (std::nothrow) unsigned char[tableSize + 1]);
    if (!table || !ReadAt(fd, table.get(), tableSize, tableOffset) || !Reserve(entries, count)) {
        return false;
    }
    std::uint64_t seen[(kLastFormat + 1) / 64] = {};
    for (std::uint32_t i = 0; i < count; ++i) {
        const unsigned char* at = table.get() + i * kContentsEntrySize;
        const ContentsEntry entry{ReadLe32(at), ReadLe64(at + 4), ReadLe64(at + 12)};
        if (entry.id == 0 || entry.id > kLastFormat ||
            (seen[entry.id / 64] >> (entry.id % 64)) & 1 || entry.offset < kContentsHeaderSize ||
            entry.offset > tableOffset || entry.size > tableOffset - entry.offset) {
            return false;
        }
        seen[entry.id / 64] |= std::uint64_t{1} << (entry.id % 64);
        entries.items[i] = entry;
    }
    entries.count = count;
    return true;
}

bool WriteContentsHeader(int fd, std::uint32_t count, std::uint64_t tableOffset) {
    unsigned char header[kContentsHeaderSize];
    std::memcpy(header, kContentsMagic, 8);
    WriteLe32(header + 8, static_cast<std::uint32_t>(kContentsVersion));
    WriteLe32(header + 12, count);
    WriteLe64(header + 16, tableOffset);
    return WriteAt(fd, header, sizeof header, 0);
}

bool WriteContentsTable(int fd, std::uint64_t tableOffset, const EntryList& entries) {
    const std::size_t tableSize = entries.count * kContentsEntrySize;
    std::unique_ptr<unsigned char[]> table(new (std::nothrow) unsigned char[tableSize + 1]);
    if (!table) {
        return false;
    }
    for (std::uint32_t i = 0; i < entries.count; ++i) {
        unsigned char* at = table.get() + i * kContentsEntrySize;
        WriteLe32(at, static_cast<std::uint32_t>(entries.items[i].id));
        WriteLe64(at + 4, entries.items[i].offset);
        WriteLe64(at + 12, entries.items[i].size);
    }
    return WriteAt(fd, table.get(), tableSize, tableOffset);
}

}  // namespace clipfile::portable
