#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "clipboard/heap_buffer.h"

namespace clipfile {

using FormatId = std::uint32_t;

// Standard clipboard format numbers, as the platform defines them.
enum : FormatId {
    CF_TEXT = 1,
    CF_BITMAP = 2,
    CF_METAFILEPICT = 3,
    CF_SYLK = 4,
    CF_DIF = 5,
    CF_TIFF = 6,
    CF_OEMTEXT = 7,
    CF_DIB = 8,
    CF_PALETTE = 9,
    CF_PENDATA = 10,
    CF_RIFF = 11,
    CF_WAVE = 12,
    CF_UNICODETEXT = 13,
    CF_ENHMETAFILE = 14,
    CF_HDROP = 15,
    CF_LOCALE = 16,
    CF_DIBV5 = 17,
    CF_OWNERDISPLAY = 0x80,
    CF_DSPTEXT = 0x81,
    CF_DSPBITMAP = 0x82,
    CF_DSPMETAFILEPICT = 0x83,
    CF_DSPENHMETAFILE = 0x8E,
};

// Opaque platform handles. The value 0 is "no handle" for every kind.
enum class MemoryHandle : std::uintptr_t { None = 0 };
enum class BitmapHandle : std::uintptr_t { None = 0 };
enum class DcHandle : std::uintptr_t { None = 0 };
enum class FileHandle : std::uintptr_t { None = 0 };
// What GetClipboardData returns and SetClipboardData takes: a memory block for
// most formats, a bitmap for CF_BITMAP.
enum class DataHandle : std::uintptr_t { None = 0 };

constexpr DataHandle ToData(MemoryHandle h) { return static_cast<DataHandle>(h); }
constexpr DataHandle ToData(BitmapHandle h) { return static_cast<DataHandle>(h); }
constexpr MemoryHandle AsMemory(DataHandle h) { return static_cast<MemoryHandle>(h); }
constexpr BitmapHandle AsBitmap(DataHandle h) { return static_cast<BitmapHandle>(h); }

// The four values of a bitmap that the BMP exporter starts from.
struct BitmapDescription {
    std::int32_t width = 0;
    std::int32_t height = 0;
    std::uint16_t planes = 0;
    std::uint16_t bitsPerPixel = 0;
};

// Everything the commands need of the operating system: clipboard, global
// memory, graphics, files and the console. Commands take it by reference so
// that tests can substitute an in-memory platform that fails on demand.
class Platform {
public:
    virtual ~Platform() = default;

    // Start-up of the application framework; false ends the run with status 1.
    virtual bool InitializeFramework() = 0;

    // Console.
    virtual void WriteOutput(std::string_view text) = 0;
    virtual void WriteError(std::string_view text) = 0;

    // Clipboard. OpenClipboard opens for this process with no owner window.
    virtual bool OpenClipboard() = 0;
    virtual bool CloseClipboard() = 0;
    virtual bool EmptyClipboard() = 0;
    virtual FormatId EnumClipboardFormats(FormatId previous) = 0;
    virtual int GetClipboardFormatNameA(FormatId id, char* buffer, int bufferSize) = 0;
    virtual bool IsClipboardFormatAvailable(FormatId id) = 0;
    virtual DataHandle GetClipboardData(FormatId id) = 0;
    // True when the clipboard took ownership of the handle.
    virtual bool SetClipboardData(FormatId id, DataHandle data) = 0;
    virtual FormatId RegisterClipboardFormatA(const char* name) = 0;

    // Global memory, always GMEM_FIXED.
    virtual MemoryHandle GlobalAlloc(std::size_t bytes) = 0;
    virtual std::size_t GlobalSize(MemoryHandle block) = 0;
    virtual void* GlobalLock(MemoryHandle block) = 0;
    virtual void GlobalUnlock(MemoryHandle block) = 0;
    virtual void GlobalFree(MemoryHandle block) = 0;

    // The C runtime's heap, for the commands' own working copies.
    virtual HeapBuffer AllocateBuffer(std::size_t bytes) = 0;

    // Graphics. Info blocks are a 40-byte BITMAPINFOHEADER followed by its
    // colour table; the sizes let an implementation stay within them.
    virtual bool DescribeBitmap(BitmapHandle bitmap, BitmapDescription& description) = 0;
    virtual DcHandle CreateCompatibleDC() = 0;
    virtual void DeleteDC(DcHandle dc) = 0;
    virtual DcHandle GetScreenDC() = 0;
    virtual void ReleaseScreenDC(DcHandle dc) = 0;
    // DIB_RGB_COLORS. Returns the number of scan lines read, 0 on failure.
    virtual int GetDIBits(DcHandle dc, BitmapHandle bitmap, std::uint32_t startScan,
                          std::uint32_t scanLines, void* bits, std::uint8_t* info,
                          std::size_t infoSize) = 0;
    // CBM_INIT with DIB_RGB_COLORS; the header is the start of the info block.
    virtual BitmapHandle CreateDIBitmap(DcHandle dc, const std::uint8_t* info, std::size_t infoSize,
                                        const std::uint8_t* bits, std::size_t bitsSize) = 0;
    virtual void DeleteObject(BitmapHandle bitmap) = 0;

    // Files, always binary. OpenFileForReading opens an existing regular file
    // without blocking; anything else (directory, FIFO, device) fails.
    virtual FileHandle OpenFileForReading(const char* path) = 0;
    virtual bool GetFileLength(FileHandle file, std::uint64_t& length) = 0;
    // Reads until count bytes, end of file or an error; false on error.
    virtual bool ReadFile(FileHandle file, void* buffer, std::size_t count, std::size_t& got) = 0;
    // Creates the file or truncates an existing one.
    virtual FileHandle CreateFileForWriting(const char* path) = 0;
    // Writes until count bytes or an error; false on error.
    virtual bool WriteFile(FileHandle file, const void* data, std::size_t count,
                           std::size_t& written) = 0;
    // False when buffered data could not be stored.
    virtual bool CloseFile(FileHandle file) = 0;
};

}  // namespace clipfile
