// bitset!: a set of non-negative integers (code points, byte values) as a
// bit array, mostly used as a character class by find, parse and the set
// operations.
//
// The cell holds the node of a byte series in word 2; member n is bit
// 0x80 >> (n & 7) of byte n >> 3. The stored bytes are the membership of
// 0 .. 8 x length - 1; the complement flag of the buffer says whether the
// integers beyond that are all members too, so "every character but these"
// costs no more than "these". Bytes between the tail and the capacity are
// kept equal to what the flag says (0xFF or 0x00), so growing, inverting
// and moving the tail never have to patch them up.
#pragma once
#include <cstdint>

#include "runtime/cell.hpp"
#include "runtime/math_op.hpp"
#include "runtime/series.hpp"

namespace qel::bitset {

enum Op : int32_t { MEASURE = 0, SET = 1, TEST = 2, CLEAR = 3 };
// Which error an unusable spec value raises: bad-make-arg, bad-to-arg or
// invalid-arg.
enum Mode : int32_t { MAKE_MODE = 0, TO_MODE = 1, OTHER_MODE = 2 };

uint8_t* data_ptr(const Cell* bitset);
uint32_t byte_length(node_t bits);
bool is_complement(node_t bits);

// Makes bit n addressable: grows the buffer to (n >> 3) + 1 bytes when it
// is shorter, new bytes following the complement flag, and moves the tail.
void grow_to(node_t bits, uint32_t n);
bool out_of_range(node_t bits, int64_t n);
// Inverts every byte of the allocated capacity.
void invert_bytes(node_t bits);

// Whether n is a member: the fast test for character classes.
bool has(const Cell* bitset, int64_t n);

// Walks a spec value (char!, integer!, float!, string!, block!). measure
// answers the highest member, test 1 when every named member is in the set;
// at the top level (not nested) measure and set answer the bytes needed.
int32_t process(const Cell* value, node_t bits, Op op, bool nested, Mode mode);
int32_t process_range(node_t bits, int32_t low, int32_t high, Op op);
int32_t process_string(const Cell* string, node_t bits, Op op);

// make and to: a new bitset from a spec into result.
Cell* from_spec(Cell* result, const Cell* spec, Mode mode);

// The argument base combined with the next argument, a bitset!, into the
// argument base (or~, and~ and xor~ come as Union, Intersect, Difference).
void do_bitwise(SetOp code);

}  // namespace qel::bitset
