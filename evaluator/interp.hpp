// The interpreter: a direct walker over the cells of a block, expression by
// expression, with infix look-ahead, set-words, paths and calls.
//
// Positions are cell indexes into the block's buffer, never addresses: the
// buffer may move while an expression runs user code. Results go to the
// argument stack: with sub set the value is pushed as the next cell of the
// running stretch, otherwise it becomes the running call's result (copied
// into the argument base, top := base + 1).
//
// break, continue, return and exit travel as a pending exit (runtime/
// exits.hpp): after every expression the walker looks at exit_pending() and
// returns at once when it is set, up to the loop or function body that
// takes it. Errors and throw travel as C++ exceptions.
#pragma once
#include <cstdint>

#include "runtime/cell.hpp"

namespace qel::interp {

// The block being evaluated, its index at the running expression; error
// values read it for their near field.
extern Cell current_position;

void init();

// Evaluates the whole block from its index in a block frame named <body>.
// chain set: the result is copied into the caller's argument base; clear:
// it stays as the caller's next cell. An empty block gives unset. With
// safe_points (the top level of a script, whose block cell lies on the
// argument stack and whose caller keeps no node id), the collector may
// renumber nodes between expressions.
void eval_block(const Cell* block, bool chain, bool safe_points = false);

// One expression from the cell index position of the block (an absolute
// index into its buffer), in a frame of its own; answers the index after
// it. With sub set the value is left as the caller's next cell, otherwise
// it is copied into the caller's argument base.
uint32_t eval_next(const Cell* block, uint32_t position, bool sub);

// How eval_expression takes its expression.
struct EvalOptions {
    // No infix look-ahead after the value: the right operand of an
    // operator takes no operators of its own.
    bool no_infix = false;
    // The value is pushed as the next cell of the running stretch; clear,
    // it becomes the running call's result.
    bool sub = false;
};

// One expression from the cell index position of the block, the operators
// after it included (unless no_infix); answers the index after it. The
// caller looks at the pending exit after it.
uint32_t eval_expression(const Cell* block, uint32_t position, EvalOptions options);

// The infix look-ahead after a value that lies at start (the top just
// above it), from the cell index pos of the block: every operator that
// follows takes the value so far as its left operand, left to right.
// cells and tail are the block's, read just before. Answers the index
// after the last operator's right operand; the caller looks at the
// pending exit after it.
uint32_t check_infix(const Cell& blk, uint32_t pos, Cell* start, const Cell* cells, uint32_t tail);

// An expression whose first value runs no code: a cell that is its own
// value, or a word whose value is neither a function, an operator nor
// unset. It is evaluated as eval_expression would with sub set, operators
// after it included (unless no_infix), without the general walker step,
// and pos moves past it; the caller looks at the pending exit after it.
// Answers false, having done nothing, for every other expression. Only
// while no trace runs, since the walker reports pushes. cells and tail are
// the block's, read just before.
bool eval_plain(const Cell& blk, const Cell* cells, uint32_t tail, uint32_t& pos, bool no_infix);

}  // namespace qel::interp
