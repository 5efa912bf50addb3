// A BMP file's bytes through the whole import path: file header, pixel
// location, size checks and the portable screen's decoder. What imports is
// then exported as a BMP and imported again, which must give the same picture.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <span>

#include "bmp/bmp.h"
#include "fake_platform.h"
#include "portable/portable_graphics.h"
#include "transfer/bitmap_export.h"
#include "transfer/bitmap_import.h"

namespace clipfile {
namespace {

// The in-memory roles with the portable screen in place of the fake's
// graphics, so that bitmaps are decoded and encoded exactly as the Linux build
// does it.
struct DecodingPlatform {
    testing::FakePlatform fake;
    PortableGraphics graphics;
    Platform roles{fake, fake, fake, graphics, fake};
};

void Require(bool condition, const char* what) {
    if (!condition) {
        std::fprintf(stderr, "\nbroken: %s\n", what);
        std::abort();
    }
}

// Every handle, file and device context a command took is given back.
void RequireNothingHeld(const DecodingPlatform& p, std::size_t blocks, const char* command) {
    Require(p.fake.LiveMemoryBlocks() == blocks, command);
    Require(p.fake.OpenFiles() == 0, command);
    Require(p.graphics.LiveDcs() == 0, command);
    Require(!p.fake.isOpen, command);
}

const DeviceBitmap* ClipboardBitmap(DecodingPlatform& p) {
    Require(p.fake.OpenClipboard(), "open");
    const BitmapHandle bitmap = AsBitmap(p.fake.GetClipboardData(CF_BITMAP));
    p.fake.CloseClipboard();
    return p.graphics.Find(bitmap);
}

// Where the checks of the import path put the pixels must lie inside the file.
bool LocatesWithinFile(const std::uint8_t* data, std::size_t size) {
    if (size < kFileHeaderSize) {
        return false;
    }
    const BmpFileHeader header =
        ReadFileHeader(std::span<const std::uint8_t, kFileHeaderSize>(data, kFileHeaderSize));
    const std::span<const std::uint8_t> rest(data + kFileHeaderSize, size - kFileHeaderSize);
    const auto pixels = LocateBitmapPixels(rest, header.bfOffBits);
    if (!pixels) {
        return false;
    }
    Require(pixels->size > 0 && pixels->offset <= rest.size() &&
                pixels->size <= rest.size() - pixels->offset,
            "the pixels lie within the file");
    return header.bfType == kBitmapSignature;
}

}  // namespace
}  // namespace clipfile

extern "C" int LLVMFuzzerInitialize(int*, char***) { return 0; }

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace clipfile;
    const bool located = LocatesWithinFile(data, size);

    DecodingPlatform first;
    first.fake.Place(CF_TEXT, {'k', 'e', 'p', 't'});
    first.fake.files["in.bmp"].bytes.assign(data, data + size);
    const bool imported = ImportBitmapFile(first.roles, "in.bmp");
    Require(!imported || located, "only a located bitmap imports");
    if (!imported) {
        Require(first.fake.Formats() == std::vector<FormatId>{CF_TEXT},
                "a failed import keeps the clipboard");
        RequireNothingHeld(first, 1, "failed import");
        return 0;
    }
    RequireNothingHeld(first, 0, "import");
    Require(first.fake.Formats() == std::vector<FormatId>{CF_BITMAP},
            "the import placed one bitmap");

    Require(ExportBitmapToFile(first.roles, "out.bmp") == ExportResult::Succeeded,
            "an imported bitmap exports");
    RequireNothingHeld(first, 0, "export");

    DecodingPlatform second;
    second.fake.files["in.bmp"] = first.fake.files["out.bmp"];
    Require(ImportBitmapFile(second.roles, "in.bmp"), "an exported bitmap imports");
    const DeviceBitmap* before = ClipboardBitmap(first);
    const DeviceBitmap* after = ClipboardBitmap(second);
    Require(before != nullptr && after != nullptr, "both bitmaps are on their clipboards");
    Require(before->width == after->width && before->height == after->height, "the size survives");
    // The fourth byte too: the export writes it into a 32-bit BI_RGB file,
    // whose import keeps it.
    Require(std::memcmp(before->pixels.get(), after->pixels.get(), before->size()) == 0,
            "the pixels survive");
    return 0;
}
