#include "cli/dispatch.h"

#include <cstring>

#include "formats/formats.h"
#include "platform/messages.h"
#include "transfer/get_data.h"
#include "transfer/put_data.h"

namespace clipfile {

namespace {

bool IsKeyword(const char* word, const char* keyword) {
    return MatchesPrefixNoCase(word, keyword, std::strlen(keyword));
}

void ListClipboardFormats(Platform& platform) {
    FormatSnapshot snapshot;
    if (!TakeFormatSnapshot(platform, snapshot)) {
        message::FormatsNotRetrieved(platform);
        return;
    }
    if (snapshot.entries.empty()) {
        message::ClipboardEmpty(platform);
        return;
    }
    message::FormatListHeading(platform);
    for (const FormatEntry& entry : snapshot.entries) {
        message::FormatListEntry(platform, entry.name.c_str(), entry.id);
    }
    message::FormatListEnd(platform);
}

}  // namespace

int DispatchCommand(Platform& platform, const char* keyword, const char* formatName,
                    const char* path) {
    if (IsKeyword(keyword, "GETDATA")) {
        return RunGetDataCommand(platform, formatName, path);
    }
    if (IsKeyword(keyword, "PUTDATA")) {
        RunPutDataCommand(platform, formatName, path);
        return 0;
    }
    if (IsKeyword(keyword, "GETTYPES")) {
        ListClipboardFormats(platform);
        return 0;
    }
    message::InvalidArguments(platform);
    return 0;
}

int RunClipfile(Platform& platform, int argc, char** argv) {
    if (!platform.console.InitializeFramework()) {
        platform.console.WriteError(message::kFrameworkFailed);
        return 1;
    }
    if (argc == 2) {
        return DispatchCommand(platform, argv[1], "", "");
    }
    if (argc == 4) {
        return DispatchCommand(platform, argv[1], argv[2], argv[3]);
    }
    message::WrongArgumentCount(platform);
    return 0;
}

}  // namespace clipfile
