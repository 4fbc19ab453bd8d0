// port!: an object whose behaviour a scheme supplies. A port has the fields
// of system/standard/port (spec scheme actor awake state data extra) and
// the object! cell layout; it holds no I/O code itself. Every series or
// port action applied to a port goes, by the action's own word, to the
// function of that name in the port's actor object, with the port and the
// action's arguments in a fixed order (port.cpp lists them). read and
// write are made of the actor's open, copy, close and open, insert, copy,
// close.
//
// make port! takes a parts object, or a block that becomes one over
// system/standard/url-parts; its scheme word picks the scheme object from
// the block system/schemes, whose actor field becomes the port's actor.
#pragma once
#include <cstdint>

#include "runtime/cell.hpp"
#include "runtime/datatypes.hpp"

namespace qel::port {

// make port! spec: the new port, pushed. Raises the access errors
// no-scheme, unknown-scheme and invalid-actor with the spec object.
Cell* make_from(const Cell* spec);

// The flags of open as the actor's open receives them; allow is the
// /allow access value, nullptr when absent.
struct OpenFlags {
    bool new_port = false;
    bool read = false;
    bool write = false;
    bool seek = false;
    const Cell* allow = nullptr;
};

// The flags of the running open call, from its refinement integers (allow
// points at the access argument on the argument stack).
OpenFlags open_flags(const int32_t* refinements);

// Applies open to the port through its actor; answers the actor's result.
Cell open(const Cell* port, const OpenFlags& flags);

// The read and write actions of a port, as their slots (the refinement
// integers of the read or write call that is running).
Cell* read(Cell* port, Cell* unused, const int32_t* refinements);
Cell* write(Cell* port, Cell* data, const int32_t* refinements);

void fill(datatype::Record& r);

}  // namespace qel::port
