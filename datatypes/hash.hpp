// hash!: a block with a hash index over its values. A hash! cell holds
// node ids in word 2 (the cell block) and word 3 (the index record, kind
// 0); word 1 is the head index. The index has one entry per cell of the
// whole block, equal values chained, and every block action keeps it in
// step, so find and select go through it instead of scanning. The actions
// here are the ones hash! replaces: make, to, mold, copy and sort (block!'s
// trim already indexes the remaining cells again).
#pragma once
#include <cstdint>

#include "runtime/cell.hpp"
#include "runtime/datatypes.hpp"

namespace qel::hash {

// Drops the index entries of the cells from position to the tail and
// indexes them again (after their values moved around).
void reindex_from(const Cell* h, uint32_t position);

void fill(datatype::Record& r);

}  // namespace qel::hash
