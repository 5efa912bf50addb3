#include "posix/portable_clipboard.h"

#include <climits>
#include <cstring>
#include <span>
#include <utility>

#include "bmp/bmp_layout.h"
#include "posix/listed_formats.h"
#include "posix/posix_io.h"
#include "posix/store_location.h"
#include "util/byte_order.h"

namespace clipfile {

namespace {

constexpr std::size_t kBitmapBlobHeader = 8;
constexpr std::uint64_t kReferredBlockMin = std::uint64_t{64} * 1024;

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
    const UniqueFd dirFd = portable::OpenLocation(location);
    if (!dirFd) {
        return false;
    }
    const UniqueFd contentsFd = portable::OpenContents(dirFd.get());
    portable::EntryList entries;
    return contentsFd && portable::ReadContentsTable(contentsFd.get(), entries) &&
           portable::IsListed(entries, id);
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
    UniqueFd dirFd = portable::OpenLocation(location_);
    if (!dirFd) {
        return false;
    }
    UniqueFd lockFd = portable::TakeClipboardLock(dirFd.get());
    if (!lockFd) {
        return false;
    }
    // Only lock holders write temporary files, so any found now belong to a
    // process that died before committing.
    portable::RemoveFilesWithPrefix(dirFd.get(), portable::kContentsTempPrefix);
    dirFd_ = std::move(dirFd);
    lockFd_ = std::move(lockFd);
    committed_.count = 0;
    committedFd_ = portable::OpenContents(dirFd_.get());
    // Damaged contents read as an empty clipboard; the next commit replaces them.
    if (committedFd_ && !portable::ReadContentsTable(committedFd_.get(), committed_)) {
        committedFd_.reset();
        committed_.count = 0;
    }
    return true;
}

bool PortableClipboard::CloseClipboard() {
    if (!IsOpen()) {
        return false;
    }
    // Renamed while the lock is still held, so the next session sees it.
    const bool ok = pending_.Commit();
    for (std::uint32_t i = 0; i < handedOut_.count; ++i) {
        memory_.GlobalFree(handedOut_.items[i]);
    }
    handedOut_.count = 0;
    for (std::uint32_t i = 0; i < handedOutBitmaps_.count; ++i) {
        graphics_.DeleteObject(handedOutBitmaps_.items[i]);
    }
    handedOutBitmaps_.count = 0;
    committedFd_.reset();
    committed_.count = 0;
    lockFd_.reset();
    dirFd_.reset();
    return ok;
}

bool PortableClipboard::EmptyClipboard() {
    if (!IsOpen()) {
        return false;
    }
    pending_.Drop();
    return pending_.Start(dirFd_.get(), committedFd_.get(), committed_, false, 0);
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
    // A block in a file of its own becomes the whole new contents without a
    // copy when it is the session's only format.
    BlockFile file;
    const bool alone = pending_.IsActive() ? pending_.entries().count == 0 : committed_.count == 0;
    if (alone && memory_.OwnFileOf(block, file) &&
        pending_.Adopt(dirFd_.get(), file.fd, id, file.offset, file.size)) {
        memory_.GlobalFree(block);
        return true;
    }
    std::span<const std::uint8_t> bytes;
    if (!memory_.BytesOf(block, bytes) || !AppendPending(id, {}, bytes)) {
        return false;
    }
    memory_.GlobalFree(block);
    return true;
}

// A failed write abandons the whole session, so the clipboard keeps what it
// held before it was opened.
bool PortableClipboard::AppendPending(FormatId id, std::span<const std::uint8_t> head,
                                      std::span<const std::uint8_t> body) {
    if (!pending_.IsActive() &&
        !pending_.Start(dirFd_.get(), committedFd_.get(), committed_, true, id)) {
        return false;
    }
    return pending_.Append(id, head, body);
}

FormatId PortableClipboard::EnumClipboardFormats(FormatId previous) {
    if (!IsOpen()) {
        return 0;
    }
    return portable::NextListedFormat(pending_.IsActive() ? pending_.entries() : committed_,
                                      previous);
}

bool PortableClipboard::IsClipboardFormatAvailable(FormatId id) {
    if (IsOpen()) {
        return portable::IsListed(pending_.IsActive() ? pending_.entries() : committed_, id);
    }
    return IsFormatOnDisk(location_, id);
}

DataHandle PortableClipboard::GetClipboardData(FormatId id) {
    if (!IsOpen()) {
        return DataHandle::None;
    }
    const portable::EntryList& entries = pending_.IsActive() ? pending_.entries() : committed_;
    const int fd = pending_.IsActive() ? pending_.fd() : committedFd_.get();
    if (id == CF_BITMAP || portable::IsDerived(entries, id)) {
        return GetBitmapData(id, entries, fd);
    }
    const int index = portable::FindEntry(entries, id);
    if (index < 0 || entries.items[index].size > SIZE_MAX ||
        !portable::Reserve(handedOut_, handedOut_.count + 1)) {
        return DataHandle::None;
    }
    const portable::ContentsEntry entry = entries.items[index];
    if (!pending_.IsActive() && entry.size >= kReferredBlockMin) {
        const MemoryHandle referred =
            memory_.ReferToFileRange(committedFd_.get(), entry.offset, entry.size);
        if (referred != MemoryHandle::None) {
            handedOut_.items[handedOut_.count++] = referred;
            return ToData(referred);
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
    if (id == CF_BITMAP && !pending_.IsActive()) {
        if (!portable::Reserve(handedOutBitmaps_, handedOutBitmaps_.count + 1)) {
            return DataHandle::None;
        }
        const BitmapHandle handle = graphics_.AdoptStored(width, height, *this, pixelsAt);
        handedOutBitmaps_.items[handedOutBitmaps_.count++] = handle;
        return ToData(handle);
    }
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

// The committed contents file never changes: a commit renames a new one in.
bool PortableClipboard::ReadStoredPixels(std::uint64_t origin, std::uint64_t at,
                                         std::span<std::uint8_t> out) {
    if (!committedFd_ || at > UINT64_MAX - origin) {
        return false;
    }
    return portable::ReadAt(committedFd_.get(), out.data(), out.size(), origin + at);
}

FormatId PortableClipboard::RegisterClipboardFormatA(const char* name) {
    const UniqueFd dirFd = portable::OpenLocation(location_);
    return dirFd ? portable::RegisterFormat(dirFd.get(), name) : 0;
}

int PortableClipboard::GetClipboardFormatNameA(FormatId id, char* buffer, int bufferSize) {
    if (id < portable::kFirstRegisteredFormat || id > portable::kLastFormat) {
        return 0;
    }
    // While the clipboard is open its folder is at hand: listing the formats
    // then costs no reopening per name.
    if (IsOpen()) {
        return portable::GetFormatName(dirFd_.get(), id, buffer, bufferSize);
    }
    const UniqueFd dirFd = portable::OpenLocation(location_);
    return dirFd ? portable::GetFormatName(dirFd.get(), id, buffer, bufferSize) : 0;
}

}  // namespace clipfile
