#include <cstdio>

#include "cli/dispatch.h"
#include "platform/backend.h"

int main(int argc, char** argv) {
    const auto backend = clipfile::CreateSystemBackend();
    if (!backend) {
        std::fputs("Fatal Error: MFC initialization failed\n", stderr);
        return 1;
    }
    return clipfile::RunClipfile(backend->platform(), argc, argv);
}
