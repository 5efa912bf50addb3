#pragma once

#include "platform/handles.h"

namespace clipfile {

// Places the BMP file at path on the clipboard as CF_BITMAP.
bool ImportBitmapFile(Platform& platform, const char* path);

// Reads the BMP file and creates a screen bitmap from it into bitmap.
bool LoadBitmapFile(Platform& platform, const char* path, UniqueBitmap& bitmap);

}  // namespace clipfile
