// Word cells: made from names and symbols; their values read and written
// through their contexts.
#include "runtime/words.hpp"

#include "runtime/block_code.hpp"
#include "runtime/context.hpp"
#include "runtime/errors.hpp"
#include "runtime/symbols.hpp"
#include "runtime/system.hpp"

namespace qel::word {

void (*on_object_set)(const Cell* object, const Cell* word, const Cell* old_value,
                      const Cell* new_value) = nullptr;

namespace {

bool in_root_block(const Cell* c) {
    if (!series_node(root_cell)) return false;
    SeriesBuffer* s = series::buffer_of(series_node(root_cell));
    return c >= series::head_cell(s) && c < series::tail_cell(s);
}

// Words made while start-up keeps them get a cell of the root block, whose
// address stays valid for the whole run.
Cell* kept(Cell* w) {
    if (!keep_words || in_root_block(w)) return w;
    const Cell copy = *w;
    Cell* slot = series::reserve_cell(&root_cell);
    *slot = copy;
    return slot;
}

bool is_object_type(uint32_t t) { return t == TYPE_OBJECT || t == TYPE_ERROR || t == TYPE_PORT; }

bool is_self(int32_t sym) {
    const int32_t self = symbol::find("self", 4);
    return self && sym == self;
}

}  // namespace

Cell* make_from_cstr(const char* name) {
    const int32_t sym = symbol::intern_cstr(name);
    return kept(context::add_to_global(sym, true, true));
}

Cell make_from_symbol(int32_t sym) {
    const Cell w{TYPE_WORD, 0, static_cast<uint32_t>(sym), 0};
    const int32_t index = context::add_symbol(context::global, &w);
    return Cell{TYPE_WORD, context::global, static_cast<uint32_t>(sym), static_cast<uint32_t>(index)};
}

Cell action_word(MathOp op) { return make_from_symbol(symbol::intern_cstr(action_name(op))); }

Cell* get(Cell* word) { return slot_in_context(word, word_context(word)); }

namespace {

[[noreturn, gnu::noinline]] void no_slot(node_t ctx) {
    err::raise(context::has_stack_values(context::cell_of(ctx)) ? NOT_IN_CONTEXT : NO_VALUE);
}

// A word bound without an index finds its slot now, so that it sees what
// other words of the same name wrote there. Kept out of line: the common
// read of a resolved word stays small.
[[gnu::noinline]] Cell* slot_by_symbol(Cell* word, node_t ctx) {
    const Cell w = *word;
    const int32_t sym = word_symbol(w);
    if (is_self(sym)) return context::self_of(ctx);
    int32_t index = context::find_symbol(ctx, sym, false);
    if (index < 0) index = context::find_symbol(ctx, sym, true);
    if (index < 0) err::raise(NO_VALUE);
    if (word_context(w) == ctx) word_index(word) = index;
    if (Cell* slot = context::slot_at(ctx, static_cast<uint32_t>(index))) return slot;
    no_slot(ctx);
}

}  // namespace

Cell* slot_in_context(Cell* word, node_t ctx) {
    if (!ctx) err::raise(NOT_DEFINED);
    const int32_t index = word_index(word);
    if (index < 0) [[unlikely]] return slot_by_symbol(word, ctx);
    if (Cell* slot = context::slot_at(ctx, static_cast<uint32_t>(index))) [[likely]] return slot;
    no_slot(ctx);
}

Cell* set(Cell* word, const Cell* value) { return set_in_context(word, value, word_context(word), true); }

Cell* set_in_context(Cell* word, const Cell* value, node_t ctx, bool notify) {
    const Cell v = *value;
    const Cell w = *word;
    if (!ctx) err::raise(NOT_DEFINED);
    int32_t index = word_index(w);
    if (index < 0) {
        index = context::find_symbol(ctx, word_symbol(w), false);
        if (index >= 0) {
            if (word_context(w) == ctx) word_index(word) = index;
        } else {
            // Adding may move the buffer the word lies in, so the word is
            // left unresolved; the next access finds the new slot.
            index = context::add_symbol(ctx, &w);
        }
    }
    Cell* slot = context::slot_at(ctx, static_cast<uint32_t>(index));
    if (!slot) err::raise(NOT_DEFINED);
    block_code::word_value_changes(slot, &v);
    if (context::has_stack_values(context::cell_of(ctx))) {
        *slot = v;
        return slot;
    }
    if (context::kind_of(ctx) == context::OBJECT) {
        context::word_at(ctx, static_cast<uint32_t>(index))->header |= context::CHANGED;
        const Cell self = *context::self_of(ctx);
        if (notify && on_object_set && is_object_type(cell::type_of(&self)) && object_on_set(self)) {
            const Cell old = *slot;
            *slot = v;
            on_object_set(&self, &w, &old, &v);
            // The handler ran user code: the values may have moved.
            return context::slot_at(ctx, static_cast<uint32_t>(index));
        }
    }
    *slot = v;
    return slot;
}

}  // namespace qel::word
