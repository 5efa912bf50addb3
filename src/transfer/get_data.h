#pragma once

#include "platform/platform.h"

namespace clipfile {

enum class ExportResult {
    Failed,
    Succeeded,
    // The clipboard's bitmap could not be described: the run ends with status 1
    // and without the command's summary line.
    EndProcess,
};

// The GETDATA command. Returns the process exit status.
int RunGetDataCommand(Platform& platform, const char* formatName, const char* path);

// Writes the data of format id into the file at path; bitmaps as BMP files,
// every other format as its raw bytes.
ExportResult ExportFormatToFile(Platform& platform, FormatId id, const char* path);

}  // namespace clipfile
