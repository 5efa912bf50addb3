#pragma once

#include "clipboard/platform.h"

namespace clipfile {

// The PUTDATA command: prints its outcome.
void RunPutDataCommand(Platform& platform, const char* formatName, const char* path);

// Empties the clipboard and places the file's bytes on it under the format
// that formatName selects; bitmap names go to the BMP import.
bool ImportFileToClipboard(Platform& platform, const char* formatName, const char* path);

}  // namespace clipfile
