// Sorting with a compare function: the call of the function on two values
// (or two records, each handed over as a block) that the block and string
// sorts make through their comparator hook.
#pragma once
#include <cstdint>

#include "runtime/cell.hpp"

namespace qel::sort_callback {

// Installs the hook (start-up).
void init();

// fn on x and y: single values when cells is 0, else records of that many
// cells given to fn as blocks. Answers fn's result. A break, continue,
// return or exit out of fn leaves as an exception, since the sort that
// called cannot pass it on step by step.
Cell call(const Cell* fn, const Cell* x, const Cell* y, uint32_t cells);

}  // namespace qel::sort_callback
