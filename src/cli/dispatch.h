#pragma once

#include "platform/platform.h"

namespace clipfile {

// Runs one command and returns the process exit status: 0 whatever the
// command's outcome, 1 only when a clipboard bitmap cannot be described.
int DispatchCommand(Platform& platform, const char* keyword, const char* formatName,
                    const char* path);

// The whole run: framework start-up, argument rules, dispatch.
int RunClipfile(Platform& platform, int argc, char** argv);

}  // namespace clipfile
