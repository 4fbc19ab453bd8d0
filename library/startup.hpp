// Start-up of the language: what comes up, in what order, from the
// platform to the error catalogue. The runtime below knows how the process
// starts, runs the language thread and ends (runtime/entry.hpp); the order
// of the layers' start-up steps is said here, where every layer is in
// sight.
#pragma once
#include <cstdint>

#include "runtime/datatypes.hpp"

namespace qel::startup {

// The datatype registrations of start-up, in their order: parents first,
// since a child copies its parent's slots when it registers. Each type's
// record starts with every slot inherited; the type's own code, when it
// exists, fills in its slots. event! is not here: the boot-time
// construction registers it.
struct DatatypeEntry {
    uint32_t type;
    uint32_t parent;
    const char* name;
    void (*fill)(datatype::Record& r);
};
constexpr uint32_t DATATYPES = 53;
extern const DatatypeEntry datatype_order[DATATYPES];

// Registers the datatypes of datatype_order, in its order.
void register_datatypes();

// The start-up sequence: every layer's start-up step in order. The boot
// image's library then runs on what it made.
void init();

// The whole life of the process (runtime/entry.hpp rt::run) with this
// start-up sequence: body (the console's launch, a build tool) runs after
// it inside the top-level catch point.
[[noreturn]] void run(int argc, char** argv, void (*body)());

}  // namespace qel::startup
