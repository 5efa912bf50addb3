#include <cstdio>

#include "cli/dispatch.h"
#include "clipboard/system_platform.h"

int main(int argc, char** argv) {
    const auto platform = clipfile::CreateSystemPlatform();
    if (!platform) {
        std::fputs("Fatal Error: MFC initialization failed\n", stderr);
        return 1;
    }
    return clipfile::RunClipfile(*platform, argc, argv);
}
