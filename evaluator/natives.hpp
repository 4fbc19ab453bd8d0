// The native table and the calling convention of natives.
//
// A native takes its arguments from the argument stack: the spec's
// arguments from the argument base in spec order, then the refinements'
// arguments, their types already checked against its spec by the caller.
// It receives one integer per refinement in spec order: -1 when absent,
// else the position in cells from the argument base where the
// refinement's arguments start. It writes its result into the argument
// base.
#pragma once
#include <cstdint>

#include "runtime/cell.hpp"

namespace qel::natives {

using NativeFn = void (*)(const int32_t* refinements);

struct Entry {
    const char* name;
    const char* spec;   // the spec block as source text, doc strings included
    NativeFn fn;        // null until the native exists
};

constexpr uint32_t TABLE_SLOTS = 120;
constexpr uint32_t NATIVE_COUNT = 107;

// The natives in index order (0-based here; 1-based in native! values).
extern const Entry table[NATIVE_COUNT];

// The reusable block print and prin reduce into (a cell of the root block),
// and the 1-based position of the next free slot.
extern Cell* print_buffer;
extern uint32_t table_count;

// The argument list each filled slot was first made with, for the native
// table's slots and then the action slots: a cell of a root-block block,
// none until the slot's first value is made. Start-up makes the built-in
// words from the runtime's own spec texts before any script runs, so this
// is the layout the slot's entry reads its arguments in. The cell is valid
// until the next allocation.
Cell* own_list(uint32_t type, uint32_t index);

// Start-up: the print buffer, the own argument lists and the table count.
void init_table();
// The entry of a 1-based index, nullptr when the slot is empty.
const Entry* entry_of(int32_t index);

}  // namespace qel::natives
