#include "win32/win32_roles.h"

#include <cstdio>
#include <memory>
#include <new>

#include "platform/backend.h"

namespace clipfile {

namespace win32 {

bool Win32Console::InitializeFramework() {
    return ::GetModuleHandleA(nullptr) != nullptr && ::GetCommandLineA() != nullptr;
}

// Both streams stay in text mode, so "\n" goes out as CRLF as formatted
// printing does on Windows.
void Win32Console::WriteOutput(std::string_view text) {
    std::fwrite(text.data(), 1, text.size(), stdout);
}
void Win32Console::WriteError(std::string_view text) {
    std::fflush(stdout);
    std::fwrite(text.data(), 1, text.size(), stderr);
}

namespace {

// The Win32 roles; the memory role must know the GDI objects the clipboard
// gave out.
class Win32Backend final : public Backend {
public:
    Platform& platform() override { return roles_; }

private:
    Win32Console console_;
    Win32Clipboard clipboard_;
    Win32GlobalMemory memory_{clipboard_};
    Win32Graphics graphics_;
    Win32Files files_;
    Platform roles_{console_, clipboard_, memory_, graphics_, files_};
};

}  // namespace

}  // namespace win32

std::unique_ptr<Backend> CreateSystemBackend(const char*& /*failure*/) {
    return std::unique_ptr<Backend>(new (std::nothrow) win32::Win32Backend());
}

}  // namespace clipfile
