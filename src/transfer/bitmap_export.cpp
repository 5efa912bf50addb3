#include "transfer/bitmap_export.h"

#include <cstdlib>

#include "platform/messages.h"

namespace clipfile {

namespace {

bool WriteAll(Platform& platform, FileHandle file, const void* data, std::size_t size) {
    std::size_t written = 0;
    return platform.files.WriteFile(file, data, size, written) && written == size;
}

}  // namespace

UniqueMemoryBlock ReadBitmapPixels(Platform& platform, InfoBlock& infoBlock, BitmapHandle bitmap,
                                   DcHandle deviceContext) {
    const BmpInfoHeader built = ReadInfoHeader(infoBlock.span());
    UniqueMemoryBlock pixels(platform, platform.memory.GlobalAlloc(built.biSizeImage));
    MemoryLock lock(platform, pixels.get());
    if (!pixels || !lock) {
        message::PixelAllocationFailed(platform);
        return {};
    }
    const auto scanLines = static_cast<std::uint32_t>(std::llabs(std::int64_t{built.biHeight}));
    if (platform.graphics.GetDIBits(deviceContext, bitmap, 0, scanLines, lock.bytes(),
                                    infoBlock.bytes.get(), infoBlock.size) == 0) {
        message::DibBitsFailed(platform);
        return {};
    }
    // The read may rewrite the counts; never let them reach past what was allocated.
    const BmpInfoHeader read = ReadInfoHeader(infoBlock.span());
    if (read.biSize != kInfoHeaderSize || read.biSizeImage > built.biSizeImage ||
        read.biClrUsed > (infoBlock.size - kInfoHeaderSize) / kColourEntrySize) {
        message::DibBitsFailed(platform);
        return {};
    }
    // GetDIBits fills the whole colour table of a depth of 8 or less but
    // reports biClrUsed as 0, which the file header and the write would take
    // as no table at all: name the entries it filled.
    if (read.biBitCount <= 8 && read.biClrUsed == 0) {
        BmpInfoHeader named = read;
        named.biClrUsed = ColourTableEntries(read.biBitCount, read.biClrUsed);
        if (named.biClrUsed > (infoBlock.size - kInfoHeaderSize) / kColourEntrySize) {
            message::DibBitsFailed(platform);
            return {};
        }
        WriteInfoHeader(named, infoBlock.span());
    }
    return pixels;
}

bool WriteBitmapFile(Platform& platform, const char* path, const InfoBlock& infoBlock,
                     UniqueMemoryBlock pixels) {
    const BmpInfoHeader info = ReadInfoHeader(infoBlock.span());
    const auto fileHeader = BuildFileHeader(infoBlock);
    if (!fileHeader) {
        message::DibBitsFailed(platform);
        return false;
    }
    MemoryLock lock(platform, pixels.get());
    if (!lock) {
        message::PixelAllocationFailed(platform);
        return false;
    }
    UniqueFile file(platform, platform.files.CreateFileForWriting(path));
    if (!file) {
        message::BitmapFileCreateFailed(platform, path);
        return false;
    }
    const auto headerBytes = WriteFileHeader(*fileHeader);
    if (!WriteAll(platform, file.get(), headerBytes.data(), headerBytes.size())) {
        message::FileHeaderWriteFailed(platform, path);
        return false;
    }
    if (!WriteAll(platform, file.get(), infoBlock.bytes.get(),
                  kInfoHeaderSize + std::size_t{4} * info.biClrUsed)) {
        message::InfoHeaderWriteFailed(platform, path);
        return false;
    }
    if (!WriteAll(platform, file.get(), lock.bytes(), info.biSizeImage)) {
        message::PixelWriteFailed(platform, path);
        return false;
    }
    if (!Close(platform, file)) {
        message::BitmapFileCloseFailed(platform);
        return false;
    }
    return true;
}

ExportResult ExportBitmapToFile(Platform& platform, const char* path) {
    UniqueMemoryDc deviceContext(platform, platform.graphics.CreateCompatibleDC());
    if (!platform.clipboard.IsClipboardFormatAvailable(CF_BITMAP)) {
        message::NoBitmapOnClipboard(platform);
        return ExportResult::Failed;
    }
    OpenClipboardSession clipboard(platform);
    if (!clipboard) {
        message::BitmapOpenFailed(platform);
        return ExportResult::Failed;
    }
    // The bitmap belongs to the clipboard: used only while it is open, never deleted.
    const BitmapHandle bitmap = AsBitmap(platform.clipboard.GetClipboardData(CF_BITMAP));
    BitmapDescription description;
    if (!platform.graphics.DescribeBitmap(bitmap, description)) {
        message::BitmapDescribeFailed(platform);
        return ExportResult::EndProcess;
    }
    if (!BitmapImageSize(description)) {
        message::BitmapTooLarge(platform);
        return ExportResult::Failed;
    }
    auto infoBlock = BuildBitmapInfo(description);
    if (!infoBlock) {
        message::BitmapHeaderAllocationFailed(platform);
        return ExportResult::Failed;
    }
    UniqueMemoryBlock pixels = ReadBitmapPixels(platform, *infoBlock, bitmap, deviceContext.get());
    clipboard.Close();
    if (!pixels) {
        return ExportResult::Failed;
    }
    return WriteBitmapFile(platform, path, *infoBlock, std::move(pixels)) ? ExportResult::Succeeded
                                                                          : ExportResult::Failed;
}

}  // namespace clipfile
