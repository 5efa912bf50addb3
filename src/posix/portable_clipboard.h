#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

#include "platform/clipboard.h"
#include "portable/portable_graphics.h"
#include "posix/contents_file.h"
#include "posix/format_registry.h"
#include "posix/pending_contents.h"
#include "posix/portable_memory.h"
#include "posix/portable_store.h"
#include "posix/unique_fd.h"

namespace clipfile {

inline constexpr std::size_t kMaxLocationPath = 4096;

// A clipboard shared by all processes of the user, kept in a private folder.
// Changes made while open go to a temporary file that replaces the contents
// at CloseClipboard, so other processes see either the old or the new
// contents, whole. Its blocks come from the memory role and its bitmaps from
// the portable screen.
class PortableClipboard final : public Clipboard, private StoredPixels {
public:
    // location is the clipboard folder; an empty or overlong path makes every
    // operation fail.
    PortableClipboard(std::string_view location, PortableMemory& memory,
                      PortableGraphics& graphics);
    PortableClipboard(const PortableClipboard&) = delete;
    PortableClipboard& operator=(const PortableClipboard&) = delete;
    // Commits pending changes like CloseClipboard when still open.
    ~PortableClipboard() override;

    bool OpenClipboard() override;
    bool CloseClipboard() override;
    bool EmptyClipboard() override;
    FormatId EnumClipboardFormats(FormatId previous) override;
    int GetClipboardFormatNameA(FormatId id, char* buffer, int bufferSize) override;
    bool IsClipboardFormatAvailable(FormatId id) override;
    DataHandle GetClipboardData(FormatId id) override;
    bool SetClipboardData(FormatId id, DataHandle data) override;
    FormatId RegisterClipboardFormatA(const char* name) override;

private:
    bool IsOpen() const { return static_cast<bool>(lockFd_); }
    bool AppendPending(FormatId id, std::span<const std::uint8_t> head,
                       std::span<const std::uint8_t> body);
    DataHandle GetBitmapData(FormatId id, const portable::EntryList& entries, int fd);
    bool ReadStoredPixels(std::uint64_t origin, std::uint64_t at,
                          std::span<std::uint8_t> out) override;

    char location_[kMaxLocationPath] = {};
    PortableMemory& memory_;
    PortableGraphics& graphics_;

    // Valid only while the clipboard is open; pending_ borrows dirFd_.
    UniqueFd dirFd_;
    UniqueFd lockFd_;
    // The contents as they were at OpenClipboard (none when missing or damaged).
    UniqueFd committedFd_;
    portable::EntryList committed_;
    // This session's changes, once it makes any.
    portable::PendingContents pending_;
    // Blocks handed out by GetClipboardData, freed at CloseClipboard.
    portable::Array<MemoryHandle> handedOut_;
    // Bitmaps handed out, deleted at CloseClipboard before committedFd_ goes:
    // those of the committed contents read their pixels from it.
    portable::Array<BitmapHandle> handedOutBitmaps_;
};

}  // namespace clipfile
