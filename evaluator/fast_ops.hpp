// The operators whose integer case the evaluator computes itself, without
// the call machinery: both operands integers is what loops and counters
// do. The walker and compiled block code share the codes and the step.
#pragma once
#include <cstdint>

#include "datatypes/integer.hpp"
#include "runtime/cell.hpp"
#include "runtime/math_op.hpp"

namespace qel::fast_ops {

// The math codes of the arithmetic, then the comparisons.
enum FastOp : int32_t {
    NOT_FAST = -1, OP_ADD = to_code(MathOp::Add), OP_SUBTRACT = to_code(MathOp::Subtract),
    OP_MULTIPLY = to_code(MathOp::Multiply), OP_REMAINDER = to_code(MathOp::Remainder), OP_EQUAL = 100,
    OP_NOT_EQUAL, OP_STRICT_EQUAL, OP_LESSER, OP_LESSER_OR_EQUAL, OP_GREATER, OP_GREATER_OR_EQUAL
};

// The fast code of an op! value, NOT_FAST when it has none.
int32_t fast_op_of(const Cell& op);

// The operation on two integers, its result in start (the left operand's
// cell).
inline void fast_result(int32_t code, int32_t x, int32_t y, Cell* start) {
    switch (code) {
        case OP_EQUAL: case OP_STRICT_EQUAL: *start = x == y ? shared::true_value : shared::false_value; break;
        case OP_NOT_EQUAL: *start = x != y ? shared::true_value : shared::false_value; break;
        case OP_LESSER: *start = x < y ? shared::true_value : shared::false_value; break;
        case OP_LESSER_OR_EQUAL: *start = x <= y ? shared::true_value : shared::false_value; break;
        case OP_GREATER: *start = x > y ? shared::true_value : shared::false_value; break;
        case OP_GREATER_OR_EQUAL: *start = x >= y ? shared::true_value : shared::false_value; break;
        default: integer::arith(x, y, static_cast<MathOp>(code), start); break;  // the math codes
    }
}

// Whether the operation on two integers raises an error: only a remainder
// by zero or of the smallest integer by -1; the others overflow into floats.
inline bool fast_raises(int32_t code, int32_t x, int32_t y) {
    return code == OP_REMAINDER && (y == 0 || (y == -1 && x == INT32_MIN));
}

}  // namespace qel::fast_ops
