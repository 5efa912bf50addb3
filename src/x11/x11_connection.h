#pragma once

#include <xcb/xcb.h>

#include <chrono>
#include <cstdint>
#include <memory>
#include <span>

namespace clipfile::x11 {

using Clock = std::chrono::steady_clock;

// Frees what xcb hands out with malloc (replies, events, errors).
struct FreeDeleter {
    void operator()(void* p) const noexcept;
};
template <typename T>
using XcbPtr = std::unique_ptr<T, FreeDeleter>;

// The atoms every side of the selection protocol names.
struct Atoms {
    xcb_atom_t clipboard = XCB_ATOM_NONE;
    xcb_atom_t targets = XCB_ATOM_NONE;
    xcb_atom_t timestamp = XCB_ATOM_NONE;
    xcb_atom_t incr = XCB_ATOM_NONE;
    xcb_atom_t property = XCB_ATOM_NONE;  // where conversions are delivered to us
    xcb_atom_t pid = XCB_ATOM_NONE;
};

// One move-only connection to a display with a small unmapped window of its
// own that receives property changes.
class Connection {
public:
    Connection() = default;
    Connection(Connection&& other) noexcept;
    Connection& operator=(Connection&& other) noexcept;
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;
    ~Connection() { Disconnect(); }

    // Gives up after timeout: a display behind a dead route or a server that
    // never answers would otherwise block xcb_connect for minutes.
    static Connection Open(const char* display, Clock::duration timeout);
    explicit operator bool() const { return conn_ != nullptr; }
    void Disconnect();

    xcb_connection_t* get() const { return conn_; }
    xcb_window_t window() const { return window_; }
    const Atoms& atoms() const { return atoms_; }
    bool Failed() const { return conn_ == nullptr || xcb_connection_has_error(conn_) != 0; }

    // The reply to a request, or null on an error, a broken connection or
    // the deadline.
    void* WaitReply(unsigned int sequence, Clock::time_point deadline);
    template <typename Reply, typename Cookie>
    XcbPtr<Reply> Wait(Cookie cookie, Clock::time_point deadline) {
        return XcbPtr<Reply>(static_cast<Reply*>(WaitReply(cookie.sequence, deadline)));
    }
    // The next event, or null on a broken connection or the deadline.
    XcbPtr<xcb_generic_event_t> WaitEvent(Clock::time_point deadline);

    // Atoms of the names, in one round trip; false when any is missing.
    bool Intern(std::span<const char* const> names, xcb_atom_t* atoms, bool onlyIfExists,
                Clock::time_point deadline);
    // A server time for this window, from a property change (never CurrentTime).
    bool ServerTime(xcb_timestamp_t& time, Clock::time_point deadline);

private:
    xcb_connection_t* conn_ = nullptr;
    xcb_window_t window_ = XCB_WINDOW_NONE;
    Atoms atoms_;
};

}  // namespace clipfile::x11
