#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

#include "clipboard/heap_memory.h"
#include "clipboard/platform.h"
#include "clipboard/portable_graphics.h"
#include "clipboard/portable_store.h"

namespace clipfile {

inline constexpr std::size_t kMaxLocationPath = 4096;

// The clipboard folder for this user: $XDG_RUNTIME_DIR/clipfile, or
// /tmp/clipfile-<uid> when that variable is unset or empty. False when the
// path does not fit in size bytes.
bool DefaultClipboardLocation(char* path, std::size_t size);

// A clipboard shared by all processes of the user, kept in a private folder.
// Changes made while open go to a temporary file that replaces the contents
// at CloseClipboard, so other processes see either the old or the new
// contents, whole.
class PortablePlatform final : public Platform {
public:
    // location is the clipboard folder; an empty or overlong path makes every
    // clipboard operation fail.
    explicit PortablePlatform(std::string_view location);
    PortablePlatform(const PortablePlatform&) = delete;
    PortablePlatform& operator=(const PortablePlatform&) = delete;
    // Commits pending changes like CloseClipboard when still open.
    ~PortablePlatform() override;

    bool InitializeFramework() override;
    void WriteOutput(std::string_view text) override;
    void WriteError(std::string_view text) override;

    bool OpenClipboard() override;
    bool CloseClipboard() override;
    bool EmptyClipboard() override;
    FormatId EnumClipboardFormats(FormatId previous) override;
    int GetClipboardFormatNameA(FormatId id, char* buffer, int bufferSize) override;
    bool IsClipboardFormatAvailable(FormatId id) override;
    DataHandle GetClipboardData(FormatId id) override;
    bool SetClipboardData(FormatId id, DataHandle data) override;
    FormatId RegisterClipboardFormatA(const char* name) override;

    MemoryHandle GlobalAlloc(std::size_t bytes) override;
    std::size_t GlobalSize(MemoryHandle block) override;
    void* GlobalLock(MemoryHandle block) override;
    void GlobalUnlock(MemoryHandle block) override;
    void GlobalFree(MemoryHandle block) override;
    HeapBuffer AllocateBuffer(std::size_t bytes) override;

    bool DescribeBitmap(BitmapHandle bitmap, BitmapDescription& description) override;
    DcHandle CreateCompatibleDC() override;
    void DeleteDC(DcHandle dc) override;
    DcHandle GetScreenDC() override;
    void ReleaseScreenDC(DcHandle dc) override;
    int GetDIBits(DcHandle dc, BitmapHandle bitmap, std::uint32_t startScan,
                  std::uint32_t scanLines, void* bits, std::uint8_t* info,
                  std::size_t infoSize) override;
    BitmapHandle CreateDIBitmap(DcHandle dc, const std::uint8_t* info, std::size_t infoSize,
                                const std::uint8_t* bits, std::size_t bitsSize) override;
    void DeleteObject(BitmapHandle bitmap) override;

    FileHandle OpenFileForReading(const char* path) override;
    bool GetFileLength(FileHandle file, std::uint64_t& length) override;
    bool ReadFile(FileHandle file, void* buffer, std::size_t count, std::size_t& got) override;
    FileHandle CreateFileForWriting(const char* path) override;
    bool WriteFile(FileHandle file, const void* data, std::size_t count,
                   std::size_t& written) override;
    bool CloseFile(FileHandle file) override;

private:
    bool IsOpen() const { return lockFd_ >= 0; }
    bool HasPending() const { return pendingFd_ >= 0; }
    bool StartPending(bool keepCurrent, FormatId replaced);
    void DropPending();
    bool AppendPending(FormatId id, std::span<const std::uint8_t> head,
                       std::span<const std::uint8_t> body);
    DataHandle GetBitmapData(FormatId id, const portable::EntryList& entries, int fd);
    MemoryHandle MapCommittedBlock(const portable::ContentsEntry& entry);
    void UnmapBlocks();

    char location_[kMaxLocationPath] = {};
    HeapGlobalMemory memory_;
    PortableGraphics graphics_;

    // Valid only while the clipboard is open.
    int dirFd_ = -1;
    int lockFd_ = -1;
    // The contents as they were at OpenClipboard (-1 when missing or damaged).
    int committedFd_ = -1;
    portable::EntryList committed_;
    // This session's changes, in a temporary file in the same folder.
    int pendingFd_ = -1;
    portable::EntryList pending_;
    std::uint64_t pendingEnd_ = 0;
    char pendingName_[64] = {};
    // Blocks handed out by GetClipboardData, freed at CloseClipboard.
    portable::Array<MemoryHandle> handedOut_;
    portable::Array<BitmapHandle> handedOutBitmaps_;
    // Large blocks of the committed contents, handed out as private mappings
    // of the file; the handle is the mapping's address.
    struct MappedBlock {
        void* mapping = nullptr;
        std::size_t mappingSize = 0;
        unsigned char* bytes = nullptr;
        std::size_t size = 0;
    };
    portable::Array<MappedBlock> mappedBlocks_;
    const MappedBlock* FindMapped(MemoryHandle block) const;
};

}  // namespace clipfile
