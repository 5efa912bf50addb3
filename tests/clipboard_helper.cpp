// A second Windows program for the Wine tests:
//   clipboard_helper hold FLAG       opens the clipboard, prints "held" and keeps
//                                    it open until the file FLAG exists (60 s at most)
//   clipboard_helper place COUNT     empties the clipboard and places COUNT formats,
//                                    printing "id name" for each in the order placed
//   clipboard_helper session FLAG    keeps a top-level window, as a desktop session
//                                    has, until the file FLAG exists (30 min at most)
//   clipboard_helper open FILE FLAG  opens FILE for reading, sharing it for reading
//                                    and writing as editors do, prints "opened" and
//                                    keeps it open until the file FLAG exists
//   clipboard_helper echo ARGUMENT   prints ARGUMENT as the ANSI command line gave it
// Exit status 0 when it did what was asked.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

bool FlagExists(const char* flag) { return GetFileAttributesA(flag) != INVALID_FILE_ATTRIBUTES; }

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
    for (int waited = 0; waited < 60000 && !FlagExists(flag); waited += 50) {
        Sleep(50);
    }
    CloseClipboard();
    DestroyWindow(window);
    std::puts("released");
    return 0;
}

// Wine closes its desktop, and the clipboard with it, a few seconds after the
// last process with a window ends; a logged-in Windows session always has one.
// Without a display Wine has no driver for top-level windows; a message-only
// window still ties the process to the desktop.
int Session(const char* flag) {
    const char* kind = "top-level";
    HWND window = CreateWindowExA(0, "STATIC", "clipboard_helper session", WS_OVERLAPPED, 0, 0, 100,
                                  100, nullptr, nullptr, nullptr, nullptr);
    if (window == nullptr) {
        kind = "message-only";
        window = CreateWindowExA(0, "STATIC", "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr,
                                 nullptr);
    }
    if (window == nullptr || SetTimer(window, 1, 100, nullptr) == 0) {
        std::puts("cannot create a window");
        return 1;
    }
    std::printf("session with a %s window\n", kind);
    std::fflush(stdout);
    MSG message;
    int ticks = 0;
    while (ticks < 18000 && !FlagExists(flag) && GetMessageA(&message, nullptr, 0, 0) > 0) {
        ticks += message.message == WM_TIMER ? 1 : 0;
        DispatchMessageA(&message);
    }
    DestroyWindow(window);
    return 0;
}

int HoldOpen(const char* path, const char* flag) {
    HANDLE file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        std::puts("cannot open the file");
        return 1;
    }
    std::puts("opened");
    std::fflush(stdout);
    for (int waited = 0; waited < 60000 && !FlagExists(flag); waited += 50) {
        Sleep(50);
    }
    CloseHandle(file);
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
    if (argc == 3 && std::strcmp(argv[1], "session") == 0) {
        return Session(argv[2]);
    }
    if (argc == 4 && std::strcmp(argv[1], "open") == 0) {
        return HoldOpen(argv[2], argv[3]);
    }
    if (argc == 3 && std::strcmp(argv[1], "echo") == 0) {
        std::fputs(argv[2], stdout);
        return 0;
    }
    std::puts(
        "usage: clipboard_helper hold FLAG | place COUNT | session FLAG | open FILE FLAG | "
        "echo ARGUMENT");
    return 2;
}
