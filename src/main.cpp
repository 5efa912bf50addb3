#include <cstdio>

#include "cli/dispatch.h"
#include "platform/backend.h"
#include "platform/messages.h"

int main(int argc, char** argv) {
    const auto backend = clipfile::CreateSystemBackend();
    if (!backend) {
        std::fputs(clipfile::message::kFrameworkFailed, stderr);
        return 1;
    }
    return clipfile::RunClipfile(backend->platform(), argc, argv);
}
