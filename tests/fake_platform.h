#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "portable/heap_memory.h"

namespace clipfile::testing {

using Bytes = std::vector<std::uint8_t>;

// Every platform call that a test can make fail.
enum class Op {
    InitializeFramework,
    OpenClipboard,
    CloseClipboard,
    EmptyClipboard,
    IsClipboardFormatAvailable,
    GetClipboardData,
    SetClipboardData,
    RegisterClipboardFormat,
    GlobalAlloc,
    GlobalLock,
    AllocateBuffer,
    ShareBlock,
    BlockTransfer,
    DescribeBitmap,
    CreateCompatibleDC,
    GetScreenDC,
    GetDIBits,
    CreateDIBitmap,
    CreateCompatibleBitmap,
    SetDIBits,
    OpenFileForReading,
    GetFileLength,
    ReadFile,
    CreateFileForWriting,
    WriteFile,
    CloseFile,
};

struct FakeBitmap {
    BitmapDescription description;
    Bytes header;  // the info block it was created from, if any
    Bytes bits;
};

// An in-memory platform: every role (console, clipboard, global memory,
// bitmaps and a file system) in one object, with any call able to fail on
// demand. It converts to the Platform that names it in every role; a test may
// compose some of its roles with other implementations instead.
class FakePlatform : public Console,
                     public Clipboard,
                     public GlobalMemory,
                     public Graphics,
                     public Files {
public:
    FakePlatform();
    FakePlatform(const FakePlatform&) = delete;
    FakePlatform& operator=(const FakePlatform&) = delete;
    ~FakePlatform() override;

    operator Platform&() { return roles_; }  // NOLINT(google-explicit-constructor)

    // --- test controls and inspection ---
    std::set<Op> failing;
    // Fails only the n-th call (1-based) of an operation.
    std::map<Op, int> failOnCall;
    std::map<Op, int> calls;
    // WriteFile stores only this many bytes of each call and reports that count.
    std::size_t writeLimit = static_cast<std::size_t>(-1);
    // Called after GetDIBits has filled the info block, to mimic a platform
    // that rewrites its counts.
    std::function<void(std::uint8_t* info, std::size_t size)> afterGetDIBits;
    // Off: ShareBlock gives None and block transfers are Unavailable, as on
    // Windows. On: the memory role shares blocks and moves bytes itself,
    // through ReadFile and WriteFile (whose failures then show as Failed).
    bool blockFiles = false;

    std::string output;
    std::string error;
    bool unpairedClose = false;
    bool isOpen = false;

    struct FakeFile {
        Bytes bytes;
        bool directory = false;
    };
    std::map<std::string, FakeFile> files;

    // Clipboard contents, as placed.
    void Place(FormatId id, const Bytes& bytes);
    void PlaceBitmap(const BitmapDescription& description);
    std::vector<FormatId> Formats() const;
    Bytes DataOf(FormatId id) const;
    const FakeBitmap* BitmapOf(FormatId id) const;
    FormatId RegisteredId(const std::string& name) const;
    std::size_t LiveMemoryBlocks() const { return memory_.LiveCount(); }
    std::size_t LiveBitmaps() const { return bitmaps_.size(); }
    std::size_t OpenFiles() const { return openFiles_.size(); }

    // --- the roles ---
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
    MemoryHandle ShareBlock(MemoryHandle block) override;
    BlockTransfer ReadFileIntoBlock(MemoryHandle block, FileHandle file, std::size_t count,
                                    std::size_t& got) override;
    BlockTransfer WriteBlockToFile(MemoryHandle block, FileHandle file,
                                   std::size_t& written) override;
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
    BitmapHandle CreateCompatibleBitmap(DcHandle dc, std::int32_t width,
                                        std::int32_t height) override;
    int SetDIBits(DcHandle dc, BitmapHandle bitmap, std::uint32_t startScan,
                  std::uint32_t scanLines, const void* bits, std::size_t bitsSize,
                  const std::uint8_t* info, std::size_t infoSize) override;
    void DeleteObject(BitmapHandle bitmap) override;
    FileHandle OpenFileForReading(const char* path) override;
    bool GetFileLength(FileHandle file, std::uint64_t& length) override;
    bool ReadFile(FileHandle file, void* buffer, std::size_t count, std::size_t& got) override;
    FileHandle CreateFileForWriting(const char* path) override;
    bool WriteFile(FileHandle file, const void* data, std::size_t count,
                   std::size_t& written) override;
    bool CloseFile(FileHandle file) override;

    int liveDcs = 0;

private:
    bool Fails(Op op);
    BitmapHandle NewBitmap(FakeBitmap bitmap);

    struct Item {
        FormatId id;
        DataHandle data;
    };
    struct OpenFile {
        std::string path;
        std::size_t position = 0;
        bool writing = false;
    };

    Platform roles_{*this, *this, *this, *this, *this};
    HeapGlobalMemory memory_;
    std::vector<Item> clipboard_;
    std::map<std::uintptr_t, FakeBitmap> bitmaps_;
    std::uintptr_t nextBitmap_ = 0x1000;
    std::map<std::string, FormatId> registered_;  // lower-cased name
    std::map<FormatId, std::string> registeredNames_;
    std::map<std::uintptr_t, OpenFile> openFiles_;
    std::uintptr_t nextFile_ = 1;
    std::uintptr_t nextDc_ = 0x100;
};

// A BMP file: 40-byte header, colour table and pixel bytes (byte i holds i).
// The pixel bytes are counted in 32 bits, as biSizeImage and bfSize hold them.
Bytes BmpFile(std::int32_t width, std::int32_t height, std::uint16_t bits, std::uint32_t clrUsed);

}  // namespace clipfile::testing
