#pragma once

#include <cstdint>
#include <span>

#include "platform/types.h"
#include "posix/contents_file.h"
#include "posix/unique_fd.h"

namespace clipfile::portable {

// One session's changes to the clipboard: a complete contents file under a
// temporary name in the clipboard folder, renamed over the contents at
// Commit, so other processes see either the old or the new contents, whole.
// It owns the temporary file's descriptor and name; the folder's descriptor is
// borrowed and must outlive it.
class PendingContents {
public:
    PendingContents() = default;
    PendingContents(const PendingContents&) = delete;
    PendingContents& operator=(const PendingContents&) = delete;
    ~PendingContents() { Drop(); }

    bool IsActive() const { return static_cast<bool>(fd_); }
    int fd() const { return fd_.get(); }
    const EntryList& entries() const { return entries_; }

    // Creates the temporary contents, optionally holding a copy of the
    // committed formats. The format about to be replaced is not copied; it
    // keeps its place with an empty block until its new data lands.
    bool Start(int dirFd, int committedFd, const EntryList& committed, bool keepCurrent,
               FormatId replaced);
    // Takes a file whose bytes from offset on are the data of id as the whole
    // session, in place of its temporary file: the header and table are
    // written around the data and the file is named, its data never copied.
    // fd is borrowed; the session keeps a descriptor of its own. On failure
    // the session stays as it was.
    bool Adopt(int dirFd, int fd, FormatId id, std::uint64_t offset, std::uint64_t size);
    // Writes one format's bytes, head then body, as a single block; a failure
    // drops the whole session.
    bool Append(FormatId id, std::span<const std::uint8_t> head,
                std::span<const std::uint8_t> body);
    // Removes the temporary file; the committed contents stay as they were.
    void Drop();
    // Closes the file, reporting a failed close, and renames it over the
    // contents; on failure the temporary file is removed.
    bool Commit();

private:
    int dirFd_ = -1;
    UniqueFd fd_;
    EntryList entries_;
    std::uint64_t end_ = 0;
    char name_[64] = {};
};

}  // namespace clipfile::portable
