// The Win32 platform. platform.h must come before <windows.h>: the Windows
// headers define CF_TEXT and friends as macros, which would rewrite the
// enumerators of the same names.
#include "clipboard/platform.h"
#include "clipboard/system_platform.h"
#include "clipboard/win32_file_names.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <utility>

#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

namespace clipfile {
namespace {

template <typename To, typename From>
To HandleCast(From handle) {
    return static_cast<To>(reinterpret_cast<std::uintptr_t>(handle));
}

template <typename To, typename From>
To NativeCast(From handle) {
    return reinterpret_cast<To>(static_cast<std::uintptr_t>(handle));
}

FileHandle ToFileHandle(HANDLE file) {
    return file == INVALID_HANDLE_VALUE ? FileHandle::None : HandleCast<FileHandle>(file);
}

// Opens a file by the wide name of the argument it was given as. Others may
// read and write it meanwhile, as the C runtime's fopen allows: an editor or
// a viewer with the file open does not stop a transfer.
HANDLE OpenByArgumentName(const char* path, DWORD access, DWORD disposition) {
    constexpr DWORD kShare = FILE_SHARE_READ | FILE_SHARE_WRITE;
    const std::wstring wide = WideArgumentFor(path);
    if (!wide.empty()) {
        return ::CreateFileW(wide.c_str(), access, kShare, nullptr, disposition,
                             FILE_ATTRIBUTE_NORMAL, nullptr);
    }
    return ::CreateFileA(path, access, kShare, nullptr, disposition, FILE_ATTRIBUTE_NORMAL,
                         nullptr);
}

// Owns a kernel handle until it is released to the caller.
class OwnedKernelHandle {
public:
    explicit OwnedKernelHandle(HANDLE handle) : handle_(handle) {}
    OwnedKernelHandle(OwnedKernelHandle&& other) noexcept
        : handle_(std::exchange(other.handle_, INVALID_HANDLE_VALUE)) {}
    OwnedKernelHandle& operator=(OwnedKernelHandle&& other) noexcept {
        if (this != &other) {
            Reset();
            handle_ = std::exchange(other.handle_, INVALID_HANDLE_VALUE);
        }
        return *this;
    }
    OwnedKernelHandle(const OwnedKernelHandle&) = delete;
    OwnedKernelHandle& operator=(const OwnedKernelHandle&) = delete;
    ~OwnedKernelHandle() { Reset(); }

    [[nodiscard]] HANDLE get() const { return handle_; }
    [[nodiscard]] bool valid() const {
        return handle_ != INVALID_HANDLE_VALUE && handle_ != nullptr;
    }
    HANDLE release() { return std::exchange(handle_, INVALID_HANDLE_VALUE); }

private:
    void Reset() {
        if (valid()) {
            ::CloseHandle(std::exchange(handle_, INVALID_HANDLE_VALUE));
        }
    }

    HANDLE handle_;
};

// A 4-byte aligned copy of a caller's info block. GDI may read or write a
// colour table (or bit-field masks it was not asked for) past what the caller
// sized, so the calls work on this zero-padded copy instead of the original.
class InfoBlock {
public:
    static constexpr std::size_t kCapacity = 2048;

    InfoBlock(const std::uint8_t* info, std::size_t size) : size_(std::min(size, kCapacity)) {
        std::memcpy(bytes_, info, size_);
    }
    InfoBlock(const InfoBlock&) = delete;
    InfoBlock& operator=(const InfoBlock&) = delete;

    void CopyBack(std::uint8_t* info) const { std::memcpy(info, bytes_, size_); }
    BITMAPINFO* info() { return reinterpret_cast<BITMAPINFO*>(bytes_); }
    BITMAPINFOHEADER* header() { return reinterpret_cast<BITMAPINFOHEADER*>(bytes_); }

private:
    alignas(8) unsigned char bytes_[kCapacity] = {};
    std::size_t size_;
};

// The bytes a DIB's colour table (or bit-field masks) occupies after its header.
std::uint64_t ColourTableBytes(const BITMAPINFOHEADER& header) {
    std::uint64_t entries = header.biClrUsed;
    if (header.biBitCount <= 8 && entries == 0) {
        entries = std::uint64_t{1} << header.biBitCount;
    }
    std::uint64_t bytes = entries * sizeof(RGBQUAD);
    if (header.biCompression == BI_BITFIELDS && header.biSize == sizeof(BITMAPINFOHEADER)) {
        bytes += 3 * sizeof(DWORD);
    }
    return bytes;
}

// The bytes CreateDIBitmap reads from the pixel buffer; 0 when the header
// does not describe a bitmap it could read.
std::uint64_t PixelBytes(const BITMAPINFOHEADER& header) {
    if (header.biWidth <= 0 || header.biHeight == 0 || header.biPlanes != 1) {
        return 0;
    }
    if (header.biCompression == BI_RGB || header.biCompression == BI_BITFIELDS) {
        const auto width = static_cast<std::uint64_t>(header.biWidth);
        const std::int64_t height = header.biHeight;
        const std::uint64_t stride = (width * header.biBitCount + 31) / 32 * 4;
        return stride * static_cast<std::uint64_t>(height < 0 ? -height : height);
    }
    return header.biSizeImage;
}

class Win32Platform final : public Platform {
public:
    bool InitializeFramework() override {
        return ::GetModuleHandleA(nullptr) != nullptr && ::GetCommandLineA() != nullptr;
    }

    // Both streams stay in text mode, so "\n" goes out as CRLF as formatted
    // printing does on Windows.
    void WriteOutput(std::string_view text) override {
        std::fwrite(text.data(), 1, text.size(), stdout);
    }
    void WriteError(std::string_view text) override {
        std::fflush(stdout);
        std::fwrite(text.data(), 1, text.size(), stderr);
    }

    // Clipboard history, remote-desktop sync and clipboard managers open the
    // clipboard right after every change: retry for about a second. The
    // deadline is kept by the clock, as Sleep may round a pause up to a tick.
    bool OpenClipboard() override {
        constexpr DWORD kWaitMs = 1000;
        constexpr DWORD kPauseMs = 15;
        const DWORD started = ::GetTickCount();
        while (!::OpenClipboard(nullptr)) {
            if (::GetTickCount() - started >= kWaitMs) {
                return false;
            }
            ::Sleep(kPauseMs);
        }
        return true;
    }

    bool CloseClipboard() override {
        gdiData_.fill(nullptr);
        return ::CloseClipboard() != FALSE;
    }

    bool EmptyClipboard() override { return ::EmptyClipboard() != FALSE; }

    FormatId EnumClipboardFormats(FormatId previous) override {
        return ::EnumClipboardFormats(previous);
    }

    int GetClipboardFormatNameA(FormatId id, char* buffer, int bufferSize) override {
        if (buffer == nullptr || bufferSize <= 0) {
            return 0;
        }
        return ::GetClipboardFormatNameA(id, buffer, bufferSize);
    }

    bool IsClipboardFormatAvailable(FormatId id) override {
        return ::IsClipboardFormatAvailable(id) != FALSE;
    }

    DataHandle GetClipboardData(FormatId id) override {
        HANDLE data = ::GetClipboardData(id);
        if (const int slot = GdiSlot(id); slot >= 0) {
            gdiData_[static_cast<std::size_t>(slot)] = data;
        }
        return HandleCast<DataHandle>(data);
    }

    bool SetClipboardData(FormatId id, DataHandle data) override {
        return ::SetClipboardData(id, NativeCast<HANDLE>(data)) != nullptr;
    }

    FormatId RegisterClipboardFormatA(const char* name) override {
        return ::RegisterClipboardFormatA(name);
    }

    MemoryHandle GlobalAlloc(std::size_t bytes) override {
        // Wine hands out one byte for an empty block and GlobalSize reports
        // it; zero it so that an empty file does not come back as garbage.
        const UINT flags = bytes == 0 ? GMEM_FIXED | GMEM_ZEROINIT : GMEM_FIXED;
        return HandleCast<MemoryHandle>(::GlobalAlloc(flags, bytes));
    }

    std::size_t GlobalSize(MemoryHandle block) override {
        if (IsGdiData(block)) {
            return 0;
        }
        return ::GlobalSize(NativeCast<HGLOBAL>(block));
    }

    void* GlobalLock(MemoryHandle block) override {
        if (IsGdiData(block)) {
            return nullptr;
        }
        return ::GlobalLock(NativeCast<HGLOBAL>(block));
    }

    void GlobalUnlock(MemoryHandle block) override {
        if (!IsGdiData(block)) {
            ::GlobalUnlock(NativeCast<HGLOBAL>(block));
        }
    }

    void GlobalFree(MemoryHandle block) override {
        if (!IsGdiData(block)) {
            ::GlobalFree(NativeCast<HGLOBAL>(block));
        }
    }

    HeapBuffer AllocateBuffer(std::size_t bytes) override { return AllocateHeapBuffer(bytes); }

    bool DescribeBitmap(BitmapHandle bitmap, BitmapDescription& description) override {
        const auto native = NativeCast<HBITMAP>(bitmap);
        if (::GetObjectType(native) != OBJ_BITMAP) {
            return false;
        }
        BITMAP object{};
        if (::GetObjectA(native, sizeof(BITMAP), &object) != static_cast<int>(sizeof(BITMAP))) {
            return false;
        }
        description.width = object.bmWidth;
        description.height = object.bmHeight;
        description.planes = object.bmPlanes;
        description.bitsPerPixel = object.bmBitsPixel;
        return true;
    }

    DcHandle CreateCompatibleDC() override {
        return HandleCast<DcHandle>(::CreateCompatibleDC(nullptr));
    }
    void DeleteDC(DcHandle dc) override { ::DeleteDC(NativeCast<HDC>(dc)); }
    DcHandle GetScreenDC() override { return HandleCast<DcHandle>(::GetDC(nullptr)); }
    void ReleaseScreenDC(DcHandle dc) override { ::ReleaseDC(nullptr, NativeCast<HDC>(dc)); }

    int GetDIBits(DcHandle dc, BitmapHandle bitmap, std::uint32_t startScan,
                  std::uint32_t scanLines, void* bits, std::uint8_t* info,
                  std::size_t infoSize) override {
        if (info == nullptr || infoSize < sizeof(BITMAPINFOHEADER)) {
            return 0;
        }
        InfoBlock block(info, infoSize);
        const int lines = ::GetDIBits(NativeCast<HDC>(dc), NativeCast<HBITMAP>(bitmap), startScan,
                                      scanLines, bits, block.info(), DIB_RGB_COLORS);
        block.CopyBack(info);
        return lines;
    }

    BitmapHandle CreateDIBitmap(DcHandle dc, const std::uint8_t* info, std::size_t infoSize,
                                const std::uint8_t* bits, std::size_t bitsSize) override {
        if (info == nullptr || bits == nullptr || infoSize < sizeof(BITMAPINFOHEADER)) {
            return BitmapHandle::None;
        }
        InfoBlock block(info, infoSize);
        const BITMAPINFOHEADER& header = *block.header();
        if (header.biSize < sizeof(BITMAPINFOHEADER) || header.biSize > sizeof(BITMAPV5HEADER) ||
            header.biBitCount == 0 || header.biBitCount > 32 ||
            header.biSize + ColourTableBytes(header) > infoSize) {
            return BitmapHandle::None;
        }
        const std::uint64_t pixels = PixelBytes(header);
        if (pixels == 0 || pixels > bitsSize) {
            return BitmapHandle::None;
        }
        return HandleCast<BitmapHandle>(::CreateDIBitmap(
            NativeCast<HDC>(dc), block.header(), CBM_INIT, bits, block.info(), DIB_RGB_COLORS));
    }

    void DeleteObject(BitmapHandle bitmap) override { ::DeleteObject(NativeCast<HBITMAP>(bitmap)); }

    FileHandle OpenFileForReading(const char* path) override {
        OwnedKernelHandle file(OpenByArgumentName(path, GENERIC_READ, OPEN_EXISTING));
        // Pipes and devices are not files to read a clipboard block from.
        if (!file.valid() || ::GetFileType(file.get()) != FILE_TYPE_DISK) {
            return FileHandle::None;
        }
        return ToFileHandle(file.release());
    }

    bool GetFileLength(FileHandle file, std::uint64_t& length) override {
        LARGE_INTEGER size{};
        if (!::GetFileSizeEx(NativeCast<HANDLE>(file), &size) || size.QuadPart < 0) {
            return false;
        }
        length = static_cast<std::uint64_t>(size.QuadPart);
        return true;
    }

    bool ReadFile(FileHandle file, void* buffer, std::size_t count, std::size_t& got) override {
        got = 0;
        auto* bytes = static_cast<unsigned char*>(buffer);
        while (got < count) {
            const auto chunk = static_cast<DWORD>(std::min<std::size_t>(count - got, kMaxChunk));
            DWORD done = 0;
            if (!::ReadFile(NativeCast<HANDLE>(file), bytes + got, chunk, &done, nullptr)) {
                return false;
            }
            if (done == 0) {
                break;
            }
            got += done;
        }
        return true;
    }

    FileHandle CreateFileForWriting(const char* path) override {
        return ToFileHandle(OpenByArgumentName(path, GENERIC_WRITE, CREATE_ALWAYS));
    }

    bool WriteFile(FileHandle file, const void* data, std::size_t count,
                   std::size_t& written) override {
        written = 0;
        const auto* bytes = static_cast<const unsigned char*>(data);
        while (written < count) {
            const auto chunk =
                static_cast<DWORD>(std::min<std::size_t>(count - written, kMaxChunk));
            DWORD done = 0;
            if (!::WriteFile(NativeCast<HANDLE>(file), bytes + written, chunk, &done, nullptr) ||
                done == 0) {
                return false;
            }
            written += done;
        }
        return true;
    }

    bool CloseFile(FileHandle file) override {
        return ::CloseHandle(NativeCast<HANDLE>(file)) != FALSE;
    }

private:
    static constexpr std::size_t kMaxChunk = std::size_t{1} << 30;

    // Formats whose data is a GDI object, not global memory.
    static int GdiSlot(FormatId id) {
        switch (id) {
            case CF_BITMAP: return 0;
            case CF_PALETTE: return 1;
            case CF_ENHMETAFILE: return 2;
            case CF_DSPBITMAP: return 3;
            case CF_DSPENHMETAFILE: return 4;
            default: return -1;
        }
    }

    bool IsGdiData(MemoryHandle block) const {
        const auto native = NativeCast<HANDLE>(block);
        return native != nullptr &&
               std::find(gdiData_.begin(), gdiData_.end(), native) != gdiData_.end();
    }

    // The GDI handles GetClipboardData gave out since the clipboard was opened;
    // the memory calls must never treat them as global memory.
    std::array<HANDLE, 5> gdiData_{};
};

}  // namespace

std::unique_ptr<Platform> CreateSystemPlatform() { return std::make_unique<Win32Platform>(); }

}  // namespace clipfile
