#include "win32/win32_roles.h"

#include <algorithm>
#include <string>
#include <utility>

#include "win32/win32_file_names.h"

namespace clipfile::win32 {

namespace {

constexpr std::size_t kMaxChunk = std::size_t{1} << 30;

FileHandle ToFileHandle(HANDLE file) {
    return file == INVALID_HANDLE_VALUE ? FileHandle::None : HandleCast<FileHandle>(file);
}

// Opens a file by the wide name of the argument it was given as. Others may
// read and write it meanwhile, as the C runtime's fopen allows: an editor or
// a viewer with the file open does not stop a transfer.
HANDLE OpenByArgumentName(const char* path, DWORD access, DWORD disposition) {
    constexpr DWORD kShare = FILE_SHARE_READ | FILE_SHARE_WRITE;
    const std::wstring wide = WideArgumentFor(path);
    if (!wide.empty()) {
        return ::CreateFileW(wide.c_str(), access, kShare, nullptr, disposition,
                             FILE_ATTRIBUTE_NORMAL, nullptr);
    }
    return ::CreateFileA(path, access, kShare, nullptr, disposition, FILE_ATTRIBUTE_NORMAL,
                         nullptr);
}

// Owns a kernel handle until it is released to the caller.
class OwnedKernelHandle {
public:
    explicit OwnedKernelHandle(HANDLE handle) : handle_(handle) {}
    OwnedKernelHandle(OwnedKernelHandle&& other) noexcept
        : handle_(std::exchange(other.handle_, INVALID_HANDLE_VALUE)) {}
    OwnedKernelHandle& operator=(OwnedKernelHandle&& other) noexcept {
        if (this != &other) {
            Reset();
            handle_ = std::exchange(other.handle_, INVALID_HANDLE_VALUE);
        }
        return *this;
    }
    OwnedKernelHandle(const OwnedKernelHandle&) = delete;
    OwnedKernelHandle& operator=(const OwnedKernelHandle&) = delete;
    ~OwnedKernelHandle() { Reset(); }

    [[nodiscard]] HANDLE get() const { return handle_; }
    [[nodiscard]] bool valid() const {
        return handle_ != INVALID_HANDLE_VALUE && handle_ != nullptr;
    }
    HANDLE release() { return std::exchange(handle_, INVALID_HANDLE_VALUE); }

private:
    void Reset() {
        if (valid()) {
            ::CloseHandle(std::exchange(handle_, INVALID_HANDLE_VALUE));
        }
    }

    HANDLE handle_;
};

}  // namespace

FileHandle Win32Files::OpenFileForReading(const char* path) {
    OwnedKernelHandle file(OpenByArgumentName(path, GENERIC_READ, OPEN_EXISTING));
    // Pipes and devices are not files to read a clipboard block from.
    if (!file.valid() || ::GetFileType(file.get()) != FILE_TYPE_DISK) {
        return FileHandle::None;
    }
    return ToFileHandle(file.release());
}

bool Win32Files::GetFileLength(FileHandle file, std::uint64_t& length) {
    LARGE_INTEGER size{};
    if (!::GetFileSizeEx(NativeCast<HANDLE>(file), &size) || size.QuadPart < 0) {
        return false;
    }
    length = static_cast<std::uint64_t>(size.QuadPart);
    return true;
}

bool Win32Files::ReadFile(FileHandle file, void* buffer, std::size_t count, std::size_t& got) {
    got = 0;
    auto* bytes = static_cast<unsigned char*>(buffer);
    while (got < count) {
        const auto chunk = static_cast<DWORD>(std::min<std::size_t>(count - got, kMaxChunk));
        DWORD done = 0;
        if (!::ReadFile(NativeCast<HANDLE>(file), bytes + got, chunk, &done, nullptr)) {
            return false;
        }
        if (done == 0) {
            break;
        }
        got += done;
    }
    return true;
}

FileHandle Win32Files::CreateFileForWriting(const char* path) {
    return ToFileHandle(OpenByArgumentName(path, GENERIC_WRITE, CREATE_ALWAYS));
}

bool Win32Files::WriteFile(FileHandle file, const void* data, std::size_t count,
                           std::size_t& written) {
    written = 0;
    const auto* bytes = static_cast<const unsigned char*>(data);
    while (written < count) {
        const auto chunk = static_cast<DWORD>(std::min<std::size_t>(count - written, kMaxChunk));
        DWORD done = 0;
        if (!::WriteFile(NativeCast<HANDLE>(file), bytes + written, chunk, &done, nullptr) ||
            done == 0) {
            return false;
        }
        written += done;
    }
    return true;
}

bool Win32Files::CloseFile(FileHandle file) {
    return ::CloseHandle(NativeCast<HANDLE>(file)) != FALSE;
}

}  // namespace clipfile::win32
