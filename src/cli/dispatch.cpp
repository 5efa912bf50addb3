#include "cli/dispatch.h"

#include <cstring>

#include "formats/formats.h"
#include "platform/print.h"
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
        Print(platform, "\n * Couldn't able to retrieve the Clipboard Formats. * \n");
        return;
    }
    if (snapshot.entries.empty()) {
        Print(platform, "\n\nClipboard is Empty.\n\n");
        return;
    }
    Print(platform,
          "\n\nClipboard Formats are :\n\n\tFormat Type - [Value]\n\t---------------------\n");
    for (const FormatEntry& entry : snapshot.entries) {
        Print(platform, "\n\t%s - [%u]", entry.name.c_str(), static_cast<unsigned>(entry.id));
    }
    Print(platform, "\n");
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
    Print(platform, "\n\n * Arguments Passed to the application are not Valid. * \n");
    return 0;
}

int RunClipfile(Platform& platform, int argc, char** argv) {
    if (!platform.console.InitializeFramework()) {
        platform.console.WriteError("Fatal Error: MFC initialization failed\n");
        return 1;
    }
    if (argc == 2) {
        return DispatchCommand(platform, argv[1], "", "");
    }
    if (argc == 4) {
        return DispatchCommand(platform, argv[1], argv[2], argv[3]);
    }
    Print(platform, "\n\n * Invalid number of arguments passed to the application. * \n");
    return 0;
}

}  // namespace clipfile
