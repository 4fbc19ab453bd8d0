// Searching, ordering and the set operations of string! (inherited by the
// other text types, and reached by binary! for byte searches), plus the
// bitset membership test that the parse engine shares.
#pragma once
#include <cstdint>

#include "runtime/cell.hpp"
#include "runtime/compare_op.hpp"
#include "runtime/datatypes.hpp"
#include "runtime/math_op.hpp"

namespace qel::string {

// The series at the match (a new argument stack cell), or the shared none.
Cell* find(Cell* series, Cell* value, const datatype::FindOptions& options);
// The unit after the match (char!, or integer! in a binary!), or none.
Cell* select(Cell* series, Cell* value, const datatype::FindOptions& options);
// Sorts in place and answers the series.
Cell* sort(Cell* series, const datatype::SortOptions& options);

// Records of skip units (skip null for 1), judged by their first unit; the
// result replaces the buffer of a (index 0, a's type kept) and a is answered.
Cell* set_op(SetOp code, Cell* a, Cell* b, bool case_sensitive, Cell* skip);

// Whether a bitset holds cp: past its stored bits, its complement flag.
bool bitset_has(const Cell* bitset, uint32_t cp);

}  // namespace qel::string
