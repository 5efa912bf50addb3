#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/platform.h"

namespace clipfile {

struct KnownFormat {
    const char* name;
    FormatId id;
};

// Standard format names; order matters, the first matching row wins.
inline constexpr std::array<KnownFormat, 22> KnownFormatTable{{
    {"CF_TEXT", CF_TEXT},
    {"CF_BITMAP", CF_BITMAP},
    {"CF_METAFILEPICT", CF_METAFILEPICT},
    {"CF_SYLK", CF_SYLK},
    {"CF_DIF", CF_DIF},
    {"CF_TIFF", CF_TIFF},
    {"CF_OEMTEXT", CF_OEMTEXT},
    {"CF_DIB", CF_DIB},
    {"CF_PALETTE", CF_PALETTE},
    {"CF_PENDATA", CF_PENDATA},
    {"CF_RIFF", CF_RIFF},
    {"CF_WAVE", CF_WAVE},
    {"CF_UNICODETEXT", CF_UNICODETEXT},
    {"CF_ENHMETAFILE", CF_ENHMETAFILE},
    {"CF_HDROP", CF_HDROP},
    {"CF_LOCALE", CF_LOCALE},
    {"CF_DIBV5", CF_DIBV5},
    {"CF_OWNERDISPLAY", CF_OWNERDISPLAY},
    {"CF_DSPTEXT", CF_DSPTEXT},
    {"CF_DSPBITMAP", CF_DSPBITMAP},
    {"CF_DSPMETAFILEPICT", CF_DSPMETAFILEPICT},
    {"CF_DSPENHMETAFILE", CF_DSPENHMETAFILE},
}};

// Standard formats whose data is a graphics object, or a structure holding
// one: the clipboard never takes them as a block of bytes, so PUTDATA refuses
// them before the clipboard is touched. CF_BITMAP, CF_DIB and CF_DIBV5 go
// through the bitmap import instead.
inline constexpr std::array<FormatId, 6> GraphicsObjectFormats{
    CF_METAFILEPICT, CF_PALETTE,         CF_ENHMETAFILE,
    CF_DSPBITMAP,    CF_DSPMETAFILEPICT, CF_DSPENHMETAFILE,
};

bool IsGraphicsObjectFormat(FormatId id);

// Setting a text format overwrites its block's last character with the
// terminator, so text that lacks one gets it appended. TerminatorRoom is what
// unterminated text of `size` bytes needs (zero padding to whole characters,
// then one zero character); EndsWithTerminator tells whether none is needed.
std::size_t TerminatorRoom(FormatId id, std::size_t size);
bool EndsWithTerminator(FormatId id, const std::uint8_t* bytes, std::size_t size);

// Compares at most n characters, folding A-Z to lower case; the terminating
// zero takes part, so a string that ends early differs there.
bool MatchesPrefixNoCase(const char* a, const char* b, std::size_t n);

struct FormatEntry {
    FormatId id = 0;
    std::string name;
};

// The formats on the clipboard at one moment, in the clipboard's own order.
struct FormatSnapshot {
    std::vector<FormatEntry> entries;
};

std::string FormatNameFromId(Platform& platform, FormatId id);

// The first table row whose name begins with userName (ignoring case), or null.
const KnownFormat* FindKnownFormat(const char* userName);

// Fills the snapshot from the clipboard; false (with its message) when the
// clipboard cannot be opened, leaving the snapshot as it was.
bool TakeFormatSnapshot(Platform& platform, FormatSnapshot& snapshot);

// The first snapshot entry whose name begins with formatName, or null.
const FormatEntry* FindSnapshotEntry(const FormatSnapshot& snapshot, const char* formatName);

}  // namespace clipfile
