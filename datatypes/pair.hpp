// pair!: two signed 32-bit integers written 10x20, for sizes and offsets.
// Arithmetic that would leave the integers (an overflow, a division with a
// remainder, a product or quotient with a float) answers a point2D!
// instead, so nothing is silently wrapped or truncated.
//
// Cell: word 2 holds x, word 3 y; word 1 is 0. No word holds a node id.
//
// The file also holds what pair!, tuple! and the point types share: the
// conversion of a text through the lexer, and the write-back of a value
// changed through a path into the value that held it.
#pragma once
#include <cstdint>

#include "runtime/cell.hpp"
#include "runtime/math_op.hpp"

namespace qel::pair {

// Makes c a pair! (keeping its header flags).
Cell* make_at(Cell* c, int32_t x, int32_t y);

// The arithmetic on the two cells at the argument base, the pair first;
// the result (a pair! or a point2D!) goes into the first.
void do_math(MathOp op);

}  // namespace qel::pair

namespace qel::composite {

// Loads a text value (any string type) with the lexer; true when it holds
// exactly one value and that value is of the given type, which is then
// copied into out. A text that does not scan answers false.
bool from_text(const Cell* text, uint32_t type, Cell* out);

// A value that has no storage of its own (a pair, tuple or point) changed
// through a set-path: stores the changed value back where the path found
// it, through the word or the holder's own path access, so that the
// holder's change handlers run. Does nothing outside a path walk.
void write_back(const Cell* changed, Cell* parent, Cell* previous, Cell* path);

// A float truncated to an integer; NaN, infinities and values outside the
// 32-bit range raise script invalid-arg with the number.
int32_t truncate_checked(double d, const Cell* culprit);

// The 0-based component of a value of n components (a pair or a point) that
// a path element or pick index names: an integer 1 to n, or a word x, y (and
// z when n is 3). -1 for a word that names none, -2 for an integer out of
// range, -3 for any other selector.
int32_t selector(const Cell* element, uint32_t n);

}  // namespace qel::composite
