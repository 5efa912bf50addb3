#include "fake_platform.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <span>

#include "bmp/bmp.h"

namespace clipfile::testing {

namespace {

std::string Lower(std::string text) {
    for (char& c : text) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return text;
}

}  // namespace

FakePlatform::FakePlatform() = default;
FakePlatform::~FakePlatform() = default;

bool FakePlatform::Fails(Op op) {
    const int call = ++calls[op];
    const auto it = failOnCall.find(op);
    return failing.contains(op) || (it != failOnCall.end() && it->second == call);
}

void FakePlatform::Place(FormatId id, const Bytes& bytes) {
    const MemoryHandle block = memory_.Alloc(bytes.size());
    std::copy(bytes.begin(), bytes.end(), memory_.Bytes(block).begin());
    clipboard_.push_back({id, ToData(block)});
}

void FakePlatform::PlaceBitmap(const BitmapDescription& description) {
    clipboard_.push_back({CF_BITMAP, ToData(NewBitmap({description, {}, {}}))});
}

std::vector<FormatId> FakePlatform::Formats() const {
    std::vector<FormatId> ids;
    for (const Item& item : clipboard_) ids.push_back(item.id);
    return ids;
}

Bytes FakePlatform::DataOf(FormatId id) const {
    for (const Item& item : clipboard_) {
        if (item.id == id) {
            const auto bytes = memory_.Bytes(AsMemory(item.data));
            return Bytes(bytes.begin(), bytes.end());
        }
    }
    return {};
}

const FakeBitmap* FakePlatform::BitmapOf(FormatId id) const {
    for (const Item& item : clipboard_) {
        if (item.id == id) {
            const auto it = bitmaps_.find(static_cast<std::uintptr_t>(item.data));
            return it != bitmaps_.end() ? &it->second : nullptr;
        }
    }
    return nullptr;
}

FormatId FakePlatform::RegisteredId(const std::string& name) const {
    const auto it = registered_.find(Lower(name));
    return it != registered_.end() ? it->second : 0;
}

bool FakePlatform::InitializeFramework() { return !Fails(Op::InitializeFramework); }
void FakePlatform::WriteOutput(std::string_view text) { output.append(text); }
void FakePlatform::WriteError(std::string_view text) { error.append(text); }

bool FakePlatform::OpenClipboard() {
    if (Fails(Op::OpenClipboard) || isOpen) return false;
    isOpen = true;
    return true;
}

bool FakePlatform::CloseClipboard() {
    if (!isOpen) unpairedClose = true;
    isOpen = false;
    return !Fails(Op::CloseClipboard);
}

bool FakePlatform::EmptyClipboard() {
    if (!isOpen || Fails(Op::EmptyClipboard)) return false;
    for (const Item& item : clipboard_) {
        if (item.id == CF_BITMAP) {
            bitmaps_.erase(static_cast<std::uintptr_t>(item.data));
        } else {
            memory_.Free(AsMemory(item.data));
        }
    }
    clipboard_.clear();
    return true;
}

FormatId FakePlatform::EnumClipboardFormats(FormatId previous) {
    if (!isOpen) return 0;
    if (previous == 0) return clipboard_.empty() ? 0 : clipboard_.front().id;
    for (std::size_t i = 0; i + 1 < clipboard_.size(); ++i) {
        if (clipboard_[i].id == previous) return clipboard_[i + 1].id;
    }
    return 0;
}

int FakePlatform::GetClipboardFormatNameA(FormatId id, char* buffer, int bufferSize) {
    const auto it = registeredNames_.find(id);
    if (it == registeredNames_.end() || bufferSize <= 0) return 0;
    const std::size_t n = std::min(it->second.size(), static_cast<std::size_t>(bufferSize - 1));
    std::memcpy(buffer, it->second.data(), n);
    buffer[n] = '\0';
    return static_cast<int>(n);
}

bool FakePlatform::IsClipboardFormatAvailable(FormatId id) {
    if (Fails(Op::IsClipboardFormatAvailable)) return false;
    return std::any_of(clipboard_.begin(), clipboard_.end(),
                       [id](const Item& i) { return i.id == id; });
}

DataHandle FakePlatform::GetClipboardData(FormatId id) {
    if (!isOpen || Fails(Op::GetClipboardData)) return DataHandle::None;
    for (const Item& item : clipboard_) {
        if (item.id == id) return item.data;
    }
    return DataHandle::None;
}

bool FakePlatform::SetClipboardData(FormatId id, DataHandle data) {
    if (!isOpen || Fails(Op::SetClipboardData)) return false;
    clipboard_.push_back({id, data});
    return true;
}

FormatId FakePlatform::RegisterClipboardFormatA(const char* name) {
    if (Fails(Op::RegisterClipboardFormat)) return 0;
    const std::string key = Lower(name);
    const auto it = registered_.find(key);
    if (it != registered_.end()) return it->second;
    const auto id = static_cast<FormatId>(0xC000 + registered_.size());
    registered_[key] = id;
    registeredNames_[id] = name;
    return id;
}

MemoryHandle FakePlatform::GlobalAlloc(std::size_t bytes) {
    if (Fails(Op::GlobalAlloc)) return MemoryHandle::None;
    return memory_.Alloc(bytes);
}
std::size_t FakePlatform::GlobalSize(MemoryHandle block) { return memory_.Size(block); }
void* FakePlatform::GlobalLock(MemoryHandle block) {
    if (Fails(Op::GlobalLock)) return nullptr;
    return memory_.Lock(block);
}
void FakePlatform::GlobalUnlock(MemoryHandle block) { memory_.Unlock(block); }
void FakePlatform::GlobalFree(MemoryHandle block) { memory_.Free(block); }

HeapBuffer FakePlatform::AllocateBuffer(std::size_t bytes) {
    if (Fails(Op::AllocateBuffer)) return {};
    return AllocateHeapBuffer(bytes);
}

MemoryHandle FakePlatform::ShareBlock(MemoryHandle block) {
    if (!blockFiles || Fails(Op::ShareBlock) || !memory_.IsLive(block)) return MemoryHandle::None;
    const std::span<unsigned char> from = memory_.Bytes(block);
    const MemoryHandle shared = memory_.Alloc(from.size());
    if (shared != MemoryHandle::None)
        std::copy(from.begin(), from.end(), memory_.Bytes(shared).begin());
    return shared;
}

BlockTransfer FakePlatform::ReadFileIntoBlock(MemoryHandle block, FileHandle file,
                                              std::size_t count, std::size_t& got) {
    got = 0;
    if (!blockFiles || memory_.Size(block) < count) return BlockTransfer::Unavailable;
    if (Fails(Op::BlockTransfer)) return BlockTransfer::Failed;
    return ReadFile(file, memory_.Bytes(block).data(), count, got) ? BlockTransfer::Done
                                                                   : BlockTransfer::Failed;
}

BlockTransfer FakePlatform::WriteBlockToFile(MemoryHandle block, FileHandle file,
                                             std::size_t& written) {
    written = 0;
    if (!blockFiles || !memory_.IsLive(block)) return BlockTransfer::Unavailable;
    if (Fails(Op::BlockTransfer)) return BlockTransfer::Failed;
    const std::span<unsigned char> bytes = memory_.Bytes(block);
    return WriteFile(file, bytes.data(), bytes.size(), written) ? BlockTransfer::Done
                                                                : BlockTransfer::Failed;
}

BitmapHandle FakePlatform::NewBitmap(FakeBitmap bitmap) {
    const std::uintptr_t handle = nextBitmap_++;
    bitmaps_[handle] = std::move(bitmap);
    return static_cast<BitmapHandle>(handle);
}

bool FakePlatform::DescribeBitmap(BitmapHandle bitmap, BitmapDescription& description) {
    const auto it = bitmaps_.find(static_cast<std::uintptr_t>(bitmap));
    if (Fails(Op::DescribeBitmap) || it == bitmaps_.end()) return false;
    description = it->second.description;
    return true;
}

DcHandle FakePlatform::CreateCompatibleDC() {
    if (Fails(Op::CreateCompatibleDC)) return DcHandle::None;
    ++liveDcs;
    return static_cast<DcHandle>(nextDc_++);
}
void FakePlatform::DeleteDC(DcHandle) { --liveDcs; }
DcHandle FakePlatform::GetScreenDC() {
    if (Fails(Op::GetScreenDC)) return DcHandle::None;
    ++liveDcs;
    return static_cast<DcHandle>(nextDc_++);
}
void FakePlatform::ReleaseScreenDC(DcHandle) { --liveDcs; }

// Fills the pixels and the colour table with a recognisable pattern.
int FakePlatform::GetDIBits(DcHandle dc, BitmapHandle bitmap, std::uint32_t,
                            std::uint32_t scanLines, void* bits, std::uint8_t* info,
                            std::size_t infoSize) {
    if (Fails(Op::GetDIBits) || dc == DcHandle::None ||
        !bitmaps_.contains(static_cast<std::uintptr_t>(bitmap)) || infoSize < kInfoHeaderSize) {
        return 0;
    }
    const BmpInfoHeader header = ReadInfoHeader({info, infoSize});
    auto* out = static_cast<std::uint8_t*>(bits);
    for (std::uint32_t i = 0; i < header.biSizeImage; ++i)
        out[i] = static_cast<std::uint8_t>(i * 7 + 3);
    if (header.biBitCount <= 8) {
        const std::size_t entries =
            std::min<std::size_t>(header.biClrUsed, (infoSize - kInfoHeaderSize) / 4);
        for (std::size_t i = 0; i < entries * 4; ++i) {
            info[kInfoHeaderSize + i] = static_cast<std::uint8_t>(i * 13 + 1);
        }
    }
    if (afterGetDIBits) afterGetDIBits(info, infoSize);
    return static_cast<int>(scanLines);
}

// Models a screen of 32 bits per pixel.
BitmapHandle FakePlatform::CreateDIBitmap(DcHandle dc, const std::uint8_t* info,
                                          std::size_t infoSize, const std::uint8_t* bits,
                                          std::size_t bitsSize) {
    if (Fails(Op::CreateDIBitmap) || dc == DcHandle::None || infoSize < kInfoHeaderSize)
        return BitmapHandle::None;
    const BmpInfoHeader header = ReadInfoHeader({info, infoSize});
    FakeBitmap bitmap;
    bitmap.description = {header.biWidth,
                          static_cast<std::int32_t>(std::llabs(std::int64_t{header.biHeight})), 1,
                          32};
    bitmap.header.assign(info, info + infoSize);
    bitmap.bits.assign(bits, bits + bitsSize);
    return NewBitmap(std::move(bitmap));
}

BitmapHandle FakePlatform::CreateCompatibleBitmap(DcHandle dc, std::int32_t width,
                                                  std::int32_t height) {
    if (Fails(Op::CreateCompatibleBitmap) || dc == DcHandle::None || width <= 0 || height <= 0)
        return BitmapHandle::None;
    return NewBitmap({{width, height, 1, 32}, {}, {}});
}

// Keeps the header and the rows bottom-up, as CreateDIBitmap does for a
// bottom-up DIB; takes only a DIB of the bitmap's own size.
int FakePlatform::SetDIBits(DcHandle dc, BitmapHandle bitmap, std::uint32_t startScan,
                            std::uint32_t scanLines, const void* bits, std::size_t bitsSize,
                            const std::uint8_t* info, std::size_t infoSize) {
    const auto it = bitmaps_.find(static_cast<std::uintptr_t>(bitmap));
    if (Fails(Op::SetDIBits) || dc == DcHandle::None || it == bitmaps_.end() ||
        infoSize < kInfoHeaderSize)
        return 0;
    const BmpInfoHeader header = ReadInfoHeader({info, infoSize});
    FakeBitmap& target = it->second;
    const auto height = static_cast<std::uint32_t>(target.description.height);
    if (header.biWidth != target.description.width ||
        header.biHeight != target.description.height || startScan >= height)
        return 0;
    const std::uint32_t lines = std::min(scanLines, height - startScan);
    const auto stride = static_cast<std::size_t>(
        RowStride(static_cast<std::uint32_t>(header.biWidth), header.biBitCount));
    if (lines == 0 || stride * lines > bitsSize) return 0;
    target.header.assign(info, info + infoSize);
    target.bits.resize(stride * height);
    std::copy_n(static_cast<const std::uint8_t*>(bits), stride * lines,
                target.bits.begin() + static_cast<std::ptrdiff_t>(stride * startScan));
    return static_cast<int>(lines);
}

void FakePlatform::DeleteObject(BitmapHandle bitmap) {
    bitmaps_.erase(static_cast<std::uintptr_t>(bitmap));
}

FileHandle FakePlatform::OpenFileForReading(const char* path) {
    const auto it = files.find(path);
    if (Fails(Op::OpenFileForReading) || it == files.end() || it->second.directory)
        return FileHandle::None;
    const std::uintptr_t handle = nextFile_++;
    openFiles_[handle] = {path, 0, false};
    return static_cast<FileHandle>(handle);
}

bool FakePlatform::GetFileLength(FileHandle file, std::uint64_t& length) {
    const auto it = openFiles_.find(static_cast<std::uintptr_t>(file));
    if (Fails(Op::GetFileLength) || it == openFiles_.end()) return false;
    length = files[it->second.path].bytes.size();
    return true;
}

bool FakePlatform::ReadFile(FileHandle file, void* buffer, std::size_t count, std::size_t& got) {
    got = 0;
    const auto it = openFiles_.find(static_cast<std::uintptr_t>(file));
    if (Fails(Op::ReadFile) || it == openFiles_.end()) return false;
    const Bytes& bytes = files[it->second.path].bytes;
    const std::size_t start = std::min(it->second.position, bytes.size());
    got = std::min(count, bytes.size() - start);
    std::copy_n(bytes.begin() + static_cast<std::ptrdiff_t>(start), got,
                static_cast<std::uint8_t*>(buffer));
    it->second.position = start + got;
    return true;
}

FileHandle FakePlatform::CreateFileForWriting(const char* path) {
    const auto it = files.find(path);
    if (Fails(Op::CreateFileForWriting) || *path == '\0' ||
        (it != files.end() && it->second.directory)) {
        return FileHandle::None;
    }
    files[path] = FakeFile{};
    const std::uintptr_t handle = nextFile_++;
    openFiles_[handle] = {path, 0, true};
    return static_cast<FileHandle>(handle);
}

bool FakePlatform::WriteFile(FileHandle file, const void* data, std::size_t count,
                             std::size_t& written) {
    written = 0;
    const auto it = openFiles_.find(static_cast<std::uintptr_t>(file));
    if (Fails(Op::WriteFile) || it == openFiles_.end() || !it->second.writing) return false;
    written = std::min(count, writeLimit);
    const auto* bytes = static_cast<const std::uint8_t*>(data);
    Bytes& target = files[it->second.path].bytes;
    target.insert(target.end(), bytes, bytes + written);
    return true;
}

bool FakePlatform::CloseFile(FileHandle file) {
    openFiles_.erase(static_cast<std::uintptr_t>(file));
    return !Fails(Op::CloseFile);
}

Bytes BmpFile(std::int32_t width, std::int32_t height, std::uint16_t bits, std::uint32_t clrUsed) {
    const std::uint32_t entries = bits <= 8 ? (clrUsed != 0 ? clrUsed : 1U << bits) : clrUsed;
    const std::uint32_t row = ((static_cast<std::uint32_t>(width) * bits + 31) & ~31U) / 8;
    const std::uint32_t image = row * static_cast<std::uint32_t>(height < 0 ? -height : height);
    Bytes file(14 + 40 + 4 * entries + image, 0);
    BmpInfoHeader h;
    h.biSize = 40;
    h.biWidth = width;
    h.biHeight = height;
    h.biPlanes = 1;
    h.biBitCount = bits;
    h.biClrUsed = clrUsed;
    h.biSizeImage = image;
    WriteInfoHeader(h, std::span(file).subspan(14));
    BmpFileHeader f;
    f.bfType = 0x4D42;
    f.bfSize = static_cast<std::uint32_t>(file.size());
    f.bfOffBits = 54 + 4 * entries;
    const auto fh = WriteFileHeader(f);
    std::copy(fh.begin(), fh.end(), file.begin());
    for (std::size_t i = f.bfOffBits; i < file.size(); ++i) file[i] = static_cast<std::uint8_t>(i);
    return file;
}

}  // namespace clipfile::testing
