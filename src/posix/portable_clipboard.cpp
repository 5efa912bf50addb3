#include "posix/portable_clipboard.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <span>

#include "bmp/bmp_layout.h"
#include "util/byte_order.h"

namespace clipfile {

namespace {

using portable::kContentsHeaderSize;

constexpr std::size_t kBitmapBlobHeader = 8;
constexpr std::size_t kAlignedBodyMin = std::size_t{64} * 1024;
constexpr std::uint64_t kMappedBlockMin = std::uint64_t{64} * 1024;
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

PortableClipboard::PortableClipboard(std::string_view location, PortableMemory& memory,
                                     PortableGraphics& graphics)
    : memory_(memory), graphics_(graphics) {
    if (location.size() < sizeof location_) {
        std::memcpy(location_, location.data(), location.size());
        location_[location.size()] = '\0';
    }
}

PortableClipboard::~PortableClipboard() {
    if (IsOpen()) {
        CloseClipboard();
    }
}

bool PortableClipboard::OpenClipboard() {
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

bool PortableClipboard::CloseClipboard() {
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
        memory_.heap().Free(handedOut_.items[i]);
    }
    handedOut_.count = 0;
    memory_.UnmapAll();
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
bool PortableClipboard::StartPending(bool keepCurrent, FormatId replaced) {
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

void PortableClipboard::DropPending() {
    if (HasPending()) {
        close(pendingFd_);
        pendingFd_ = -1;
        unlinkat(dirFd_, pendingName_, 0);
    }
    pending_.count = 0;
}

bool PortableClipboard::EmptyClipboard() {
    if (!IsOpen()) {
        return false;
    }
    DropPending();
    return StartPending(false, 0);
}

bool PortableClipboard::SetClipboardData(FormatId id, DataHandle data) {
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
    if (!memory_.heap().IsLive(block) || !AppendPending(id, {}, memory_.heap().Bytes(block))) {
        return false;
    }
    memory_.heap().Free(block);
    return true;
}

// Writes one format's bytes into this session's contents. The bytes go where
// the table was and a new table follows them; the header is rewritten last. A
// failed write abandons the whole session, so the clipboard keeps what it
// held before it was opened.
bool PortableClipboard::AppendPending(FormatId id, std::span<const std::uint8_t> head,
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

FormatId PortableClipboard::EnumClipboardFormats(FormatId previous) {
    if (!IsOpen()) {
        return 0;
    }
    return NextListedFormat(HasPending() ? pending_ : committed_, previous);
}

bool PortableClipboard::IsClipboardFormatAvailable(FormatId id) {
    if (IsOpen()) {
        return IsListed(HasPending() ? pending_ : committed_, id);
    }
    return IsFormatOnDisk(location_, id);
}

DataHandle PortableClipboard::GetClipboardData(FormatId id) {
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
        const MemoryHandle mapped = memory_.MapFileRange(committedFd_, entry.offset, entry.size);
        if (mapped != MemoryHandle::None) {
            return ToData(mapped);
        }
    }
    const MemoryHandle block = memory_.heap().Alloc(static_cast<std::size_t>(entry.size));
    if (block == MemoryHandle::None) {
        return DataHandle::None;
    }
    if (!portable::ReadAt(fd, memory_.heap().Bytes(block).data(),
                          static_cast<std::size_t>(entry.size), entry.offset)) {
        memory_.heap().Free(block);
        return DataHandle::None;
    }
    handedOut_.items[handedOut_.count++] = block;
    return ToData(block);
}

// CF_BITMAP as a bitmap handle, or CF_DIB / CF_DIBV5 built from it as a packed
// DIB in a memory block. Either belongs to the clipboard until it is closed.
DataHandle PortableClipboard::GetBitmapData(FormatId id, const portable::EntryList& entries,
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
    const std::uint32_t headerSize = id == CF_DIBV5 ? kV5HeaderSize : kInfoHeaderSize;
    const std::size_t pixels =
        4 * static_cast<std::size_t>(width) * static_cast<std::size_t>(height);
    if (pixels > SIZE_MAX - headerSize || !portable::Reserve(handedOut_, handedOut_.count + 1)) {
        return DataHandle::None;
    }
    const MemoryHandle block = memory_.heap().Alloc(headerSize + pixels);
    if (block == MemoryHandle::None) {
        return DataHandle::None;
    }
    const std::span<unsigned char> bytes = memory_.heap().Bytes(block);
    WritePackedDibHeader(width, height, headerSize, bytes);
    if (!portable::ReadAt(fd, bytes.data() + headerSize, pixels, pixelsAt)) {
        memory_.heap().Free(block);
        return DataHandle::None;
    }
    handedOut_.items[handedOut_.count++] = block;
    return ToData(block);
}

FormatId PortableClipboard::RegisterClipboardFormatA(const char* name) {
    const int dirFd = portable::OpenLocation(location_);
    if (dirFd < 0) {
        return 0;
    }
    const FormatId id = portable::RegisterFormat(dirFd, name);
    close(dirFd);
    return id;
}

int PortableClipboard::GetClipboardFormatNameA(FormatId id, char* buffer, int bufferSize) {
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

}  // namespace clipfile
