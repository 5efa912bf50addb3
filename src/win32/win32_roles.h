// The Win32 roles.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "platform/clipboard.h"
#include "platform/console.h"
#include "platform/files.h"
#include "platform/global_memory.h"
#include "platform/graphics.h"

#include "win32/windows_headers.h"

namespace clipfile::win32 {

template <typename To, typename From>
To HandleCast(From handle) {
    return static_cast<To>(reinterpret_cast<std::uintptr_t>(handle));
}

template <typename To, typename From>
To NativeCast(From handle) {
    return reinterpret_cast<To>(static_cast<std::uintptr_t>(handle));
}

class Win32Console final : public Console {
public:
    bool InitializeFramework() override;
    void WriteOutput(std::string_view text) override;
    void WriteError(std::string_view text) override;
};

class Win32Clipboard final : public Clipboard {
public:
    bool OpenClipboard() override;
    bool CloseClipboard() override;
    bool EmptyClipboard() override;
    FormatId EnumClipboardFormats(FormatId previous) override;
    int GetClipboardFormatNameA(FormatId id, char* buffer, int bufferSize) override;
    bool IsClipboardFormatAvailable(FormatId id) override;
    DataHandle GetClipboardData(FormatId id) override;
    bool SetClipboardData(FormatId id, DataHandle data) override;
    FormatId RegisterClipboardFormatA(const char* name) override;

    // Whether the handle is a GDI object that GetClipboardData gave out since
    // the clipboard was opened: the memory calls must never treat it as
    // global memory.
    bool IsGdiData(MemoryHandle block) const;

private:
    std::array<HANDLE, 5> gdiData_{};
};

class Win32GlobalMemory final : public GlobalMemory {
public:
    explicit Win32GlobalMemory(const Win32Clipboard& clipboard) : clipboard_(clipboard) {}

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

private:
    const Win32Clipboard& clipboard_;
};

class Win32Graphics final : public Graphics {
public:
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
};

class Win32Files final : public Files {
public:
    FileHandle OpenFileForReading(const char* path) override;
    bool GetFileLength(FileHandle file, std::uint64_t& length) override;
    bool ReadFile(FileHandle file, void* buffer, std::size_t count, std::size_t& got) override;
    FileHandle CreateFileForWriting(const char* path) override;
    bool WriteFile(FileHandle file, const void* data, std::size_t count,
                   std::size_t& written) override;
    bool CloseFile(FileHandle file) override;
};

}  // namespace clipfile::win32
