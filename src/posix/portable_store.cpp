#include "posix/portable_store.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <thread>

namespace clipfile::portable {

// Offsets reach past 4 GiB: 32-bit builds need _FILE_OFFSET_BITS=64 (CMakeLists.txt).
static_assert(sizeof(off_t) == 8, "64-bit file offsets");

namespace {

constexpr unsigned char kContentsMagic[8] = {'C', 'L', 'I', 'P', 'F', 'I', 'L', 'E'};
constexpr unsigned char kFormatsMagic[8] = {'C', 'L', 'I', 'P', 'F', 'M', 'T', 'S'};
constexpr std::uint64_t kFormatsHeaderSize = 16;
constexpr std::uint32_t kMaxRegistered = kLastFormat - kFirstRegisteredFormat + 1;
constexpr std::uint64_t kMaxFormatsFileSize =
    kFormatsHeaderSize + std::uint64_t{kMaxRegistered} * (3 + kMaxFormatName);

// A single read() or write() moves at most about 2 GiB on Linux.
constexpr std::size_t kMaxTransfer = std::size_t{1} << 30;
constexpr std::size_t kCopyBuffer = std::size_t{1} << 20;

// Another command holds the lock for as long as it copies a file in or out;
// wait about a second, as the Windows build does for its clipboard.
constexpr std::chrono::milliseconds kLockWait{1000};
constexpr std::chrono::milliseconds kLockRetryPause{15};

void PutLE(unsigned char* out, std::uint64_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) {
        out[i] = static_cast<unsigned char>(value >> (8 * i));
    }
}

std::uint64_t GetLE(const unsigned char* in, int bytes) {
    std::uint64_t value = 0;
    for (int i = bytes - 1; i >= 0; --i) {
        value = (value << 8) | in[i];
    }
    return value;
}

std::uint32_t GetLE32(const unsigned char* in) { return static_cast<std::uint32_t>(GetLE(in, 4)); }

bool FitsAt(std::size_t count, std::uint64_t offset) {
    constexpr std::uint64_t kMaxOffset = INT64_MAX;
    return offset <= kMaxOffset && count <= kMaxOffset - offset;
}

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
    record.id = static_cast<FormatId>(GetLE(at, 2));
    record.length = at[2];
    record.name = reinterpret_cast<const char*>(at + 3);
    position += 3 + record.length;
    return true;
}

bool ValidateFormatTable(const FormatTable& table) {
    const unsigned char* bytes = table.bytes.get();
    if (table.size < kFormatsHeaderSize || std::memcmp(bytes, kFormatsMagic, 8) != 0 ||
        GetLE32(bytes + 8) != kFormatsVersion) {
        return false;
    }
    const std::uint32_t count = GetLE32(bytes + 12);
    if (count > kMaxRegistered) {
        return false;
    }
    std::size_t position = kFormatsHeaderSize;
    for (std::uint32_t i = 0; i < count; ++i) {
        if (table.size - position < 3) {
            return false;
        }
        const std::size_t length = bytes[position + 2];
        if (GetLE(bytes + position, 2) != kFirstRegisteredFormat + i || length == 0 ||
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
    const int fd = openat(dirFd, "formats", O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        return errno == ENOENT;
    }
    struct stat info {};
    bool ok = fstat(fd, &info) == 0 && S_ISREG(info.st_mode) && info.st_size >= 0 &&
              static_cast<std::uint64_t>(info.st_size) <= kMaxFormatsFileSize;
    if (ok) {
        table.size = static_cast<std::size_t>(info.st_size);
        table.bytes.reset(new (std::nothrow) unsigned char[table.size == 0 ? 1 : table.size]);
        ok = table.bytes != nullptr && ReadAt(fd, table.bytes.get(), table.size, 0) &&
             ValidateFormatTable(table);
    }
    close(fd);
    if (!ok) {
        table = FormatTable{};
        return false;
    }
    table.count = GetLE32(table.bytes.get() + 12);
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
    const int fd =
        openat(dirFd, tempName, O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0) {
        return false;
    }
    unsigned char header[kFormatsHeaderSize];
    std::memcpy(header, kFormatsMagic, 8);
    PutLE(header + 8, kFormatsVersion, 4);
    PutLE(header + 12, table.count + 1, 4);
    unsigned char record[3 + kMaxFormatName];
    PutLE(record, kFirstRegisteredFormat + table.count, 2);
    record[2] = static_cast<unsigned char>(length);
    std::memcpy(record + 3, name, length);

    const std::size_t oldRecords =
        table.bytes ? static_cast<std::size_t>(table.size - kFormatsHeaderSize) : 0;
    bool ok = WriteAt(fd, header, sizeof header, 0) &&
              (oldRecords == 0 || WriteAt(fd, table.bytes.get() + kFormatsHeaderSize, oldRecords,
                                          kFormatsHeaderSize)) &&
              WriteAt(fd, record, 3 + length, kFormatsHeaderSize + oldRecords);
    ok = close(fd) == 0 && ok;
    ok = ok && renameat(dirFd, tempName, dirFd, "formats") == 0;
    if (!ok) {
        unlinkat(dirFd, tempName, 0);
    }
    return ok;
}

}  // namespace

int FindEntry(const EntryList& entries, FormatId id) {
    for (std::uint32_t i = 0; i < entries.count; ++i) {
        if (entries.items[i].id == id) {
            return static_cast<int>(i);
        }
    }
    return -1;
}

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

int OpenLocation(const char* path) {
    if (path == nullptr || path[0] == '\0') {
        return -1;
    }
    if (mkdir(path, 0700) != 0 && errno != EEXIST) {
        return -1;
    }
    // O_NOFOLLOW refuses a symlink in the last component; the checks below run
    // on the opened directory itself, so it cannot be swapped afterwards.
    const int fd = open(path, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) {
        return -1;
    }
    struct stat info {};
    if (fstat(fd, &info) != 0 || !S_ISDIR(info.st_mode) || info.st_uid != geteuid() ||
        (info.st_mode & 077) != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

int TakeClipboardLock(int dirFd) {
    const int fd = openat(dirFd, "lock", O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0) {
        return -1;
    }
    const auto deadline = std::chrono::steady_clock::now() + kLockWait;
    while (true) {
        if (flock(fd, LOCK_EX | LOCK_NB) == 0) {
            return fd;
        }
        if ((errno != EWOULDBLOCK && errno != EINTR) ||
            std::chrono::steady_clock::now() >= deadline) {
            break;
        }
        std::this_thread::sleep_for(kLockRetryPause);
    }
    close(fd);
    return -1;
}

void RemoveFilesWithPrefix(int dirFd, const char* prefix) {
    // fdopendir takes over its descriptor, so it gets a duplicate.
    const int listFd = fcntl(dirFd, F_DUPFD_CLOEXEC, 0);
    if (listFd < 0) {
        return;
    }
    DIR* dir = fdopendir(listFd);
    if (dir == nullptr) {
        close(listFd);
        return;
    }
    rewinddir(dir);
    const std::size_t prefixLength = std::strlen(prefix);
    while (const dirent* entry = readdir(dir)) {
        if (std::strncmp(entry->d_name, prefix, prefixLength) == 0) {
            unlinkat(dirFd, entry->d_name, 0);
        }
    }
    closedir(dir);
}

int OpenContents(int dirFd) {
    // O_NONBLOCK keeps a FIFO planted under the name from stalling the open.
    const int fd = openat(dirFd, kContentsFile, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        return -1;
    }
    struct stat info {};
    if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        close(fd);
        return -1;
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
        std::memcmp(header, kContentsMagic, 8) != 0 || GetLE32(header + 8) != kContentsVersion) {
        return false;
    }
    const std::uint32_t count = GetLE32(header + 12);
    const std::uint64_t tableOffset = GetLE(header + 16, 8);
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
        const ContentsEntry entry{GetLE32(at), GetLE(at + 4, 8), GetLE(at + 12, 8)};
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
    PutLE(header + 8, kContentsVersion, 4);
    PutLE(header + 12, count, 4);
    PutLE(header + 16, tableOffset, 8);
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
        PutLE(at, entries.items[i].id, 4);
        PutLE(at + 4, entries.items[i].offset, 8);
        PutLE(at + 12, entries.items[i].size, 8);
    }
    return WriteAt(fd, table.get(), tableSize, tableOffset);
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

    const int lockFd =
        openat(dirFd, "formats.lock", O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (lockFd < 0) {
        return 0;
    }
    // Holders only rewrite a small table, so waiting without a bound is safe.
    int locked = flock(lockFd, LOCK_EX);
    while (locked != 0 && errno == EINTR) {
        locked = flock(lockFd, LOCK_EX);
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
    close(lockFd);
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
