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

// Argument kinds, in bits 20-21 of an argument list's typeset cells.
constexpr uint32_t KIND_SHIFT = 20;
constexpr uint32_t KIND_MASK = 3u << KIND_SHIFT;
enum ArgKind : uint32_t { EVALUATED = 0, GET = 1, LITERAL = 2 };
inline uint32_t arg_kind(const Cell& ts) { return (ts.header & KIND_MASK) >> KIND_SHIFT; }

// The record of a function value, whose cell 1 holds its argument list:
// the body record of a function! or routine!, the info record of a
// native! or action! (word 3 in both layouts).
inline node_t record_of(const Cell& fn) { return function_body(fn); }

// The argument-list cell of a record: a block! of the list, its word 3
// the count of leading arguments that are evaluated and take every type.
inline uint32_t arg_list_plain(const Cell& list_cell) { return list_cell.data3; }

// Builds the argument list of a spec block: one typeset per argument
// word (also those of refinements), each refinement! itself (its word 3
// the ordinal for natives and actions), then an integer!: the local count
// of a function, the refinement count of a native. Answers the block's
// node. Made when the function value is made, so that a later change of a
// shared spec block cannot make the list disagree with the context.
node_t build_arg_list(const Cell* spec, bool native);

// On the argument-list cell of a native's or action's record: its spec
// does not fit the argument list of the entry it names (make native! takes
// any spec), so a call raises bad-func-def instead of running an entry
// that reads its arguments as its own spec lays them out.
constexpr uint32_t UNFIT_ENTRY = 0x00800000;

// Whether a native's or action's argument list lays its arguments out as
// the entry's own does: the same entries in the same order, each argument
// taking no type that the entry's own does not take, the same refinement
// count.
bool list_fits(node_t given, node_t own);

// The cell that holds an argument list in a function's record. Its word 3
// counts the leading arguments that are evaluated and take every type
// (unset aside, which only an any-type! argument takes): a call fetches
// those without the kind dispatch and tests each result only for unset,
// since nothing else can fail their type check. Worked out once here, when
// the function value is made, rather than on every call.
Cell arg_list_cell(node_t list);

// Calls the function value with its arguments taken from block at
// position, refinements from path (elements from path_from on, or none
// when path is null). With infix the left operand is the cell on the top
// of the stack. The result is left in the cell where the call started
// (the left operand's for infix), the top just above it. Answers the
// position after the arguments.
uint32_t eval_call(const Cell* fn, const Cell* block, uint32_t position, const Cell* name, const Cell* path,
                   uint32_t path_from, bool infix);

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

// Pushes the cells of a function's frame for the entries of its argument
// list from entry `from` on, none of them used: false for a refinement,
// none for each of its arguments, then the locals. Inline, as the
// argument count below: they run on every call of a function. Neither
// walk allocates, so the list's cells are read once.
inline void push_unused_entries(node_t list, uint32_t from) {
    const Cell* entries = series::cells_of(list);
    const uint32_t count = series::cell_count(list);
    for (uint32_t i = from; i < count; i++) {
        const uint32_t t = cell::type_of(&entries[i]);
        if (t == TYPE_REFINEMENT) stack::push(&shared::false_value);
        else if (t == TYPE_TYPESET) stack::push(&shared::none);
        else if (t == TYPE_INTEGER) push_locals(arg_entry_count(entries[i]));
    }
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
