#include "formats/formats.h"

#include <algorithm>
#include <cstring>

#include "platform/handles.h"
#include "platform/messages.h"

namespace clipfile {

namespace {

constexpr int kFormatNameBufferSize = 255;

char FoldCase(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

}  // namespace

bool MatchesPrefixNoCase(const char* a, const char* b, std::size_t n) {
    for (std::size_t i = 0; i < n; ++i) {
        if (FoldCase(a[i]) != FoldCase(b[i])) {
            return false;
        }
        if (a[i] == '\0') {
            return true;
        }
    }
    return true;
}

bool IsGraphicsObjectFormat(FormatId id) {
    return std::find(GraphicsObjectFormats.begin(), GraphicsObjectFormats.end(), id) !=
           GraphicsObjectFormats.end();
}

std::size_t TerminatorRoom(FormatId id, std::size_t size) {
    switch (id) {
        case CF_TEXT:
        case CF_OEMTEXT: return 1;
        case CF_UNICODETEXT: return (size % 2) + 2;
        default: return 0;
    }
}

bool EndsWithTerminator(FormatId id, const std::uint8_t* bytes, std::size_t size) {
    switch (id) {
        case CF_TEXT:
        case CF_OEMTEXT: return size >= 1 && bytes[size - 1] == 0;
        case CF_UNICODETEXT:
            return size >= 2 && size % 2 == 0 && bytes[size - 2] == 0 && bytes[size - 1] == 0;
        default: return true;
    }
}

std::string FormatNameFromId(Platform& platform, FormatId id) {
    for (const KnownFormat& row : KnownFormatTable) {
        if (row.id == id) {
            return row.name;
        }
    }
    char buffer[kFormatNameBufferSize] = {};
    const int length =
        platform.clipboard.GetClipboardFormatNameA(id, buffer, kFormatNameBufferSize);
    if (length != 0) {
        buffer[kFormatNameBufferSize - 1] = '\0';
        return buffer;
    }
    return "NULL";
}

const KnownFormat* FindKnownFormat(const char* userName) {
    const std::size_t length = std::strlen(userName);
    for (const KnownFormat& row : KnownFormatTable) {
        if (MatchesPrefixNoCase(userName, row.name, length)) {
            return &row;
        }
    }
    return nullptr;
}

bool TakeFormatSnapshot(Platform& platform, FormatSnapshot& snapshot) {
    OpenClipboardSession clipboard(platform);
    if (!clipboard) {
        message::SnapshotOpenFailed(platform);
        return false;
    }
    std::vector<FormatEntry> entries;
    for (FormatId id = platform.clipboard.EnumClipboardFormats(0); id != 0;
         id = platform.clipboard.EnumClipboardFormats(id)) {
        entries.push_back(FormatEntry{id, FormatNameFromId(platform, id)});
    }
    if (platform.clipboard.FormatListFailed()) {
        return false;
    }
    snapshot.entries = std::move(entries);
    return true;
}

const FormatEntry* FindSnapshotEntry(const FormatSnapshot& snapshot, const char* formatName) {
    const std::size_t length = std::strlen(formatName);
    for (const FormatEntry& entry : snapshot.entries) {
        if (MatchesPrefixNoCase(formatName, entry.name.c_str(), length)) {
            return &entry;
        }
    }
    return nullptr;
}

}  // namespace clipfile
