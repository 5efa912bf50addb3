#include "clipboard/portable_graphics.h"

namespace clipfile {

bool PortableGraphics::DescribeBitmap(BitmapHandle, BitmapDescription&) { return false; }

DcHandle PortableGraphics::CreateCompatibleDC() { return DcHandle::None; }

void PortableGraphics::DeleteDC(DcHandle) {}

DcHandle PortableGraphics::GetScreenDC() { return DcHandle::None; }

void PortableGraphics::ReleaseScreenDC(DcHandle) {}

int PortableGraphics::GetDIBits(DcHandle, BitmapHandle, std::uint32_t, std::uint32_t, void*,
                                std::uint8_t*, std::size_t) {
    return 0;
}

BitmapHandle PortableGraphics::CreateDIBitmap(DcHandle, const std::uint8_t*, std::size_t,
                                              const std::uint8_t*, std::size_t) {
    return BitmapHandle::None;
}

void PortableGraphics::DeleteObject(BitmapHandle) {}

}  // namespace clipfile
