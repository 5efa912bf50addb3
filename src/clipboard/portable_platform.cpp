#include "clipboard/portable_platform.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <span>

#include "clipboard/system_platform.h"

namespace clipfile {

namespace {

using portable::kContentsHeaderSize;

int FdOf(FileHandle file) {
    const auto value = static_cast<std::uintptr_t>(file);
    return value == 0 || value - 1 > INT_MAX ? -1 : static_cast<int>(value - 1);
}

FileHandle HandleOf(int fd) { return static_cast<FileHandle>(static_cast<std::uintptr_t>(fd) + 1); }

constexpr std::size_t kBitmapBlobHeader = 8;
constexpr std::size_t kAlignedBodyMin = std::size_t{64} * 1024;
constexpr std::uint64_t kMappedBlockMin = std::uint64_t{64} * 1024;
constexpr std::size_t kPrefaultMin = std::size_t{64} * 1024;

std::uint64_t PageSize() {
    static const long size = sysconf(_SC_PAGESIZE);
    return size > 0 ? static_cast<std::uint64_t>(size) : 4096;
}

// Fresh memory about to be filled whole: its pages are cheaper taken in one
// call than in a fault each. Older kernels refuse it and fault them in.
void PrefaultForWriting(void* data, std::size_t bytes) {
    if (bytes < kPrefaultMin) {
        return;
    }
    const auto at = reinterpret_cast<std::uintptr_t>(data);
    const auto page = static_cast<std::uintptr_t>(PageSize());
    const std::uintptr_t first = (at + page - 1) / page * page;
    const std::uintptr_t end = (at + bytes) / page * page;
    if (end > first) {
        madvise(reinterpret_cast<void*>(first), end - first, MADV_POPULATE_WRITE);
    }
}

void WriteLe32(std::uint8_t* out, std::uint32_t value) {
    for (int i = 0; i < 4; ++i) {
        out[i] = static_cast<std::uint8_t>(value >> (8 * i));
    }
}

std::uint32_t ReadLe32(const std::uint8_t* in) {
    return static_cast<std::uint32_t>(in[0]) | (static_cast<std::uint32_t>(in[1]) << 8) |
           (static_cast<std::uint32_t>(in[2]) << 16) | (static_cast<std::uint32_t>(in[3]) << 24);
}

bool IsDerivedFromBitmap(FormatId id) { return id == CF_DIB || id == CF_DIBV5; }

// Whether a device-independent format is offered from the stored CF_BITMAP.
bool IsDerived(const portable::EntryList& entries, FormatId id) {
    return IsDerivedFromBitmap(id) && portable::FindEntry(entries, id) < 0 &&
           portable::FindEntry(entries, CF_BITMAP) >= 0;
}

bool IsListed(const portable::EntryList& entries, FormatId id) {
    return portable::FindEntry(entries, id) >= 0 || IsDerived(entries, id);
}

// Formats in the order placed, with CF_DIB and CF_DIBV5 offered right after a
// stored CF_BITMAP, as the system clipboard lists them.
FormatId NextListedFormat(const portable::EntryList& entries, FormatId previous) {
    bool returnNext = previous == 0;
    for (std::uint32_t i = 0; i < entries.count; ++i) {
        const FormatId id = entries.items[i].id;
        FormatId listed[3] = {id, 0, 0};
        if (id == CF_BITMAP) {
            listed[1] = IsDerived(entries, CF_DIB) ? FormatId{CF_DIB} : 0;
            listed[2] = IsDerived(entries, CF_DIBV5) ? FormatId{CF_DIBV5} : 0;
        }
        for (const FormatId candidate : listed) {
            if (candidate == 0) {
                continue;
            }
            if (returnNext) {
                return candidate;
            }
            returnNext = candidate == previous;
        }
    }
    return 0;
}

// The size of a stored bitmap, checked against the bytes it occupies.
bool ReadBitmapSize(int fd, const portable::ContentsEntry& entry, std::int32_t& width,
                    std::int32_t& height) {
    std::uint8_t size[kBitmapBlobHeader];
    if (entry.size < sizeof size || !portable::ReadAt(fd, size, sizeof size, entry.offset)) {
        return false;
    }
    const std::uint32_t w = ReadLe32(size);
    const std::uint32_t h = ReadLe32(size + 4);
    if (w == 0 || h == 0 || w > INT32_MAX || h > INT32_MAX ||
        std::uint64_t{4} * w * h != entry.size - sizeof size || entry.size > UINT32_MAX) {
        return false;
    }
    width = static_cast<std::int32_t>(w);
    height = static_cast<std::int32_t>(h);
    return true;
}

// Looks a format up in the contents as they stand on disk.
bool IsFormatOnDisk(const char* location, FormatId id) {
    const int dirFd = portable::OpenLocation(location);
    if (dirFd < 0) {
        return false;
    }
    bool found = false;
    const int contentsFd = portable::OpenContents(dirFd);
    if (contentsFd >= 0) {
        portable::EntryList entries;
        found = portable::ReadContentsTable(contentsFd, entries) && IsListed(entries, id);
        close(contentsFd);
    }
    close(dirFd);
    return found;
}

}  // namespace

bool DefaultClipboardLocation(char* path, std::size_t size) {
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    const int length =
        runtime != nullptr && runtime[0] != '\0'
            ? std::snprintf(path, size, "%s/clipfile", runtime)
            : std::snprintf(path, size, "/tmp/clipfile-%lu", static_cast<unsigned long>(geteuid()));
    return length > 0 && static_cast<std::size_t>(length) < size;
}

std::unique_ptr<Platform> CreateSystemPlatform() {
    char location[kMaxLocationPath];
    if (!DefaultClipboardLocation(location, sizeof location)) {
        location[0] = '\0';
    }
    return std::unique_ptr<Platform>(new (std::nothrow) PortablePlatform(location));
}

PortablePlatform::PortablePlatform(std::string_view location) {
    if (location.size() < sizeof location_) {
        std::memcpy(location_, location.data(), location.size());
        location_[location.size()] = '\0';
    }
}

PortablePlatform::~PortablePlatform() {
    if (IsOpen()) {
        CloseClipboard();
    }
}

bool PortablePlatform::InitializeFramework() { return true; }

void PortablePlatform::WriteOutput(std::string_view text) {
    // Flushed at once so that it keeps its place among unbuffered error text.
    std::fwrite(text.data(), 1, text.size(), stdout);
    std::fflush(stdout);
}

void PortablePlatform::WriteError(std::string_view text) {
    std::fwrite(text.data(), 1, text.size(), stderr);
}

bool PortablePlatform::OpenClipboard() {
    if (IsOpen()) {
        return false;
    }
    const int dirFd = portable::OpenLocation(location_);
    if (dirFd < 0) {
        return false;
    }
    const int lockFd = portable::TakeClipboardLock(dirFd);
    if (lockFd < 0) {
        close(dirFd);
        return false;
    }
    // Only lock holders write temporary files, so any found now belong to a
    // process that died before committing.
    portable::RemoveFilesWithPrefix(dirFd, portable::kContentsTempPrefix);
    dirFd_ = dirFd;
    lockFd_ = lockFd;
    committed_.count = 0;
    committedFd_ = portable::OpenContents(dirFd);
    // Damaged contents read as an empty clipboard; the next commit replaces them.
    if (committedFd_ >= 0 && !portable::ReadContentsTable(committedFd_, committed_)) {
        close(committedFd_);
        committedFd_ = -1;
        committed_.count = 0;
    }
    return true;
}

bool PortablePlatform::CloseClipboard() {
    if (!IsOpen()) {
        return false;
    }
    bool ok = true;
    if (HasPending()) {
        ok = close(pendingFd_) == 0;
        pendingFd_ = -1;
        ok = ok && renameat(dirFd_, pendingName_, dirFd_, portable::kContentsFile) == 0;
        if (!ok) {
            unlinkat(dirFd_, pendingName_, 0);
        }
        pending_.count = 0;
    }
    for (std::uint32_t i = 0; i < handedOut_.count; ++i) {
        memory_.Free(handedOut_.items[i]);
    }
    handedOut_.count = 0;
    UnmapBlocks();
    for (std::uint32_t i = 0; i < handedOutBitmaps_.count; ++i) {
        graphics_.DeleteObject(handedOutBitmaps_.items[i]);
    }
    handedOutBitmaps_.count = 0;
    if (committedFd_ >= 0) {
        close(committedFd_);
        committedFd_ = -1;
    }
    committed_.count = 0;
    close(lockFd_);
    lockFd_ = -1;
    close(dirFd_);
    dirFd_ = -1;
    return ok;
}

// Creates this session's temporary contents, optionally holding a copy of the
// formats already on the clipboard. The format about to be replaced is not
// copied; it keeps its place with an empty block until its new data lands.
bool PortablePlatform::StartPending(bool keepCurrent, FormatId replaced) {
    std::snprintf(pendingName_, sizeof pendingName_, "%s%ld", portable::kContentsTempPrefix,
                  static_cast<long>(getpid()));
    pendingFd_ =
        openat(dirFd_, pendingName_, O_RDWR | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (pendingFd_ < 0) {
        return false;
    }
    pending_.count = 0;
    pendingEnd_ = kContentsHeaderSize;
    bool ok = true;
    if (keepCurrent) {
        ok = portable::Reserve(pending_, committed_.count);
        for (std::uint32_t i = 0; ok && i < committed_.count; ++i) {
            const portable::ContentsEntry& entry = committed_.items[i];
            if (entry.id == replaced) {
                pending_.items[pending_.count++] = {entry.id, kContentsHeaderSize, 0};
                continue;
            }
            ok = portable::CopyRange(committedFd_, entry.offset, pendingFd_, pendingEnd_,
                                     entry.size);
            pending_.items[pending_.count++] = {entry.id, pendingEnd_, entry.size};
            pendingEnd_ += entry.size;
        }
    }
    ok = ok && portable::WriteContentsTable(pendingFd_, pendingEnd_, pending_) &&
         portable::WriteContentsHeader(pendingFd_, pending_.count, pendingEnd_);
    if (!ok) {
        DropPending();
    }
    return ok;
}

void PortablePlatform::DropPending() {
    if (HasPending()) {
        close(pendingFd_);
        pendingFd_ = -1;
        unlinkat(dirFd_, pendingName_, 0);
    }
    pending_.count = 0;
}

bool PortablePlatform::EmptyClipboard() {
    if (!IsOpen()) {
        return false;
    }
    DropPending();
    return StartPending(false, 0);
}

bool PortablePlatform::SetClipboardData(FormatId id, DataHandle data) {
    if (!IsOpen() || id == 0 || id > portable::kLastFormat) {
        return false;
    }
    if (id == CF_BITMAP) {
        // Stored as its size and 32-bit pixels; the clipboard then owns it.
        const DeviceBitmap* bitmap = graphics_.Find(AsBitmap(data));
        if (bitmap == nullptr) {
            return false;
        }
        std::uint8_t size[kBitmapBlobHeader];
        WriteLe32(size, static_cast<std::uint32_t>(bitmap->width));
        WriteLe32(size + 4, static_cast<std::uint32_t>(bitmap->height));
        if (!AppendPending(id, {size, sizeof size}, {bitmap->pixels.get(), bitmap->size()})) {
            return false;
        }
        graphics_.DeleteObject(AsBitmap(data));
        return true;
    }
    const MemoryHandle block = AsMemory(data);
    if (!memory_.IsLive(block) || !AppendPending(id, {}, memory_.Bytes(block))) {
        return false;
    }
    memory_.Free(block);
    return true;
}

// Writes one format's bytes into this session's contents. The bytes go where
// the table was and a new table follows them; the header is rewritten last. A
// failed write abandons the whole session, so the clipboard keeps what it
// held before it was opened.
bool PortablePlatform::AppendPending(FormatId id, std::span<const std::uint8_t> head,
                                     std::span<const std::uint8_t> body) {
    if (!HasPending() && !StartPending(true, id)) {
        return false;
    }
    if (!portable::Reserve(pending_, pending_.count + 1)) {
        return false;
    }
    const std::uint64_t size = head.size() + body.size();
    // A large body starts on a page boundary, so that the kernel moves whole
    // pages into the file now and out of it for GETDATA. The bytes skipped
    // belong to no block.
    std::uint64_t start = pendingEnd_;
    if (body.size() >= kAlignedBodyMin) {
        const std::uint64_t page = PageSize();
        start = (pendingEnd_ + head.size() + page - 1) / page * page - head.size();
    }
    const portable::ContentsEntry entry{id, start, size};
    const std::uint64_t tableOffset = start + size;
    const int index = portable::FindEntry(pending_, id);
    if (index >= 0) {
        pending_.items[index] = entry;
    } else {
        pending_.items[pending_.count++] = entry;
    }
    if (!portable::WriteAt(pendingFd_, head.data(), head.size(), start) ||
        !portable::WriteAt(pendingFd_, body.data(), body.size(), start + head.size()) ||
        !portable::WriteContentsTable(pendingFd_, tableOffset, pending_) ||
        !portable::WriteContentsHeader(pendingFd_, pending_.count, tableOffset)) {
        DropPending();
        return false;
    }
    pendingEnd_ = tableOffset;
    return true;
}

FormatId PortablePlatform::EnumClipboardFormats(FormatId previous) {
    if (!IsOpen()) {
        return 0;
    }
    return NextListedFormat(HasPending() ? pending_ : committed_, previous);
}

bool PortablePlatform::IsClipboardFormatAvailable(FormatId id) {
    if (IsOpen()) {
        return IsListed(HasPending() ? pending_ : committed_, id);
    }
    return IsFormatOnDisk(location_, id);
}

DataHandle PortablePlatform::GetClipboardData(FormatId id) {
    if (!IsOpen()) {
        return DataHandle::None;
    }
    const portable::EntryList& entries = HasPending() ? pending_ : committed_;
    const int fd = HasPending() ? pendingFd_ : committedFd_;
    if (id == CF_BITMAP || IsDerived(entries, id)) {
        return GetBitmapData(id, entries, fd);
    }
    const int index = portable::FindEntry(entries, id);
    if (index < 0 || entries.items[index].size > SIZE_MAX ||
        !portable::Reserve(handedOut_, handedOut_.count + 1)) {
        return DataHandle::None;
    }
    const portable::ContentsEntry entry = entries.items[index];
    if (!HasPending() && entry.size >= kMappedBlockMin) {
        const MemoryHandle mapped = MapCommittedBlock(entry);
        if (mapped != MemoryHandle::None) {
            return ToData(mapped);
        }
    }
    const MemoryHandle block = memory_.Alloc(static_cast<std::size_t>(entry.size));
    if (block == MemoryHandle::None) {
        return DataHandle::None;
    }
    if (!portable::ReadAt(fd, memory_.Bytes(block).data(), static_cast<std::size_t>(entry.size),
                          entry.offset)) {
        memory_.Free(block);
        return DataHandle::None;
    }
    handedOut_.items[handedOut_.count++] = block;
    return ToData(block);
}

// Committed contents are never written in place (a commit renames a new file
// over them), so a large block can be a private mapping of the file instead of
// a copy: no fresh memory, and no copying until the caller reads it. Writes
// through the block stay in this process. Only another program truncating the
// file inside the private folder could pull the pages from under a reader
// (SIGBUS); clipfile itself never does.
MemoryHandle PortablePlatform::MapCommittedBlock(const portable::ContentsEntry& entry) {
    const std::uint64_t page = PageSize();
    const std::uint64_t start = entry.offset / page * page;
    const std::uint64_t length = entry.offset - start + entry.size;
    if (committedFd_ < 0 || length > SIZE_MAX || start > static_cast<std::uint64_t>(INT64_MAX) ||
        !portable::Reserve(mappedBlocks_, mappedBlocks_.count + 1)) {
        return MemoryHandle::None;
    }
    void* mapping = mmap(nullptr, static_cast<std::size_t>(length), PROT_READ | PROT_WRITE,
                         MAP_PRIVATE, committedFd_, static_cast<off_t>(start));
    if (mapping == MAP_FAILED) {
        return MemoryHandle::None;
    }
    // One call fills the page tables that would otherwise take a fault every
    // few pages; older kernels refuse it and fault them in as read.
    madvise(mapping, static_cast<std::size_t>(length), MADV_POPULATE_READ);
    mappedBlocks_.items[mappedBlocks_.count++] = {
        mapping, static_cast<std::size_t>(length),
        static_cast<unsigned char*>(mapping) + (entry.offset - start),
        static_cast<std::size_t>(entry.size)};
    return static_cast<MemoryHandle>(reinterpret_cast<std::uintptr_t>(mapping));
}

const PortablePlatform::MappedBlock* PortablePlatform::FindMapped(MemoryHandle block) const {
    for (std::uint32_t i = 0; i < mappedBlocks_.count; ++i) {
        if (reinterpret_cast<std::uintptr_t>(mappedBlocks_.items[i].mapping) ==
            static_cast<std::uintptr_t>(block)) {
            return &mappedBlocks_.items[i];
        }
    }
    return nullptr;
}

void PortablePlatform::UnmapBlocks() {
    for (std::uint32_t i = 0; i < mappedBlocks_.count; ++i) {
        munmap(mappedBlocks_.items[i].mapping, mappedBlocks_.items[i].mappingSize);
    }
    mappedBlocks_.count = 0;
}

// CF_BITMAP as a bitmap handle, or CF_DIB / CF_DIBV5 built from it as a packed
// DIB in a memory block. Either belongs to the clipboard until it is closed.
DataHandle PortablePlatform::GetBitmapData(FormatId id, const portable::EntryList& entries,
                                           int fd) {
    const int index = portable::FindEntry(entries, CF_BITMAP);
    std::int32_t width = 0;
    std::int32_t height = 0;
    if (index < 0 || !ReadBitmapSize(fd, entries.items[index], width, height)) {
        return DataHandle::None;
    }
    const std::uint64_t pixelsAt = entries.items[index].offset + kBitmapBlobHeader;
    if (id == CF_BITMAP) {
        // Not cleared first: the read fills every byte, or the bitmap goes.
        DeviceBitmap bitmap{width, height, {}};
        bitmap.pixels = AllocateHeapBuffer(bitmap.size());
        if (!bitmap.pixels || !portable::Reserve(handedOutBitmaps_, handedOutBitmaps_.count + 1)) {
            return DataHandle::None;
        }
        PrefaultForWriting(bitmap.pixels.get(), bitmap.size());
        if (!portable::ReadAt(fd, bitmap.pixels.get(), bitmap.size(), pixelsAt)) {
            return DataHandle::None;
        }
        const BitmapHandle handle = graphics_.Adopt(std::move(bitmap));
        handedOutBitmaps_.items[handedOutBitmaps_.count++] = handle;
        return ToData(handle);
    }
    const std::uint32_t headerSize = id == CF_DIBV5 ? 124 : 40;
    const std::size_t pixels =
        4 * static_cast<std::size_t>(width) * static_cast<std::size_t>(height);
    if (pixels > SIZE_MAX - headerSize || !portable::Reserve(handedOut_, handedOut_.count + 1)) {
        return DataHandle::None;
    }
    const MemoryHandle block = memory_.Alloc(headerSize + pixels);
    if (block == MemoryHandle::None) {
        return DataHandle::None;
    }
    const std::span<unsigned char> bytes = memory_.Bytes(block);
    WritePackedDibHeader(width, height, headerSize, bytes);
    if (!portable::ReadAt(fd, bytes.data() + headerSize, pixels, pixelsAt)) {
        memory_.Free(block);
        return DataHandle::None;
    }
    handedOut_.items[handedOut_.count++] = block;
    return ToData(block);
}

FormatId PortablePlatform::RegisterClipboardFormatA(const char* name) {
    const int dirFd = portable::OpenLocation(location_);
    if (dirFd < 0) {
        return 0;
    }
    const FormatId id = portable::RegisterFormat(dirFd, name);
    close(dirFd);
    return id;
}

int PortablePlatform::GetClipboardFormatNameA(FormatId id, char* buffer, int bufferSize) {
    if (id < portable::kFirstRegisteredFormat || id > portable::kLastFormat) {
        return 0;
    }
    // While the clipboard is open its folder is at hand: listing the formats
    // then costs no reopening per name.
    if (IsOpen()) {
        return portable::GetFormatName(dirFd_, id, buffer, bufferSize);
    }
    const int dirFd = portable::OpenLocation(location_);
    if (dirFd < 0) {
        return 0;
    }
    const int length = portable::GetFormatName(dirFd, id, buffer, bufferSize);
    close(dirFd);
    return length;
}

MemoryHandle PortablePlatform::GlobalAlloc(std::size_t bytes) {
    const MemoryHandle block = memory_.Alloc(bytes);
    // Blocks are filled right after allocation.
    if (block != MemoryHandle::None) {
        PrefaultForWriting(memory_.Bytes(block).data(), bytes);
    }
    return block;
}

std::size_t PortablePlatform::GlobalSize(MemoryHandle block) {
    const MappedBlock* mapped = FindMapped(block);
    return mapped != nullptr ? mapped->size : memory_.Size(block);
}

void* PortablePlatform::GlobalLock(MemoryHandle block) {
    const MappedBlock* mapped = FindMapped(block);
    return mapped != nullptr ? mapped->bytes : memory_.Lock(block);
}

void PortablePlatform::GlobalUnlock(MemoryHandle block) {
    if (FindMapped(block) == nullptr) {
        memory_.Unlock(block);
    }
}

void PortablePlatform::GlobalFree(MemoryHandle block) {
    const MappedBlock* mapped = FindMapped(block);
    if (mapped == nullptr) {
        memory_.Free(block);
        return;
    }
    munmap(mapped->mapping, mapped->mappingSize);
    // The last entry takes the freed one's place.
    const auto index = static_cast<std::uint32_t>(mapped - mappedBlocks_.items.get());
    mappedBlocks_.items[index] = mappedBlocks_.items[--mappedBlocks_.count];
}

HeapBuffer PortablePlatform::AllocateBuffer(std::size_t bytes) { return AllocateHeapBuffer(bytes); }

bool PortablePlatform::DescribeBitmap(BitmapHandle bitmap, BitmapDescription& description) {
    return graphics_.DescribeBitmap(bitmap, description);
}

DcHandle PortablePlatform::CreateCompatibleDC() { return graphics_.CreateCompatibleDC(); }

void PortablePlatform::DeleteDC(DcHandle dc) { graphics_.DeleteDC(dc); }

DcHandle PortablePlatform::GetScreenDC() { return graphics_.GetScreenDC(); }

void PortablePlatform::ReleaseScreenDC(DcHandle dc) { graphics_.ReleaseScreenDC(dc); }

int PortablePlatform::GetDIBits(DcHandle dc, BitmapHandle bitmap, std::uint32_t startScan,
                                std::uint32_t scanLines, void* bits, std::uint8_t* info,
                                std::size_t infoSize) {
    return graphics_.GetDIBits(dc, bitmap, startScan, scanLines, bits, info, infoSize);
}

BitmapHandle PortablePlatform::CreateDIBitmap(DcHandle dc, const std::uint8_t* info,
                                              std::size_t infoSize, const std::uint8_t* bits,
                                              std::size_t bitsSize) {
    return graphics_.CreateDIBitmap(dc, info, infoSize, bits, bitsSize);
}

void PortablePlatform::DeleteObject(BitmapHandle bitmap) { graphics_.DeleteObject(bitmap); }

FileHandle PortablePlatform::OpenFileForReading(const char* path) {
    if (path == nullptr) {
        return FileHandle::None;
    }
    // O_NONBLOCK lets a FIFO without a writer be refused instead of blocking
    // the open; regular files ignore it, and it is cleared for the reads.
    const int fd = open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        return FileHandle::None;
    }
    struct stat info {};
    const int flags = fcntl(fd, F_GETFL);
    if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode) || flags < 0 ||
        fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0) {
        close(fd);
        return FileHandle::None;
    }
    return HandleOf(fd);
}

bool PortablePlatform::GetFileLength(FileHandle file, std::uint64_t& length) {
    struct stat info {};
    const int fd = FdOf(file);
    if (fd < 0 || fstat(fd, &info) != 0 || info.st_size < 0) {
        return false;
    }
    length = static_cast<std::uint64_t>(info.st_size);
    return true;
}

bool PortablePlatform::ReadFile(FileHandle file, void* buffer, std::size_t count,
                                std::size_t& got) {
    got = 0;
    const int fd = FdOf(file);
    return fd >= 0 && portable::ReadSequential(fd, buffer, count, got);
}

FileHandle PortablePlatform::CreateFileForWriting(const char* path) {
    if (path == nullptr) {
        return FileHandle::None;
    }
    const int fd = open(path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    return fd < 0 ? FileHandle::None : HandleOf(fd);
}

bool PortablePlatform::WriteFile(FileHandle file, const void* data, std::size_t count,
                                 std::size_t& written) {
    written = 0;
    const int fd = FdOf(file);
    return fd >= 0 && portable::WriteSequential(fd, data, count, written);
}

bool PortablePlatform::CloseFile(FileHandle file) {
    const int fd = FdOf(file);
    return fd >= 0 && close(fd) == 0;
}

}  // namespace clipfile
