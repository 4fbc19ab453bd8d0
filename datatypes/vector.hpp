// vector!: a series of numbers of one element type, stored packed.
//
// The cell has the series layout (word 1 the head index in elements, word 2
// the node) and keeps the element type in word 3: char!, integer!, float!
// or percent!. The buffer's unit width is the element width: 1, 2 or 4
// bytes for integers and characters (two's complement, little-endian; 1-
// and 2-byte integers read back sign-extended, characters zero-extended so
// that every character read is a valid code point), 4 or 8 bytes for
// floats (IEEE single or double), 8 for percents (the fraction: 50% is
// 0.5). The default layout, the one a plain block makes and the one that
// molds in the short form, is 4-byte integers and characters and 8-byte
// floats and percents.
//
// Navigation, copy, remove, reverse and the other series actions are
// series!'s, which work by unit width; this file adds making, the texts,
// comparison, element-wise arithmetic (with a scalar in place, with another
// vector into a new series), the element stores of append, insert, change
// and poke, and the element reads of pick, take, find, select and sort.
#pragma once
#include <cstdint>

#include "runtime/cell.hpp"
#include "runtime/math_op.hpp"

namespace qel::vector {

// Word 3 of a vector! cell: the element type id.
inline uint32_t element_type(const Cell* c) { return payload_word(c, 2); }
inline uint32_t element_type(const Cell& c) { return payload_word(c, 2); }
inline uint32_t& element_type(Cell* c) { return payload_word(c, 2); }

// The element types and their widths in bytes.
constexpr bool is_element_type(uint32_t t) {
    return t == TYPE_INTEGER || t == TYPE_CHAR || t == TYPE_FLOAT || t == TYPE_PERCENT;
}
constexpr bool is_valid_width(uint32_t type, uint32_t width) {
    switch (type) {
        case TYPE_INTEGER: case TYPE_CHAR: return width == 1 || width == 2 || width == 4;
        case TYPE_FLOAT: return width == 4 || width == 8;
        case TYPE_PERCENT: return width == 8;
        default: return false;
    }
}
constexpr uint32_t default_width(uint32_t type) { return type == TYPE_FLOAT || type == TYPE_PERCENT ? 8 : 4; }

// Element width in bytes and the number of elements (from the head, from
// the index clamped to the tail).
uint32_t width(const Cell* v);
uint32_t total_length(const Cell* v);
uint32_t length(const Cell* v);

// An empty vector of the layout with room for capacity elements (at least
// one) in cell; a byte size beyond what a buffer can hold raises internal
// no-memory.
Cell* make_at(Cell* cell, uint32_t type, uint32_t width, uint32_t capacity);

// The value of the element at p, of the element type.
Cell element_value(const uint8_t* p, uint32_t width, uint32_t type);
// The element at position i (from the head) pushed on the argument stack.
Cell* push_element(const Cell* v, uint32_t i);
// Writes value into the element at p: it must be exactly of the element
// type (script error invalid-arg with the value otherwise). Integers and
// characters keep their low bits, floats and percents are stored as a
// double (width 8) or rounded to single precision (width 4).
void check_element(uint8_t* p, const Cell* value, uint32_t width, uint32_t type);

// A new block on the argument stack holding the elements from the index.
Cell* to_block(const Cell* v);

// vector (op) scalar, element by element in place from the index; the
// vector cell is the result.
void do_math_scalar(MathOp op, Cell* v, const Cell* scalar);

}  // namespace qel::vector
