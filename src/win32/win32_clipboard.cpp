#include "win32/win32_roles.h"

#include <algorithm>

namespace clipfile::win32 {

namespace {

// Formats whose data is a GDI object, not global memory.
int GdiSlot(FormatId id) {
    switch (id) {
        case CF_BITMAP: return 0;
        case CF_PALETTE: return 1;
        case CF_ENHMETAFILE: return 2;
        case CF_DSPBITMAP: return 3;
        case CF_DSPENHMETAFILE: return 4;
        default: return -1;
    }
}

}  // namespace

// Clipboard history, remote-desktop sync and clipboard managers open the
// clipboard right after every change: retry for about a second. The deadline
// is kept by the clock, as Sleep may round a pause up to a tick.
bool Win32Clipboard::OpenClipboard() {
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

bool Win32Clipboard::CloseClipboard() {
    gdiData_.fill(nullptr);
    return ::CloseClipboard() != FALSE;
}

bool Win32Clipboard::EmptyClipboard() { return ::EmptyClipboard() != FALSE; }

FormatId Win32Clipboard::EnumClipboardFormats(FormatId previous) {
    return ::EnumClipboardFormats(previous);
}

int Win32Clipboard::GetClipboardFormatNameA(FormatId id, char* buffer, int bufferSize) {
    if (buffer == nullptr || bufferSize <= 0) {
        return 0;
    }
    return ::GetClipboardFormatNameA(id, buffer, bufferSize);
}

bool Win32Clipboard::IsClipboardFormatAvailable(FormatId id) {
    return ::IsClipboardFormatAvailable(id) != FALSE;
}

DataHandle Win32Clipboard::GetClipboardData(FormatId id) {
    HANDLE data = ::GetClipboardData(id);
    if (const int slot = GdiSlot(id); slot >= 0) {
        gdiData_[static_cast<std::size_t>(slot)] = data;
    }
    return HandleCast<DataHandle>(data);
}

bool Win32Clipboard::SetClipboardData(FormatId id, DataHandle data) {
    return ::SetClipboardData(id, NativeCast<HANDLE>(data)) != nullptr;
}

FormatId Win32Clipboard::RegisterClipboardFormatA(const char* name) {
    return ::RegisterClipboardFormatA(name);
}

bool Win32Clipboard::IsGdiData(MemoryHandle block) const {
    const auto native = NativeCast<HANDLE>(block);
    return native != nullptr &&
           std::find(gdiData_.begin(), gdiData_.end(), native) != gdiData_.end();
}

MemoryHandle Win32GlobalMemory::GlobalAlloc(std::size_t bytes) {
    // Windows versions differ on whether the clipboard takes a zero-byte
    // block, so an empty one is a single zero byte (Wine hands out that
    // byte anyway, and GlobalSize reports it).
    if (bytes == 0) {
        return HandleCast<MemoryHandle>(::GlobalAlloc(GMEM_FIXED | GMEM_ZEROINIT, 1));
    }
    return HandleCast<MemoryHandle>(::GlobalAlloc(GMEM_FIXED, bytes));
}

std::size_t Win32GlobalMemory::GlobalSize(MemoryHandle block) {
    if (clipboard_.IsGdiData(block)) {
        return 0;
    }
    return ::GlobalSize(NativeCast<HGLOBAL>(block));
}

void* Win32GlobalMemory::GlobalLock(MemoryHandle block) {
    if (clipboard_.IsGdiData(block)) {
        return nullptr;
    }
    return ::GlobalLock(NativeCast<HGLOBAL>(block));
}

void Win32GlobalMemory::GlobalUnlock(MemoryHandle block) {
    if (!clipboard_.IsGdiData(block)) {
        ::GlobalUnlock(NativeCast<HGLOBAL>(block));
    }
}

void Win32GlobalMemory::GlobalFree(MemoryHandle block) {
    if (!clipboard_.IsGdiData(block)) {
        ::GlobalFree(NativeCast<HGLOBAL>(block));
    }
}

HeapBuffer Win32GlobalMemory::AllocateBuffer(std::size_t bytes) {
    return AllocateHeapBuffer(bytes);
}

// Clipboard blocks here are plain memory: the commands copy them themselves.
MemoryHandle Win32GlobalMemory::ShareBlock(MemoryHandle /*block*/) { return MemoryHandle::None; }

BlockTransfer Win32GlobalMemory::ReadFileIntoBlock(MemoryHandle /*block*/, FileHandle /*file*/,
                                                   std::size_t /*count*/, std::size_t& got) {
    got = 0;
    return BlockTransfer::Unavailable;
}

BlockTransfer Win32GlobalMemory::WriteBlockToFile(MemoryHandle /*block*/, FileHandle /*file*/,
                                                  std::size_t& written) {
    written = 0;
    return BlockTransfer::Unavailable;
}

}  // namespace clipfile::win32
