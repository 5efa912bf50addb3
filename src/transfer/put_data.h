#pragma once

#include "platform/platform.h"

namespace clipfile {

// The PUTDATA command: prints its outcome.
void RunPutDataCommand(Platform& platform, const char* formatName, const char* path);

// Empties the clipboard and places the file's bytes on it under the format
// that formatName selects; bitmap names go to the BMP import.
bool ImportFileToClipboard(Platform& platform, const char* formatName, const char* path);

// Opens and empties the clipboard and hands data to it under id, printing its
// own messages. handedOver tells whether the clipboard took ownership of data,
// which the caller must then give up, even when the result is false.
bool PlaceOnEmptyClipboard(Platform& platform, FormatId id, DataHandle data, bool& handedOver);

}  // namespace clipfile
