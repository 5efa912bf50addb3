#include "posix/store_location.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <thread>

namespace clipfile::portable {

namespace {

// Another command holds the lock for as long as it copies a file in or out;
// wait about a second, as the Windows build does for its clipboard.
constexpr std::chrono::milliseconds kLockWait{1000};
constexpr std::chrono::milliseconds kLockRetryPause{15};

}  // namespace

UniqueFd OpenLocation(const char* path) {
    if (path == nullptr || path[0] == '\0') {
        return {};
    }
    if (mkdir(path, 0700) != 0 && errno != EEXIST) {
        return {};
    }
    // O_NOFOLLOW refuses a symlink in the last component; the checks below run
    // on the opened directory itself, so it cannot be swapped afterwards.
    UniqueFd fd(open(path, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (!fd) {
        return {};
    }
    struct stat info {};
    if (fstat(fd.get(), &info) != 0 || !S_ISDIR(info.st_mode) || info.st_uid != geteuid() ||
        (info.st_mode & 077) != 0) {
        return {};
    }
    return fd;
}

UniqueFd TakeClipboardLock(int dirFd) {
    UniqueFd fd(openat(dirFd, "lock", O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600));
    if (!fd) {
        return {};
    }
    const auto deadline = std::chrono::steady_clock::now() + kLockWait;
    while (true) {
        if (flock(fd.get(), LOCK_EX | LOCK_NB) == 0) {
            return fd;
        }
        if ((errno != EWOULDBLOCK && errno != EINTR) ||
            std::chrono::steady_clock::now() >= deadline) {
            return {};
        }
        std::this_thread::sleep_for(kLockRetryPause);
    }
}

void RemoveFilesWithPrefix(int dirFd, const char* prefix) {
    // fdopendir takes over its descriptor, so it gets a duplicate.
    UniqueFd listFd(fcntl(dirFd, F_DUPFD_CLOEXEC, 0));
    if (!listFd) {
        return;
    }
    DIR* dir = fdopendir(listFd.get());
    if (dir == nullptr) {
        return;
    }
    listFd.release();
    rewinddir(dir);
    const std::size_t prefixLength = std::strlen(prefix);
    while (const dirent* entry = readdir(dir)) {
        if (std::strncmp(entry->d_name, prefix, prefixLength) == 0) {
            unlinkat(dirFd, entry->d_name, 0);
        }
    }
    closedir(dir);
}

}  // namespace clipfile::portable
