// Arbitrary bytes as the portable clipboard's "formats" and "contents" files.
// Listing, naming, reading and exporting every format must stay within what
// the files hold; a session that keeps the formats and adds one must commit
// contents that read back whole; a registration must name what it returns.
//
// Input: byte 0 says which files exist (bit 0 formats, bit 1 contents) and
// which format the session adds (bit 2), bytes 1-2 give the length of the
// formats file (little-endian), then come its bytes and the contents file.
#include <fcntl.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

#include "formats/formats.h"
#include "posix/portable_backend.h"
#include "transfer/get_data.h"

namespace clipfile {
namespace {

std::string g_root;
std::string g_folder;
std::string g_output;

void Require(bool condition, const char* what) {
    if (!condition) {
        std::fprintf(stderr, "\nbroken: %s\n", what);
        std::abort();
    }
}

void PlaceFile(const std::string& path, const std::uint8_t* data, std::size_t size, bool present) {
    unlink(path.c_str());
    if (!present) {
        return;
    }
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    Require(fd >= 0, "create a clipboard file");
    while (size > 0) {
        const ssize_t put = write(fd, data, size);
        Require(put > 0, "write a clipboard file");
        data += put;
        size -= static_cast<std::size_t>(put);
    }
    close(fd);
}

struct Seen {
    FormatId id = 0;
    bool read = false;
    std::vector<std::uint8_t> bytes;
};

// Every listed format, with the bytes of those that give a memory block.
std::vector<Seen> ListAndRead(PortableBackend& p) {
    std::vector<Seen> seen;
    std::size_t guard = 0;
    for (FormatId id = p.clipboard.EnumClipboardFormats(0); id != 0;
         id = p.clipboard.EnumClipboardFormats(id)) {
        Require(++guard <= portable::kLastFormat + 2, "the listing ends");
        Require(p.clipboard.IsClipboardFormatAvailable(id), "a listed format is available");
        char name[256];
        std::memset(name, 'x', sizeof name);
        const int length =
            p.clipboard.GetClipboardFormatNameA(id, name, static_cast<int>(sizeof name));
        Require(length >= 0 && length < 256 &&
                    (length == 0 || std::strlen(name) == static_cast<std::size_t>(length)),
                "a format name fits its buffer");
        Seen entry;
        entry.id = id;
        const DataHandle data = p.clipboard.GetClipboardData(id);
        if (id == CF_BITMAP) {
            BitmapDescription description;
            Require(
                data == DataHandle::None || p.graphics.DescribeBitmap(AsBitmap(data), description),
                "a stored bitmap describes itself");
        } else if (data != DataHandle::None) {
            const std::size_t size = p.memory.GlobalSize(AsMemory(data));
            const auto* bytes =
                static_cast<const std::uint8_t*>(p.memory.GlobalLock(AsMemory(data)));
            Require(bytes != nullptr, "a block locks");
            entry.bytes.assign(bytes, bytes + size);
            entry.read = true;
            p.memory.GlobalUnlock(AsMemory(data));
        }
        seen.push_back(std::move(entry));
    }
    return seen;
}

}  // namespace
}  // namespace clipfile

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    using namespace clipfile;
    const char* tmp = std::getenv("TMPDIR");
    std::string pattern =
        std::string(tmp != nullptr && tmp[0] != '\0' ? tmp : "/tmp") + "/clipfile-fuzz-XXXXXX";
    Require(mkdtemp(pattern.data()) != nullptr, "make a temporary folder");
    g_root = pattern;
    g_folder = g_root + "/clip";
    g_output = g_root + "/out.bin";
    std::atexit([] {
        std::error_code ignored;
        std::filesystem::remove_all(g_root, ignored);
    });
    // Failure messages go to standard output; the fuzzer reports on standard error.
    const int null = open("/dev/null", O_WRONLY | O_CLOEXEC);
    if (null >= 0) {
        dup2(null, STDOUT_FILENO);
        close(null);
    }
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace clipfile;
    const std::uint8_t flags = size > 0 ? data[0] : 0;
    const std::size_t declared = size >= 3 ? std::size_t{data[1]} | (std::size_t{data[2]} << 8) : 0;
    const std::size_t header = size < 3 ? size : 3;
    const std::size_t formatsSize = declared < size - header ? declared : size - header;
    const std::uint8_t* formats = data + header;
    const std::uint8_t* contents = formats + formatsSize;
    const std::size_t contentsSize = size - header - formatsSize;

    PortableBackend setup(g_folder);
    Require(setup.clipboard.OpenClipboard(), "a private folder opens");
    Require(setup.clipboard.CloseClipboard(), "and closes");
    PlaceFile(g_folder + "/formats", formats, formatsSize, (flags & 1) != 0);
    PlaceFile(g_folder + "/contents", contents, contentsSize, (flags & 2) != 0);

    std::vector<Seen> seen;
    {
        PortableBackend p(g_folder);
        Require(p.clipboard.OpenClipboard(), "a damaged clipboard still opens");
        seen = ListAndRead(p);
        Require(p.clipboard.CloseClipboard(), "a clipboard only read closes");
    }
    {
        PortableBackend p(g_folder);
        FormatSnapshot snapshot;
        Require(TakeFormatSnapshot(p, snapshot), "the snapshot opens");
        Require(snapshot.entries.size() == seen.size(), "the snapshot lists what was listed");
        for (const FormatEntry& entry : snapshot.entries) {
            ExportFormatToFile(p, entry.id, g_output.c_str());
        }
    }

    // A session that keeps the clipboard and adds one format copies every
    // stored block into the new contents.
    const FormatId added = (flags & 4) != 0 ? FormatId{CF_TEXT} : FormatId{CF_TIFF};
    const std::vector<std::uint8_t> addedBytes = {'a', 'd', 'd', 'e', 'd'};
    {
        PortableBackend p(g_folder);
        Require(p.clipboard.OpenClipboard(), "open to add");
        const MemoryHandle block = p.memory.GlobalAlloc(addedBytes.size());
        std::memcpy(p.memory.GlobalLock(block), addedBytes.data(), addedBytes.size());
        p.memory.GlobalUnlock(block);
        Require(p.clipboard.SetClipboardData(added, ToData(block)), "a format is added");
        Require(p.clipboard.CloseClipboard(), "the session commits");
    }
    {
        PortableBackend p(g_folder);
        Require(p.clipboard.OpenClipboard(), "open after adding");
        const std::vector<Seen> now = ListAndRead(p);
        p.clipboard.CloseClipboard();
        bool wasThere = false;
        for (const Seen& before : seen) {
            wasThere = wasThere || before.id == added;
        }
        Require(now.size() == seen.size() + (wasThere ? 0 : 1), "the formats kept are all there");
        for (const Seen& after : now) {
            if (after.id == added) {
                Require(after.read && after.bytes == addedBytes, "the added block reads back");
                continue;
            }
            bool matched = false;
            for (const Seen& before : seen) {
                if (before.id == after.id) {
                    Require(before.read == after.read && before.bytes == after.bytes,
                            "a kept block is unchanged");
                    matched = true;
                }
            }
            Require(matched, "no format appears from nowhere");
        }
    }

    PortableBackend p(g_folder);
    const FormatId registered = p.clipboard.RegisterClipboardFormatA("Fuzz Format");
    if (registered != 0) {
        char name[256] = {};
        Require(registered >= portable::kFirstRegisteredFormat,
                "a registered id is in the registered range");
        Require(p.clipboard.GetClipboardFormatNameA(registered, name,
                                                    static_cast<int>(sizeof name)) == 11 &&
                    MatchesPrefixNoCase(name, "Fuzz Format", 12),
                "a registered id has its name");
    }
    return 0;
}
