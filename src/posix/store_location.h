#pragma once

#include "posix/unique_fd.h"

// The portable clipboard's private folder and its lock.
namespace clipfile::portable {

// Opens the clipboard folder, creating it if missing; no descriptor when it
// is not a private directory of this user.
UniqueFd OpenLocation(const char* path);

// Exclusive lock on <location>/lock, retried for about a second.
// Closing the returned descriptor releases it.
UniqueFd TakeClipboardLock(int dirFd);

// Removes every file in the folder whose name starts with prefix.
void RemoveFilesWithPrefix(int dirFd, const char* prefix);

}  // namespace clipfile::portable
