// Searching, sorting and the set operations on blocks and the other
// block-like types (paren!, the paths and hash! reach these through
// inheritance).
//
// find and select answer a cell pushed on the argument stack (the series
// at the match, or the value after it) or the shared none cell. sort works
// in place and answers the series cell it was given, whose index /part may
// have moved back.
//
// Sorting with a compare function. The comparator is called with two
// values, the later record of the pair first: f(b, a) for records a before
// b (f(a, b) with /reverse). Its result is read by comparator_order, and
// that one reading serves every series type that sorts with a function
// (blocks here, the string family in its own sort), so one function orders
// blocks and strings the same way:
//
//   result            order      so that these sort ascending
//   true / false      1 / -1     [a b] [a < b]
//   integer n         -sign(n)   [a b] [a - b]   (a three-way compare)
//   float x           -sign(x)   0.0 and NaN count as equal
//   none              -1
//   any other value   1
//
// An order above 0 means "a must come after b", which is what the record
// sorts of runtime/sort.hpp expect from their callback; equal answers keep
// a stable sort's input order.
#pragma once
#include "runtime/actions.hpp"

namespace qel::block {

Cell* find(Cell* series, Cell* value, const datatype::FindOptions& options);
Cell* select(Cell* series, Cell* value, const datatype::FindOptions& options);
Cell* sort(Cell* series, const datatype::SortOptions& options);

// The order of a compare function's result (table above).
int32_t comparator_order(const Cell* result);

// Calls a compare function with x and y and answers its result. When cells
// is 0, x and y are single values; otherwise each is the first of a record
// of that many cells, to be handed to the function as a block. The cells
// lie in C++ memory that the collector does not see: the hook copies them
// to the argument stack before it runs the function. Installed by function
// values; while it is null, sorting with a function raises not-done.
using ComparatorCall = Cell (*)(const Cell* function, const Cell* x, const Cell* y, uint32_t cells);
extern ComparatorCall call_comparator;

// The set operation code on the block-like values a and b (b unused by
// unique) in records of skip cells (nullptr for 1). The result is a new
// block (hash! when a is one, or, for the operations of two series, b)
// written into a, which is answered. a and b must lie where the collector
// sees them (the argument stack).
Cell* set_op(SetOp code, Cell* a, const Cell* b, bool case_sensitive, const Cell* skip);

}  // namespace qel::block
