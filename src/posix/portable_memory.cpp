#include "posix/portable_memory.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>
#include <new>

#include "posix/kernel_files.h"
#include "posix/posix_advice.h"
#include "posix/posix_io.h"
#include "posix/store_location.h"

namespace clipfile {

namespace {

constexpr std::size_t kPrefaultMin = std::size_t{64} * 1024;
// Smaller blocks cost less on the heap than a file costs to make.
constexpr std::size_t kFileBlockMin = std::size_t{1024} * 1024;

}  // namespace

std::uint64_t PageSize() {
    static const long size = sysconf(_SC_PAGESIZE);
    return size > 0 ? static_cast<std::uint64_t>(size) : 4096;
}

// Older kernels refuse the advice and fault the pages in as they are touched.
void PrefaultForWriting(void* data, std::size_t bytes) {
    if (bytes < kPrefaultMin) {
        return;
    }
    const auto at = reinterpret_cast<std::uintptr_t>(data);
    const auto page = static_cast<std::uintptr_t>(PageSize());
    const std::uintptr_t first = (at + page - 1) / page * page;
    const std::uintptr_t end = (at + bytes) / page * page;
    if (end > first) {
        AdviseMemory(reinterpret_cast<void*>(first), end - first, kAdvisePopulateWrite);
    }
}

// A large block of this process's own, or a reference. An own block decides
// where it lives at its first use: ReadFileIntoBlock puts it in a file
// without a name, where a commit can link it (its bytes start on a page
// boundary, after room for the contents header); GlobalLock first puts it in
// memory, which the processor fills faster than a file's mapping. A file
// block is mapped shared: nobody else has the file and its space was
// reserved, so the mapping cannot fault. A reference is read into memory of
// its own at GlobalLock, never mapped: a foreign program truncating the
// contents must not crash a reader.
struct PortableMemory::FileBlockRecord {
    UniqueFd fd;
    std::uint64_t offset = 0;
    std::size_t size = 0;
    bool own = false;
    void* mapping = nullptr;
    HeapBuffer copy;
};

PortableMemory::PortableMemory(std::string_view blockFolder, const PosixFiles& files)
    : posixFiles_(&files) {
    if (blockFolder.size() < sizeof folder_) {
        std::memcpy(folder_, blockFolder.data(), blockFolder.size());
        folder_[blockFolder.size()] = '\0';
    }
}

MemoryHandle PortableMemory::GlobalAlloc(std::size_t bytes) {
    if (bytes >= kFileBlockMin && folder_[0] != '\0' && !kHeapOnly) {
        const MemoryHandle block =
            Adopt(new (std::nothrow) FileBlockRecord{UniqueFd(), 0, bytes, true, nullptr, {}});
        if (block != MemoryHandle::None) {
            return block;
        }
    }
    const MemoryHandle block = heap_.Alloc(bytes);
    // Blocks are filled right after allocation.
    if (block != MemoryHandle::None) {
        PrefaultForWriting(heap_.Bytes(block).data(), bytes);
    }
    return block;
}

// Any failure leaves the block to memory, which then fails or succeeds as it
// always did (a full disk shows when the clipboard commits).
bool PortableMemory::MakeFile(FileBlockRecord& record) {
    if (!folderFd_) {
        folderFd_ = portable::OpenLocation(folder_);
        if (!folderFd_) {
            return false;
        }
    }
    const std::uint64_t offset = PageSize();
    if (record.size > static_cast<std::uint64_t>(INT64_MAX) - offset) {
        return false;
    }
    UniqueFd fd(portable::OpenUnnamedFile(folderFd_.get()));
    if (!fd) {
        return false;
    }
    // Mapped before a byte is moved: a block the address space cannot hold
    // fails now, as a block in memory would.
    void* mapping = mmap(nullptr, record.size, PROT_READ | PROT_WRITE, MAP_SHARED, fd.get(),
                         static_cast<off_t>(offset));
    if (mapping == MAP_FAILED) {
        return false;
    }
    // The room after the block is for the contents table a commit appends.
    if (!portable::ReserveFileSpace(fd.get(), offset + record.size, offset)) {
        munmap(mapping, record.size);
        return false;
    }
    record.fd = std::move(fd);
    record.offset = offset;
    record.mapping = mapping;
    return true;
}

MemoryHandle PortableMemory::ReferToFileRange(int fd, std::uint64_t offset, std::uint64_t size) {
    if (fd < 0 || size > SIZE_MAX || offset > static_cast<std::uint64_t>(INT64_MAX)) {
        return MemoryHandle::None;
    }
    UniqueFd own(fcntl(fd, F_DUPFD_CLOEXEC, 0));
    if (!own) {
        return MemoryHandle::None;
    }
    auto* record = new (std::nothrow)
        FileBlockRecord{std::move(own), offset, static_cast<std::size_t>(size), false, nullptr, {}};
    return Adopt(record);
}

MemoryHandle PortableMemory::Adopt(FileBlockRecord* record) {
    if (record == nullptr) {
        return MemoryHandle::None;
    }
    if (!portable::Push(files_, record)) {
        delete record;
        return MemoryHandle::None;
    }
    return static_cast<MemoryHandle>(reinterpret_cast<std::uintptr_t>(record));
}

std::size_t PortableMemory::GlobalSize(MemoryHandle block) {
    const FileBlockRecord* file = FindFile(block);
    return file != nullptr ? file->size : heap_.Size(block);
}

void* PortableMemory::GlobalLock(MemoryHandle block) {
    FileBlockRecord* file = FindFile(block);
    if (file == nullptr) {
        return heap_.Lock(block);
    }
    if (file->own && file->fd) {
        return file->mapping;
    }
    if (!file->copy) {
        HeapBuffer copy = AllocateHeapBuffer(file->size);
        if (!copy) {
            return nullptr;
        }
        PrefaultForWriting(copy.get(), file->size);
        if (!file->own && !portable::ReadAt(file->fd.get(), copy.get(), file->size, file->offset)) {
            return nullptr;
        }
        file->copy = std::move(copy);
    }
    return file->copy.get();
}

void PortableMemory::GlobalUnlock(MemoryHandle block) {
    if (FindFile(block) == nullptr) {
        heap_.Unlock(block);
    }
}

void PortableMemory::GlobalFree(MemoryHandle block) {
    FileBlockRecord* file = FindFile(block);
    if (file == nullptr) {
        heap_.Free(block);
        return;
    }
    // The last entry takes the freed one's place.
    for (std::uint32_t i = 0; i < files_.count; ++i) {
        if (files_.items[i] == file) {
            files_.items[i] = files_.items[--files_.count];
            break;
        }
    }
    Release(file);
}

void PortableMemory::Release(FileBlockRecord* record) {
    if (record->mapping != nullptr) {
        munmap(record->mapping, record->size);
    }
    delete record;
}

HeapBuffer PortableMemory::AllocateBuffer(std::size_t bytes) { return AllocateHeapBuffer(bytes); }

// A heap block keeps its handle; a file block is copied.
MemoryHandle PortableMemory::GlobalReAlloc(MemoryHandle block, std::size_t bytes) {
    if (FindFile(block) != nullptr) {
        return GlobalMemory::GlobalReAlloc(block, bytes);
    }
    return heap_.ReAlloc(block, bytes) ? block : MemoryHandle::None;
}

// Committed contents never change, so a second descriptor on them is a copy
// that costs nothing; a heap block gets one more holder.
MemoryHandle PortableMemory::ShareBlock(MemoryHandle block) {
    const FileBlockRecord* file = FindFile(block);
    if (file == nullptr) {
        return heap_.Share(block);
    }
    if (file->own) {
        return MemoryHandle::None;
    }
    return ReferToFileRange(file->fd.get(), file->offset, file->size);
}

BlockTransfer PortableMemory::ReadFileIntoBlock(MemoryHandle block, FileHandle file,
                                                std::size_t count, std::size_t& got) {
    got = 0;
    FileBlockRecord* record = FindFile(block);
    const int fd = posixFiles_ != nullptr ? PosixFiles::Descriptor(file) : -1;
    if (record == nullptr || !record->own || record->copy || count > record->size || fd < 0 ||
        (!record->fd && !MakeFile(*record))) {
        return BlockTransfer::Unavailable;
    }
    std::uint64_t at = record->offset;
    std::uint64_t moved = 0;
    const bool ok = portable::CopyBetween(fd, nullptr, record->fd.get(), &at, count, moved);
    got = static_cast<std::size_t>(moved);
    return ok ? BlockTransfer::Done : BlockTransfer::Failed;
}

// Read with copy_file_range or pread, never through a mapping: contents that
// another program truncated end the copy short instead of crashing it.
BlockTransfer PortableMemory::WriteBlockToFile(MemoryHandle block, FileHandle file,
                                               std::size_t& written) {
    written = 0;
    const FileBlockRecord* record = FindFile(block);
    const int fd = posixFiles_ != nullptr ? PosixFiles::Descriptor(file) : -1;
    if (record == nullptr || !record->fd || fd < 0) {
        return BlockTransfer::Unavailable;
    }
    std::uint64_t at = record->offset;
    std::uint64_t moved = 0;
    const bool ok = portable::CopyBetween(record->fd.get(), &at, fd, nullptr, record->size, moved);
    written = static_cast<std::size_t>(moved);
    return ok ? BlockTransfer::Done : BlockTransfer::Failed;
}

bool PortableMemory::OwnFileOf(MemoryHandle block, BlockFile& file) const {
    const FileBlockRecord* record = FindFile(block);
    if (record == nullptr || !record->own || !record->fd) {
        return false;
    }
    file = {record->fd.get(), record->offset, record->size};
    return true;
}

bool PortableMemory::BytesOf(MemoryHandle block, std::span<const std::uint8_t>& bytes) {
    if (FindFile(block) == nullptr) {
        if (!heap_.IsLive(block)) {
            return false;
        }
        bytes = heap_.Bytes(block);
        return true;
    }
    const auto* at = static_cast<const std::uint8_t*>(GlobalLock(block));
    if (at == nullptr) {
        return false;
    }
    bytes = {at, GlobalSize(block)};
    return true;
}

PortableMemory::FileBlockRecord* PortableMemory::FindFile(MemoryHandle block) const {
    for (std::uint32_t i = 0; i < files_.count; ++i) {
        if (reinterpret_cast<std::uintptr_t>(files_.items[i]) ==
            static_cast<std::uintptr_t>(block)) {
            return files_.items[i];
        }
    }
    return nullptr;
}

void PortableMemory::UnmapAll() {
    for (std::uint32_t i = 0; i < files_.count; ++i) {
        Release(files_.items[i]);
    }
    files_.count = 0;
}

}  // namespace clipfile
