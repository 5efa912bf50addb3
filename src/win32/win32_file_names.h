#pragma once

#include <string>

namespace clipfile {

// The command-line argument whose ANSI form is `path`, as the system gave it
// in UTF-16: names with characters outside the ANSI code page reach the
// program as '?' or look-alikes and open nothing. Searched from the last
// argument, where the commands take their file. Empty when no argument reads
// as `path` (the caller then opens `path` itself).
std::wstring WideArgumentFor(const char* path);

}  // namespace clipfile
