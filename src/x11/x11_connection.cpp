#include "x11/x11_connection.h"

#include <poll.h>
#include <pthread.h>
#include <xcb/xcbext.h>

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <new>
#include <string>
#include <utility>

namespace clipfile::x11 {

namespace {

constexpr const char* kAtomNames[] = {"CLIPBOARD",          "TARGETS",    "TIMESTAMP", "INCR",
                                      "CLIPFILE_SELECTION", "_NET_WM_PID"};
constexpr std::size_t kAtomCount = sizeof kAtomNames / sizeof kAtomNames[0];

// What the connecting thread and the waiting one share. A connection nobody
// waits for any more is closed, and the record freed, by the thread.
struct PendingConnect {
    std::mutex mutex;
    std::condition_variable done;
    bool finished = false;
    bool abandoned = false;
    std::string display;
    xcb_connection_t* conn = nullptr;
    int screen = 0;
};

void* ConnectInBackground(void* argument) {
    auto* pending = static_cast<PendingConnect*>(argument);
    int screen = 0;
    xcb_connection_t* conn =
        xcb_connect(pending->display.empty() ? nullptr : pending->display.c_str(), &screen);
    std::unique_lock<std::mutex> lock(pending->mutex);
    if (pending->abandoned) {
        lock.unlock();
        xcb_disconnect(conn);
        delete pending;
        return nullptr;
    }
    pending->conn = conn;
    pending->screen = screen;
    pending->finished = true;
    pending->done.notify_one();
    return nullptr;
}

xcb_connection_t* ConnectWithin(const char* display, Clock::duration timeout, int& screen) {
    auto* pending = new (std::nothrow) PendingConnect;
    if (pending == nullptr) {
        return nullptr;
    }
    pending->display = display;
    pthread_t worker{};
    if (pthread_create(&worker, nullptr, ConnectInBackground, pending) != 0) {
        delete pending;
        return nullptr;
    }
    std::unique_lock<std::mutex> lock(pending->mutex);
    if (!pending->done.wait_for(lock, timeout, [&] { return pending->finished; })) {
        // Left blocked in connect or in the handshake; the command ends soon.
        pending->abandoned = true;
        lock.unlock();
        pthread_detach(worker);
        return nullptr;
    }
    lock.unlock();
    pthread_join(worker, nullptr);
    xcb_connection_t* conn = pending->conn;
    screen = pending->screen;
    delete pending;
    return conn;
}

xcb_screen_t* ScreenOf(xcb_connection_t* conn, int number) {
    xcb_screen_iterator_t it = xcb_setup_roots_iterator(xcb_get_setup(conn));
    for (; it.rem != 0; --number, xcb_screen_next(&it)) {
        if (number == 0) {
            return it.data;
        }
    }
    return nullptr;
}

int MillisecondsUntil(Clock::time_point deadline) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left <= 0 ? 0 : static_cast<int>(left < 60000 ? left + 1 : 60000);
}

// Waits for the connection to have input; false at the deadline.
bool WaitReadable(xcb_connection_t* conn, Clock::time_point deadline) {
    pollfd fd{xcb_get_file_descriptor(conn), POLLIN, 0};
    for (;;) {
        const int timeout = MillisecondsUntil(deadline);
        if (timeout == 0) {
            return false;
        }
        const int ready = poll(&fd, 1, timeout);
        if (ready > 0) {
            return true;
        }
        if (ready == 0 || errno != EINTR) {
            return false;
        }
    }
}

}  // namespace

void FreeDeleter::operator()(void* p) const noexcept { std::free(p); }

Connection::Connection(Connection&& other) noexcept
    : conn_(std::exchange(other.conn_, nullptr)),
      window_(std::exchange(other.window_, XCB_WINDOW_NONE)), atoms_(other.atoms_) {}

Connection& Connection::operator=(Connection&& other) noexcept {
    if (this != &other) {
        Disconnect();
        conn_ = std::exchange(other.conn_, nullptr);
        window_ = std::exchange(other.window_, XCB_WINDOW_NONE);
        atoms_ = other.atoms_;
    }
    return *this;
}

void Connection::Disconnect() {
    if (conn_ != nullptr) {
        xcb_disconnect(conn_);
        conn_ = nullptr;
        window_ = XCB_WINDOW_NONE;
    }
}

Connection Connection::Open(const char* display, Clock::duration timeout) {
    const Clock::time_point deadline = Clock::now() + timeout;
    Connection c;
    int screenNumber = 0;
    c.conn_ = ConnectWithin(display, timeout, screenNumber);
    if (c.Failed()) {
        return Connection{};
    }
    const xcb_screen_t* screen = ScreenOf(c.conn_, screenNumber);
    if (screen == nullptr) {
        return Connection{};
    }
    c.window_ = xcb_generate_id(c.conn_);
    const std::uint32_t events = XCB_EVENT_MASK_PROPERTY_CHANGE;
    xcb_create_window(c.conn_, XCB_COPY_FROM_PARENT, c.window_, screen->root, 0, 0, 1, 1, 0,
                      XCB_WINDOW_CLASS_INPUT_ONLY, XCB_COPY_FROM_PARENT, XCB_CW_EVENT_MASK,
                      &events);
    xcb_atom_t atoms[kAtomCount] = {};
    if (!c.Intern(kAtomNames, atoms, false, deadline)) {
        return Connection{};
    }
    c.atoms_ = Atoms{atoms[0], atoms[1], atoms[2], atoms[3], atoms[4], atoms[5]};
    return c;
}

void* Connection::WaitReply(unsigned int sequence, Clock::time_point deadline) {
    if (Failed()) {
        return nullptr;
    }
    xcb_flush(conn_);
    for (;;) {
        void* reply = nullptr;
        xcb_generic_error_t* error = nullptr;
        if (xcb_poll_for_reply(conn_, sequence, &reply, &error) != 0) {
            std::free(error);
            return reply;
        }
        if (xcb_connection_has_error(conn_) != 0 || !WaitReadable(conn_, deadline)) {
            return nullptr;
        }
    }
}

XcbPtr<xcb_generic_event_t> Connection::WaitEvent(Clock::time_point deadline) {
    if (Failed()) {
        return nullptr;
    }
    xcb_flush(conn_);
    for (;;) {
        if (xcb_generic_event_t* event = xcb_poll_for_event(conn_)) {
            return XcbPtr<xcb_generic_event_t>(event);
        }
        if (xcb_connection_has_error(conn_) != 0 || !WaitReadable(conn_, deadline)) {
            return nullptr;
        }
    }
}

bool Connection::Intern(std::span<const char* const> names, xcb_atom_t* atoms, bool onlyIfExists,
                        Clock::time_point deadline) {
    constexpr std::size_t kBatch = 64;
    for (std::size_t first = 0; first < names.size(); first += kBatch) {
        const std::size_t count = std::min(kBatch, names.size() - first);
        xcb_intern_atom_cookie_t cookies[kBatch];
        for (std::size_t i = 0; i < count; ++i) {
            const char* name = names[first + i];
            cookies[i] = xcb_intern_atom(conn_, onlyIfExists ? 1 : 0,
                                         static_cast<std::uint16_t>(std::strlen(name)), name);
        }
        bool ok = true;
        for (std::size_t i = 0; i < count; ++i) {
            const auto reply = Wait<xcb_intern_atom_reply_t>(cookies[i], deadline);
            atoms[first + i] = reply ? reply->atom : xcb_atom_t{XCB_ATOM_NONE};
            ok = ok && atoms[first + i] != XCB_ATOM_NONE;
        }
        if (!ok) {
            return false;
        }
    }
    return true;
}

bool Connection::ServerTime(xcb_timestamp_t& time, Clock::time_point deadline) {
    xcb_change_property(conn_, XCB_PROP_MODE_APPEND, window_, atoms_.property, XCB_ATOM_STRING, 8,
                        0, nullptr);
    for (;;) {
        const auto event = WaitEvent(deadline);
        if (!event) {
            return false;
        }
        if ((event->response_type & 0x7f) == XCB_PROPERTY_NOTIFY) {
            const auto* notify = reinterpret_cast<const xcb_property_notify_event_t*>(event.get());
            if (notify->window == window_ && notify->atom == atoms_.property) {
                time = notify->time;
                return true;
            }
        }
    }
}

}  // namespace clipfile::x11
