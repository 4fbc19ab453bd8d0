// Action entries: what an action word does with its arguments before it
// reaches the value's slot. append, insert and change turn /part (a count
// or a position) and /dup into plain counts; pick and poke turn their
// index argument into an integer; length? turns the slot's -1 into none.
// The action! values call these; C++ code that already holds plain counts
// (remove-each, for one) calls the slots directly.
//
// Cells passed in are expected on the argument stack: the entries adjust
// the index of the measured series in place.
#pragma once
#include <cstdint>

#include "runtime/cell.hpp"

namespace qel::actions {

// part and dup are the refinements' argument cells, nullptr when absent.
// /part with a position measures the value (append, insert) or the series
// (change); a negative count counts back from its index. A count of 0
// (for change: a negative count at the head), or a /dup count below 1,
// leaves the series unchanged and answers it; change with a count of 0
// inserts without replacing.
Cell* append(Cell* series, Cell* value, Cell* part, bool only, Cell* dup);
Cell* insert(Cell* series, Cell* value, Cell* part, bool only, Cell* dup);
Cell* change(Cell* series, Cell* value, Cell* part, bool only, Cell* dup);

// true 1, false 2, a char! or integer! its value, anything else 0.
int32_t index_argument(const Cell* index);
Cell* pick(Cell* series, Cell* index);
// Answers the poked value.
Cell* poke(Cell* series, Cell* index, Cell* value);
// An integer!, or none when the slot answers -1.
Cell length(Cell* series);


// The entries that action! values call, one per slot: arguments from the
// argument base, refinement integers as natives get them (-1 absent, else
// the position of the refinement's first argument). Null for the slots
// whose entry is not written yet.
using ActionEntry = void (*)(const int32_t* refinements);

ActionEntry entry_of_slot(uint32_t slot);

}  // namespace qel::actions
