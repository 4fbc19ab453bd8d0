// The native level's process record and the global flags of start-up.
#pragma once
#include <cstddef>
#include <cstdint>

#include "runtime/cell.hpp"

namespace qel {

struct TrackedHeader;

struct SystemRecord {
    int argc;
    char** argv;                 // UTF-8, each a tracked block, null-terminated
    uint32_t thrown_code;        // code of the non-local exit in flight
    int pending_error;           // code of the error in flight
    const uint8_t* boot_image;
    uintptr_t fault_pc;          // filled by the fault handler
    uintptr_t fault_sp;
    TrackedHeader* tracked_first;
    TrackedHeader* tracked_last;
    uintptr_t stack_low;         // bounds of the machine stack the language runs on
    uintptr_t stack_high;
    uintptr_t stack_at_start;    // stack pointer recorded before runtime/init
};

extern SystemRecord sys;
extern uint32_t keep_words;         // words made from C names are kept in the root block
extern uint32_t collector_enabled;  // 0 during start-up
extern Cell root_cell;              // holds the root block

}  // namespace qel
