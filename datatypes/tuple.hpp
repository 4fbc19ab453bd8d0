// tuple!: 3 to 12 bytes written as decimal numbers joined by dots (1.2.3,
// 255.0.0.128), for versions and colours. Arithmetic works byte by byte
// and clips every result to 0-255.
//
// Cell: the length in header bits 19-22; the bytes fill words 1-3 in order,
// byte 1 the lowest byte of word 1; bytes past the length are 0. No word
// holds a node id.
#pragma once
#include <cstdint>

#include "runtime/cell.hpp"
#include "runtime/math_op.hpp"

namespace qel::tuple {

constexpr uint32_t MIN_LENGTH = 3;
constexpr uint32_t MAX_LENGTH = 12;
// Makes c a tuple! of the n bytes (at most 12; fewer than 3 are padded
// with zeros), keeping c's flags.
Cell* make_at(Cell* c, const uint8_t* bytes, uint32_t n);

// The arithmetic on the two cells at the argument base, one of them a
// tuple!; the result tuple goes into the first.
void do_math(MathOp op);

}  // namespace qel::tuple
