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

#include "datatypes/fills.hpp"
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

// The slots a composite value implements itself; every other slot is
// cleared.
struct Slots {
    datatype::SlotFn<datatype::MAKE> make;  // serves to as well
    datatype::SlotFn<datatype::RANDOM> random;
    datatype::SlotFn<datatype::EVAL_PATH> eval_path;
    datatype::SlotFn<datatype::COMPARE> compare;
    datatype::SlotFn<datatype::PICK> pick;
    datatype::SlotFn<datatype::REVERSE> reverse;
};

// Fills the record of a composite type (pair, tuple, point) with its own
// slots, the form and mold of one writer, and the math slots slot_of gives
// (the bit-wise ones when bits is set); the caller adds what only its type
// has.
template <int32_t (*write)(const Cell* value, node_t out, int32_t limit), typename MathSlotOf>
void fill(datatype::Record& r, const Slots& slots, MathSlotOf slot_of, bool bits) {
    for (ActionFn& a : r.actions) a = nullptr;
    datatype::set_slot<datatype::MAKE>(r, slots.make);
    datatype::set_slot<datatype::TO>(r, slots.make);
    datatype::set_slot<datatype::RANDOM>(r, slots.random);
    fill_same_text<write>(r);
    datatype::set_slot<datatype::EVAL_PATH>(r, slots.eval_path);
    datatype::set_slot<datatype::COMPARE>(r, slots.compare);
    datatype::fill_math_slots(r, slot_of, bits);
    datatype::set_slot<datatype::PICK>(r, slots.pick);
    datatype::set_slot<datatype::REVERSE>(r, slots.reverse);
}

}  // namespace qel::composite
