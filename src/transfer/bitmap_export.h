#pragma once

#include "bmp/bmp.h"
#include "platform/handles.h"
#include "transfer/get_data.h"

namespace clipfile {

// Writes the clipboard's bitmap to path as a BMP file.
ExportResult ExportBitmapToFile(Platform& platform, const char* path);

// Reads the bitmap's pixels at the depth the info block describes, filling the
// block's colour table; none (with its message) on failure.
UniqueMemoryBlock ReadBitmapPixels(Platform& platform, InfoBlock& infoBlock, BitmapHandle bitmap,
                                   DcHandle deviceContext);

// Creates or replaces the file and writes file header, info block and pixels.
bool WriteBitmapFile(Platform& platform, const char* path, const InfoBlock& infoBlock,
                     UniqueMemoryBlock pixels);

}  // namespace clipfile
