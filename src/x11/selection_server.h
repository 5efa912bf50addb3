#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "x11/x11_connection.h"

namespace clipfile::x11 {

// One target the server answers with: bytes it does not own, which stay put
// in the memory the server inherits.
struct ServedTarget {
    std::string name;
    // The property type; empty for the target itself.
    std::string type;
    std::span<const std::uint8_t> bytes;
};

// Starts a background process that owns the CLIPBOARD selection of the
// display and serves the targets until another client takes it, the display
// goes away or it gets SIGTERM. True once it holds the selection. The caller
// must hold no connection to the display: the server shares no descriptor
// with it.
bool StartSelectionServer(const char* display, std::span<const ServedTarget> targets);

// The atoms of the served targets' names and property types.
struct ServedAtoms {
    std::vector<xcb_atom_t> names;
    std::vector<xcb_atom_t> types;
};
bool InternServedTargets(Connection& conn, std::span<const ServedTarget> targets,
                         ServedAtoms& atoms, Clock::time_point deadline);

// The server's work once it owns the selection, on its own connection;
// returns when it has lost the selection or the display.
void ServeSelection(Connection& conn, xcb_timestamp_t ownedSince,
                    std::span<const ServedTarget> targets, const ServedAtoms& atoms);

}  // namespace clipfile::x11
