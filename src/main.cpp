#include <cstdio>

#include "cli/dispatch.h"
#include "platform/backend.h"
#include "platform/messages.h"

int main(int argc, char** argv) {
    const char* failure = clipfile::message::kFrameworkFailed;
    const auto backend = clipfile::CreateSystemBackend(failure);
    if (!backend) {
        std::fputs(failure, stderr);
        return 1;
    }
    return clipfile::RunClipfile(backend->platform(), argc, argv);
}
