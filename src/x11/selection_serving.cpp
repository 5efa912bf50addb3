#include <poll.h>

#include <algorithm>
#include <cstdint>
#include <vector>

#include "x11/selection_server.h"

namespace clipfile::x11 {

namespace {

// A requestor that takes no chunk for this long is dropped.
constexpr auto kStallTimeout = std::chrono::seconds(5);
// Room for a ChangeProperty request's own fields, BIG-REQUESTS length included.
constexpr std::uint64_t kRequestOverhead = 64;
// Incremental chunks: larger ones stop fitting the caches of the X server and
// the reader, and 256 MiB took longer in 16 MiB chunks than in 4 MiB ones.
constexpr std::uint64_t kLargestChunk = std::uint64_t{4} << 20;

std::uint8_t EventType(const xcb_generic_event_t& event) { return event.response_type & 0x7f; }

// One incremental transfer in progress: the next chunk goes when the
// requestor deletes the property.
struct Transfer {
    xcb_window_t requestor = XCB_WINDOW_NONE;
    xcb_atom_t property = XCB_ATOM_NONE;
    xcb_atom_t type = XCB_ATOM_NONE;
    std::span<const std::uint8_t> bytes;
    std::size_t sent = 0;
    Clock::time_point deadline;
};

struct Server {
    Connection& conn;
    xcb_timestamp_t ownedSince;
    std::span<const ServedTarget> targets;
    const ServedAtoms& atoms;
    // The most one request carries, and the size of incremental chunks.
    std::size_t whole;
    std::size_t chunk;
    std::vector<Transfer> transfers;
};

void ChangeProperty(Server& s, xcb_window_t window, xcb_atom_t property, xcb_atom_t type,
                    std::uint8_t format, std::size_t items, const void* data) {
    xcb_change_property(s.conn.get(), XCB_PROP_MODE_REPLACE, window, property, type, format,
                        static_cast<std::uint32_t>(items), data);
}

void WatchRequestor(Server& s, xcb_window_t requestor, bool watch) {
    const std::uint32_t events = watch ? XCB_EVENT_MASK_PROPERTY_CHANGE : XCB_EVENT_MASK_NO_EVENT;
    xcb_change_window_attributes(s.conn.get(), requestor, XCB_CW_EVENT_MASK, &events);
}

void EndTransfer(Server& s, std::size_t index) {
    const xcb_window_t requestor = s.transfers[index].requestor;
    s.transfers.erase(s.transfers.begin() + static_cast<std::ptrdiff_t>(index));
    const bool stillReading =
        std::any_of(s.transfers.begin(), s.transfers.end(),
                    [&](const Transfer& t) { return t.requestor == requestor; });
    if (!stillReading) {
        WatchRequestor(s, requestor, false);
    }
}

int FindTransfer(const Server& s, xcb_window_t requestor, xcb_atom_t property) {
    for (std::size_t i = 0; i < s.transfers.size(); ++i) {
        if (s.transfers[i].requestor == requestor && s.transfers[i].property == property) {
            return static_cast<int>(i);
        }
    }
    return -1;
}

// Writes the answer to a request; false when the target is not served.
bool Answer(Server& s, const xcb_selection_request_event_t& request, xcb_atom_t property) {
    const Atoms& atoms = s.conn.atoms();
    if (request.target == atoms.targets) {
        std::vector<xcb_atom_t> list{atoms.targets, atoms.timestamp};
        list.insert(list.end(), s.atoms.names.begin(), s.atoms.names.end());
        ChangeProperty(s, request.requestor, property, XCB_ATOM_ATOM, 32, list.size(), list.data());
        return true;
    }
    if (request.target == atoms.timestamp) {
        ChangeProperty(s, request.requestor, property, XCB_ATOM_INTEGER, 32, 1, &s.ownedSince);
        return true;
    }
    const auto found = std::find(s.atoms.names.begin(), s.atoms.names.end(), request.target);
    if (found == s.atoms.names.end()) {
        return false;
    }
    const auto index = static_cast<std::size_t>(found - s.atoms.names.begin());
    const std::span<const std::uint8_t> bytes = s.targets[index].bytes;
    const xcb_atom_t type = s.atoms.types[index];
    if (bytes.size() <= s.whole) {
        ChangeProperty(s, request.requestor, property, type, 8, bytes.size(), bytes.data());
        return true;
    }
    // Too large for one request: announced as INCR with its size, then sent
    // a chunk at a time as the requestor takes each.
    if (const int old = FindTransfer(s, request.requestor, property); old >= 0) {
        s.transfers.erase(s.transfers.begin() + old);
    }
    WatchRequestor(s, request.requestor, true);
    const auto announced =
        static_cast<std::uint32_t>(std::min<std::size_t>(bytes.size(), UINT32_MAX));
    ChangeProperty(s, request.requestor, property, atoms.incr, 32, 1, &announced);
    s.transfers.push_back(
        Transfer{request.requestor, property, type, bytes, 0, Clock::now() + kStallTimeout});
    return true;
}

void OnSelectionRequest(Server& s, const xcb_selection_request_event_t& request) {
    // Clients older than ICCCM name no property: the target is the property.
    xcb_atom_t property = request.property != XCB_ATOM_NONE ? request.property : request.target;
    if (request.selection != s.conn.atoms().clipboard || !Answer(s, request, property)) {
        property = XCB_ATOM_NONE;
    }
    xcb_selection_notify_event_t notify{};
    notify.response_type = XCB_SELECTION_NOTIFY;
    notify.time = request.time;
    notify.requestor = request.requestor;
    notify.selection = request.selection;
    notify.target = request.target;
    notify.property = property;
    xcb_send_event(s.conn.get(), 0, request.requestor, XCB_EVENT_MASK_NO_EVENT,
                   reinterpret_cast<const char*>(&notify));
}

void OnPropertyDeleted(Server& s, const xcb_property_notify_event_t& notify) {
    const int index = FindTransfer(s, notify.window, notify.atom);
    if (index < 0) {
        return;
    }
    Transfer& t = s.transfers[static_cast<std::size_t>(index)];
    const std::size_t length = std::min(s.chunk, t.bytes.size() - t.sent);
    // The last chunk is an empty one.
    ChangeProperty(s, t.requestor, t.property, t.type, 8, length, t.bytes.data() + t.sent);
    if (length == 0) {
        EndTransfer(s, static_cast<std::size_t>(index));
        return;
    }
    t.sent += length;
    t.deadline = Clock::now() + kStallTimeout;
}

// False once the selection is lost.
bool Handle(Server& s, const xcb_generic_event_t& event) {
    switch (EventType(event)) {
        case XCB_SELECTION_REQUEST:
            OnSelectionRequest(s, reinterpret_cast<const xcb_selection_request_event_t&>(event));
            return true;
        case XCB_SELECTION_CLEAR:
            return reinterpret_cast<const xcb_selection_clear_event_t&>(event).selection !=
                   s.conn.atoms().clipboard;
        case XCB_PROPERTY_NOTIFY: {
            const auto& notify = reinterpret_cast<const xcb_property_notify_event_t&>(event);
            if (notify.state == XCB_PROPERTY_DELETE) {
                OnPropertyDeleted(s, notify);
            }
            return true;
        }
        default: return true;  // errors about requestors that went away, among others
    }
}

// Drops stalled transfers; the time until the next deadline in ms, or -1.
int NextTimeout(Server& s) {
    const Clock::time_point now = Clock::now();
    for (std::size_t i = s.transfers.size(); i-- > 0;) {
        if (s.transfers[i].deadline <= now) {
            EndTransfer(s, i);
        }
    }
    if (s.transfers.empty()) {
        return -1;
    }
    Clock::time_point first = s.transfers.front().deadline;
    for (const Transfer& t : s.transfers) {
        first = std::min(first, t.deadline);
    }
    return static_cast<int>(
               std::chrono::duration_cast<std::chrono::milliseconds>(first - now).count()) +
           1;
}

}  // namespace

bool InternServedTargets(Connection& conn, std::span<const ServedTarget> targets,
                         ServedAtoms& atoms, Clock::time_point deadline) {
    std::vector<const char*> names;
    for (const ServedTarget& target : targets) {
        names.push_back(target.name.c_str());
    }
    for (const ServedTarget& target : targets) {
        names.push_back(target.type.empty() ? target.name.c_str() : target.type.c_str());
    }
    std::vector<xcb_atom_t> all(names.size());
    if (!conn.Intern(names, all.data(), false, deadline)) {
        return false;
    }
    atoms.names.assign(all.begin(), all.begin() + static_cast<std::ptrdiff_t>(targets.size()));
    atoms.types.assign(all.begin() + static_cast<std::ptrdiff_t>(targets.size()), all.end());
    return true;
}

void ServeSelection(Connection& conn, xcb_timestamp_t ownedSince,
                    std::span<const ServedTarget> targets, const ServedAtoms& atoms) {
    const std::uint64_t maxRequest = std::uint64_t{xcb_get_maximum_request_length(conn.get())} * 4;
    const std::uint64_t whole =
        (maxRequest > 2 * kRequestOverhead ? maxRequest - kRequestOverhead : kRequestOverhead) &
        ~std::uint64_t{3};
    const std::uint64_t chunk = std::min(whole, kLargestChunk);
    Server s{conn,
             ownedSince,
             targets,
             atoms,
             static_cast<std::size_t>(whole),
             static_cast<std::size_t>(chunk),
             {}};
    const pollfd watched{xcb_get_file_descriptor(conn.get()), POLLIN, 0};
    for (;;) {
        while (const XcbPtr<xcb_generic_event_t> event{xcb_poll_for_event(conn.get())}) {
            if (!Handle(s, *event)) {
                return;
            }
        }
        if (conn.Failed()) {
            return;
        }
        // Writing a large chunk may have read events meanwhile.
        xcb_flush(conn.get());
        if (const XcbPtr<xcb_generic_event_t> event{xcb_poll_for_queued_event(conn.get())}) {
            if (!Handle(s, *event)) {
                return;
            }
            continue;
        }
        pollfd fd = watched;
        poll(&fd, 1, NextTimeout(s));
    }
}

}  // namespace clipfile::x11
