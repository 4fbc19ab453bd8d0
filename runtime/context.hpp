// Contexts: the namespaces in which words have values, and binding.
//
// A context is a cell series of two cells, named everywhere by its node:
// cell 0 the context! cell, cell 1 the self cell (unset!, or the object!
// that owns the context). The context! cell holds in word 1 the node of the
// word index (a WORDS hash record whose key series is a block of word!
// cells, one per field in field order, each bound to the context with its
// own index in word 3) and in word 2 the values: the node of a cell series
// holding value i at position i, or, for a stack-values context (flag
// CONTEXT_ON_STACK), a reference to the running call's argument cells that
// only the call machinery interprets (0 while no call runs).
//
// The global context has kind GLOBAL; a case variant of a name added
// case-sensitively there gets a key word of its own whose index is the one
// of the first spelling, so all spellings share one value.
//
// Functions answering Cell* point into movable buffers: valid until the
// next allocation. Cells passed in are copied before anything allocates.
#pragma once
#include <cstdint>

#include "runtime/cell.hpp"
#include "runtime/hashtab.hpp"
#include "runtime/series.hpp"

namespace qel::context {

constexpr uint32_t OBJECT_FLAG = 0x01000000;  // made for an object
constexpr uint32_t KIND_SHIFT = 11;
constexpr uint32_t KIND_MASK = 3u << KIND_SHIFT;
enum Kind : int { GLOBAL = 0, FUNCTION = 1, OBJECT = 2 };
constexpr uint32_t CHANGED = 0x2000;  // on an object field's key word
constexpr uint32_t INITIAL_GLOBAL_WORDS = 4000;

// The global context; a collector root.
extern node_t global;

// Whether a context! cell's values are a call's argument cells (its
// CONTEXT_ON_STACK flag) rather than a values series.
inline bool has_stack_values(const Cell* c) { return (c->header & cell_flag::CONTEXT_ON_STACK) != 0; }

// Where the argument cells of a running call are, given word 2 of a
// stack-values context! cell (not 0). Installed by the call machinery;
// while it is null such contexts have no values to reach.
extern Cell* (*call_values)(uint32_t word2);

// Start-up: the global context, room for 4,000 words. Needs the symbol
// table.
void init_global();

// A new context for count words (0 counts as 1). With a source context the
// new one starts with the source's key words (rebound to it) and as many
// unset! values.
node_t make(uint32_t count, bool stack_values, bool object, node_t source, int kind);
// A context of the words of a spec block (word!, get-word!, lit-word!,
// refinement!; a repeated word keeps its first place), added
// case-insensitively in block order; an ordinary context gets as many
// unset! values.
node_t make_from_spec(const Cell* spec, bool stack_values, bool object, int kind);
// A stack-values function context whose word index is that of another
// made from the same words: the index is only read once a function's
// context is made, so functions made from one spec may share it. The
// index's key words stay bound to the context they were made for. The
// index must be held by the caller.
node_t make_sharing_words(node_t index);

inline Cell* cell_of(node_t ctx) { return series::cells_of(ctx); }
inline Cell* self_of(node_t ctx) { return series::cells_of(ctx) + 1; }
inline int kind_of(node_t ctx) {
    return static_cast<int>((cell_of(ctx)->header & KIND_MASK) >> KIND_SHIFT);
}
// The accessors below are inline: every word read and every field of a
// path goes through them.
inline node_t words_node(node_t ctx) { return hashtab::record(context_words(cell_of(ctx)))->series; }
inline uint32_t word_count(node_t ctx) { return series::cell_count(words_node(ctx)); }
inline Cell* word_at(node_t ctx, uint32_t index) { return series::cells_of(words_node(ctx)) + index; }
// Value cell i of an ordinary context.
inline Cell* value_by_index(node_t ctx, uint32_t index) {
    return series::cells_of(context_values(cell_of(ctx))) + index;
}
// Value cell i of any context: the values series, or the running call's
// argument cells; nullptr when the context has no values now.
inline Cell* slot_at(node_t ctx, uint32_t index) {
    const Cell* c = cell_of(ctx);
    if (!has_stack_values(c)) [[likely]] {
        if (!context_values(c) || index >= series::cell_count(context_values(c))) return nullptr;
        return series::cells_of(context_values(c)) + index;
    }
    if (!context_values(c) || !call_values) return nullptr;
    Cell* args = call_values(context_values(c));
    return args ? args + index : nullptr;
}

// Lookup by symbol id; case-insensitive matches any spelling of the name.
inline int32_t find_symbol(node_t ctx, int32_t symbol, bool case_insensitive) {
    const node_t index = context_words(cell_of(ctx));
    const int32_t at = hashtab::find_key(index, symbol, case_insensitive);
    return at < 0 ? -1 : word_index(series::cells_of(hashtab::record(index)->series)[at]);
}
// Contexts of at most this many words are searched by a scan of their key
// words rather than through their hash index: for the few fields of a
// typical object that is the cheaper way.
constexpr uint32_t FIELD_SCAN_LIMIT = 8;
// The field of a context named by a symbol in any letter case: its index,
// or -1. Allocates nothing. The one look-up of a field by name, for the
// walker's paths and for compiled code alike. Only the global context
// holds two spellings of one name (sharing one index), and it is never
// small, so a scan that takes the exact spelling first answers what the
// index would.
inline int32_t find_field(node_t ctx, int32_t symbol) {
    const node_t index = context_words(cell_of(ctx));
    const node_t keys = hashtab::record(index)->series;
    const uint32_t n = series::cell_count(keys);
    if (n > FIELD_SCAN_LIMIT) return find_symbol(ctx, symbol, true);
    const Cell* words = series::cells_of(keys);
    for (uint32_t i = 0; i < n; i++)
        if (word_symbol(words[i]) == symbol) return word_index(words[i]);
    const int32_t canonical = symbol::canonical(symbol);
    for (uint32_t i = 0; i < n; i++)
        if (symbol::canonical(word_symbol(words[i])) == canonical) return word_index(words[i]);
    return -1;
}
// The index when found; otherwise a key word is appended (no value cell),
// -1 is answered and the new index goes to *out_index.
int32_t find_or_add(node_t ctx, int32_t symbol, bool case_insensitive, int32_t* out_index);
// Case-insensitive find or add of a word's symbol; a new word of an
// ordinary context gets an unset! value. Answers the index.
int32_t add_symbol(node_t ctx, const Cell* word);
// Case-insensitive find or add, then the value copied into the slot.
Cell* set_by_symbol(node_t ctx, const Cell* word, const Cell* value);
// The global key word of a symbol, added (with an unset! value) when
// absent. When found case-insensitively through another spelling and copy
// is set, a copy carrying the asked spelling and the shared index is
// appended to the root block and answered instead.
Cell* add_to_global(int32_t symbol, bool case_insensitive, bool copy);
// The context's own key word for the symbol, else the global word.
Cell* word_for_symbol(node_t ctx, int32_t symbol);
// The value cell of a symbol that is a word of the context (any case); a
// stack-values context stands for the global one.
Cell* get_by_symbol(int32_t symbol, node_t ctx);
// Adds every set-word! of the block from its index; answers whether any
// word was new. The block cell must not lie in a movable buffer.
bool collect_set_words(node_t ctx, Cell* block);

// Binds a word to the context when its symbol is there (any case):
// answers the index, or -1 leaving the word as it was. Allocates nothing.
int32_t bind_word(node_t ctx, Cell* word);
// Binds the words of a block from its index (word!, set-word!, lit-word!,
// get-word!, refinement!; issue! stays unbound); deep also walks nested
// blocks, parens, hashes and paths, each series once however it is
// reached. With self, a word! `self` binds to the context with index -1,
// which reads as the self cell. Allocates nothing.
void bind(const Cell* block, node_t ctx, bool deep, bool self);

}  // namespace qel::context
