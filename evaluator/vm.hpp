// The dispatch loop of compiled block code (evaluator/compile.hpp).
//
// interp::eval_block hands a block here while no trace hook is installed:
// the second evaluation of a block compiles it (the first, when the block
// calls a loop), every later one runs its code; a script's top level,
// which runs once, is compiled expression by expression just before each
// runs. The code leaves the stacks, the frames that report names, the
// running position of interp::current_position and the pending exits as
// the walker would; the frames of block bodies and parens are left out,
// since nothing reads them. A function! called from compiled code whose
// body is compiled runs its body in the same loop, without a C++ call.
#pragma once

#include "runtime/cell.hpp"

namespace qel::vm {

// Whether blocks are compiled at all: clear in the build that only walks.
extern bool enabled;

// Evaluates the block as interp::eval_block does (chain, the result's
// place) from its code, compiling it when its time has come. Answers false,
// having done nothing, when the block is to be walked.
bool run_block(const Cell* block, bool chain);

// Evaluates the expression at pos of a script's top level (its frame
// pushed by the caller, the stack reset) from code made now, when every
// expression before it has run: the words it reads have their values. The
// value goes to the frame's base and pos past the expression. Answers
// false, having done nothing, when the expression is to be walked.
bool run_top(const Cell* block, uint32_t& pos);

// Start-up: installs the free function of code objects.
void init();

}  // namespace qel::vm
