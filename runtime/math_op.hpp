// The operator codes of the two-operand math actions, and of the set
// operations that follow them. Every numeric type's dispatcher
// (integer::do_math, float_type::do_math and the composite types' math)
// takes a math code, and hands it on when the other operand's type does the
// work; the code travels with the operation instead of each action having
// its own entry point in every type.
#pragma once
#include <cstdint>

namespace qel {

enum class MathOp : int32_t {
    Add = 0,
    Subtract = 1,
    Multiply = 2,
    Divide = 3,
    Remainder = 4,
    Or = 5,   // or~
    And = 6,  // and~
    Xor = 7,  // xor~
};

constexpr int32_t to_code(MathOp op) { return static_cast<int32_t>(op); }

// One of the eight codes above (a code read from elsewhere may be none).
constexpr bool is_known(MathOp op) { return op >= MathOp::Add && op <= MathOp::Xor; }

// or~, and~, xor~: defined on integers and bits only.
constexpr bool is_bitwise(MathOp op) { return op >= MathOp::Or && op <= MathOp::Xor; }

// The action's word, for error reports.
constexpr const char* action_name(MathOp op) {
    constexpr const char* names[] = {"add", "subtract", "multiply", "divide", "remainder", "or~", "and~", "xor~"};
    return is_known(op) ? names[to_code(op)] : names[0];
}

// The set operations, numbered on from the math codes. On bitset! and
// typeset! values or~, and~ and xor~ are union, intersect and difference.
enum class SetOp : int32_t { Unique = 8, Union = 9, Intersect = 10, Exclude = 11, Difference = 12 };

}  // namespace qel
