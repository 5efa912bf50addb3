#include "x11/selection_reader.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <utility>

namespace clipfile::x11 {

namespace {

constexpr std::size_t kFirstIncrementalCapacity = std::size_t{1} << 20;
// GetProperty counts in 4-byte units: everything the property holds.
constexpr std::uint32_t kWholeProperty = UINT32_MAX / 4;

std::uint8_t EventType(const xcb_generic_event_t& event) { return event.response_type & 0x7f; }

// A block of the memory role being filled: capacity bytes usable plus the
// trailing zeros, of which size are filled so far.
struct Filling {
    GlobalMemory& memory;
    std::size_t trailing;
    MemoryHandle block = MemoryHandle::None;
    unsigned char* bytes = nullptr;
    std::size_t capacity = 0;
    std::size_t size = 0;

    ~Filling() { Drop(); }
    void Drop() {
        if (block != MemoryHandle::None) {
            memory.GlobalUnlock(block);
            memory.GlobalFree(block);
            block = MemoryHandle::None;
        }
    }

    // Gives the block a new capacity, keeping the bytes so far; the memory
    // role moves a large block without copying it where it can.
    bool Resize(std::size_t newCapacity) {
        if (newCapacity > SIZE_MAX - trailing) {
            return false;
        }
        if (block == MemoryHandle::None) {
            block = memory.GlobalAlloc(newCapacity + trailing);
            bytes = static_cast<unsigned char*>(memory.GlobalLock(block));
            if (bytes == nullptr) {
                memory.GlobalFree(block);
                block = MemoryHandle::None;
                return false;
            }
            capacity = newCapacity;
            return true;
        }
        memory.GlobalUnlock(block);
        const MemoryHandle resized = memory.GlobalReAlloc(block, newCapacity + trailing);
        if (resized != MemoryHandle::None) {
            block = resized;
        }
        bytes = static_cast<unsigned char*>(memory.GlobalLock(block));
        if (resized == MemoryHandle::None || bytes == nullptr) {
            return false;
        }
        capacity = newCapacity;
        return true;
    }

    bool Append(const void* data, std::size_t length) {
        if (length > capacity - size) {
            if (length > SIZE_MAX - size) {
                return false;
            }
            const std::size_t doubled = capacity > SIZE_MAX / 2 ? SIZE_MAX : capacity * 2;
            if (!Resize(std::max(size + length, doubled))) {
                return false;
            }
        }
        if (length != 0) {
            std::memcpy(bytes + size, data, length);
        }
        size += length;
        return true;
    }

    // The block, sized exactly to the bytes plus the zeros.
    bool Finish(Converted& out) {
        if ((capacity != size || block == MemoryHandle::None) && !Resize(size)) {
            return false;
        }
        std::memset(bytes + size, 0, trailing);
        memory.GlobalUnlock(block);
        out.block = std::exchange(block, MemoryHandle::None);
        out.size = size;
        return true;
    }
};

using PropertyReply = XcbPtr<xcb_get_property_reply_t>;

PropertyReply TakeProperty(Connection& conn, Clock::time_point deadline) {
    return conn.Wait<xcb_get_property_reply_t>(
        xcb_get_property(conn.get(), 1, conn.window(), conn.atoms().property,
                         XCB_GET_PROPERTY_TYPE_ANY, 0, kWholeProperty),
        deadline);
}

// Waits for the owner's answer to a conversion; false when it refused.
bool WaitSelectionNotify(Connection& conn, xcb_atom_t target, Clock::time_point deadline) {
    for (;;) {
        const auto event = conn.WaitEvent(deadline);
        if (!event) {
            return false;
        }
        if (EventType(*event) != XCB_SELECTION_NOTIFY) {
            continue;
        }
        const auto* notify = reinterpret_cast<const xcb_selection_notify_event_t*>(event.get());
        // An answer to an earlier conversion that timed out is not this one.
        if (notify->requestor == conn.window() && notify->selection == conn.atoms().clipboard &&
            notify->target == target) {
            return notify->property != XCB_ATOM_NONE;
        }
    }
}

// The next chunk of an incremental transfer, once the owner has written it.
PropertyReply WaitChunk(Connection& conn, Clock::duration stepTimeout) {
    const Clock::time_point deadline = Clock::now() + stepTimeout;
    for (;;) {
        const auto event = conn.WaitEvent(deadline);
        if (!event) {
            return nullptr;
        }
        if (EventType(*event) != XCB_PROPERTY_NOTIFY) {
            continue;
        }
        const auto* notify = reinterpret_cast<const xcb_property_notify_event_t*>(event.get());
        if (notify->window != conn.window() || notify->atom != conn.atoms().property ||
            notify->state != XCB_PROPERTY_NEW_VALUE) {
            continue;
        }
        PropertyReply reply = TakeProperty(conn, deadline);
        // A property already taken with an earlier chunk: wait for the next.
        if (!reply || reply->type != XCB_ATOM_NONE) {
            return reply;
        }
    }
}

bool ReadIncrementally(Connection& conn, const xcb_get_property_reply_t& start,
                       Clock::duration stepTimeout, Filling& filling) {
    // The owner's size is a lower bound; a wrong one only costs a move.
    std::size_t hint = kFirstIncrementalCapacity;
    if (start.format == 32 && xcb_get_property_value_length(&start) >= 4) {
        std::uint32_t announced = 0;
        std::memcpy(&announced, xcb_get_property_value(&start), sizeof announced);
        hint = announced == 0 ? hint : announced;
    }
    // A size no memory can hold is no reason to give up before the data comes.
    if (!filling.Resize(hint) && !filling.Resize(kFirstIncrementalCapacity)) {
        return false;
    }
    for (;;) {
        const PropertyReply chunk = WaitChunk(conn, stepTimeout);
        if (!chunk) {
            return false;
        }
        const auto length = static_cast<std::size_t>(xcb_get_property_value_length(chunk.get()));
        if (length == 0) {
            return true;
        }
        if (!filling.Append(xcb_get_property_value(chunk.get()), length)) {
            return false;
        }
    }
}

}  // namespace

bool ConvertSelection(Connection& conn, GlobalMemory& memory, xcb_atom_t target,
                      std::size_t trailingZeros, Clock::duration stepTimeout, Converted& out) {
    if (conn.Failed()) {
        return false;
    }
    const Clock::time_point deadline = Clock::now() + stepTimeout;
    xcb_delete_property(conn.get(), conn.window(), conn.atoms().property);
    xcb_convert_selection(conn.get(), conn.window(), conn.atoms().clipboard, target,
                          conn.atoms().property, XCB_CURRENT_TIME);
    if (!WaitSelectionNotify(conn, target, deadline)) {
        return false;
    }
    const PropertyReply reply = TakeProperty(conn, deadline);
    if (!reply || reply->type == XCB_ATOM_NONE) {
        return false;
    }
    Filling filling{memory, trailingZeros};
    out.type = reply->type;
    out.format = reply->format;
    if (reply->type == conn.atoms().incr) {
        out.format = 8;
        if (!ReadIncrementally(conn, *reply, stepTimeout, filling)) {
            return false;
        }
    } else {
        const auto length = static_cast<std::size_t>(xcb_get_property_value_length(reply.get()));
        if (!filling.Resize(length) ||
            !filling.Append(xcb_get_property_value(reply.get()), length)) {
            return false;
        }
    }
    return filling.Finish(out);
}

bool ReadOfferedTargets(Connection& conn, GlobalMemory& memory, Clock::duration timeout,
                        std::vector<OfferedTarget>& offered) {
    offered.clear();
    const Clock::time_point deadline = Clock::now() + timeout;
    const auto owner = conn.Wait<xcb_get_selection_owner_reply_t>(
        xcb_get_selection_owner(conn.get(), conn.atoms().clipboard), deadline);
    if (!owner) {
        return false;
    }
    if (owner->owner == XCB_WINDOW_NONE) {
        return true;
    }
    Converted targets;
    if (!ConvertSelection(conn, memory, conn.atoms().targets, 0, timeout, targets)) {
        return false;
    }
    std::vector<xcb_atom_t> atoms;
    if (targets.format == 32) {
        const auto* bytes = static_cast<const unsigned char*>(memory.GlobalLock(targets.block));
        for (std::size_t at = 0; bytes != nullptr && at + 4 <= targets.size; at += 4) {
            xcb_atom_t atom = XCB_ATOM_NONE;
            std::memcpy(&atom, bytes + at, sizeof atom);
            if (atom != XCB_ATOM_NONE &&
                std::find(atoms.begin(), atoms.end(), atom) == atoms.end()) {
                atoms.push_back(atom);
            }
        }
        memory.GlobalUnlock(targets.block);
    }
    memory.GlobalFree(targets.block);

    std::vector<xcb_get_atom_name_cookie_t> cookies;
    cookies.reserve(atoms.size());
    for (const xcb_atom_t atom : atoms) {
        cookies.push_back(xcb_get_atom_name(conn.get(), atom));
    }
    for (std::size_t i = 0; i < atoms.size(); ++i) {
        const auto name = conn.Wait<xcb_get_atom_name_reply_t>(cookies[i], deadline);
        if (name) {
            offered.push_back(OfferedTarget{
                atoms[i],
                std::string(xcb_get_atom_name_name(name.get()),
                            static_cast<std::size_t>(xcb_get_atom_name_name_length(name.get())))});
        }
    }
    return true;
}

}  // namespace clipfile::x11
