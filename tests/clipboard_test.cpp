#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "platform/backend.h"
#include "posix/portable_backend.h"
#include "posix/posix_advice.h"
#include "util/heap_buffer.h"

namespace clipfile {
namespace {

using Contents = std::vector<std::pair<FormatId, std::string>>;

bool Put(Platform& p, FormatId id, const std::string& bytes) {
    const MemoryHandle block = p.memory.GlobalAlloc(bytes.size());
    std::memcpy(p.memory.GlobalLock(block), bytes.data(), bytes.size());
    p.memory.GlobalUnlock(block);
    if (p.clipboard.SetClipboardData(id, ToData(block))) {
        return true;
    }
    p.memory.GlobalFree(block);
    return false;
}

// Every format of an open clipboard with its bytes, in enumeration order.
Contents ReadOpen(Platform& p) {
    Contents all;
    for (FormatId id = p.clipboard.EnumClipboardFormats(0); id != 0 && all.size() < 100;
         id = p.clipboard.EnumClipboardFormats(id)) {
        const MemoryHandle block = AsMemory(p.clipboard.GetClipboardData(id));
        const auto* bytes = static_cast<const char*>(p.memory.GlobalLock(block));
        all.emplace_back(
            id, bytes != nullptr ? std::string(bytes, p.memory.GlobalSize(block)) : "<none>");
        p.memory.GlobalUnlock(block);
    }
    return all;
}

std::optional<Contents> Snapshot(const std::string& location) {
    PortableBackend p(location);
    if (!p.clipboard.OpenClipboard()) {
        return std::nullopt;
    }
    Contents all = ReadOpen(p);
    p.clipboard.CloseClipboard();
    return all;
}

void Place(const std::string& location, const Contents& contents) {
    PortableBackend p(location);
    ASSERT_TRUE(p.clipboard.OpenClipboard() && p.clipboard.EmptyClipboard());
    for (const auto& [id, bytes] : contents) {
        ASSERT_TRUE(Put(p, id, bytes));
    }
    ASSERT_TRUE(p.clipboard.CloseClipboard());
}

void WriteBytes(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

std::string ReadBytes(const std::string& path) {
    std::ostringstream out;
    out << std::ifstream(path, std::ios::binary).rdbuf();
    return out.str();
}

std::string Pattern(std::size_t size) {
    std::string bytes(size, '\0');
    for (std::size_t i = 0; i < size; ++i) {
        bytes[i] = static_cast<char>((i * 2654435761u) >> 13);
    }
    return bytes;
}

std::string LE(std::uint64_t value, int bytes) {
    std::string out;
    for (int i = 0; i < bytes; ++i) {
        out += static_cast<char>(value >> (8 * i));
    }
    return out;
}

std::string Patch(std::string bytes, std::size_t at, std::uint64_t value, int width) {
    return bytes.replace(at, static_cast<std::size_t>(width), LE(value, width));
}

// Written independently of the platform, with the blocks in reverse behind
// some unused bytes, so a reader must follow the table rather than file order.
std::string EncodeContents(const Contents& contents) {
    std::string data = "unused";
    std::vector<std::uint64_t> offsets(contents.size());
    for (std::size_t i = contents.size(); i-- > 0;) {
        offsets[i] = 24 + data.size();
        data += contents[i].second;
    }
    std::string file =
        "CLIPFILE" + LE(1, 4) + LE(contents.size(), 4) + LE(24 + data.size(), 8) + data;
    for (std::size_t i = 0; i < contents.size(); ++i) {
        file += LE(contents[i].first, 4) + LE(offsets[i], 8) + LE(contents[i].second.size(), 8);
    }
    return file;
}

std::string EncodeFormats(const std::vector<std::string>& names) {
    std::string file = "CLIPFMTS" + LE(1, 4) + LE(names.size(), 4);
    for (std::size_t i = 0; i < names.size(); ++i) {
        file += LE(0xC000 + i, 2) + LE(names[i].size(), 1) + names[i];
    }
    return file;
}

double SecondsSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

class PortableClipboardTest : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/clipfile-test-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        root_ = pattern;
        location_ = root_ + "/clip";
    }
    void TearDown() override {
        std::error_code ignored;
        std::filesystem::remove_all(root_, ignored);
    }

    std::string root_;
    std::string location_;
};

TEST_F(PortableClipboardTest, RoundTripKeepsOrderSizesAndBytes) {
    const Contents placed = {{CF_UNICODETEXT, std::string("h\0i", 3)},
                             {CF_SYLK, ""},
                             {CF_DIB, Pattern((5u << 20) + 3)},
                             {CF_TEXT, "text"}};
    PortableBackend writer(location_);
    ASSERT_TRUE(writer.clipboard.OpenClipboard() && writer.clipboard.EmptyClipboard());
    for (const auto& [id, bytes] : placed) {
        ASSERT_TRUE(Put(writer, id, bytes));
    }
    EXPECT_EQ(ReadOpen(writer), placed);  // the session sees its own changes
    EXPECT_TRUE(writer.clipboard.IsClipboardFormatAvailable(CF_SYLK));
    ASSERT_TRUE(writer.clipboard.CloseClipboard());

    PortableBackend reader(location_);
    EXPECT_TRUE(reader.clipboard.IsClipboardFormatAvailable(CF_SYLK));
    EXPECT_FALSE(reader.clipboard.IsClipboardFormatAvailable(CF_BITMAP));
    EXPECT_EQ(Snapshot(location_), placed);
    struct stat info {};
    ASSERT_EQ(stat(location_.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0700u);
    EXPECT_EQ(ReadBytes(location_ + "/contents").substr(0, 12), "CLIPFILE" + LE(1, 4));
}

TEST_F(PortableClipboardTest, SessionsComposeLikeTheSystemClipboard) {
    struct Step {
        char op;  // 'E' empties, 'S' sets
        FormatId id = 0;
        const char* bytes = "";
    };
    struct Case {
        const char* name;
        std::vector<std::vector<Step>> sessions;
        Contents expected;
    };
    const Case cases[] = {
        {"empty then set replaces everything",
         {{{'E'}, {'S', 1, "a"}, {'S', 13, "b"}}, {{'E'}, {'S', 8, "c"}}},
         {{8, "c"}}},
        {"set without empty keeps formats",
         {{{'E'}, {'S', 1, "a"}, {'S', 13, "b"}}, {{'S', 8, "c"}}},
         {{1, "a"}, {13, "b"}, {8, "c"}}},
        {"set of a present id replaces it in place",
         {{{'E'}, {'S', 1, "a"}, {'S', 13, "b"}, {'S', 8, "c"}}, {{'S', 13, "longer"}}},
         {{1, "a"}, {13, "longer"}, {8, "c"}}},
        {"same id twice in one session",
         {{{'E'}, {'S', 1, "a"}, {'S', 13, "b"}, {'S', 1, "cc"}}},
         {{1, "cc"}, {13, "b"}}},
        {"empty alone clears", {{{'E'}, {'S', 1, "a"}}, {{'E'}}}, {}},
        {"empty discards earlier sets of the session",
         {{{'E'}, {'S', 1, "a"}}, {{'S', 13, "b"}, {'E'}, {'S', 8, "c"}}},
         {{8, "c"}}},
        {"set on a never-used clipboard", {{{'S', 7, "x"}}}, {{7, "x"}}},
    };
    int index = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string location = root_ + "/case" + std::to_string(index++);
        for (const auto& session : c.sessions) {
            PortableBackend p(location);
            ASSERT_TRUE(p.clipboard.OpenClipboard());
            for (const Step& step : session) {
                EXPECT_TRUE(step.op == 'E' ? p.clipboard.EmptyClipboard()
                                           : Put(p, step.id, step.bytes));
            }
            ASSERT_TRUE(p.clipboard.CloseClipboard());
        }
        EXPECT_EQ(Snapshot(location), c.expected);
    }
}

TEST_F(PortableClipboardTest, ChangesStayPrivateUntilCloseAndTheLockExcludes) {
    Place(location_, {{CF_TEXT, "old"}});
    PortableBackend a(location_);
    PortableBackend b(location_);
    ASSERT_TRUE(a.clipboard.OpenClipboard() && a.clipboard.EmptyClipboard() &&
                Put(a, CF_DIB, "new"));
    EXPECT_EQ(ReadOpen(a), (Contents{{CF_DIB, "new"}}));
    EXPECT_TRUE(b.clipboard.IsClipboardFormatAvailable(CF_TEXT));
    EXPECT_FALSE(b.clipboard.IsClipboardFormatAvailable(CF_DIB));

    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(b.clipboard.OpenClipboard());
    EXPECT_GT(SecondsSince(start), 0.95);  // it retries for about a second...
    EXPECT_LT(SecondsSince(start), 2.0);   // ...but not for long

    ASSERT_TRUE(a.clipboard.CloseClipboard());
    EXPECT_FALSE(b.clipboard.IsClipboardFormatAvailable(CF_TEXT));
    EXPECT_EQ(Snapshot(location_), (Contents{{CF_DIB, "new"}}));
}

TEST_F(PortableClipboardTest, KilledWriterLeavesPreviousContentsAndReleasesTheLock) {
    const Contents before = {{CF_TEXT, "before"}, {CF_DIB, Pattern(4096)}};
    Place(location_, before);
    WriteBytes(location_ + "/contents.tmp.1", "left by a dead process");
    int ready[2];
    ASSERT_EQ(pipe(ready), 0);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        PortableBackend writer(location_);
        const bool placed = writer.clipboard.OpenClipboard() && writer.clipboard.EmptyClipboard() &&
                            Put(writer, CF_TEXT, Pattern(1u << 20));
        if (write(ready[1], placed ? "y" : "n", 1) == 1) {
            pause();
        }
        _exit(1);
    }
    char state = 0;
    ASSERT_EQ(read(ready[0], &state, 1), 1);
    ASSERT_EQ(state, 'y');
    const std::string childTemp = location_ + "/contents.tmp." + std::to_string(child);
    EXPECT_TRUE(std::filesystem::exists(childTemp));
    EXPECT_FALSE(std::filesystem::exists(
        location_ + "/contents.tmp.1"));  // cleared when the child took the lock
    PortableBackend p(location_);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(p.clipboard.OpenClipboard());
    EXPECT_LT(SecondsSince(start), 2.0);
    kill(child, SIGKILL);
    waitpid(child, nullptr, 0);
    close(ready[0]);
    close(ready[1]);

    EXPECT_EQ(Snapshot(location_), before);
    EXPECT_FALSE(std::filesystem::exists(childTemp));
}

TEST_F(PortableClipboardTest, OneOpenAtATimeAndTheDestructorCommits) {
    PortableBackend p(location_);
    const MemoryHandle block = p.memory.GlobalAlloc(3);
    EXPECT_FALSE(p.clipboard.SetClipboardData(CF_TEXT, ToData(block)));  // not open
    EXPECT_EQ(p.memory.GlobalSize(block), 3u);                           // so still the caller's
    EXPECT_FALSE(p.clipboard.CloseClipboard());
    ASSERT_TRUE(p.clipboard.OpenClipboard());
    EXPECT_FALSE(p.clipboard.OpenClipboard());
    EXPECT_FALSE(p.clipboard.SetClipboardData(CF_TEXT, static_cast<DataHandle>(0x1234)));
    EXPECT_TRUE(p.clipboard.CloseClipboard());
    p.memory.GlobalFree(block);
    {
        PortableBackend leftOpen(location_);
        ASSERT_TRUE(leftOpen.clipboard.OpenClipboard() && leftOpen.clipboard.EmptyClipboard());
        ASSERT_TRUE(Put(leftOpen, CF_TEXT, "kept"));
    }
    EXPECT_EQ(Snapshot(location_), (Contents{{CF_TEXT, "kept"}}));
}

TEST_F(PortableClipboardTest, UnsafeLocationsAreNeitherReadNorWritten) {
    const std::string secret = EncodeContents({{CF_TEXT, "secret"}});
    std::vector<std::pair<std::string, mode_t>> dirs = {
        {"/target", 0700}, {"/mode755", 0755}, {"/mode770", 0770}, {"/mode701", 0701}};
    if (geteuid() == 0) {
        dirs.emplace_back("/foreign", 0700);
    }
    for (const auto& [name, mode] : dirs) {
        ASSERT_EQ(mkdir((root_ + name).c_str(), 0700), 0);
        WriteBytes(root_ + name + "/contents", secret);
        ASSERT_EQ(chmod((root_ + name).c_str(), mode), 0);
    }
    if (geteuid() == 0) {
        ASSERT_EQ(chown((root_ + "/foreign").c_str(), 65534, 65534), 0);
    }
    ASSERT_EQ(symlink((root_ + "/target").c_str(), (root_ + "/link").c_str()), 0);
    WriteBytes(root_ + "/file", "x");

    std::vector<std::string> refused = {"/link",    "/file",    "/missing/clip",
                                        "/mode755", "/mode770", "/mode701"};
    if (geteuid() == 0) {
        refused.push_back("/foreign");
    }
    for (const std::string& name : refused) {
        const std::string location = root_ + name;
        SCOPED_TRACE(location);
        PortableBackend p(location);
        EXPECT_FALSE(p.clipboard.OpenClipboard());
        EXPECT_FALSE(p.clipboard.IsClipboardFormatAvailable(CF_TEXT));
        EXPECT_EQ(p.clipboard.RegisterClipboardFormatA("Some Format"), 0u);
        const std::string inside = name == "/link" ? root_ + "/target" : location;
        EXPECT_FALSE(std::filesystem::exists(inside + "/lock"));
        EXPECT_FALSE(std::filesystem::exists(inside + "/formats"));
    }
    // The same contents in a private folder are readable, so the refusals
    // above come from the checks.
    EXPECT_EQ(Snapshot(root_ + "/target"), (Contents{{CF_TEXT, "secret"}}));
}

TEST_F(PortableClipboardTest, DefaultLocationFollowsXdgRuntimeDir) {
    const char* saved = std::getenv("XDG_RUNTIME_DIR");
    const std::string savedValue = saved != nullptr ? saved : "";
    char path[kMaxLocationPath];
    setenv("XDG_RUNTIME_DIR", "", 1);
    ASSERT_TRUE(DefaultClipboardLocation(path, sizeof path));
    EXPECT_EQ(path, "/tmp/clipfile-" + std::to_string(geteuid()));
    setenv("XDG_RUNTIME_DIR", root_.c_str(), 1);
    setenv("CLIPFILE_CLIPBOARD", "portable", 1);
    const char* failure = nullptr;
    EXPECT_NE(CreateSystemBackend(failure)->platform().clipboard.RegisterClipboardFormatA(
                  "Through The Environment"),
              0u);
    EXPECT_TRUE(std::filesystem::exists(root_ + "/clipfile/formats"));
    saved != nullptr ? setenv("XDG_RUNTIME_DIR", savedValue.c_str(), 1)
                     : unsetenv("XDG_RUNTIME_DIR");
}

TEST_F(PortableClipboardTest, DamagedContentsReadAsEmpty) {
    const Contents valid = {{CF_UNICODETEXT, "abc"}, {CF_TEXT, "hello"}};
    const std::string base = EncodeContents(valid);
    const std::string contents = location_ + "/contents";
    ASSERT_EQ(mkdir(location_.c_str(), 0700), 0);
    WriteBytes(contents, base);
    ASSERT_EQ(Snapshot(location_), valid);  // the damage below starts from a readable file

    // Table at 38: entries of id, offset, size; entry 0 is CF_UNICODETEXT.
    const std::size_t table = 24 + 6 + 5 + 3;
    ASSERT_EQ(base.size(), table + 40);
    std::vector<std::pair<std::string, std::string>> cases = {
        {"appended byte", base + "x"},
        {"magic", Patch(base, 0, 'D', 1)},
        {"version 2", Patch(base, 8, 2, 4)},
        {"count + 1", Patch(base, 12, 3, 4)},
        {"count - 1", Patch(base, 12, 1, 4)},
        {"count max", Patch(base, 12, UINT32_MAX, 4)},
        {"table offset inside header", Patch(base, 16, 23, 8)},
        {"table offset + 1", Patch(base, 16, table + 1, 8)},
        {"table offset max", Patch(base, 16, UINT64_MAX, 8)},
        {"entry id 0", Patch(base, table, 0, 4)},
        {"entry id above 0xFFFF", Patch(base, table, 0x10000 + CF_UNICODETEXT, 4)},
        {"duplicate id", Patch(base, table + 20, CF_UNICODETEXT, 4)},
        {"entry offset in header", Patch(base, table + 4, 8, 8)},
        {"entry offset max", Patch(base, table + 4, UINT64_MAX, 8)},
        {"entry size max", Patch(base, table + 12, UINT64_MAX, 8)},
        {"entry size into table", Patch(base, table + 12, 9, 8)},
    };
    for (std::size_t length = 0; length < base.size(); ++length) {
        cases.emplace_back("truncated to " + std::to_string(length), base.substr(0, length));
    }
    for (const auto& [name, bytes] : cases) {
        SCOPED_TRACE(name);
        WriteBytes(contents, bytes);
        PortableBackend p(location_);
        EXPECT_FALSE(p.clipboard.IsClipboardFormatAvailable(CF_TEXT));
        if (p.clipboard.OpenClipboard()) {
            EXPECT_EQ(p.clipboard.EnumClipboardFormats(0), 0u);
            EXPECT_EQ(p.clipboard.GetClipboardData(CF_TEXT), DataHandle::None);
            p.clipboard.CloseClipboard();
        }
    }

    alarm(10);  // something other than a file under the name must not stall a reader
    for (const bool fifo : {true, false}) {
        std::filesystem::remove(contents);
        ASSERT_EQ(fifo ? mkfifo(contents.c_str(), 0600) : mkdir(contents.c_str(), 0700), 0);
        PortableBackend p(location_);
        EXPECT_FALSE(p.clipboard.IsClipboardFormatAvailable(CF_TEXT));
        ASSERT_TRUE(p.clipboard.OpenClipboard());
        EXPECT_EQ(p.clipboard.EnumClipboardFormats(0), 0u);
        p.clipboard.CloseClipboard();
    }
    alarm(0);

    std::filesystem::remove(contents);
    WriteBytes(contents, base.substr(0, 30));
    Place(location_, {{CF_DIB, "fresh"}});  // the next commit replaces a damaged file
    EXPECT_EQ(Snapshot(location_), (Contents{{CF_DIB, "fresh"}}));
}

TEST_F(PortableClipboardTest, RegisteredFormatsAreSharedAndCaseInsensitive) {
    PortableBackend a(location_);
    PortableBackend b(location_);
    const FormatId id = a.clipboard.RegisterClipboardFormatA("Custom Format");
    EXPECT_GE(id, 0xC000u);
    EXPECT_EQ(a.clipboard.RegisterClipboardFormatA("CUSTOM format"), id);
    EXPECT_EQ(b.clipboard.RegisterClipboardFormatA("custom FORMAT"), id);
    const FormatId other = b.clipboard.RegisterClipboardFormatA("Other");
    EXPECT_GE(other, 0xC000u);
    EXPECT_NE(other, id);

    for (const std::string& bad : {std::string(), std::string(256, 'n')}) {
        EXPECT_EQ(a.clipboard.RegisterClipboardFormatA(bad.c_str()), 0u) << bad.size();
    }
    EXPECT_EQ(a.clipboard.RegisterClipboardFormatA(nullptr), 0u);
    const std::string longest(255, 'n');
    const FormatId longestId = a.clipboard.RegisterClipboardFormatA(longest.c_str());
    char name[300];
    ASSERT_EQ(b.clipboard.GetClipboardFormatNameA(longestId, name, sizeof name), 255);
    EXPECT_EQ(name, longest);

    const std::pair<int, const char*> truncations[] = {
        {1, ""}, {4, "Cus"}, {13, "Custom Forma"}, {14, "Custom Format"}, {64, "Custom Format"}};
    for (const auto& [size, expected] : truncations) {
        std::memset(name, 'X', sizeof name);
        EXPECT_EQ(b.clipboard.GetClipboardFormatNameA(id, name, size),
                  static_cast<int>(strlen(expected)));
        EXPECT_STREQ(name, expected);
    }
    for (const FormatId unnamed : {FormatId{CF_TEXT}, FormatId{0xBFFF}, FormatId{0xC100}}) {
        EXPECT_EQ(a.clipboard.GetClipboardFormatNameA(unnamed, name, sizeof name), 0) << unnamed;
    }

    WriteBytes(location_ + "/formats.tmp.1", "left by a killed registration");
    EXPECT_NE(a.clipboard.RegisterClipboardFormatA("Third"), 0u);
    EXPECT_FALSE(std::filesystem::exists(location_ + "/formats.tmp.1"));

    // A full table refuses new names; a damaged one refuses all and is kept.
    const std::string formats = location_ + "/formats";
    std::vector<std::string> names;
    names.reserve(0x4000);
    for (int i = 0; i < 0x4000; ++i) {
        names.push_back("f" + std::to_string(i));
    }
    WriteBytes(formats, EncodeFormats(names));
    EXPECT_EQ(a.clipboard.RegisterClipboardFormatA("F5"), 0xC005u);
    EXPECT_EQ(a.clipboard.RegisterClipboardFormatA("one too many"), 0u);
    const std::string valid = EncodeFormats({"Alpha"});
    for (const std::string& damaged :
         {Patch(valid, 16, 0xC001, 2), Patch(valid, 18, 6, 1), valid + "z"}) {
        WriteBytes(formats, damaged);
        EXPECT_EQ(a.clipboard.RegisterClipboardFormatA("Beta"), 0u);
        EXPECT_EQ(a.clipboard.GetClipboardFormatNameA(0xC000, name, sizeof name), 0);
        EXPECT_EQ(ReadBytes(formats), damaged);
    }
}

TEST_F(PortableClipboardTest, ConcurrentRegistrationsAgree) {
    constexpr int kNames = 40;
    FormatId ids[2][kNames];
    int results[2];
    ASSERT_EQ(pipe(results), 0);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    const int side = child == 0 ? 1 : 0;  // the two register in opposite orders
    PortableBackend p(location_);
    for (int i = 0; i < kNames; ++i) {
        const int n = side == 0 ? i : kNames - 1 - i;
        ids[side][n] = p.clipboard.RegisterClipboardFormatA(("name " + std::to_string(n)).c_str());
    }
    if (child == 0) {
        _exit(write(results[1], ids[1], sizeof ids[1]) == sizeof ids[1] ? 0 : 1);
    }
    ASSERT_EQ(read(results[0], ids[1], sizeof ids[1]), static_cast<ssize_t>(sizeof ids[1]));
    waitpid(child, nullptr, 0);
    close(results[0]);
    close(results[1]);
    for (int n = 0; n < kNames; ++n) {
        EXPECT_GE(ids[0][n], 0xC000u) << n;
        EXPECT_EQ(ids[0][n], ids[1][n]) << n;
        for (int m = 0; m < n; ++m) {
            EXPECT_NE(ids[0][m], ids[0][n]) << m << " " << n;
        }
    }
}

TEST_F(PortableClipboardTest, RunningOutOfSpaceKeepsPreviousContents) {
    const Contents before = {{CF_TEXT, "old"}};
    Place(location_, before);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        const rlimit limit{64 << 10, 64 << 10};
        signal(SIGXFSZ, SIG_IGN);
        PortableBackend p(location_);
        const MemoryHandle block = p.memory.GlobalAlloc(1u << 20);
        const bool refused = setrlimit(RLIMIT_FSIZE, &limit) == 0 && p.clipboard.OpenClipboard() &&
                             p.clipboard.EmptyClipboard() &&
                             !p.clipboard.SetClipboardData(CF_DIB, ToData(block));
        // A refused block stays the caller's.
        _exit(refused && p.memory.GlobalSize(block) == 1u << 20 && p.clipboard.CloseClipboard()
                  ? 0
                  : 1);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    EXPECT_EQ(Snapshot(location_), before);
    for (const auto& entry : std::filesystem::directory_iterator(location_)) {
        EXPECT_FALSE(entry.path().filename().string().starts_with("contents.tmp.")) << entry.path();
    }
}

TEST_F(PortableClipboardTest, FilesOpenOnlyRegularFilesAndMoveEveryByte) {
    PortableBackend p(location_);
    const std::string fifo = root_ + "/fifo";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    alarm(10);  // a blocking open would hang here
    for (const std::string& path : {root_, fifo, root_ + "/missing"}) {
        EXPECT_EQ(p.files.OpenFileForReading(path.c_str()), FileHandle::None) << path;
    }
    alarm(0);

    const std::string path = root_ + "/data";
    const std::string bytes = Pattern((3u << 20) + 1);
    WriteBytes(path, bytes + "a longer previous version");
    const FileHandle out = p.files.CreateFileForWriting(path.c_str());
    std::size_t written = 0;
    EXPECT_TRUE(p.files.WriteFile(out, bytes.data(), bytes.size(), written) &&
                written == bytes.size());
    EXPECT_TRUE(p.files.CloseFile(out));
    const FileHandle in = p.files.OpenFileForReading(path.c_str());
    std::string back(bytes.size() + 10, '\0');
    std::size_t got = 0;
    EXPECT_TRUE(p.files.ReadFile(in, back.data(), back.size(), got));
    EXPECT_EQ(back.substr(0, got), bytes);
    EXPECT_TRUE(p.files.ReadFile(in, back.data(), 1, got) && got == 0);
    EXPECT_TRUE(p.files.CloseFile(in));
}

}  // namespace
}  // namespace clipfile

namespace clipfile {
namespace {

// A 3 x 2 24-bit DIB, bottom row first: header, then rows padded to 12 bytes.
std::pair<std::string, std::string> SmallDib() {
    std::string header =
        LE(40, 4) + LE(3, 4) + LE(2, 4) + LE(1, 2) + LE(24, 2) + std::string(24, '\0');
    std::string rows;
    for (int y = 0; y < 2; ++y) {
        for (int x = 0; x < 3; ++x)
            rows += {static_cast<char>(10 * x), static_cast<char>(100 + y), '\x7f'};
        rows += std::string(3, '\0');
    }
    return {header, rows};
}

TEST_F(PortableClipboardTest, BitmapsAreStoredAsPixelsAndOfferedAsDibs) {
    const auto [header, rows] = SmallDib();
    {
        PortableBackend p(location_);
        const DcHandle screen = p.graphics.GetScreenDC();
        const BitmapHandle bitmap = p.graphics.CreateDIBitmap(
            screen, reinterpret_cast<const std::uint8_t*>(header.data()), header.size(),
            reinterpret_cast<const std::uint8_t*>(rows.data()), rows.size());
        p.graphics.ReleaseScreenDC(screen);
        ASSERT_NE(bitmap, BitmapHandle::None);
        ASSERT_TRUE(p.clipboard.OpenClipboard() && p.clipboard.EmptyClipboard());
        ASSERT_TRUE(Put(p, CF_TEXT, "t"));
        ASSERT_TRUE(p.clipboard.SetClipboardData(CF_BITMAP, ToData(bitmap)));
        ASSERT_TRUE(p.clipboard.CloseClipboard());
    }
    PortableBackend p(location_);
    EXPECT_TRUE(p.clipboard.IsClipboardFormatAvailable(CF_DIBV5));
    ASSERT_TRUE(p.clipboard.OpenClipboard());
    std::vector<FormatId> listed;
    for (FormatId id = p.clipboard.EnumClipboardFormats(0); id != 0 && listed.size() < 10;
         id = p.clipboard.EnumClipboardFormats(id)) {
        listed.push_back(id);
    }
    EXPECT_EQ(listed, (std::vector<FormatId>{CF_TEXT, CF_BITMAP, CF_DIB, CF_DIBV5}));

    const BitmapHandle bitmap = AsBitmap(p.clipboard.GetClipboardData(CF_BITMAP));
    BitmapDescription description;
    ASSERT_TRUE(p.graphics.DescribeBitmap(bitmap, description));
    EXPECT_EQ(description.width, 3);
    EXPECT_EQ(description.height, 2);
    EXPECT_EQ(description.planes, 1);
    EXPECT_EQ(description.bitsPerPixel, 32);

    // Read back at 24 bits, the rows come out as they went in.
    std::string info = header;
    info.replace(20, 4, LE(rows.size(), 4));
    std::string out(rows.size(), '\xcc');
    const DcHandle dc = p.graphics.CreateCompatibleDC();
    EXPECT_EQ(p.graphics.GetDIBits(dc, bitmap, 0, 2, out.data(),
                                   reinterpret_cast<std::uint8_t*>(info.data()), info.size()),
              2);
    EXPECT_EQ(out, rows);
    info.replace(14, 2, LE(8, 2));
    EXPECT_EQ(p.graphics.GetDIBits(dc, bitmap, 0, 2, out.data(),
                                   reinterpret_cast<std::uint8_t*>(info.data()), info.size()),
              0)
        << "only 24 and 32-bit reads";
    p.graphics.DeleteDC(dc);

    for (const auto& [id, headerSize] : {std::pair{CF_DIB, 40U}, std::pair{CF_DIBV5, 124U}}) {
        const MemoryHandle dib = AsMemory(p.clipboard.GetClipboardData(id));
        ASSERT_EQ(p.memory.GlobalSize(dib), headerSize + 3 * 2 * 4) << id;
        const auto* bytes = static_cast<const std::uint8_t*>(p.memory.GlobalLock(dib));
        EXPECT_EQ(bytes[0], headerSize);
        EXPECT_EQ(bytes[14], 32) << "biBitCount";
        EXPECT_EQ(bytes[headerSize + 4 + 1], 100) << "green of the second pixel, bottom row";
        p.memory.GlobalUnlock(dib);
    }
    p.clipboard.CloseClipboard();
}

TEST_F(PortableClipboardTest, DamagedBitmapGivesNoHandle) {
    // A bitmap entry whose size disagrees with its pixel count.
    Place(location_, {});
    std::filesystem::create_directories(location_);
    WriteBytes(location_ + "/contents",
               EncodeContents({{CF_BITMAP, LE(3, 4) + LE(2, 4) + std::string(20, 'x')}}));
    PortableBackend p(location_);
    ASSERT_TRUE(p.clipboard.OpenClipboard());
    EXPECT_EQ(p.clipboard.EnumClipboardFormats(0), FormatId{CF_BITMAP});
    EXPECT_EQ(p.clipboard.GetClipboardData(CF_BITMAP), DataHandle::None);
    EXPECT_EQ(p.clipboard.GetClipboardData(CF_DIB), DataHandle::None);
    p.clipboard.CloseClipboard();
}

// The offset of each format's block in a contents file, from its table.
std::vector<std::pair<FormatId, std::uint64_t>> BlockOffsets(const std::string& file) {
    const auto at = [&file](std::size_t offset, int bytes) {
        std::uint64_t value = 0;
        for (int i = bytes - 1; i >= 0; --i)
            value = (value << 8) | static_cast<unsigned char>(file[offset + i]);
        return value;
    };
    std::vector<std::pair<FormatId, std::uint64_t>> offsets;
    if (file.size() < 24) return offsets;
    const std::uint64_t table = at(16, 8);
    for (std::uint64_t entry = table; entry + 20 <= file.size(); entry += 20) {
        offsets.emplace_back(static_cast<FormatId>(at(static_cast<std::size_t>(entry), 4)),
                             at(static_cast<std::size_t>(entry) + 4, 8));
    }
    return offsets;
}

// Large blocks, and the pixels of a large bitmap, start on a page boundary so
// that the kernel moves whole pages; small ones stay packed, so a clipboard of
// many small formats does not grow by a page each.
TEST_F(PortableClipboardTest, LargeBlocksStartOnAPageBoundaryAndSmallOnesStayPacked) {
    const auto page = static_cast<std::uint64_t>(sysconf(_SC_PAGESIZE));
    std::string header =
        LE(40, 4) + LE(128, 4) + LE(130, 4) + LE(1, 2) + LE(32, 2) + std::string(24, '\0');
    std::string pixels = Pattern(std::size_t{128} * 130 * 4);
    for (std::size_t i = 3; i < pixels.size(); i += 4)
        pixels[i] = '\0';  // as a file without alpha has it
    {
        PortableBackend p(location_);
        const DcHandle screen = p.graphics.GetScreenDC();
        const BitmapHandle bitmap = p.graphics.CreateDIBitmap(
            screen, reinterpret_cast<const std::uint8_t*>(header.data()), header.size(),
            reinterpret_cast<const std::uint8_t*>(pixels.data()), pixels.size());
        p.graphics.ReleaseScreenDC(screen);
        ASSERT_NE(bitmap, BitmapHandle::None);
        ASSERT_TRUE(p.clipboard.OpenClipboard() && p.clipboard.EmptyClipboard());
        for (const auto& [id, bytes] :
             Contents{{CF_TEXT, "a"}, {CF_DIF, Pattern(100000)}, {CF_RIFF, "bc"}}) {
            ASSERT_TRUE(Put(p, id, bytes));
        }
        ASSERT_TRUE(p.clipboard.SetClipboardData(CF_BITMAP, ToData(bitmap)));
        ASSERT_TRUE(Put(p, CF_WAVE, "d"));
        ASSERT_TRUE(p.clipboard.CloseClipboard());
    }
    const auto offsets = BlockOffsets(ReadBytes(location_ + "/contents"));
    const std::vector<FormatId> ids = {CF_TEXT, CF_DIF, CF_RIFF, CF_BITMAP, CF_WAVE};
    ASSERT_EQ(offsets.size(), ids.size());
    for (std::size_t i = 0; i < ids.size(); ++i) ASSERT_EQ(offsets[i].first, ids[i]) << i;
    EXPECT_EQ(offsets[0].second, 24u);
    EXPECT_EQ(offsets[1].second % page, 0u) << "large block";
    EXPECT_EQ(offsets[2].second, offsets[1].second + 100000) << "small block right after it";
    EXPECT_EQ((offsets[3].second + 8) % page, 0u) << "bitmap pixels, after its 8-byte size";
    EXPECT_EQ(offsets[4].second, offsets[3].second + 8 + pixels.size());

    PortableBackend p(location_);
    ASSERT_TRUE(p.clipboard.OpenClipboard());
    EXPECT_EQ(ReadOpen(p).size(), 7u) << "five placed, CF_DIB and CF_DIBV5 derived";
    const MemoryHandle dib = AsMemory(p.clipboard.GetClipboardData(CF_DIB));
    ASSERT_EQ(p.memory.GlobalSize(dib), 40 + pixels.size());
    EXPECT_EQ(std::string(static_cast<const char*>(p.memory.GlobalLock(dib)) + 40, pixels.size()),
              pixels);
    p.memory.GlobalUnlock(dib);
    const BitmapHandle bitmap = AsBitmap(p.clipboard.GetClipboardData(CF_BITMAP));
    std::string info = header;
    info.replace(20, 4, LE(pixels.size(), 4));  // biSizeImage: the room given
    std::string read(pixels.size(), '\xcc');
    const DcHandle dc = p.graphics.CreateCompatibleDC();
    EXPECT_EQ(p.graphics.GetDIBits(dc, bitmap, 0, 130, read.data(),
                                   reinterpret_cast<std::uint8_t*>(info.data()), info.size()),
              130);
    EXPECT_EQ(read, pixels) << "the bitmap read back";
    // Read from the contents file as asked: a band, then nothing once a
    // foreign program has cut the file short.
    const std::size_t row = std::size_t{128} * 4;
    EXPECT_EQ(p.graphics.GetDIBits(dc, bitmap, 100, 40, read.data(),
                                   reinterpret_cast<std::uint8_t*>(info.data()), info.size()),
              30);
    EXPECT_EQ(read.substr(0, 30 * row), pixels.substr(100 * row)) << "scan lines 100 to 129";
    p.clipboard.CloseClipboard();
    EXPECT_EQ(Snapshot(location_)->at(1),
              (std::pair<FormatId, std::string>{CF_DIF, Pattern(100000)}));

    ASSERT_TRUE(p.clipboard.OpenClipboard());
    const BitmapHandle again = AsBitmap(p.clipboard.GetClipboardData(CF_BITMAP));
    std::filesystem::resize_file(location_ + "/contents", offsets[3].second + 8 + 10 * row);
    EXPECT_EQ(p.graphics.GetDIBits(dc, again, 0, 130, read.data(),
                                   reinterpret_cast<std::uint8_t*>(info.data()), info.size()),
              0);
    p.graphics.DeleteDC(dc);
    p.clipboard.CloseClipboard();
}

// Large committed blocks are lent out as private mappings of the contents
// file: readable at any offset, writable without reaching the file, and
// releasable one at a time or with the session.
TEST_F(PortableClipboardTest, LargeBlocksAreLentWithoutSharingWrites) {
    const Contents placed = {
        {CF_TEXT, "small"}, {CF_DIB, Pattern(300001)}, {CF_RIFF, Pattern(65536)}};
    Place(location_, {});
    const std::string encoded = EncodeContents(placed);  // blocks at offsets off any page boundary
    WriteBytes(location_ + "/contents", encoded);

    PortableBackend p(location_);
    ASSERT_TRUE(p.clipboard.OpenClipboard());
    const MemoryHandle dib = AsMemory(p.clipboard.GetClipboardData(CF_DIB));
    const MemoryHandle riff = AsMemory(p.clipboard.GetClipboardData(CF_RIFF));
    ASSERT_EQ(p.memory.GlobalSize(dib), 300001u);
    auto* bytes = static_cast<char*>(p.memory.GlobalLock(dib));
    ASSERT_NE(bytes, nullptr);
    EXPECT_EQ(std::string(bytes, 300001), placed[1].second);
    std::memset(bytes, 'X', 300001);
    p.memory.GlobalUnlock(dib);
    p.memory.GlobalFree(dib);
    EXPECT_EQ(p.memory.GlobalSize(dib), 0u) << "released";
    ASSERT_EQ(p.memory.GlobalSize(riff), 65536u);
    EXPECT_EQ(std::string(static_cast<const char*>(p.memory.GlobalLock(riff)), 65536),
              placed[2].second)
        << "the other block survives the first one's release";
    p.memory.GlobalUnlock(riff);
    EXPECT_EQ(ReadOpen(p), placed) << "lent again, unchanged";
    ASSERT_TRUE(p.clipboard.CloseClipboard());
    EXPECT_EQ(ReadBytes(location_ + "/contents"), encoded);
    EXPECT_EQ(p.memory.GlobalSize(riff), 0u) << "released with the session";
}

// What a file block moves into a new file through the memory role.
std::optional<std::string> MovedOut(PortableBackend& p, MemoryHandle block,
                                    const std::string& path) {
    const FileHandle file = p.files.CreateFileForWriting(path.c_str());
    std::size_t written = 0;
    const BlockTransfer moved = p.memory.WriteBlockToFile(block, file, written);
    p.files.CloseFile(file);
    if (moved != BlockTransfer::Done) {
        return std::nullopt;
    }
    return ReadBytes(path).substr(0, written);
}

TEST_F(PortableClipboardTest, LargeBlocksAreLinkedInWholeAndReadersKeepTheirContents) {
    const std::string old = Pattern(3u << 20);
    if (!kHeapOnly) {
        // Filled from a file, a large block stays in a file of its own.
        PortableBackend w(location_);
        WriteBytes(root_ + "/in.bin", old);
        const FileHandle in = w.files.OpenFileForReading((root_ + "/in.bin").c_str());
        const MemoryHandle block = w.memory.GlobalAlloc(old.size());
        std::size_t got = 0;
        ASSERT_EQ(w.memory.ReadFileIntoBlock(block, in, old.size(), got), BlockTransfer::Done);
        ASSERT_EQ(got, old.size());
        w.files.CloseFile(in);
        BlockFile file;
        struct stat before {};
        ASSERT_TRUE(w.memory.OwnFileOf(block, file) && fstat(file.fd, &before) == 0);
        ASSERT_TRUE(w.clipboard.OpenClipboard() && w.clipboard.EmptyClipboard() &&
                    w.clipboard.SetClipboardData(CF_DIB, ToData(block)) &&
                    Put(w, CF_TEXT, "after a linked block") && w.clipboard.CloseClipboard());
        struct stat after {};
        ASSERT_EQ(stat((location_ + "/contents").c_str(), &after), 0);
        EXPECT_EQ(after.st_ino, before.st_ino) << "the block's file is the new contents";
        EXPECT_TRUE(Snapshot(location_) ==
                    (Contents{{CF_DIB, old}, {CF_TEXT, "after a linked block"}}));
    }
    Place(location_, {{CF_RIFF, old}});
    PortableBackend p(location_);
    ASSERT_TRUE(p.clipboard.OpenClipboard());
    const MemoryHandle kept = p.memory.ShareBlock(AsMemory(p.clipboard.GetClipboardData(CF_RIFF)));
    ASSERT_NE(kept, MemoryHandle::None);
    ASSERT_TRUE(p.clipboard.CloseClipboard());
    // A later commit replaces the contents; the kept block still has the old.
    Place(location_, {{CF_RIFF, Pattern(2u << 20).substr(1)}});
    EXPECT_TRUE(MovedOut(p, kept, root_ + "/out.bin") == old);
    p.memory.GlobalFree(kept);

    // Another program truncates the contents while they are lent: the reader
    // gets a failure or a short copy, never SIGBUS.
    ASSERT_TRUE(p.clipboard.OpenClipboard());
    const MemoryHandle lent = AsMemory(p.clipboard.GetClipboardData(CF_RIFF));
    const MemoryHandle shared = p.memory.ShareBlock(lent);
    ASSERT_EQ(truncate((location_ + "/contents").c_str(), 4096), 0);
    EXPECT_EQ(p.memory.GlobalLock(lent), nullptr);
    const std::optional<std::string> cut = MovedOut(p, shared, root_ + "/cut.bin");
    ASSERT_TRUE(cut.has_value());
    EXPECT_LT(cut->size(), (2u << 20) - 1);
    p.memory.GlobalFree(shared);
    ASSERT_TRUE(p.clipboard.CloseClipboard());
}

// Large buffers come from their own mappings: every byte of every size must be
// usable, zero-filled when asked, and released without touching its neighbours.
TEST(HeapBufferTest, EverySizeIsWholeUsableAndZeroFilledOnRequest) {
    constexpr std::size_t kMiB = std::size_t{1024} * 1024;
    const std::size_t sizes[] = {
        0, 1, 4095, 4 * kMiB - 1, 4 * kMiB, 4 * kMiB + 1, 6 * kMiB + 12345};
    for (const std::size_t size : sizes) {
        HeapBuffer zeroed = AllocateHeapBuffer(size, true);
        HeapBuffer plain = AllocateHeapBuffer(size);
        ASSERT_TRUE(zeroed && plain) << size;
        EXPECT_EQ(std::count(zeroed.get(), zeroed.get() + size, 0), static_cast<long>(size))
            << size;
        std::memset(plain.get(), 0xAB, size);
        std::memset(zeroed.get(), 0xCD, size);
        EXPECT_EQ(std::count(plain.get(), plain.get() + size, 0xAB), static_cast<long>(size))
            << size << ": the two buffers overlap";
        plain.reset();
        EXPECT_EQ(std::count(zeroed.get(), zeroed.get() + size, 0xCD), static_cast<long>(size))
            << size << ": releasing one buffer took part of the other";
    }
}

}  // namespace
}  // namespace clipfile
