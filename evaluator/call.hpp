// Calls of function values from the interpreter and from apply: the
// argument list of a function, argument fetching (evaluated, get and
// literal arguments, type checks, refinements named by a path in any
// order or given by an apply block) and the calls of natives, actions,
// routines and interpreted functions.
//
// A call costs one frame and one cell per argument: natives find their
// arguments from the argument base, a function's context reads its values
// straight from the same cells. Nothing is allocated on the way.
#pragma once
#include <cstdint>

#include "runtime/cell.hpp"
#include "runtime/series.hpp"
#include "runtime/stack.hpp"

namespace qel::call {

// The function values that a word or path calls rather than delivers:
// every one but op!, which only ever takes its operands infix.
inline bool is_prefix_function(uint32_t t) { return is_any_function(t) && t != TYPE_OP; }

// Calls the function value with its arguments taken from block at
// position, refinements from path (elements from path_from on, or none
// when path is null). With infix the left operand is the cell on the top
// of the stack. The result is left in the cell where the call started
// (the left operand's for infix), the top just above it. Answers the
// position after the arguments.
uint32_t eval_call(const Cell* fn, const Cell* block, uint32_t position, const Cell* name, const Cell* path,
                   uint32_t path_from, bool infix);

// Completes a call that compiled block code began: the frame call_at
// would push is pushed and the first `fetched` arguments lie from its base,
// each checked; the rest are fetched from block at position, as the walker
// fetches them, and the call is made. fn is a function!, native! or
// action! whose arguments are all evaluated; no refinement is used.
// Answers the position after the arguments.
uint32_t resume_call(const Cell* fn, const Cell* block, uint32_t position, const Cell* name, uint32_t fetched);

// Where compiled code left a call of a function! through a path (whose
// first word named it, the rest its refinements): the main arguments in
// place from the frame's base, each checked (fetched of them; all of them
// once laid is set), the frame's cells after them laid out when laid is
// set, as unused, with the flags and arguments of the refinements taken
// so far in their cells. placed, when not -1, is the entry of a
// refinement argument on the top, checked; the rest of that refinement's
// arguments follow it in the block. elem is the index of the path element
// to be read next (the path itself from index 0).
struct PathResume {
    uint32_t elem;
    uint32_t fetched;
    bool laid;
    int32_t placed;
};

// Completes such a call as the walker would from there: the rest of its
// arguments from block at position, the path's refinements from elem on,
// then the call. Answers the position after the arguments.
uint32_t resume_path_call(const Cell* fn, const Cell* block, uint32_t position, const Cell* name, const Cell* path,
                          const PathResume& at);

// The type check of argument-list entry `entry` of fn on the value at the
// top of the stack: raises expect-arg when its type is not allowed.
void check_arg(const Cell* fn, const Cell* name, uint32_t entry);

// Completes an infix call of a native or action whose frame is pushed and
// whose two operands are in place from its argument base (the
// interpreter's integer fast path found a right operand it does not
// compute): the right operand's type check, the call, the frame's pop.
// Answers nothing; a pending exit is left as it is.
void finish_infix(const Cell* fn, const Cell* block, uint32_t position, const Cell* name);

// The locals of a function's frame: false for /local's own slot, then
// none for each local word.
inline void push_locals(uint32_t n) {
    if (n == 0) return;
    stack::push(&shared::false_value);
    for (uint32_t k = 1; k < n; k++) stack::push(&shared::none);
}

// Gives put the cells of a function's frame for the entries of its
// argument list from entry `from` on, none of them used: false for a
// refinement, none for each of its arguments, then the locals (as
// push_locals lays them out). put must not allocate: the list's cells are
// read once.
template <class Put>
inline void each_unused_cell(node_t list, uint32_t from, Put&& put) {
    const Cell* entries = series::cells_of(list);
    const uint32_t count = series::cell_count(list);
    for (uint32_t i = from; i < count; i++) {
        const uint32_t t = cell::type_of(&entries[i]);
        if (t == TYPE_REFINEMENT) put(shared::false_value);
        else if (t == TYPE_TYPESET) put(shared::none);
        else if (t == TYPE_INTEGER && arg_entry_count(entries[i])) {
            put(shared::false_value);
            for (uint32_t k = 1; k < arg_entry_count(entries[i]); k++) put(shared::none);
        }
    }
}

// Pushes those cells. Inline, as the argument count below: it runs on
// every call of a function.
inline void push_unused_entries(node_t list, uint32_t from) {
    each_unused_cell(list, from, [](const Cell& c) { stack::push(&c); });
}

// The arguments before the refinements: the leading typeset entries of an
// argument list.
inline uint32_t argument_count(node_t list) {
    const Cell* entries = series::cells_of(list);
    const uint32_t count = series::cell_count(list);
    uint32_t n = 0;
    while (n < count && cell::type_of(&entries[n]) == TYPE_TYPESET) n++;
    return n;
}

// Runs an interpreted function whose argument cells (all of them, locals
// included) are in place from the argument base of a call frame pushed by
// the caller; the result goes into that base.
void call_function(const Cell* fn, const Cell* name);

// Apply mode bits. APPLY alone: every value of the block in spec order,
// the main arguments evaluated, then for each refinement a logic! saying
// whether it is used, followed by its arguments (evaluated and dropped
// when it is not used). NAMED: the refinements start unused and the
// block continues after the main arguments with `/name expression
// arguments...` groups, the expression's truth saying whether the
// refinement is used. SAFER: an evaluated argument is the one value at its
// position alone (a function found there gets no arguments from the
// block), and the arguments of an unused refinement are skipped without
// evaluation. LITERAL_VALUES: the values are the arguments as they stand,
// nothing evaluated (C++ callers that hold the values already). A block
// with fewer values than the function takes leaves none in the missing
// ones, type checked like the others.
constexpr uint32_t APPLY = 1;
constexpr uint32_t NAMED = 2;
constexpr uint32_t SAFER = 4;
constexpr uint32_t LITERAL_VALUES = 8;

// Calls fn (any function value; an op! as what it was made from) with its
// arguments from the block args (from its index), in the given mode (0
// counts as APPLY). name, a word or null, names the call in error
// reports. With a path (whose first word named fn) the refinements after
// that word are used, as in a call written out: the block gives the
// arguments, then those of the path's refinements in path order (no
// logic! values for refinements as APPLY alone reads them; NAMED groups
// may follow). The result is pushed: answers its cell, the new top;
// nullptr when a break, continue, return or exit is pending out of the
// call (the stacks are already settled for its target: return at once).
// Errors: expect-arg for a refinement value that is not a logic! (APPLY)
// or an argument of a type the spec does not allow; bad-refine for a value
// that is not a refinement! where NAMED expects one; no-refine, dup-refine.
Cell* apply(const Cell* fn, const Cell* args, uint32_t mode, const Cell* name, const Cell* path = nullptr);

// Calls a function value with the given values as its arguments, taken as
// they stand (LITERAL_VALUES); the result pushed. Raises like apply.
void apply_values(const Cell* fn, const Cell* args, uint32_t count);

}  // namespace qel::call
