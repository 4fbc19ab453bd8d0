// triple!: three signed 32-bit integers that can only be carried and shown
// (no make, comparison, arithmetic or path access).
//
// Cell: words 1, 2 and 3 hold the integers in order. No word holds a node
// id.
#pragma once
#include <cstdint>

#include "runtime/cell.hpp"

namespace qel::triple {

// Makes c a triple! (keeping its header flags).
Cell* make_at(Cell* c, int32_t a, int32_t b, int32_t d);

}  // namespace qel::triple
