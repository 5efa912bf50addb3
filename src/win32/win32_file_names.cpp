#include "win32/win32_file_names.h"

#include <cstring>
#include <memory>

#include "win32/windows_headers.h"
// CommandLineToArgvW; after <windows.h>, which it needs.
#include <shellapi.h>

namespace clipfile {
namespace {

// CommandLineToArgvW's array is one LocalAlloc block.
struct LocalRelease {
    void operator()(wchar_t** arguments) const noexcept { ::LocalFree(arguments); }
};

// True when `wide` converts to exactly `ansi` in the ANSI code page, with the
// same best-fit replacements the system made for GetCommandLineA.
bool ReadsAs(const wchar_t* wide, const char* ansi) {
    const int size = ::WideCharToMultiByte(CP_ACP, 0, wide, -1, nullptr, 0, nullptr, nullptr);
    if (size <= 0 || static_cast<std::size_t>(size) != std::strlen(ansi) + 1) {
        return false;
    }
    const auto converted = std::make_unique_for_overwrite<char[]>(static_cast<std::size_t>(size));
    return ::WideCharToMultiByte(CP_ACP, 0, wide, -1, converted.get(), size, nullptr, nullptr) ==
               size &&
           std::memcmp(converted.get(), ansi, static_cast<std::size_t>(size)) == 0;
}

}  // namespace

std::wstring WideArgumentFor(const char* path) {
    int count = 0;
    const std::unique_ptr<wchar_t*, LocalRelease> arguments(
        ::CommandLineToArgvW(::GetCommandLineW(), &count));
    if (!arguments || path == nullptr) {
        return {};
    }
    // The program's own name (argument 0) is parsed by other rules.
    for (int i = count - 1; i > 0; --i) {
        const wchar_t* argument = arguments.get()[i];
        if (ReadsAs(argument, path)) {
            return argument;
        }
    }
    return {};
}

}  // namespace clipfile
