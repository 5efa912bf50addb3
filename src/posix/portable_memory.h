#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

#include "platform/global_memory.h"
#include "portable/heap_memory.h"
#include "posix/portable_store.h"
#include "posix/posix_files.h"
#include "posix/unique_fd.h"

namespace clipfile {

std::uint64_t PageSize();

// Fresh memory about to be filled whole: its pages are cheaper taken in one
// call than in a fault each.
void PrefaultForWriting(void* data, std::size_t bytes);

// Where a block lives in a file: the bytes from offset on.
struct BlockFile {
    int fd = -1;
    std::uint64_t offset = 0;
    std::uint64_t size = 0;
};

// Global memory of the portable clipboard: heap blocks, and large blocks
// that may live in files. A large GlobalAlloc filled by ReadFileIntoBlock
// lives in a file without a name in the clipboard folder, which a commit can
// link as the new contents without copying it; ReferToFileRange lends a range
// of committed contents, which no later commit changes (commits rename a new
// file into place). Without a folder every allocation stays on the heap.
class PortableMemory final : public GlobalMemory {
public:
    PortableMemory() = default;
    // Large blocks become files in the folder at blockFolder; files is the
    // role whose handles ReadFileIntoBlock and WriteBlockToFile take.
    PortableMemory(std::string_view blockFolder, const PosixFiles& files);
    PortableMemory(const PortableMemory&) = delete;
    PortableMemory& operator=(const PortableMemory&) = delete;
    ~PortableMemory() override { UnmapAll(); }

    MemoryHandle GlobalAlloc(std::size_t bytes) override;
    std::size_t GlobalSize(MemoryHandle block) override;
    void* GlobalLock(MemoryHandle block) override;
    void GlobalUnlock(MemoryHandle block) override;
    void GlobalFree(MemoryHandle block) override;
    HeapBuffer AllocateBuffer(std::size_t bytes) override;
    MemoryHandle ShareBlock(MemoryHandle block) override;
    MemoryHandle GlobalReAlloc(MemoryHandle block, std::size_t bytes) override;
    BlockTransfer ReadFileIntoBlock(MemoryHandle block, FileHandle file, std::size_t count,
                                    std::size_t& got) override;
    BlockTransfer WriteBlockToFile(MemoryHandle block, FileHandle file,
                                   std::size_t& written) override;

    HeapGlobalMemory& heap() { return heap_; }
    // size bytes of fd from offset, as a read-only block that keeps its own
    // descriptor; None when it cannot be made.
    MemoryHandle ReferToFileRange(int fd, std::uint64_t offset, std::uint64_t size);
    MemoryHandle MapFileRange(int fd, std::uint64_t offset, std::uint64_t size) {
        return ReferToFileRange(fd, offset, size);
    }
    // The file of a block from GlobalAlloc that lives in a file of its own;
    // false for any other block.
    bool OwnFileOf(MemoryHandle block, BlockFile& file) const;
    // The bytes of any live block; false for an unknown handle.
    bool BytesOf(MemoryHandle block, std::span<const std::uint8_t>& bytes);
    // Frees every file block.
    void UnmapAll();

private:
    struct FileBlockRecord;
    FileBlockRecord* FindFile(MemoryHandle block) const;
    bool MakeFile(FileBlockRecord& record);
    MemoryHandle Adopt(FileBlockRecord* record);
    void Release(FileBlockRecord* record);

    HeapGlobalMemory heap_;
    portable::Array<FileBlockRecord*> files_;
    const PosixFiles* posixFiles_ = nullptr;
    char folder_[4096] = {};
    UniqueFd folderFd_;
};

}  // namespace clipfile
