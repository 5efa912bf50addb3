#pragma once

#include <xcb/xcb.h>

#include <cstddef>
#include <string>
#include <vector>

#include "platform/global_memory.h"
#include "x11/x11_connection.h"

namespace clipfile::x11 {

// A conversion of the CLIPBOARD selection as delivered: the bytes in a block
// of the memory role (owned by the caller), their type and item size.
struct Converted {
    MemoryHandle block = MemoryHandle::None;
    std::size_t size = 0;
    xcb_atom_t type = XCB_ATOM_NONE;
    std::uint8_t format = 0;
};

// Asks the owner for a target and reads the answer, incrementally when it is
// large. The block holds the bytes and then trailingZeros zero bytes.
// stepTimeout bounds each wait for the owner; false when it refuses, stops
// answering or memory is short.
bool ConvertSelection(Connection& conn, GlobalMemory& memory, xcb_atom_t target,
                      std::size_t trailingZeros, Clock::duration stepTimeout, Converted& out);

// A target the owner offers: its atom and name.
struct OfferedTarget {
    xcb_atom_t atom = XCB_ATOM_NONE;
    std::string name;
};
// The owner's targets in its order, without repeats; none without an owner.
// False when there is an owner that does not tell them.
bool ReadOfferedTargets(Connection& conn, GlobalMemory& memory, Clock::duration timeout,
                        std::vector<OfferedTarget>& offered);

}  // namespace clipfile::x11
