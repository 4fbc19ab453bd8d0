// Fast paths and call glue for C++ routines and compiled code: integer
// arithmetic and comparison straight on the cells, block picks and series
// steps, the refinement glue of calls whose refinements are known only at
// run time, the search of a block of cases and the range check of a float
// turned into an integer.
//
// Integers, floats (for + - *) and blocks are computed in place: no frame,
// no allocation beyond the result cell on the argument stack. Every other
// type goes through the generic action inside a native frame named by the
// given word, so it behaves exactly as the action word would.
#pragma once
#include <cstdint>

#include "runtime/cell.hpp"

namespace qel::fast {

// Math codes: 0 add, 1 subtract, 2 multiply, 5 or, 6 and, 7 xor.
// Comparison codes: 0 equal, 1 not-equal, 2 strict-equal, 3 lesser,
// 4 lesser-or-equal, 5 greater, 6 greater-or-equal.
// Series step codes: 1 length?, 2 index?, 3 head?, 4 tail?, 5 next,
// 6 back, 7 head, 8 tail.
// Any other code ends the process with runtime error 101.
enum Math : uint32_t { ADD = 0, SUBTRACT = 1, MULTIPLY = 2, OR = 5, AND = 6, XOR = 7 };
enum Step : uint32_t { LENGTH_Q = 1, INDEX_Q, HEAD_Q, TAIL_Q, NEXT, BACK, HEAD, TAIL };

// Integer math whose overflow gives the float of the exact operation
// (2147483647 + 1 is 2147483648.0). name names the generic path's frame.
Cell* int_math(uint32_t code, const Cell* name, const Cell* a, const Cell* b);           // pushed
Cell* int_math_b(uint32_t code, const Cell* name, const Cell* a, int32_t b);             // pushed
Cell* int_math_stack(uint32_t code, const Cell* name, const Cell* b);                    // top op b, in place
Cell* int_math_stack_b(uint32_t code, const Cell* name, int32_t b);                      // in place

// Comparisons: the pushed or stored result is a logic!.
Cell* int_compare(uint32_t code, const Cell* name, const Cell* a, const Cell* b);        // pushed
Cell* int_compare_b(uint32_t code, const Cell* name, const Cell* a, int32_t b);          // pushed
// Answer only: true when the comparison differs from expected.
bool int_compare_c(uint32_t code, const Cell* name, const Cell* a, const Cell* b, bool expected);
bool int_compare_d(uint32_t code, const Cell* name, const Cell* a, int32_t b, bool expected);
// Answered and stored into the argument base.
bool int_compare_e(uint32_t code, const Cell* name, const Cell* a, const Cell* b);
bool int_compare_f(uint32_t code, const Cell* name, const Cell* a, int32_t b);
Cell* int_compare_stack(uint32_t code, const Cell* name, const Cell* b);                 // top op b, in place
Cell* int_compare_stack_b(uint32_t code, const Cell* name, int32_t b);

// The comparison natives' body: the argument base compared with the next
// argument, the logic! stored into the argument base.
void to_logic(uint32_t code);

// value/index: for a block the value at index (1-based from its index,
// none outside); otherwise the value's eval-path slot. Pushed.
Cell* eval_path_compiled(const Cell* value, int32_t index, const Cell* name);
// A series step; for a block computed in place, else the action. Pushed.
Cell* series_step_compiled(const Cell* value, uint32_t code, const Cell* name);

// ---- call glue ----------------------------------------------------------------

// A function! call whose refinement at position (from the argument base)
// is decided by a value at run time: true sets its logic! cell, false
// leaves it and sets its count argument cells to none.
void fill_refinement_args(const Cell* condition, uint32_t position, uint32_t count);

// One refinement of call_with_refinements.
struct RefinementUse {
    const Cell* condition;  // truthy: used
    uint32_t ordinal;       // 1-based, in spec order
    uint32_t position;      // of its first argument from the argument base
    uint32_t count;         // its arguments
};
// Calls native index (1-based, native table) or action index (1-based
// slot) with the arguments from the argument base; refinements whose
// condition is false get their argument cells set to none and stay -1.
// Natives get the check flag set: the types were not checked.
void call_with_refinements(uint32_t index, bool native, const RefinementUse* uses, uint32_t n);

// switch/select over cases (the argument base + 1) for the argument base:
// the first value of the same type that is equal. Without switch_mode the
// candidates stand at every second position (all when push_result) and
// the answer is the value after the match (the match itself when last);
// with switch_mode every position is a candidate and the answer is the
// first block! after the match. No match, or a block! value, gives none.
// The answer is pushed (push_result) or becomes the result.
void select_case(bool push_result, bool switch_mode);

// A float must fit 32 bits to become an integer: outside
// -2147483648.0 .. 2147483647.0, or NaN, raises script out-of-range with
// the value. Answers the truncated value (a non-float's payload word 2).
int32_t check_integer_range(const Cell* value);

}  // namespace qel::fast
