// Word look-up for the evaluator: the value cell a bound word reaches, and
// a set-word's assignment. The walker and compiled block code share them,
// so that both reach a word's cell the same way.
//
// Global words go through a cache of the global values' cells, good while
// no buffer has moved and the global context is the same; a function's
// words read the running call's argument cells; every other bound word
// takes two node reads. Answers point into movable buffers or the argument
// stack: valid until the next allocation.
#pragma once
#include <cstdint>

#include "runtime/block_code.hpp"
#include "runtime/cell.hpp"
#include "runtime/context.hpp"
#include "runtime/memory.hpp"
#include "runtime/series.hpp"
#include "runtime/stack.hpp"
#include "runtime/words.hpp"

namespace qel::lookup {

struct GlobalValues {
    node_t ctx = 0;
    uint32_t generation = ~0u;
    Cell* cells = nullptr;
    uint32_t count = 0;
};
extern GlobalValues global_values;

// Makes the cache again and answers the cell of the global word at index
// (null past the global values).
const Cell* global_slot_refresh(uint32_t index);

// The value cell of a bound word not yet resolved to an index (word 3 is
// -1): looked up by its symbol, in any spelling; null when the context has
// no such word or no values now.
const Cell* peek_unresolved(const Cell* w);

// The value cell of the global word at index, through the cache; null past
// the global values.
inline const Cell* global_slot(uint32_t index) {
    const GlobalValues& g = global_values;
    if (g.ctx != context::global || g.generation != memory::generation || index >= g.count) [[unlikely]]
        return global_slot_refresh(index);
    return g.cells + index;
}

// The value of a word, without raising (null when it has none now): for
// the infix look-ahead, which must not fail on a word that is merely not an
// operator, and for every word the walker meets. Inline: every word of the
// walk comes here.
[[gnu::always_inline]] inline const Cell* peek(const Cell* w) {
    const node_t ctx = word_context(w);
    if (!ctx) return nullptr;
    const int32_t index = word_index(w);
    if (index < 0) [[unlikely]] return peek_unresolved(w);
    if (ctx == context::global) return global_slot(static_cast<uint32_t>(index));
    const Cell* c = context::cell_of(ctx);
    if (context::has_stack_values(c)) {
        const uint32_t base = context_values(c);
        if (!base || !context::call_values) return nullptr;
        return stack::arg_bottom + (base - 1) + index;
    }
    const node_t values = context_values(c);
    if (!values || static_cast<uint32_t>(index) >= series::cell_count(values)) return nullptr;
    return series::cells_of(values) + index;
}

// A value a word may deliver as it stands: no function to call, no
// operator, not unset.
constexpr uint64_t NOT_PLAIN = (1ull << TYPE_UNSET) | (1ull << TYPE_NATIVE) | (1ull << TYPE_ACTION) |
                               (1ull << TYPE_OP) | (1ull << TYPE_FUNCTION) | (1ull << TYPE_ROUTINE);
static_assert(TYPE_ROUTINE < 64 && TYPE_FUNCTION < 64);
[[gnu::always_inline]] inline bool plain_type(uint32_t t) { return t >= 64 || !((NOT_PLAIN >> t) & 1); }
[[gnu::always_inline]] inline bool plain(const Cell* v) { return v && plain_type(cell::type_of(v)); }

// A set-word's assignment: straight into the slot for a resolved word of
// a context that is not an object's (objects mark changed fields and may
// notify a handler, which word::set does).
inline void set_word(Cell* w, const Cell* value) {
    if (word_context(w) && word_index(w) >= 0 && context::kind_of(word_context(w)) != context::OBJECT) {
        if (Cell* slot = const_cast<Cell*>(peek(w))) {
            block_code::word_value_changes(slot, value);
            *slot = *value;
            return;
        }
    }
    word::set(w, value);
}

}  // namespace qel::lookup
