// typeset!: a set of datatypes held in the cell itself. Words 1-3 are 96
// bits read as 12 bytes (word 1's bytes first, each word little-endian);
// type id t is bit 0x80 >> (t & 7) of byte t >> 3. Bits of id 0 and above
// the last datatype mean nothing but take part in equality and in the
// bitwise operations, so that a complement stays exactly invertible.
#pragma once
#include <cstdint>

#include "runtime/cell.hpp"
#include "runtime/math_op.hpp"

namespace qel::typeset {

constexpr uint32_t BITS = 96;

// Inline: every argument of every call is checked with it.
inline bool has(const Cell* ts, uint32_t type) {
    if (type >= BITS) return false;
    return payload_word(ts, type >> 5) & ((0x80u >> (type & 7)) << (8 * ((type >> 3) & 3)));
}
// Whether every bit but unset!'s is set (whether unset!'s is or not): the
// typeset takes every value. Tested word by word, as it is asked of every
// argument of every function made.
inline bool has_all_but_unset(const Cell* ts) {
    constexpr uint32_t unset_bit = (0x80u >> (TYPE_UNSET & 7)) << (8 * ((TYPE_UNSET >> 3) & 3));
    static_assert(TYPE_UNSET < 32, "unset!'s bit lies in word 1");
    return (payload_word(ts, 0) | unset_bit) == ~0u && payload_word(ts, 1) == ~0u && payload_word(ts, 2) == ~0u;
}
void set_bit(Cell* ts, uint32_t type);
// Set bits among the registered type ids.
int32_t count(const Cell* ts);

// New typeset! cells at a block's tail (valid until the next allocation):
// with every bit but unset!'s (an argument without a type block); built
// from a function argument's type block.
Cell* append_all_types(const Cell* block);
Cell* append_from_block(const Cell* block, const Cell* spec);

// Adds a datatype's bit or ORs a typeset in; a word stands for its value.
void add_type(Cell* ts, const Cell* value);

// Combines the argument base (a typeset!) with the next argument (typeset!
// or datatype!) into the argument base by the set operation (or~, and~ and
// xor~ come as Union, Intersect, Difference).
void do_bitwise(SetOp code);

}  // namespace qel::typeset
