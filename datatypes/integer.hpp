// integer!: the 32-bit signed integer, its decimal text and the 32-bit
// arithmetic core that char!, pair!, tuple! and vector! arithmetic share.
//
// Arithmetic never wraps. An add, subtract or multiply that leaves the 32
// bits turns its result into a float! holding the exact operation done in
// double precision; a division that leaves a remainder gives a float! too.
// Overflows are found with the compiler's overflow builtins, and the two
// divisions that the hardware would trap on (by zero, INT_MIN by -1) are
// tested before dividing.
#pragma once
#include <cstdint>

#include "runtime/cell.hpp"
#include "runtime/compare_op.hpp"
#include "runtime/math_op.hpp"

namespace qel::integer {

inline int32_t value_of(const Cell* c) { return integer_value(c); }

// Makes c an integer! (keeping its header flags) holding v.
Cell* make_at(Cell* c, int32_t v);

inline int32_t sign(int32_t v) { return (v > 0) - (v < 0); }
// |v|; the minimum has no positive counterpart and raises math overflow.
int32_t abs_checked(int32_t v);

// Decimal digits of v into out (at least 12 bytes, zero-terminated);
// answers the digit count with the sign.
uint32_t to_decimal(int32_t v, char* out);

// left (op) right. An add, subtract or multiply that overflows makes result
// a float! (result must then be given); a division with a remainder does so
// only when result is given, else the quotient is truncated toward zero.
// A result that stays integral is stored in result's word 2 (its type is
// left as it is) and answered.
int32_t arith(int32_t left, int32_t right, MathOp code, Cell* result);

// The arithmetic actions on the two argument cells at the argument base,
// the first an integer!; the result goes into the first.
void do_math(MathOp code);

// float! cells as integer arithmetic makes them: type 12, the double in
// words 2-3, header flags kept.
Cell* make_float(Cell* c, double d);
// True above 2147483647.0, below -2147483648.0, and for NaN or infinity.
bool outside_integer_range(double d);

// Arithmetic that another numeric type does on an integer's behalf. Each is
// installed by that type's code; until then the operation raises internal
// not-done. The argument cells are at the argument base, the integer first.
struct Neighbours {
    void (*vector_math)(MathOp code) = nullptr;  // integer (op) vector!
    void (*money_math)(MathOp code) = nullptr;    // integer (op) money!
    // Comparison of an integer with a money! value (-2 when not installed).
    int32_t (*money_compare)(const Cell* a, const Cell* b, CompareOp op) = nullptr;
    // to integer! of a date! (seconds since 1970) and of a money! amount.
    int32_t (*date_seconds)(const Cell* date) = nullptr;
    int32_t (*money_whole)(const Cell* money) = nullptr;
};
extern Neighbours neighbours;

// Runs the action slot of another type for an arithmetic code, after the
// caller put that type's value first; a type without the slot yet raises
// internal not-done. Shared with char! and the number types around it.
void other_type_math(uint32_t type, MathOp code);

}  // namespace qel::integer
