// money!: an exact decimal amount with an optional currency. The cell holds
// 22 packed decimal digits (17 before the point, 5 after), a sign in the
// header and a one-byte index into the currency list of the system object
// (system/locale/currencies/list, 1-based; 0 is no currency). Nothing in
// the cell is a node.
//
// Payload layout, by payload byte (byte 0 is the lowest byte of word 1,
// as for tuple!): byte 0 the currency index, bytes 1-11 the digits, two per
// byte, most significant first and high nibble first, so digit position 1
// is the high nibble of byte 1 and position 22 the low nibble of byte 11.
//
// Arithmetic works on the amount as a 128-bit integer counting units of
// 0.00001 (|amount| < 10^22), never through floating point: sums and
// differences are exact, products and quotients are cut (not rounded) to
// five fraction digits, and a result that leaves the 22 digits raises
// script type-limit naming money!.
#pragma once
#include <cstdint>

#include "runtime/cell.hpp"
#include "runtime/compare_op.hpp"
#include "runtime/datatypes.hpp"
#include "runtime/math_op.hpp"

namespace qel::money {

constexpr uint32_t DIGITS = 22;
constexpr uint32_t INTEGER_DIGITS = 17;
constexpr uint32_t FRACTION_DIGITS = 5;
constexpr uint32_t DIGIT_BYTES = DIGITS / 2;  // payload bytes 1 to 11
constexpr uint32_t SIGN_FLAG = 0x4000;      // header bit: negative
constexpr uint32_t CURRENCY_LIMIT = 255;    // the highest index the byte holds

// The amount in units of 0.00001.
using Amount = __int128;
constexpr Amount UNIT = 100000;  // $1

// ---- cell layout ----------------------------------------------------------------

inline uint8_t payload_byte(const Cell* c, uint32_t i) {
    return static_cast<uint8_t>(payload_word(c, i / 4) >> (8 * (i & 3)));
}
inline void set_payload_byte(Cell* c, uint32_t i, uint8_t b) {
    uint32_t& w = payload_word(c, i / 4);
    const uint32_t shift = 8 * (i & 3);
    w = (w & ~(0xFFu << shift)) | (static_cast<uint32_t>(b) << shift);
}
inline uint8_t currency_of(const Cell* c) { return payload_byte(c, 0); }
inline void set_currency(Cell* c, uint8_t index) { set_payload_byte(c, 0, index); }
// Digit position 1 to 22.
inline uint32_t digit_at(const Cell* c, uint32_t position) {
    const uint8_t b = payload_byte(c, 1 + (position - 1) / 2);
    return (position & 1) ? b >> 4 : b & 0xF;
}
inline void set_digit(Cell* c, uint32_t position, uint32_t d) {
    const uint32_t i = 1 + (position - 1) / 2;
    const uint8_t b = payload_byte(c, i);
    set_payload_byte(c, i,
                     static_cast<uint8_t>((position & 1) ? (b & 0x0F) | (d << 4) : (b & 0xF0) | (d & 0xF)));
}
inline bool sign_bit(const Cell* c) { return c->header & SIGN_FLAG; }

// ---- values ---------------------------------------------------------------------

// The signed amount of a money! cell (a zero with the sign bit is 0).
Amount amount_of(const Cell* c);
// c becomes a money! cell (header flags other than the sign dropped) with
// the amount and the currency index. |v| must be below 10^22.
Cell* store(Cell* c, Amount v, uint8_t currency);

// A complete cell from a sign, a currency index and the DIGIT_BYTES digit
// bytes.
Cell* make_at(Cell* c, bool negative, uint8_t currency, const uint8_t* digits);

// A cell from the parts of a money text: the sign, the currency code (3
// characters, any letter case; nullptr for none), the digits in
// [start, end) with the decimal point at point (nullptr for none). "'"
// between digits is skipped; integer digits beyond 17 and fraction digits
// beyond 5 are not stored. False, with c untouched, when the code is not a
// listed currency.
bool make_at_from_string(Cell* c, bool negative, const char* code, const char* start, const char* point,
                         const char* end);

// The 1-based position of the word's symbol in the currency list (any
// letter case), or -1.
int32_t currency_index(int32_t symbol);

Amount from_integer(int32_t v);
// The float through its shortest round-trip text. Raises script
// bad-make-arg with money! and the float when it is not finite, when its
// magnitude is 1e17 or more or above zero but below 0.00001, or, with
// check, when it has more than five fraction digits (without check they
// are cut).
Amount from_float(double v, bool check);
// The integer part, cut toward zero; outside the 32-bit range raises
// script type-limit with integer!.
int32_t to_integer(const Cell* c);
double to_float(const Cell* c);

// -1, 0 or 1.
int32_t sign_of(const Cell* c);

// The two-operand math on the cells at the argument base, one of them
// money!; the result goes into the first.
void do_math(MathOp op);

void fill(datatype::Record& r);

}  // namespace qel::money
