// Calls of function values from the interpreter: the argument list of a
// function, argument fetching (evaluated, get and literal arguments, type
// checks, refinements named by a path in any order) and the calls of
// natives, actions and interpreted functions.
//
// A call costs one frame and one cell per argument: natives find their
// arguments from the argument base, a function's context reads its values
// straight from the same cells. Nothing is allocated on the way.
#pragma once
#include <cstdint>

#include "runtime/cell.hpp"
#include "runtime/series.hpp"

namespace qel::call {

// Argument kinds, in bits 20-21 of an argument list's typeset cells.
constexpr uint32_t KIND_SHIFT = 20;
constexpr uint32_t KIND_MASK = 3u << KIND_SHIFT;
enum ArgKind : uint32_t { EVALUATED = 0, GET = 1, LITERAL = 2 };

// Builds the argument list of a spec block: one typeset per argument
// word (also those of refinements), each refinement! itself (its word 3
// the ordinal for natives and actions), then an integer!: the local count
// of a function, the refinement count of a native. Answers the block's
// node. Made when the function value is made, so that a later change of a
// shared spec block cannot make the list disagree with the context.
node_t build_arg_list(const Cell* spec, bool native);

// Calls the function value with its arguments taken from block at
// position, refinements from path (elements from path_from on, or none
// when path is null). With infix the left operand is the cell on the top
// of the stack. The result is left in the cell where the call started
// (the left operand's for infix), the top just above it. Answers the
// position after the arguments.
uint32_t eval_call(const Cell* fn, const Cell* block, uint32_t position, const Cell* name, const Cell* path,
                   uint32_t path_from, bool infix);

// Runs an interpreted function whose argument cells (all of them, locals
// included) are in place from the argument base of a call frame pushed by
// the caller; the result goes into that base.
void call_function(const Cell* fn, const Cell* name);

// Calls a function value with the given arguments (C++ callers: do of a
// function, callbacks): pushed from the top, the result pushed.
void apply_values(const Cell* fn, const Cell* args, uint32_t count);

}  // namespace qel::call
