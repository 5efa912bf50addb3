#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "cli/dispatch.h"
#include "fake_platform.h"
#include "formats/formats.h"

namespace clipfile {
namespace {

using testing::Bytes;
using testing::FakePlatform;
using testing::Op;

constexpr const char* kInvalidCount =
    "\n\n * Invalid number of arguments passed to the application. * \n";
constexpr const char* kInvalidKeyword =
    "\n\n * Arguments Passed to the application are not Valid. * \n";
constexpr const char* kHeader =
    "\n\nClipboard Formats are :\n\n\tFormat Type - [Value]\n\t---------------------\n";

struct MatchCase {
    const char* a;
    const char* b;
    std::size_t n;
    bool expected;
};

TEST(MatchesPrefixNoCase, FoldsCaseAndTreatsTheTerminatorAsACharacter) {
    const std::vector<MatchCase> cases = {
        {"getdata", "GETDATA", 7, true},
        {"GETDATA2", "GETDATA", 7, true},
        {"GetTypesXYZ", "GETTYPES", 8, true},
        {"GETTYPE", "GETTYPES", 8, false},
        {"GET", "GETDATA", 7, false},
        {"", "CF_TEXT", 0, true},
        {"CF_TEXTX", "CF_TEXT", 8, false},
        {"cf_dib", "CF_DIB", 6, true},
        {"abc", "abc", 10, true},
        {"abc", "abcd", 10, false},
        {"[", "{", 1, false},  // only A-Z fold; '[' and '{' differ by the same bit
        {"@", "`", 1, false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(MatchesPrefixNoCase(c.a, c.b, c.n), c.expected)
            << c.a << " vs " << c.b << " n=" << c.n;
    }
}

TEST(FindKnownFormat, FirstRowThatBeginsWithTheUserText) {
    const std::vector<std::pair<const char*, FormatId>> cases = {
        {"", CF_TEXT},
        {"CF_", CF_TEXT},
        {"cf_unicode", CF_UNICODETEXT},
        {"cf_dib", CF_DIB},
        {"CF_DIBV", CF_DIBV5},
        {"CF_DSP", CF_DSPTEXT},
        {"cf_dspenh", CF_DSPENHMETAFILE},
        {"CF_OWNERDISPLAY", CF_OWNERDISPLAY},
        {"CF_TEXTX", 0},
        {"TEXT", 0},
        {"NULL", 0},
        {"HTML Format", 0},
    };
    for (const auto& [name, id] : cases) {
        const KnownFormat* row = FindKnownFormat(name);
        EXPECT_EQ(row != nullptr ? row->id : 0, id) << name;
    }
}

TEST(FormatNameFromId, TableNamesRegisteredNamesAndNull) {
    FakePlatform platform;
    const FormatId html = platform.RegisterClipboardFormatA("HTML Format");
    EXPECT_EQ(FormatNameFromId(platform, CF_DSPENHMETAFILE), "CF_DSPENHMETAFILE");
    EXPECT_EQ(FormatNameFromId(platform, html), "HTML Format");
    EXPECT_EQ(FormatNameFromId(platform, 0xC0FF), "NULL");
    EXPECT_EQ(FormatNameFromId(platform, 18), "NULL");
}

struct RunResult {
    int status;
    std::string output;
    std::string error;
};

RunResult RunTool(FakePlatform& platform, std::vector<std::string> args) {
    args.insert(args.begin(), "clipfile");
    std::vector<char*> argv;
    argv.reserve(args.size() + 1);
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    const int status = RunClipfile(platform, static_cast<int>(args.size()), argv.data());
    return {status, platform.output, platform.error};
}

TEST(RunClipfile, ArgumentCountsOtherThanOneOrThreeAreRejected) {
    for (const auto& args : std::vector<std::vector<std::string>>{{},
                                                                  {"GETTYPES", "CF_TEXT"},
                                                                  {"GETDATA", "CF_TEXT", "a", "b"},
                                                                  {"a", "b", "c", "d", "e"}}) {
        FakePlatform platform;
        platform.Place(CF_TEXT, {'x', 0});
        const RunResult r = RunTool(platform, args);
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(r.output, kInvalidCount) << args.size();
        EXPECT_EQ(platform.calls[Op::OpenClipboard], 0);
    }
}

TEST(RunClipfile, FrameworkFailureGoesToStandardErrorWithStatusOne) {
    FakePlatform platform;
    platform.failing.insert(Op::InitializeFramework);
    const RunResult r = RunTool(platform, {"GETTYPES"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.output, "");
    EXPECT_EQ(r.error, "Fatal Error: MFC initialization failed\n");
}

TEST(RunClipfile, KeywordsAreCaseInsensitivePrefixesOfTheWord) {
    const std::vector<std::pair<const char*, bool>> cases = {
        {"GETTYPES", true}, {"gettypes", true}, {"GetTypesXYZ", true},
        {"GETTYPE", false}, {"GET", false},     {"", false},
    };
    for (const auto& [keyword, lists] : cases) {
        FakePlatform platform;
        platform.Place(CF_TEXT, {'x', 0});
        const RunResult r = RunTool(platform, {keyword});
        EXPECT_EQ(r.output, lists ? std::string(kHeader) + "\n\tCF_TEXT - [1]\n" : kInvalidKeyword)
            << keyword;
        EXPECT_EQ(r.status, 0);
    }
}

TEST(GetTypes, ListsEveryFormatInClipboardOrderWithNamesAndNumbers) {
    FakePlatform platform;
    const FormatId html = platform.RegisterClipboardFormatA("HTML Format");
    for (FormatId id : {FormatId{CF_UNICODETEXT}, FormatId{CF_LOCALE}, FormatId{CF_TEXT},
                        FormatId{CF_OEMTEXT}, html, FormatId{0xC123}}) {
        platform.Place(id, {1});
    }
    const RunResult r = RunTool(platform, {"GETTYPES", "ignored", "ignored"});
    EXPECT_EQ(
        r.output,
        std::string(kHeader) +
            "\n\tCF_UNICODETEXT - [13]\n\tCF_LOCALE - [16]\n\tCF_TEXT - [1]\n\tCF_OEMTEXT - [7]"
            "\n\tHTML Format - [" +
            std::to_string(html) + "]\n\tNULL - [49443]\n");
    EXPECT_FALSE(platform.isOpen);
}

TEST(GetTypes, HoldsNoLimitOnTheNumberOfFormats) {
    FakePlatform platform;
    for (FormatId id = 0xC100; id < 0xC100 + 40; ++id) platform.Place(id, {});
    const RunResult r = RunTool(platform, {"GETTYPES"});
    EXPECT_NE(r.output.find("\n\tNULL - [49447]\n"), std::string::npos);  // the 40th
}

TEST(GetTypes, EmptyClipboardAndBusyClipboard) {
    FakePlatform empty;
    EXPECT_EQ(RunTool(empty, {"GETTYPES"}).output, "\n\nClipboard is Empty.\n\n");

    FakePlatform busy;
    busy.failing.insert(Op::OpenClipboard);
    EXPECT_EQ(RunTool(busy, {"GETTYPES"}).output,
              "\n * Unable to open the Clipboard. * \n\n * Couldn't able to retrieve the Clipboard "
              "Formats. * \n");
    EXPECT_FALSE(busy.unpairedClose);
}

TEST(Dispatch, OneArgumentCommandsRunWithEmptyNameAndPath) {
    FakePlatform getData;
    getData.Place(CF_UNICODETEXT, {'a', 0});
    EXPECT_EQ(RunTool(getData, {"GETDATA"}).output,
              "\n * Error whle opening the \"\" file. * \n"
              "\n\n * Couldn't able to transfer the contents of clipboard into \"\" file. * \n");

    FakePlatform emptyClipboard;
    EXPECT_EQ(RunTool(emptyClipboard, {"GETDATA"}).output,
              "\n ! Specified Format \"\" is not available on the Clipboard. ! \n");

    FakePlatform putData;
    EXPECT_EQ(RunTool(putData, {"putdata"}).output,
              "\n * Error while reading the \"\" file * \n"
              "\n\n * Couldn't able to transfer the contents of \"\" file into Clipboard. * \n");
}

// A second clipboard back end in miniature: blocks copied into a map, with
// the memory of whatever back end it is composed with. Commands reach the
// clipboard only through its role, so swapping it is all a new back end needs.
class MapClipboard final : public Clipboard {
public:
    explicit MapClipboard(GlobalMemory& memory) : memory_(memory) {}

    bool OpenClipboard() override { return !open_ && (open_ = true); }
    bool CloseClipboard() override { return open_ && !(open_ = false); }
    bool EmptyClipboard() override {
        data_.clear();
        return open_;
    }
    FormatId EnumClipboardFormats(FormatId previous) override {
        const auto next = data_.upper_bound(previous);
        return next != data_.end() ? next->first : 0;
    }
    int GetClipboardFormatNameA(FormatId, char*, int) override { return 0; }
    bool IsClipboardFormatAvailable(FormatId id) override { return data_.contains(id); }
    DataHandle GetClipboardData(FormatId id) override {
        const auto it = data_.find(id);
        if (!open_ || it == data_.end()) {
            return DataHandle::None;
        }
        const MemoryHandle block = memory_.GlobalAlloc(it->second.size());
        std::memcpy(memory_.GlobalLock(block), it->second.data(), it->second.size());
        memory_.GlobalUnlock(block);
        handedOut_.push_back(block);
        return ToData(block);
    }
    bool SetClipboardData(FormatId id, DataHandle data) override {
        const MemoryHandle block = AsMemory(data);
        const auto* bytes = static_cast<const std::uint8_t*>(memory_.GlobalLock(block));
        data_[id].assign(bytes, bytes + memory_.GlobalSize(block));
        memory_.GlobalUnlock(block);
        memory_.GlobalFree(block);
        return open_;
    }
    FormatId RegisterClipboardFormatA(const char*) override { return 0xC123; }

    ~MapClipboard() override {
        for (const MemoryHandle block : handedOut_) {
            memory_.GlobalFree(block);
        }
    }

    std::map<FormatId, Bytes> data_;

private:
    GlobalMemory& memory_;
    std::vector<MemoryHandle> handedOut_;
    bool open_ = false;
};

TEST(Composition, CommandsRunOverASecondClipboardWithTheFakesOtherRoles) {
    FakePlatform fake;
    MapClipboard clipboard(fake);
    Platform platform{fake, clipboard, fake, fake, fake};
    fake.Place(CF_LOCALE, {9});
    fake.files["in.txt"].bytes = {'h', 'i'};

    DispatchCommand(platform, "PUTDATA", "CF_TEXT", "in.txt");
    DispatchCommand(platform, "GETTYPES", "", "");
    DispatchCommand(platform, "GETDATA", "cf_text", "out.txt");
    EXPECT_EQ(fake.output,
              "\n\n\"in.txt\" File contents were Successfully copied into the Clipboard.\n" +
                  std::string(kHeader) + "\n\tCF_TEXT - [1]\n" +
                  "\n\nClipboard Contents were Successfully copied into the \"out.txt\" File\n");
    EXPECT_EQ(clipboard.data_, (std::map<FormatId, Bytes>{{CF_TEXT, {'h', 'i', 0}}}));
    EXPECT_EQ(fake.files["out.txt"].bytes, (Bytes{'h', 'i', 0}));
    EXPECT_EQ(fake.Formats(), std::vector<FormatId>{CF_LOCALE}) << "the fake's clipboard was used";
    EXPECT_EQ(fake.calls[Op::OpenClipboard], 0);
}

}  // namespace
}  // namespace clipfile
