#include "posix/format_registry.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>

#include "posix/posix_io.h"
#include "posix/store_location.h"
#include "posix/unique_fd.h"
#include "util/byte_order.h"

namespace clipfile::portable {

namespace {

constexpr unsigned char kFormatsMagic[8] = {'C', 'L', 'I', 'P', 'F', 'M', 'T', 'S'};
constexpr std::uint64_t kFormatsHeaderSize = 16;
constexpr std::uint32_t kMaxRegistered = kLastFormat - kFirstRegisteredFormat + 1;
constexpr std::uint64_t kMaxFormatsFileSize =
    kFormatsHeaderSize + std::uint64_t{kMaxRegistered} * (3 + kMaxFormatName);

char FoldAscii(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

bool SameName(const char* a, std::size_t aLength, const char* b, std::size_t bLength) {
    if (aLength != bLength) {
        return false;
    }
    for (std::size_t i = 0; i < aLength; ++i) {
        if (FoldAscii(a[i]) != FoldAscii(b[i])) {
            return false;
        }
    }
    return true;
}

// The registered names as stored on disk, validated once when loaded.
struct FormatTable {
    std::unique_ptr<unsigned char[]> bytes;
    std::size_t size = 0;
    std::uint32_t count = 0;
};

struct FormatRecord {
    FormatId id = 0;
    const char* name = nullptr;
    std::size_t length = 0;
};

// Walks a validated table; false after the last record.
bool NextRecord(const FormatTable& table, std::size_t& position, FormatRecord& record) {
    if (position + 3 > table.size) {
        return false;
    }
    const unsigned char* at = table.bytes.get() + position;
    record.id = static_cast<FormatId>(ReadLe16(at));
    record.length = at[2];
    record.name = reinterpret_cast<const char*>(at + 3);
    position += 3 + record.length;
    return true;
}

bool ValidateFormatTable(const FormatTable& table) {
    const unsigned char* bytes = table.bytes.get();
    if (table.size < kFormatsHeaderSize || std::memcmp(bytes, kFormatsMagic, 8) != 0 ||
        ReadLe32(bytes + 8) != kFormatsVersion) {
        return false;
    }
    const std::uint32_t count = ReadLe32(bytes + 12);
    if (count > kMaxRegistered) {
        return false;
    }
    std::size_t position = kFormatsHeaderSize;
    for (std::uint32_t i = 0; i < count; ++i) {
        if (table.size - position < 3) {
            return false;
        }
        const std::size_t length = bytes[position + 2];
        if (ReadLe16(bytes + position) != kFirstRegisteredFormat + i || length == 0 ||
            table.size - position - 3 < length ||
            std::memchr(bytes + position + 3, '\0', length) != nullptr) {
            return false;
        }
        position += 3 + length;
    }
    return position == table.size;
}

// A missing file is an empty table; a damaged or unreadable one fails.
bool LoadFormatTable(int dirFd, FormatTable& table) {
    table = FormatTable{};
    UniqueFd fd(openat(dirFd, "formats", O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    if (!fd) {
        return errno == ENOENT;
    }
    struct stat info {};
    bool ok = fstat(fd.get(), &info) == 0 && S_ISREG(info.st_mode) && info.st_size >= 0 &&
              static_cast<std::uint64_t>(info.st_size) <= kMaxFormatsFileSize;
    if (ok) {
        table.size = static_cast<std::size_t>(info.st_size);
        table.bytes.reset(new (std::nothrow) unsigned char[table.size == 0 ? 1 : table.size]);
        ok = table.bytes != nullptr && ReadAt(fd.get(), table.bytes.get(), table.size, 0) &&
             ValidateFormatTable(table);
    }
    if (!ok) {
        table = FormatTable{};
        return false;
    }
    table.count = ReadLe32(table.bytes.get() + 12);
    return true;
}

FormatId FindFormatByName(const FormatTable& table, const char* name, std::size_t length) {
    std::size_t position = kFormatsHeaderSize;
    FormatRecord record;
    while (table.bytes && NextRecord(table, position, record)) {
        if (SameName(record.name, record.length, name, length)) {
            return record.id;
        }
    }
    return 0;
}

// Writes the loaded table plus one new name to a temporary file and renames
// it over the table. The caller holds formats.lock.
bool AppendFormat(int dirFd, const FormatTable& table, const char* name, std::size_t length) {
    char tempName[64];
    std::snprintf(tempName, sizeof tempName, "formats.tmp.%ld", static_cast<long>(getpid()));
    UniqueFd fd(
        openat(dirFd, tempName, O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0600));
    if (!fd) {
        return false;
    }
    unsigned char header[kFormatsHeaderSize];
    std::memcpy(header, kFormatsMagic, 8);
    WriteLe32(header + 8, static_cast<std::uint32_t>(kFormatsVersion));
    WriteLe32(header + 12, static_cast<std::uint32_t>(table.count + 1));
    unsigned char record[3 + kMaxFormatName];
    WriteLe16(record, static_cast<std::uint16_t>(kFirstRegisteredFormat + table.count));
    record[2] = static_cast<unsigned char>(length);
    std::memcpy(record + 3, name, length);

    const std::size_t oldRecords =
        table.bytes ? static_cast<std::size_t>(table.size - kFormatsHeaderSize) : 0;
    bool ok = WriteAt(fd.get(), header, sizeof header, 0) &&
              (oldRecords == 0 || WriteAt(fd.get(), table.bytes.get() + kFormatsHeaderSize,
                                          oldRecords, kFormatsHeaderSize)) &&
              WriteAt(fd.get(), record, 3 + length, kFormatsHeaderSize + oldRecords);
    ok = fd.Close() && ok;
    ok = ok && renameat(dirFd, tempName, dirFd, "formats") == 0;
    if (!ok) {
        unlinkat(dirFd, tempName, 0);
    }
    return ok;
}

}  // namespace

FormatId RegisterFormat(int dirFd, const char* name) {
    const std::size_t length = name != nullptr ? strnlen(name, kMaxFormatName + 1) : 0;
    if (length == 0 || length > kMaxFormatName) {
        return 0;
    }
    FormatTable table;
    if (!LoadFormatTable(dirFd, table)) {
        return 0;
    }
    if (const FormatId known = FindFormatByName(table, name, length); known != 0) {
        return known;
    }

    const UniqueFd lockFd(
        openat(dirFd, "formats.lock", O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600));
    if (!lockFd) {
        return 0;
    }
    // Holders only rewrite a small table, so waiting without a bound is safe.
    int locked = flock(lockFd.get(), LOCK_EX);
    while (locked != 0 && errno == EINTR) {
        locked = flock(lockFd.get(), LOCK_EX);
    }
    FormatId id = 0;
    // Another process may have registered the name since the first look.
    if (locked == 0 && LoadFormatTable(dirFd, table)) {
        id = FindFormatByName(table, name, length);
        if (id == 0 && table.count < kMaxRegistered) {
            RemoveFilesWithPrefix(dirFd, "formats.tmp.");
            if (AppendFormat(dirFd, table, name, length)) {
                id = kFirstRegisteredFormat + table.count;
            }
        }
    }
    return id;
}

int GetFormatName(int dirFd, FormatId id, char* buffer, int bufferSize) {
    if (id < kFirstRegisteredFormat || id > kLastFormat || buffer == nullptr || bufferSize <= 0) {
        return 0;
    }
    FormatTable table;
    if (!LoadFormatTable(dirFd, table)) {
        return 0;
    }
    std::size_t position = kFormatsHeaderSize;
    FormatRecord record;
    while (table.bytes && NextRecord(table, position, record)) {
        if (record.id == id) {
            const std::size_t limit = static_cast<std::size_t>(bufferSize) - 1;
            const std::size_t copied = record.length < limit ? record.length : limit;
            std::memcpy(buffer, record.name, copied);
            buffer[copied] = '\0';
            return static_cast<int>(copied);
        }
    }
    return 0;
}

}  // namespace clipfile::portable
