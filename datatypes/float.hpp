// float!: the 64-bit IEEE 754 number, and the number services that the
// other numeric types share: the number formatter behind `form` of floats,
// percents, time seconds, vector elements and point components; the
// arithmetic dispatcher for an integer!, float!, percent! or time! on the
// left; the tolerant equality; and rounding.
//
// Float arithmetic never raises on division by zero or overflow: results
// become infinities or NaN, which write as 1.#INF, -1.#INF and 1.#NaN.
// Conversions from a double to an integer are always range-checked.
#pragma once
#include <cstddef>
#include <cstdint>

#include "runtime/cell.hpp"
#include "runtime/datatypes.hpp"

namespace qel::float_type {

// The pretty? field of system/options/float (on at start-up) enables the
// near-zero and noise-trimming rules of format_number; full? changes
// nothing here. pretty_print stands in for the field while there is no
// system object (during start-up, in the build tools and unit tests).
extern bool pretty_print;
extern bool full_support;

// What a formatted number is for; each kind has its precision and its
// zero, ".0" and "%" conventions.
enum FormatKind : int32_t {
    KIND_FLOAT32 = 0,    // 32-bit float vector elements
    KIND_FLOAT = 1,      // float! and 64-bit float vector elements
    KIND_PERCENT32 = 2,  // 32-bit percent vector elements (value x 100)
    KIND_PERCENT = 3,    // percent! and 64-bit percent vector elements (value x 100)
    KIND_SECONDS = 4,    // the seconds of a time!
    KIND_POINT = 5,      // point2D! and point3D! components
};
constexpr size_t FORMAT_MAX = 48;

// The form text of v for kind into out (at least FORMAT_MAX bytes),
// zero-terminated; answers its length.
size_t format_number(double v, int32_t kind, char* out);

// x (op) y. The bitwise codes raise script cannot-use naming the running
// call.
double scalar_op(double x, double y, MathOp op);
// The two-operand math on the cells at the argument base; the result goes
// into the first. The left one is an integer!, float!, percent! or time!.
void do_math(MathOp op);

// float!, percent! and time!: the types that share float!'s arithmetic,
// comparison and rounding.
inline bool is_float_like(uint32_t t) { return t == TYPE_FLOAT || t == TYPE_PERCENT || t == TYPE_TIME; }

// Equal within 2.220446049250313e-16 or ten units in the last place; NaN
// equals nothing. The 32-bit form serves point comparison.
bool almost_equal(double a, double b);
bool almost_equal32(float a, float b);

// Makes c a float! (flags of an existing cell kept).
inline double get(const Cell* c) { return cell::get_double(c); }
Cell* make_at(Cell* c, double d);

// Slots shared with percent! and time!.
Cell* make(Cell* proto, Cell* spec, uint32_t type);
int32_t compare(const Cell* a, const Cell* b, CompareOp op);
Cell* round(Cell* value, const datatype::RoundOptions& options);

// Arithmetic and conversions that other datatypes do for float!. Each is
// installed by its type's code; until then the operation raises internal
// not-done.
struct Neighbours {
    void (*tuple_math)(MathOp op) = nullptr;    // number (op) tuple! at the argument base
    void (*money_math)(MathOp op) = nullptr;    // number (op) money! at the argument base
    void (*vector_math)(MathOp op) = nullptr;  // vector! (op) number, the vector second
    double (*money_to_double)(const Cell* money) = nullptr;
    // Compares a (a float-like value) with the money! b by op.
    int32_t (*money_compare)(double a, const Cell* b, CompareOp op) = nullptr;
};
extern Neighbours neighbours;

}  // namespace qel::float_type
