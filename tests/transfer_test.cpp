#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <span>
#include <string>
#include <vector>

#include "bmp/bmp.h"
#include "cli/dispatch.h"
#include "fake_platform.h"
#include "util/byte_order.h"

namespace clipfile {
namespace {

using testing::BmpFile;
using testing::Bytes;
using testing::FakePlatform;
using testing::Op;

const std::string kGetOk =
    "\n\nClipboard Contents were Successfully copied into the \"out.bin\" File\n";
const std::string kGetFail =
    "\n\n * Couldn't able to transfer the contents of clipboard into \"out.bin\" file. * \n";
const std::string kPutOk =
    "\n\n\"in.bin\" File contents were Successfully copied into the Clipboard.\n";
const std::string kPutFail =
    "\n\n * Couldn't able to transfer the contents of \"in.bin\" file into Clipboard. * \n";

int Command(FakePlatform& platform, const char* keyword, const char* format, const char* path) {
    return DispatchCommand(platform, keyword, format, path);
}

void ExpectBalanced(const FakePlatform& platform) {
    EXPECT_FALSE(platform.isOpen) << "clipboard left open";
    EXPECT_FALSE(platform.unpairedClose) << "closed without an open";
    EXPECT_EQ(platform.OpenFiles(), 0U) << "file left open";
    EXPECT_EQ(platform.liveDcs, 0) << "device context leaked";
}

// ---------------------------------------------------------------- GETDATA raw

TEST(GetData, WritesTheWholeBlockUnchanged) {
    FakePlatform platform;
    const Bytes text = {'h', 'i', 0, 0xFF, 0};
    platform.Place(CF_LOCALE, {9, 4, 0, 0});
    platform.Place(CF_TEXT, text);
    EXPECT_EQ(Command(platform, "GETDATA", "cf_t", "out.bin"), 0);
    EXPECT_EQ(platform.output, kGetOk);
    EXPECT_EQ(platform.files["out.bin"].bytes, text);
    ExpectBalanced(platform);
}

TEST(GetData, MatchingFollowsTheClipboardOrder) {
    const std::vector<std::pair<const char*, FormatId>> cases = {
        {"CF_L", CF_LOCALE}, {"CF_", CF_LOCALE}, {"cf_unicode", CF_UNICODETEXT},
        {"NULL", 0xC321},    {"html", 0},
    };
    for (const auto& [name, expected] : cases) {
        FakePlatform platform;
        const FormatId html = platform.RegisterClipboardFormatA("HTML Format");
        platform.Place(CF_LOCALE, {16});
        platform.Place(CF_TEXT, {1});
        platform.Place(CF_UNICODETEXT, {13});
        platform.Place(0xC321, {0xC3});
        platform.Place(html, {0xAA});
        Command(platform, "GETDATA", name, "out.bin");
        const Bytes want = expected == 0 ? Bytes{0xAA} : platform.DataOf(expected);
        EXPECT_EQ(platform.files["out.bin"].bytes, want) << name;
    }
}

TEST(GetData, DibV5ListedFirstIsCopiedRaw) {
    FakePlatform platform;
    platform.Place(CF_DIBV5, {5, 5});
    platform.Place(CF_DIB, {8, 8});
    Command(platform, "GETDATA", "CF_DIB", "out.bin");
    EXPECT_EQ(platform.output, kGetOk);
    EXPECT_EQ(platform.files["out.bin"].bytes, (Bytes{5, 5}));
}

TEST(GetData, EmptyBlockGivesAnEmptyFile) {
    FakePlatform platform;
    platform.Place(CF_TEXT, {});
    Command(platform, "GETDATA", "CF_TEXT", "out.bin");
    EXPECT_EQ(platform.output, kGetOk);
    ASSERT_TRUE(platform.files.contains("out.bin"));
    EXPECT_TRUE(platform.files["out.bin"].bytes.empty());
}

TEST(GetData, MissingFormatLeavesThePathAlone) {
    FakePlatform platform;
    platform.Place(CF_TEXT, {1});
    platform.files["out.bin"].bytes = {7};
    Command(platform, "GETDATA", "CF_TEXTX", "out.bin");
    EXPECT_EQ(platform.output,
              "\n ! Specified Format \"CF_TEXTX\" is not available on the Clipboard. ! \n");
    EXPECT_EQ(platform.files["out.bin"].bytes, Bytes{7});
}

struct FailureCase {
    const char* label;
    std::function<void(FakePlatform&)> arrange;
    std::string output;
    bool fileCreated;
};

TEST(GetData, EachFailurePointPrintsItsMessageAndTheSummary) {
    const std::vector<FailureCase> cases = {
        {"busy clipboard", [](FakePlatform& p) { p.failOnCall[Op::OpenClipboard] = 1; },
         "\n * Unable to open the Clipboard. * \n\n ! Specified Format \"CF_TEXT\" is not "
         "available on the Clipboard. ! \n",
         false},
        {"not available", [](FakePlatform& p) { p.failing.insert(Op::IsClipboardFormatAvailable); },
         "\n * Clipboard doesn't contain the data of specified format. *\n" + kGetFail, false},
        {"second open", [](FakePlatform& p) { p.failOnCall[Op::OpenClipboard] = 2; },
         "\n * Couldn't able open the clipboard. *\n" + kGetFail, false},
        {"null handle", [](FakePlatform& p) { p.failing.insert(Op::GetClipboardData); },
         "\n * Retrieved an invalid handle from the clipboard. *\n" + kGetFail, false},
        {"lock", [](FakePlatform& p) { p.failing.insert(Op::GlobalLock); },
         "\n * Couldn't able to lock the data * \n" + kGetFail, false},
        {"copy buffer", [](FakePlatform& p) { p.failing.insert(Op::AllocateBuffer); },
         "\n * Unable to allocate memory for the data. * \n" + kGetFail, false},
        {"create file", [](FakePlatform& p) { p.failing.insert(Op::CreateFileForWriting); },
         "\n * Error whle opening the \"out.bin\" file. * \n" + kGetFail, false},
        {"write", [](FakePlatform& p) { p.failing.insert(Op::WriteFile); },
         "\n * Variation in bytes copied into the file. * \n" + kGetFail, true},
        {"short write", [](FakePlatform& p) { p.writeLimit = 2; },
         "\n * Variation in bytes copied into the file. * \n" + kGetFail, true},
        {"close", [](FakePlatform& p) { p.failing.insert(Op::CloseFile); },
         "\n * Variation in bytes copied into the file. * \n" + kGetFail, true},
    };
    for (const auto& c : cases) {
        FakePlatform platform;
        platform.Place(CF_TEXT, {'a', 'b', 'c', 0});
        c.arrange(platform);
        EXPECT_EQ(Command(platform, "GETDATA", "CF_TEXT", "out.bin"), 0) << c.label;
        EXPECT_EQ(platform.output, c.output) << c.label;
        EXPECT_EQ(platform.files.contains("out.bin"), c.fileCreated) << c.label;
        EXPECT_EQ(platform.DataOf(CF_TEXT), (Bytes{'a', 'b', 'c', 0})) << c.label;
        ExpectBalanced(platform);
    }
}

// A memory role that shares blocks and moves bytes itself: the commands give
// the same bytes and, when the move fails, the same messages.
TEST(GetData, BlocksTheMemoryRoleMovesItselfKeepTheMessages) {
    const std::vector<FailureCase> cases = {
        {"moved", [](FakePlatform&) {}, kGetOk, true},
        {"not shared", [](FakePlatform& p) { p.failing.insert(Op::ShareBlock); }, kGetOk, true},
        {"move fails", [](FakePlatform& p) { p.failing.insert(Op::BlockTransfer); },
         "\n * Variation in bytes copied into the file. * \n" + kGetFail, true},
        {"short move", [](FakePlatform& p) { p.writeLimit = 2; },
         "\n * Variation in bytes copied into the file. * \n" + kGetFail, true},
    };
    for (const auto& c : cases) {
        FakePlatform platform;
        platform.blockFiles = true;
        platform.Place(CF_TEXT, {'a', 'b', 'c', 0});
        c.arrange(platform);
        EXPECT_EQ(Command(platform, "GETDATA", "CF_TEXT", "out.bin"), 0) << c.label;
        EXPECT_EQ(platform.output, c.output) << c.label;
        if (c.output == kGetOk) {
            EXPECT_EQ(platform.files["out.bin"].bytes, (Bytes{'a', 'b', 'c', 0})) << c.label;
        }
        EXPECT_EQ(platform.LiveMemoryBlocks(), 1U) << c.label << ": shared block leaked";
        ExpectBalanced(platform);
    }
}

TEST(PutData, BlocksTheMemoryRoleFillsItselfKeepTheMessages) {
    const std::vector<FailureCase> cases = {
        {"moved", [](FakePlatform&) {}, kPutOk, true},
        {"move fails", [](FakePlatform& p) { p.failing.insert(Op::BlockTransfer); },
         "\n * Error while reading the bits from Global Memory. * \n" + kPutFail, false},
        {"read fails", [](FakePlatform& p) { p.failing.insert(Op::ReadFile); },
         "\n * Error while reading the bits from Global Memory. * \n" + kPutFail, false},
    };
    for (const auto& c : cases) {
        FakePlatform platform;
        platform.blockFiles = true;
        platform.Place(CF_LOCALE, {4, 9});
        platform.files["in.bin"].bytes = {'t', 'x', 't'};
        c.arrange(platform);
        Command(platform, "PUTDATA", "CF_TEXT", "in.bin");
        EXPECT_EQ(platform.output, c.output) << c.label;
        const FormatId kept = c.fileCreated ? CF_TEXT : CF_LOCALE;
        EXPECT_EQ(platform.Formats(), std::vector<FormatId>{kept}) << c.label;
        EXPECT_EQ(platform.DataOf(kept), c.fileCreated ? (Bytes{'t', 'x', 't', 0}) : (Bytes{4, 9}))
            << c.label;
        EXPECT_EQ(platform.LiveMemoryBlocks(), 1U) << c.label << ": block leaked";
        ExpectBalanced(platform);
    }
}

TEST(GetData, DirectoryAsPathFailsToOpen) {
    FakePlatform platform;
    platform.Place(CF_TEXT, {1});
    platform.files["out.bin"].directory = true;
    Command(platform, "GETDATA", "CF_TEXT", "out.bin");
    EXPECT_EQ(platform.output, "\n * Error whle opening the \"out.bin\" file. * \n" + kGetFail);
}

// ---------------------------------------------------------------- PUTDATA raw

TEST(PutData, PlacesTheFileBytesAloneUnderTheSelectedFormat) {
    const Bytes data = {'t', 0, 'x', 0, 0x80, 0xFF, 0, 0};
    const std::vector<std::pair<const char*, FormatId>> cases = {
        {"CF_TEXT", CF_TEXT},       {"cf_unicodetext", CF_UNICODETEXT},
        {"CF_DSPTEXT", CF_DSPTEXT}, {"", CF_TEXT},
        {"cf_hdrop", CF_HDROP},
    };
    for (const auto& [name, id] : cases) {
        FakePlatform platform;
        platform.Place(CF_LOCALE, {1});
        platform.files["in.bin"].bytes = data;
        Command(platform, "PUTDATA", name, "in.bin");
        EXPECT_EQ(platform.output, kPutOk) << name;
        EXPECT_EQ(platform.Formats(), std::vector<FormatId>{id}) << name;
        EXPECT_EQ(platform.DataOf(id), data) << name;
        ExpectBalanced(platform);
    }
}

TEST(PutData, UnknownNameIsRegisteredAsTyped) {
    FakePlatform platform;
    platform.files["in.bin"].bytes = {'<', 'b', '>'};
    Command(platform, "PUTDATA", "HTML Format", "in.bin");
    const FormatId id = platform.RegisteredId("html format");
    ASSERT_GE(id, 0xC000U);
    EXPECT_EQ(platform.Formats(), std::vector<FormatId>{id});
    char name[255] = {};
    platform.GetClipboardFormatNameA(id, name, 255);
    EXPECT_STREQ(name, "HTML Format");
}

TEST(PutData, EmptyFilePlacesAnEmptyBlock) {
    FakePlatform platform;
    platform.files["in.bin"].bytes = {};
    Command(platform, "PUTDATA", "CF_RIFF", "in.bin");
    EXPECT_EQ(platform.output, kPutOk);
    EXPECT_EQ(platform.Formats(), std::vector<FormatId>{CF_RIFF});
    EXPECT_TRUE(platform.DataOf(CF_RIFF).empty());
}

TEST(PutData, TextFormatsEndWithTheirTerminator) {
    struct TextCase {
        const char* format;
        FormatId id;
        Bytes file;
        Bytes placed;
    };
    const std::vector<TextCase> cases = {
        {"CF_TEXT", CF_TEXT, {'a', 'b'}, {'a', 'b', 0}},
        {"CF_TEXT", CF_TEXT, {'a', 0}, {'a', 0}},
        {"CF_TEXT", CF_TEXT, {}, {0}},
        {"CF_OEMTEXT", CF_OEMTEXT, {'a', 0, 'b'}, {'a', 0, 'b', 0}},
        {"CF_UNICODETEXT", CF_UNICODETEXT, {'a', 0}, {'a', 0, 0, 0}},
        {"CF_UNICODETEXT", CF_UNICODETEXT, {'a', 0, 0, 0}, {'a', 0, 0, 0}},
        {"CF_UNICODETEXT", CF_UNICODETEXT, {'a', 0, 'b'}, {'a', 0, 'b', 0, 0, 0}},
        {"CF_UNICODETEXT", CF_UNICODETEXT, {0}, {0, 0, 0, 0}},
        {"CF_UNICODETEXT", CF_UNICODETEXT, {}, {0, 0}},
        {"CF_DSPTEXT", CF_DSPTEXT, {'a'}, {'a'}},
        {"text/plain", 0, {'a'}, {'a'}},
    };
    for (const auto& c : cases) {
        FakePlatform platform;
        platform.files["in.bin"].bytes = c.file;
        Command(platform, "PUTDATA", c.format, "in.bin");
        const FormatId id = c.id != 0 ? c.id : platform.RegisteredId(c.format);
        EXPECT_EQ(platform.output, kPutOk) << c.format;
        EXPECT_EQ(platform.DataOf(id), c.placed) << c.format << " of " << c.file.size();
        EXPECT_EQ(platform.LiveMemoryBlocks(), 1U) << c.format << ": block leaked";
    }
    // Terminated text is copied into a block of its own size; that block can fail too.
    FakePlatform platform;
    platform.Place(CF_LOCALE, {4});
    platform.files["in.bin"].bytes = {'a', 0};
    platform.failOnCall[Op::GlobalAlloc] = 2;
    Command(platform, "PUTDATA", "CF_TEXT", "in.bin");
    EXPECT_EQ(platform.output, "\n * Error while allocating the Global Memory. * \n" + kPutFail);
    EXPECT_EQ(platform.Formats(), std::vector<FormatId>{CF_LOCALE});
    EXPECT_EQ(platform.LiveMemoryBlocks(), 1U);
    ExpectBalanced(platform);
}

TEST(PutData, GraphicsObjectFormatsAreRefusedBeforeTheClipboardIsTouched) {
    for (const char* name : {"CF_METAFILEPICT", "CF_PALETTE", "CF_ENHMETAFILE", "CF_DSPBITMAP",
                             "CF_DSPMETAFILEPICT", "cf_dspenh"}) {
        FakePlatform platform;
        platform.Place(CF_LOCALE, {4, 9});
        platform.files["in.bin"].bytes = {1, 2, 3};
        Command(platform, "PUTDATA", name, "in.bin");
        EXPECT_EQ(platform.output,
                  "\n * Couldn't able to place the data on the Clipboard. * \n" + kPutFail)
            << name;
        EXPECT_EQ(platform.calls[Op::OpenClipboard], 0) << name;
        EXPECT_EQ(platform.DataOf(CF_LOCALE), (Bytes{4, 9})) << name;
        ExpectBalanced(platform);
    }
}

TEST(PutData, EachFailurePointLeavesTheClipboardAsItWas) {
    const std::vector<FailureCase> cases = {
        {"missing file", [](FakePlatform& p) { p.files.erase("in.bin"); },
         "\n * Error while reading the \"in.bin\" file * \n" + kPutFail, false},
        {"directory", [](FakePlatform& p) { p.files["in.bin"].directory = true; },
         "\n * Error while reading the \"in.bin\" file * \n" + kPutFail, false},
        {"length", [](FakePlatform& p) { p.failing.insert(Op::GetFileLength); },
         "\n * Error while reading the bits from Global Memory. * \n" + kPutFail, false},
        {"alloc", [](FakePlatform& p) { p.failing.insert(Op::GlobalAlloc); },
         "\n * Error while allocating the Global Memory. * \n" + kPutFail, false},
        {"read", [](FakePlatform& p) { p.failing.insert(Op::ReadFile); },
         "\n * Error while reading the bits from Global Memory. * \n" + kPutFail, false},
        {"register", [](FakePlatform& p) { p.failing.insert(Op::RegisterClipboardFormat); },
         "\n * Couldn't able to register the \"Custom\" Clipboard Format. * \n" + kPutFail, false},
        {"open", [](FakePlatform& p) { p.failing.insert(Op::OpenClipboard); },
         "\n * Couldn't able to open the Clipboard. * \n" + kPutFail, false},
        {"empty", [](FakePlatform& p) { p.failing.insert(Op::EmptyClipboard); },
         "\n * Couldn't able to Clear the Clipboard Contents. * \n" + kPutFail, false},
    };
    for (const auto& c : cases) {
        FakePlatform platform;
        platform.Place(CF_LOCALE, {4, 9});
        platform.files["in.bin"].bytes = {1, 2, 3};
        c.arrange(platform);
        Command(platform, "PUTDATA", "Custom", "in.bin");
        EXPECT_EQ(platform.output, c.output) << c.label;
        EXPECT_EQ(platform.Formats(), std::vector<FormatId>{CF_LOCALE}) << c.label;
        EXPECT_EQ(platform.DataOf(CF_LOCALE), (Bytes{4, 9})) << c.label;
        EXPECT_EQ(platform.LiveMemoryBlocks(), 1U) << c.label << ": block leaked";
        ExpectBalanced(platform);
    }
}

TEST(PutData, RefusedPlacementIsAFailureAndTheBlockIsFreed) {
    FakePlatform platform;
    platform.files["in.bin"].bytes = {1, 2, 3};
    platform.failing.insert(Op::SetClipboardData);
    Command(platform, "PUTDATA", "CF_TEXT", "in.bin");
    EXPECT_EQ(platform.output,
              "\n * Couldn't able to place the data on the Clipboard. * \n" + kPutFail);
    EXPECT_EQ(platform.LiveMemoryBlocks(), 0U);
    ExpectBalanced(platform);
}

TEST(PutData, FailedCommitOfTheClipboardIsAFailure) {
    FakePlatform platform;
    platform.files["in.bin"].bytes = {1};
    platform.failing.insert(Op::CloseClipboard);
    Command(platform, "PUTDATA", "CF_TEXT", "in.bin");
    EXPECT_EQ(platform.output,
              "\n * Couldn't able to place the data on the Clipboard. * \n" + kPutFail);
}

TEST(PutData, FileCloseErrorFailsButTheDataStays) {
    FakePlatform platform;
    platform.files["in.bin"].bytes = {1};
    platform.failing.insert(Op::CloseFile);
    Command(platform, "PUTDATA", "CF_TEXT", "in.bin");
    EXPECT_EQ(platform.output,
              "\n * Error while reading the bits from Global Memory. * \n" + kPutFail);
    EXPECT_EQ(platform.DataOf(CF_TEXT), (Bytes{1, 0}));
}

// ------------------------------------------------------------- bitmap export

const std::string kBmpFail =
    "\n\n * Couldn't able to transfer the contents of clipboard into \"out.bmp\" file. * \n";

struct ExportCase {
    BitmapDescription description;
    std::uint32_t clrUsed;
    std::uint32_t sizeImage;
};

TEST(BitmapExport, WritesHeadersTableAndPixelsAtEveryDepth) {
    const std::vector<ExportCase> cases = {
        {{3, 2, 1, 1}, 2, 8},       {{5, 3, 1, 4}, 16, 12},   {{10, 10, 1, 8}, 256, 120},
        {{4, 3, 1, 16}, 65536, 24}, {{10, 5, 1, 24}, 0, 160}, {{7, 2, 1, 32}, 0, 56},
    };
    for (const auto& c : cases) {
        for (const char* name : {"CF_BITMAP", "CF_DIB"}) {
            FakePlatform platform;
            platform.PlaceBitmap(c.description);
            platform.Place(CF_DIB, {0xD1, 0xB0});
            platform.Place(CF_DIBV5, {0xD5});
            SCOPED_TRACE(::testing::Message()
                         << c.description.bitsPerPixel << " bits via " << name);
            EXPECT_EQ(Command(platform, "GETDATA", name, "out.bmp"), 0);
            EXPECT_EQ(
                platform.output,
                "\n\nClipboard Contents were Successfully copied into the \"out.bmp\" File\n");
            const Bytes& file = platform.files["out.bmp"].bytes;
            const std::size_t offBits = 54 + 4 * std::size_t{c.clrUsed};
            ASSERT_EQ(file.size(), offBits + c.sizeImage);
            EXPECT_EQ(ReadFileHeader(std::span<const std::uint8_t, 14>(file.data(), 14)).bfOffBits,
                      offBits);
            const BmpInfoHeader info = ReadInfoHeader(std::span(file).subspan(14));
            EXPECT_EQ(info.biClrUsed, c.clrUsed);
            EXPECT_EQ(info.biBitCount, c.description.bitsPerPixel);
            // Colour table as the read filled it (depths of 8 and less), then the pixels.
            if (c.description.bitsPerPixel <= 8) {
                EXPECT_EQ(file[54 + 5], static_cast<std::uint8_t>(5 * 13 + 1));
            }
            for (std::size_t i = 0; i < c.sizeImage; ++i) {
                ASSERT_EQ(file[offBits + i], static_cast<std::uint8_t>(i * 7 + 3)) << i;
            }
            EXPECT_EQ(platform.LiveBitmaps(), 1U) << "the clipboard's bitmap must not be deleted";
            EXPECT_EQ(platform.LiveMemoryBlocks(), 2U) << "pixel buffer leaked";
            ExpectBalanced(platform);
        }
    }
}

TEST(BitmapExport, EachFailurePointPrintsItsMessage) {
    const std::vector<FailureCase> cases = {
        {"not available", [](FakePlatform& p) { p.failing.insert(Op::IsClipboardFormatAvailable); },
         "\n * Clipboard doesn't contain the specified type. * \n * Please Copy an image to "
         "clipboard. *\n" +
             kBmpFail,
         false},
        {"open", [](FakePlatform& p) { p.failOnCall[Op::OpenClipboard] = 2; },
         "\n * Error while opening the Clipboard. * \n" + kBmpFail, false},
        {"pixel buffer", [](FakePlatform& p) { p.failing.insert(Op::GlobalAlloc); },
         "\n * Error while allocating memory pointer. *\n" + kBmpFail, false},
        {"pixel read", [](FakePlatform& p) { p.failing.insert(Op::GetDIBits); },
         "\nError while gathering DIB bits.\n" + kBmpFail, false},
        {"no memory dc", [](FakePlatform& p) { p.failing.insert(Op::CreateCompatibleDC); },
         "\nError while gathering DIB bits.\n" + kBmpFail, false},
        {"read grows biSizeImage",
         [](FakePlatform& p) {
             p.afterGetDIBits = [](std::uint8_t* info, std::size_t) { info[20] = 0xFF; };
         },
         "\nError while gathering DIB bits.\n" + kBmpFail, false},
        {"read grows biClrUsed",
         [](FakePlatform& p) {
             p.afterGetDIBits = [](std::uint8_t* info, std::size_t) { info[34] = 1; };
         },
         "\nError while gathering DIB bits.\n" + kBmpFail, false},
        {"create", [](FakePlatform& p) { p.failing.insert(Op::CreateFileForWriting); },
         "\n * Error while Creating the \"out.bmp\" File. * \n" + kBmpFail, false},
        {"file header", [](FakePlatform& p) { p.failOnCall[Op::WriteFile] = 1; },
         "\n * Error while Writing BITMAPFILEHEADER into the \"out.bmp\" file. * \n" + kBmpFail,
         true},
        {"info header", [](FakePlatform& p) { p.failOnCall[Op::WriteFile] = 2; },
         "\n * Error while writing the BITMAPINFOHEADER into the \"out.bmp\" file. * \n" + kBmpFail,
         true},
        {"pixels", [](FakePlatform& p) { p.failOnCall[Op::WriteFile] = 3; },
         "\n * Error while writing the color indices into the \"out.bmp\" file. * \n" + kBmpFail,
         true},
        {"short write", [](FakePlatform& p) { p.writeLimit = 10; },
         "\n * Error while Writing BITMAPFILEHEADER into the \"out.bmp\" file. * \n" + kBmpFail,
         true},
        {"close", [](FakePlatform& p) { p.failing.insert(Op::CloseFile); },
         "\n * Error while Closing the file handle. * \n" + kBmpFail, true},
    };
    for (const auto& c : cases) {
        FakePlatform platform;
        platform.PlaceBitmap({4, 4, 1, 8});
        c.arrange(platform);
        EXPECT_EQ(Command(platform, "GETDATA", "CF_BITMAP", "out.bmp"), 0) << c.label;
        EXPECT_EQ(platform.output, c.output) << c.label;
        EXPECT_EQ(platform.files.contains("out.bmp"), c.fileCreated) << c.label;
        EXPECT_EQ(platform.LiveBitmaps(), 1U) << c.label;
        EXPECT_EQ(platform.LiveMemoryBlocks(), 0U) << c.label;
        ExpectBalanced(platform);
    }
}

TEST(BitmapExport, TableFilledButReportedAsZeroStillGoesIntoTheFile) {
    // Some platforms fill the whole table of a palette bitmap yet leave biClrUsed 0.
    FakePlatform platform;
    platform.PlaceBitmap({4, 2, 1, 8});
    platform.afterGetDIBits = [](std::uint8_t* info, std::size_t size) {
        LeWriter({info, size}, 32).WriteU32(0);
    };
    Command(platform, "GETDATA", "CF_BITMAP", "out.bmp");
    const Bytes& file = platform.files["out.bmp"].bytes;
    ASSERT_EQ(file.size(), 54U + 4 * 256 + 8);
    EXPECT_EQ(ReadInfoHeader(std::span(file).subspan(14)).biClrUsed, 256U);
    EXPECT_EQ(ReadFileHeader(std::span<const std::uint8_t, 14>(file.data(), 14)).bfOffBits,
              54U + 4 * 256);
}

TEST(BitmapExport, ExistingFileIsUntouchedUntilThePixelsAreRead) {
    FakePlatform platform;
    platform.PlaceBitmap({4, 4, 1, 24});
    platform.files["out.bmp"].bytes = {'o', 'l', 'd'};
    platform.failing.insert(Op::GetDIBits);
    Command(platform, "GETDATA", "CF_BITMAP", "out.bmp");
    EXPECT_EQ(platform.files["out.bmp"].bytes, (Bytes{'o', 'l', 'd'}));
}

TEST(BitmapExport, UndescribableBitmapEndsTheRunWithStatusOne) {
    FakePlatform platform;
    platform.PlaceBitmap({4, 4, 1, 24});
    platform.failing.insert(Op::DescribeBitmap);
    EXPECT_EQ(Command(platform, "GETDATA", "CF_BITMAP", "out.bmp"), 1);
    EXPECT_EQ(platform.output, "\n * Error while gathering the data from the bitmap handle. *\n");
    ExpectBalanced(platform);
}

TEST(BitmapExport, TooLargeForTheFormatFailsBeforeAllocating) {
    FakePlatform platform;
    platform.PlaceBitmap({70000, 70000, 1, 32});
    Command(platform, "GETDATA", "CF_BITMAP", "out.bmp");
    EXPECT_EQ(platform.output,
              "\n * The bitmap on the Clipboard is too large to be written as a BMP file. * \n" +
                  kBmpFail);
    EXPECT_EQ(platform.calls[Op::GlobalAlloc], 0);
    ExpectBalanced(platform);
}

TEST(BitmapExport, ReadsEveryScanLinePastSixteenBits) {
    FakePlatform platform;
    platform.PlaceBitmap({1, 70000, 1, 32});
    std::uint32_t lines = 0;
    platform.afterGetDIBits = [&](std::uint8_t* info, std::size_t) { lines = ReadLe32(info + 8); };
    Command(platform, "GETDATA", "CF_BITMAP", "out.bmp");
    EXPECT_EQ(lines, 70000U);
    EXPECT_EQ(platform.files["out.bmp"].bytes.size(), 54U + 4 * 70000);
}

// ------------------------------------------------------------- bitmap import

const std::string kBmpPutOk =
    "\n\n\"in.bmp\" File contents were Successfully copied into the Clipboard.\n";
const std::string kBmpPutFail =
    "\n\n * Couldn't able to transfer the contents of \"in.bmp\" file into Clipboard. * \n";

TEST(BitmapImport, EveryBitmapNamePlacesOneScreenBitmap) {
    for (const char* name : {"CF_BITMAP", "cf_dib", "CF_DIBV5", "CF_DIBV", "CF_B"}) {
        FakePlatform platform;
        platform.Place(CF_TEXT, {1});
        platform.files["in.bmp"].bytes = BmpFile(10, 5, 24, 0);
        Command(platform, "PUTDATA", name, "in.bmp");
        EXPECT_EQ(platform.output, kBmpPutOk) << name;
        ASSERT_EQ(platform.Formats(), std::vector<FormatId>{CF_BITMAP}) << name;
        const auto* bitmap = platform.BitmapOf(CF_BITMAP);
        ASSERT_NE(bitmap, nullptr);
        EXPECT_EQ(bitmap->description.width, 10);
        EXPECT_EQ(bitmap->description.height, 5);
        EXPECT_EQ(bitmap->bits.size(), 160U);
        EXPECT_EQ(bitmap->bits.front(), 54);
        EXPECT_EQ(platform.LiveMemoryBlocks(), 0U);
        ExpectBalanced(platform);
    }
}

TEST(BitmapImport, EightBitPixelsFollowAFullTableWhenClrUsedIsZero) {
    FakePlatform platform;
    platform.files["in.bmp"].bytes = BmpFile(4, 2, 8, 0);
    Command(platform, "PUTDATA", "CF_BITMAP", "in.bmp");
    ASSERT_NE(platform.BitmapOf(CF_BITMAP), nullptr);
    const auto& bits = platform.BitmapOf(CF_BITMAP)->bits;
    ASSERT_EQ(bits.size(), 8U);
    EXPECT_EQ(bits.front(), static_cast<std::uint8_t>(14 + 40 + 1024));
}

// A 4 x 2, 8-bit file with the 12-byte core header and three 3-byte colour
// entries (1 to 9), its pixels (35 to 42) right behind them.
Bytes CoreBmpFile() {
    Bytes file(14 + 12 + 9 + 8, 0);
    BmpFileHeader f;
    f.bfType = 0x4D42;
    f.bfSize = static_cast<std::uint32_t>(file.size());
    f.bfOffBits = 14 + 12 + 9;
    const auto fh = WriteFileHeader(f);
    std::copy(fh.begin(), fh.end(), file.begin());
    const std::span<std::uint8_t> core = std::span(file).subspan(14);
    WriteLe32(core.data(), 12);
    WriteLe16(core.data() + 4, 4);
    WriteLe16(core.data() + 6, 2);
    WriteLe16(core.data() + 8, 1);
    WriteLe16(core.data() + 10, 8);
    for (std::size_t i = 26; i < file.size(); ++i)
        file[i] = static_cast<std::uint8_t>(i < 35 ? i - 25 : i);
    return file;
}

TEST(BitmapImport, CoreHeaderIsWidenedAndThePixelsTakenWhereTheFileHasThem) {
    FakePlatform platform;
    platform.files["in.bmp"].bytes = CoreBmpFile();
    Command(platform, "PUTDATA", "CF_BITMAP", "in.bmp");
    EXPECT_EQ(platform.output, kBmpPutOk);
    const auto* bitmap = platform.BitmapOf(CF_BITMAP);
    ASSERT_NE(bitmap, nullptr);
    ASSERT_EQ(bitmap->header.size(), 40U + 4 * 256);
    const BmpInfoHeader h = ReadInfoHeader(bitmap->header);
    EXPECT_EQ(h.biSize, 40U);
    EXPECT_EQ(h.biWidth, 4);
    EXPECT_EQ(h.biHeight, 2);
    EXPECT_EQ(h.biBitCount, 8);
    EXPECT_EQ(h.biClrUsed, 256U);
    EXPECT_EQ(Bytes(bitmap->header.begin() + 40, bitmap->header.begin() + 56),
              (Bytes{1, 2, 3, 0, 4, 5, 6, 0, 7, 8, 9, 0, 0, 0, 0, 0}));
    EXPECT_EQ(bitmap->bits, (Bytes{35, 36, 37, 38, 39, 40, 41, 42}));
    EXPECT_EQ(platform.LiveMemoryBlocks(), 0U);
    ExpectBalanced(platform);
}

// Rows of 512 KiB, two to a 1 MiB band, each marked by its first byte.
constexpr std::size_t kHalfBand = std::size_t{1} << 19;
Bytes BandedBmpFile(std::int32_t height = 4) {
    Bytes file = BmpFile(kHalfBand / 4, height, 32, 0);
    for (std::size_t row = 0; 54 + row * kHalfBand < file.size(); ++row)
        file[54 + row * kHalfBand] = static_cast<std::uint8_t>(0x10 + row);
    return file;
}

Bytes RleBmpFile() {
    Bytes file = BmpFile(10, 5, 8, 0);
    WriteLe32(file.data() + 14 + 16, 1);  // BI_RLE8, sized by biSizeImage
    return file;
}

// The pixels of BmpFile's file behind a gap of gap bytes, as bfOffBits says.
Bytes WithGap(Bytes file, std::size_t gap) {
    const std::uint32_t offBits = ReadLe32(file.data() + 10);
    file.insert(file.begin() + offBits, gap, 0xEE);
    WriteLe32(file.data() + 10, offBits + static_cast<std::uint32_t>(gap));
    return file;
}

// Uncompressed rows go to the screen bitmap a band at a time, bottom-up;
// compressed ones in one piece, from a block of the whole file.
TEST(BitmapImport, UncompressedRowsGoBandByBandOthersWhole) {
    const Bytes small = BmpFile(10, 5, 24, 0);
    const Bytes rle = WithGap(RleBmpFile(), 70000);
    const Bytes bottomUp = BandedBmpFile(3);
    const Bytes topDown = BandedBmpFile(-3);
    Bytes flipped(topDown.begin() + 54, topDown.end());
    std::swap_ranges(flipped.begin(), flipped.begin() + kHalfBand, flipped.begin() + 2 * kHalfBand);
    const struct {
        const char* label;
        Bytes file;
        Bytes bits;
        int bands;
    } cases[] = {
        {"two bands", bottomUp, Bytes(bottomUp.begin() + 54, bottomUp.end()), 2},
        {"two bands, top-down", topDown, flipped, 2},
        {"gap in the head", WithGap(small, 100), Bytes(small.begin() + 54, small.end()), 1},
        {"gap past the head", WithGap(small, 70000), Bytes(small.begin() + 54, small.end()), 1},
        {"compressed, past the head", rle, Bytes(rle.end() - 60, rle.end()), 0},
    };
    for (const auto& c : cases) {
        FakePlatform platform;
        platform.files["in.bmp"].bytes = c.file;
        Command(platform, "PUTDATA", "CF_BITMAP", "in.bmp");
        EXPECT_EQ(platform.output, kBmpPutOk) << c.label;
        const auto* bitmap = platform.BitmapOf(CF_BITMAP);
        ASSERT_NE(bitmap, nullptr) << c.label;
        EXPECT_EQ(ReadInfoHeader(bitmap->header).biHeight, bitmap->description.height) << c.label;
        EXPECT_TRUE(bitmap->bits == c.bits) << c.label;
        EXPECT_EQ(platform.calls[Op::SetDIBits], c.bands) << c.label;
        EXPECT_EQ(platform.calls[Op::GlobalAlloc], c.bands == 0 ? 1 : 0) << c.label;
        ExpectBalanced(platform);
    }
}

TEST(BitmapImport, EachFailurePointLeavesTheClipboardAsItWas) {
    Bytes coreTruncated = CoreBmpFile();
    coreTruncated.pop_back();
    Bytes notBmp = BmpFile(2, 2, 24, 0);
    notBmp[0] = 'P';
    Bytes truncated = BmpFile(10, 5, 24, 0);
    truncated.resize(truncated.size() - 1);
    const std::vector<std::pair<FailureCase, Bytes>> cases = {
        {{"missing", [](FakePlatform& p) { p.files.erase("in.bmp"); },
          "\n * Error while reading the \"in.bmp\" file * \n", false},
         {}},
        {{"short", nullptr, "\n * Error while gathering the bits from the \"in.bmp\" file. * \n",
          false},
         Bytes{'B', 'M', 1, 2, 3}},
        {{"not a bitmap", nullptr, "\n * Image is not a bitmap.\nPlease load a .BMP file. * \n",
          false},
         notBmp},
        {{"truncated", nullptr,
          "\n * The \"in.bmp\" file is not a supported or complete bitmap. * \n", false},
         truncated},
        {{"core header, truncated", nullptr,
          "\n * The \"in.bmp\" file is not a supported or complete bitmap. * \n", false},
         coreTruncated},
        {{"header only", nullptr,
          "\n * The \"in.bmp\" file is not a supported or complete bitmap. * \n", false},
         Bytes{'B', 'M', 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}},
        {{"alloc", [](FakePlatform& p) { p.failing.insert(Op::GlobalAlloc); },
          "\n * Error while allocating the Global Memory. * \n", false},
         RleBmpFile()},
        {{"band buffer", [](FakePlatform& p) { p.failOnCall[Op::AllocateBuffer] = 2; },
          "\n * Error while allocating the Global Memory. * \n", false},
         {}},
        {{"read", [](FakePlatform& p) { p.failOnCall[Op::ReadFile] = 2; },
          "\n * Error while reading the bits from Global Memory. * \n", false},
         {}},
        {{"read of a later band", [](FakePlatform& p) { p.failOnCall[Op::ReadFile] = 4; },
          "\n * Error while reading the bits from Global Memory. * \n", false},
         BandedBmpFile()},
        {{"read of the whole file", [](FakePlatform& p) { p.failOnCall[Op::ReadFile] = 3; },
          "\n * Error while reading the bits from Global Memory. * \n", false},
         WithGap(RleBmpFile(), 70000)},
        {{"refused header", [](FakePlatform& p) { p.failing.insert(Op::CreateDIBitmap); },
          "\n * Error while creating the bitmap from the \"in.bmp\" file. * \n", false},
         RleBmpFile()},
        {{"refused bitmap", [](FakePlatform& p) { p.failing.insert(Op::CreateCompatibleBitmap); },
          "\n * Error while creating the bitmap from the \"in.bmp\" file. * \n", false},
         {}},
        {{"refused later band", [](FakePlatform& p) { p.failOnCall[Op::SetDIBits] = 2; },
          "\n * Error while creating the bitmap from the \"in.bmp\" file. * \n", false},
         BandedBmpFile()},
        {{"open", [](FakePlatform& p) { p.failing.insert(Op::OpenClipboard); },
          "\n * Couldn't able to open the Clipboard. * \n", false},
         {}},
        {{"empty", [](FakePlatform& p) { p.failing.insert(Op::EmptyClipboard); },
          "\n * Couldn't able to Clear the Clipboard Contents. * \n", false},
         {}},
    };
    for (const auto& [c, bytes] : cases) {
        FakePlatform platform;
        platform.Place(CF_TEXT, {'k', 0});
        platform.files["in.bmp"].bytes = bytes.empty() ? BmpFile(10, 5, 24, 0) : bytes;
        if (c.arrange) c.arrange(platform);
        Command(platform, "PUTDATA", "CF_BITMAP", "in.bmp");
        EXPECT_EQ(platform.output, c.output + kBmpPutFail) << c.label;
        EXPECT_EQ(platform.Formats(), std::vector<FormatId>{CF_TEXT}) << c.label;
        EXPECT_EQ(platform.LiveBitmaps(), 0U) << c.label << ": bitmap leaked";
        EXPECT_EQ(platform.LiveMemoryBlocks(), 1U) << c.label;
        ExpectBalanced(platform);
    }
}

TEST(BitmapImport, RefusedPlacementDeletesTheBitmap) {
    FakePlatform platform;
    platform.files["in.bmp"].bytes = BmpFile(3, 3, 32, 0);
    platform.failing.insert(Op::SetClipboardData);
    Command(platform, "PUTDATA", "CF_DIB", "in.bmp");
    EXPECT_EQ(platform.output,
              "\n * Couldn't able to place the data on the Clipboard. * \n" + kBmpPutFail);
    EXPECT_EQ(platform.LiveBitmaps(), 0U);
    ExpectBalanced(platform);
}

}  // namespace
}  // namespace clipfile
