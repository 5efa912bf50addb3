#pragma once

#include <utility>

#include "platform/platform.h"

namespace clipfile {

// Move-only owner of one platform handle; Traits::Close releases it through
// the role that handed it out.
template <typename Traits>
class UniqueHandle {
public:
    using Handle = typename Traits::Handle;
    using Role = typename Traits::Role;

    UniqueHandle() = default;
    UniqueHandle(Platform& platform, Handle handle)
        : role_(&Traits::RoleOf(platform)), handle_(handle) {}
    UniqueHandle(UniqueHandle&& other) noexcept
        : role_(other.role_), handle_(std::exchange(other.handle_, Handle::None)) {}
    UniqueHandle& operator=(UniqueHandle&& other) noexcept {
        if (this != &other) {
            reset();
            role_ = other.role_;
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
            Traits::Close(*role_, std::exchange(handle_, Handle::None));
        }
    }

private:
    Role* role_ = nullptr;
    Handle handle_ = Handle::None;
};

struct MemoryTraits {
    using Handle = MemoryHandle;
    using Role = GlobalMemory;
    static Role& RoleOf(Platform& p) { return p.memory; }
    static void Close(Role& r, Handle h) { r.GlobalFree(h); }
};
struct BitmapTraits {
    using Handle = BitmapHandle;
    using Role = Graphics;
    static Role& RoleOf(Platform& p) { return p.graphics; }
    static void Close(Role& r, Handle h) { r.DeleteObject(h); }
};
struct MemoryDcTraits {
    using Handle = DcHandle;
    using Role = Graphics;
    static Role& RoleOf(Platform& p) { return p.graphics; }
    static void Close(Role& r, Handle h) { r.DeleteDC(h); }
};
struct ScreenDcTraits {
    using Handle = DcHandle;
    using Role = Graphics;
    static Role& RoleOf(Platform& p) { return p.graphics; }
    static void Close(Role& r, Handle h) { r.ReleaseScreenDC(h); }
};
struct FileTraits {
    using Handle = FileHandle;
    using Role = Files;
    static Role& RoleOf(Platform& p) { return p.files; }
    static void Close(Role& r, Handle h) { r.CloseFile(h); }
};

using UniqueMemoryBlock = UniqueHandle<MemoryTraits>;
using UniqueBitmap = UniqueHandle<BitmapTraits>;
using UniqueMemoryDc = UniqueHandle<MemoryDcTraits>;
using UniqueScreenDc = UniqueHandle<ScreenDcTraits>;
// Closing through the destructor ignores errors; call Close() where they matter.
using UniqueFile = UniqueHandle<FileTraits>;

inline bool Close(Platform& platform, UniqueFile& file) {
    return file ? platform.files.CloseFile(file.release()) : true;
}

// A held GlobalLock; unlocks on destruction.
class MemoryLock {
public:
    MemoryLock(Platform& platform, MemoryHandle block)
        : memory_(&platform.memory), block_(block), bytes_(memory_->GlobalLock(block)) {}
    MemoryLock(MemoryLock&& other) noexcept
        : memory_(other.memory_), block_(other.block_),
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
            memory_->GlobalUnlock(block_);
        }
    }

private:
    GlobalMemory* memory_;
    MemoryHandle block_;
    void* bytes_;
};

// The clipboard opened by this process; closed on destruction or by Close().
class OpenClipboardSession {
public:
    explicit OpenClipboardSession(Platform& platform)
        : clipboard_(&platform.clipboard), open_(clipboard_->OpenClipboard()) {}
    OpenClipboardSession(const OpenClipboardSession&) = delete;
    OpenClipboardSession& operator=(const OpenClipboardSession&) = delete;
    ~OpenClipboardSession() { Close(); }

    explicit operator bool() const { return open_; }

    bool Close() {
        if (!open_) {
            return true;
        }
        open_ = false;
        return clipboard_->CloseClipboard();
    }

private:
    Clipboard* clipboard_;
    bool open_;
};

}  // namespace clipfile
