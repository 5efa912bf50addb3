#pragma once

#include <utility>

#include "clipboard/platform.h"

namespace clipfile {

// Move-only owner of one platform handle; Traits::Close releases it.
template <typename Traits>
class UniqueHandle {
public:
    using Handle = typename Traits::Handle;

    UniqueHandle() = default;
    UniqueHandle(Platform& platform, Handle handle) : platform_(&platform), handle_(handle) {}
    UniqueHandle(UniqueHandle&& other) noexcept
        : platform_(other.platform_), handle_(std::exchange(other.handle_, Handle::None)) {}
    UniqueHandle& operator=(UniqueHandle&& other) noexcept {
        if (this != &other) {
            reset();
            platform_ = other.platform_;
            handle_ = std::exchange(other.handle_, Handle::None);
        }
        return *this;
    }
    UniqueHandle(const UniqueHandle&) = delete;
    UniqueHandle& operator=(const UniqueHandle&) = delete;
    ~UniqueHandle() { reset(); }

    [[nodiscard]] Handle get() const { return handle_; }
    explicit operator bool() const { return handle_ != Handle::None; }

    // Gives the handle up without closing it, once ownership has passed on.
    Handle release() { return std::exchange(handle_, Handle::None); }

    void reset() {
        if (handle_ != Handle::None) {
            Traits::Close(*platform_, std::exchange(handle_, Handle::None));
        }
    }

private:
    Platform* platform_ = nullptr;
    Handle handle_ = Handle::None;
};

struct MemoryTraits {
    using Handle = MemoryHandle;
    static void Close(Platform& p, Handle h) { p.GlobalFree(h); }
};
struct BitmapTraits {
    using Handle = BitmapHandle;
    static void Close(Platform& p, Handle h) { p.DeleteObject(h); }
};
struct MemoryDcTraits {
    using Handle = DcHandle;
    static void Close(Platform& p, Handle h) { p.DeleteDC(h); }
};
struct ScreenDcTraits {
    using Handle = DcHandle;
    static void Close(Platform& p, Handle h) { p.ReleaseScreenDC(h); }
};
struct FileTraits {
    using Handle = FileHandle;
    static void Close(Platform& p, Handle h) { p.CloseFile(h); }
};

using UniqueMemoryBlock = UniqueHandle<MemoryTraits>;
using UniqueBitmap = UniqueHandle<BitmapTraits>;
using UniqueMemoryDc = UniqueHandle<MemoryDcTraits>;
using UniqueScreenDc = UniqueHandle<ScreenDcTraits>;
// Closing through the destructor ignores errors; call Close() where they matter.
using UniqueFile = UniqueHandle<FileTraits>;

inline bool Close(Platform& platform, UniqueFile& file) {
    return file ? platform.CloseFile(file.release()) : true;
}

// A held GlobalLock; unlocks on destruction.
class MemoryLock {
public:
    MemoryLock(Platform& platform, MemoryHandle block)
        : platform_(&platform), block_(block), bytes_(platform.GlobalLock(block)) {}
    MemoryLock(MemoryLock&& other) noexcept
        : platform_(other.platform_), block_(other.block_),
          bytes_(std::exchange(other.bytes_, nullptr)) {}
    MemoryLock& operator=(MemoryLock&&) = delete;
    MemoryLock(const MemoryLock&) = delete;
    MemoryLock& operator=(const MemoryLock&) = delete;
    ~MemoryLock() { Unlock(); }

    [[nodiscard]] void* bytes() const { return bytes_; }
    explicit operator bool() const { return bytes_ != nullptr; }

    void Unlock() {
        if (bytes_ != nullptr) {
            bytes_ = nullptr;
            platform_->GlobalUnlock(block_);
        }
    }

private:
    Platform* platform_;
    MemoryHandle block_;
    void* bytes_;
};

// The clipboard opened by this process; closed on destruction or by Close().
class OpenClipboardSession {
public:
    explicit OpenClipboardSession(Platform& platform)
        : platform_(&platform), open_(platform.OpenClipboard()) {}
    OpenClipboardSession(const OpenClipboardSession&) = delete;
    OpenClipboardSession& operator=(const OpenClipboardSession&) = delete;
    ~OpenClipboardSession() { Close(); }

    explicit operator bool() const { return open_; }

    bool Close() {
        if (!open_) {
            return true;
        }
        open_ = false;
        return platform_->CloseClipboard();
    }

private:
    Platform* platform_;
    bool open_;
};

}  // namespace clipfile
