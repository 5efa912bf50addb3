// A second clipboard user for the Windows build's stress tests:
//   clipboard_helper hold FLAG    opens the clipboard, prints "held" and keeps
//                                 it open until the file FLAG exists (60 s at most)
//   clipboard_helper place COUNT  empties the clipboard and places COUNT formats,
//                                 printing "id name" for each in the order placed
// Exit status 0 when it did what was asked.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

bool OpenWithRetry(HWND owner) {
    for (int attempt = 0; attempt < 50; ++attempt) {
        if (OpenClipboard(owner)) {
            return true;
        }
        Sleep(100);
    }
    return false;
}

int Hold(const char* flag) {
    // Wine lets a second OpenClipboard(NULL) in while the clipboard is open
    // without a window, so the holder opens it with a window of its own.
    HWND window =
        CreateWindowExA(0, "STATIC", "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
    if (window == nullptr || !OpenWithRetry(window)) {
        std::puts("cannot open the clipboard");
        return 1;
    }
    std::puts("held");
    std::fflush(stdout);
    for (int waited = 0; waited < 60000 && GetFileAttributesA(flag) == INVALID_FILE_ATTRIBUTES;
         waited += 50) {
        Sleep(50);
    }
    CloseClipboard();
    DestroyWindow(window);
    std::puts("released");
    return 0;
}

bool PlaceBytes(UINT id, const char* name) {
    char data[64];
    const int length = std::snprintf(data, sizeof data, "data of %s", name);
    HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE, static_cast<SIZE_T>(length));
    void* bytes = block != nullptr ? GlobalLock(block) : nullptr;
    if (bytes == nullptr) {
        return false;
    }
    std::memcpy(bytes, data, static_cast<std::size_t>(length));
    GlobalUnlock(block);
    if (SetClipboardData(id, block) == nullptr) {
        GlobalFree(block);
        return false;
    }
    return true;
}

// Standard formats that nothing is derived from, then registered ones.
int Place(int count) {
    static const struct {
        UINT id;
        const char* name;
    } standard[] = {{CF_SYLK, "CF_SYLK"}, {CF_DIF, "CF_DIF"}, {CF_TIFF, "CF_TIFF"}};
    if (!OpenWithRetry(nullptr)) {
        std::puts("cannot open the clipboard");
        return 1;
    }
    bool ok = EmptyClipboard() != FALSE;
    for (int i = 0; ok && i < count; ++i) {
        char name[32];
        UINT id = 0;
        if (i < 3) {
            id = standard[i].id;
            std::snprintf(name, sizeof name, "%s", standard[i].name);
        } else {
            std::snprintf(name, sizeof name, "Helper Format %03d", i);
            id = RegisterClipboardFormatA(name);
        }
        ok = id != 0 && PlaceBytes(id, name);
        if (ok) {
            std::printf("%u %s\n", id, name);
        }
    }
    ok = CloseClipboard() != FALSE && ok;
    return ok ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 3 && std::strcmp(argv[1], "hold") == 0) {
        return Hold(argv[2]);
    }
    if (argc == 3 && std::strcmp(argv[1], "place") == 0) {
        return Place(std::atoi(argv[2]));
    }
    std::puts("usage: clipboard_helper hold FLAG | place COUNT");
    return 2;
}
