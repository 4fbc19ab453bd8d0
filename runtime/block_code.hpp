// The compiled code of blocks, as far as the runtime knows it: a table of
// code objects, each kept for one block buffer, and what keeps them valid.
//
// A code object is made by the evaluator outside the collected heap; the
// runtime knows it only as an opaque pointer, freed through the function
// the evaluator installs. The buffer header's `code` word holds the index
// of its entry in the table (0 = none); the header moves with the buffer,
// so compaction keeps the link. Two things can make code stale:
//   - the block's cells: every mutator of an array series' cells calls
//     changed(), which clears the header's index. The entry left behind is
//     freed by the next collection, as is the entry of a block that died.
//     The stamp covers the block's own cells only: code that took in the
//     cells of a block inside it checks that block's stamp as well.
//   - what its words mean: `epoch` goes up whenever a word's value changes
//     to or from an any-function value (word_value_changes, at every store
//     into a word's value cell of a context that exists already), when
//     words are re-bound in place, and when the global context grows (a
//     word bound there without an index may find the new word). Code that
//     resolved a word to a call compares the epoch it was made under
//     before trusting that.
// Node ids are the table's keys, so renumbering drops every code.
//
// Under the collector's stress mode, attach takes a snapshot of the
// block's cells, and find and each collection compare it with the cells: a
// block whose cells differ while its index still says valid ends the
// process with a report naming the block and the cell (a mutator that does
// not call changed()).
#pragma once
#include <cstdint>

#include "runtime/series.hpp"

namespace qel::block_code {

struct Code;  // defined by the evaluator
using FreeFn = void(Code*);

// How a code object is freed (the evaluator's). The table frees a code
// when it is replaced by attach, when a collection finds its block dead or
// changed, and in drop_all; a code that is running at that moment is the
// free function's concern. It runs inside collections, so it must not
// touch the collected heap. Answers the function installed before.
FreeFn* set_free(FreeFn* fn);

// Marks a block buffer's code word may hold instead of an index: a
// function body walked once, or twice, for which no code object is made
// until it is compiled (functions made in a loop are often called once or
// twice). A change of the block's cells clears a mark like an index.
constexpr uint32_t WALKED_TWICE = 0xFFFFFFFE;
constexpr uint32_t WALKED_ONCE = 0xFFFFFFFF;
inline bool is_walk_mark(uint32_t code) { return code >= WALKED_TWICE; }

// The code kept for the block buffer of node n; null when there is none
// (or only a walk mark), or when the block's cells changed since it was
// attached.
Code* find(node_t n);

// Keeps code for the block buffer of node n, which takes ownership of it;
// code attached before is freed.
void attach(node_t n, Code* code);

// Moves whenever some code may have stopped being valid: a block that
// carried a code changed, a code left the table, a check of running code
// failed. Code that found a block valid under one generation trusts that
// while it lasts. Blocks that carry no code (data) change without moving it.
extern uint64_t generation;

// A block's cells changed (written, inserted, removed, moved or re-bound):
// its code is no longer valid.
inline void changed(SeriesBuffer* s) {
    if (s->code) {
        if (!is_walk_mark(s->code)) generation++;
        s->code = 0;
    }
}
inline void changed(node_t n) { changed(series::buffer_of(n)); }

// The binding epoch.
extern uint32_t epoch;
inline void bump_epoch() { epoch++; }
// A word's value cell takes a new value: the epoch moves when a function
// value comes or goes. One type test of each, so data stored over data
// costs nothing more.
inline void word_value_changes(const Cell* old_value, const Cell* new_value) {
    if (is_any_function(cell::type_of(old_value)) || is_any_function(cell::type_of(new_value))) [[unlikely]]
        bump_epoch();
}

// Frees every code object.
void drop_all();

// The collector's part, once its sweeps are done: frees the codes whose
// block died or changed (under stress, compares every other block with its
// snapshot first).
void sweep();

}  // namespace qel::block_code
