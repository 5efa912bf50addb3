#include "cli/dispatch.h"
#include "clipboard/system_platform.h"

int main(int argc, char** argv) {
    const auto platform = clipfile::CreateSystemPlatform();
    return clipfile::RunClipfile(*platform, argc, argv);
}
