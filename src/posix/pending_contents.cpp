#include "posix/pending_contents.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>

#include "posix/kernel_files.h"
#include "posix/portable_memory.h"
#include "posix/posix_io.h"

namespace clipfile::portable {

namespace {

constexpr std::size_t kAlignedBodyMin = std::size_t{64} * 1024;

}  // namespace

bool PendingContents::Start(int dirFd, int committedFd, const EntryList& committed,
                            bool keepCurrent, FormatId replaced) {
    Drop();
    dirFd_ = dirFd;
    std::snprintf(name_, sizeof name_, "%s%ld", kContentsTempPrefix, static_cast<long>(getpid()));
    fd_.reset(openat(dirFd_, name_, O_RDWR | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0600));
    if (!fd_) {
        return false;
    }
    entries_.count = 0;
    end_ = kContentsHeaderSize;
    bool ok = true;
    if (keepCurrent) {
        ok = Reserve(entries_, committed.count);
        for (std::uint32_t i = 0; ok && i < committed.count; ++i) {
            const ContentsEntry& entry = committed.items[i];
            if (entry.id == replaced) {
                entries_.items[entries_.count++] = {entry.id, kContentsHeaderSize, 0};
                continue;
            }
            ok = CopyRange(committedFd, entry.offset, fd_.get(), end_, entry.size);
            entries_.items[entries_.count++] = {entry.id, end_, entry.size};
            end_ += entry.size;
        }
    }
    ok = ok && WriteContentsTable(fd_.get(), end_, entries_) &&
         WriteContentsHeader(fd_.get(), entries_.count, end_);
    if (!ok) {
        Drop();
    }
    return ok;
}

// The bytes go where the table was and a new table follows them; the header
// is rewritten last.
bool PendingContents::Append(FormatId id, std::span<const std::uint8_t> head,
                             std::span<const std::uint8_t> body) {
    if (!IsActive() || !Reserve(entries_, entries_.count + 1)) {
        return false;
    }
    const std::uint64_t size = head.size() + body.size();
    // A large body starts on a page boundary, so that the kernel moves whole
    // pages into the file now and out of it for GETDATA. The bytes skipped
    // belong to no block.
    std::uint64_t start = end_;
    if (body.size() >= kAlignedBodyMin) {
        const std::uint64_t page = PageSize();
        start = (end_ + head.size() + page - 1) / page * page - head.size();
    }
    const ContentsEntry entry{id, start, size};
    const std::uint64_t tableOffset = start + size;
    const int index = FindEntry(entries_, id);
    if (index >= 0) {
        entries_.items[index] = entry;
    } else {
        entries_.items[entries_.count++] = entry;
    }
    if (!WriteAt(fd_.get(), head.data(), head.size(), start) ||
        !WriteAt(fd_.get(), body.data(), body.size(), start + head.size()) ||
        !WriteContentsTable(fd_.get(), tableOffset, entries_) ||
        !WriteContentsHeader(fd_.get(), entries_.count, tableOffset)) {
        Drop();
        return false;
    }
    end_ = tableOffset;
    return true;
}

// Linked under a name of its own first, then renamed over the session's
// usual name, so that the session stays as it was until the adopted file
// takes its place.
bool PendingContents::Adopt(int dirFd, int fd, FormatId id, std::uint64_t offset,
                            std::uint64_t size) {
    char name[sizeof name_];
    char linked[sizeof name_ + 2];
    std::snprintf(name, sizeof name, "%s%ld", kContentsTempPrefix, static_cast<long>(getpid()));
    std::snprintf(linked, sizeof linked, "%s.a", name);
    UniqueFd own(fcntl(fd, F_DUPFD_CLOEXEC, 0));
    EntryList entries;
    if (!own || offset < kContentsHeaderSize || !Reserve(entries, 1)) {
        return false;
    }
    entries.items[entries.count++] = {id, offset, size};
    const std::uint64_t end = offset + size;
    unlinkat(dirFd, linked, 0);
    if (!WriteContentsTable(own.get(), end, entries) ||
        !WriteContentsHeader(own.get(), entries.count, end) ||
        !LinkUnnamedFile(own.get(), dirFd, linked)) {
        return false;
    }
    if (renameat(dirFd, linked, dirFd, name) != 0) {
        unlinkat(dirFd, linked, 0);
        return false;
    }
    // The session's own file, if any, lost its name to the rename.
    fd_.reset();
    dirFd_ = dirFd;
    std::snprintf(name_, sizeof name_, "%s", name);
    fd_ = std::move(own);
    entries_ = std::move(entries);
    end_ = end;
    return true;
}

void PendingContents::Drop() {
    if (IsActive()) {
        fd_.reset();
        unlinkat(dirFd_, name_, 0);
    }
    entries_.count = 0;
}

bool PendingContents::Commit() {
    if (!IsActive()) {
        return true;
    }
    bool ok = fd_.Close();
    ok = ok && renameat(dirFd_, name_, dirFd_, kContentsFile) == 0;
    if (!ok) {
        unlinkat(dirFd_, name_, 0);
    }
    entries_.count = 0;
    return ok;
}

}  // namespace clipfile::portable
