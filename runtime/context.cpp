// Contexts: making and copying them, finding and adding words, binding.
//
// Word lookups go through the context's word index (a WORDS hash record)
// and allocate nothing; only adding a word (a key word, and for ordinary
// contexts its value cell) allocates. A context being made is referred to
// by nothing until it is returned, so it is held meanwhile.
#include "runtime/context.hpp"

#include "runtime/block_code.hpp"
#include "runtime/cycles.hpp"
#include "runtime/hashtab.hpp"
#include "runtime/memory.hpp"
#include "runtime/symbols.hpp"
#include "runtime/system.hpp"

namespace qel::context {

node_t global = 0;
Cell* (*call_values)(uint32_t word2) = nullptr;

namespace {

SeriesBuffer* buf(node_t n) { return series::buffer_of(n); }
using series::cells_of;
using series::cell_count;

constexpr Cell UNSET{TYPE_UNSET, 0, 0, 0};

node_t index_of(node_t ctx) { return context_words(cell_of(ctx)); }

// Appends one unset! value for a word just added, keeping value i at
// position i.
Cell* append_value(node_t ctx) {
    // Once made, only the global context grows: a word bound there without
    // an index may find the new one.
    if (ctx == global) block_code::bump_epoch();
    Cell* v = series::reserve_cell(buf(context_values(cell_of(ctx))));
    *v = UNSET;
    return v;
}

// A copy kept in the root block, whose cells never move.
Cell* keep_in_root(const Cell& c) {
    Cell* slot = series::reserve_cell(&root_cell);
    *slot = c;
    return slot;
}

// Contexts of at most this many words are bound through a scan of their
// words' canonical ids, taken once per bind: a function's or a small
// object's few words are found faster so than through the hash index, and
// most words of a body are not among them.
constexpr uint32_t BIND_SCAN_LIMIT = 16;

struct BindState {
    node_t ctx;
    bool deep;
    int32_t self_symbol;  // 0 when `self` is not special
    uint32_t scan = 0;    // words in canonical/index, 0 to use the hash index
    int32_t canonical[BIND_SCAN_LIMIT];
    int32_t index[BIND_SCAN_LIMIT];
};

// The index of a symbol's word in the bound context, or -1.
int32_t bind_index(const BindState& st, int32_t symbol) {
    if (!st.scan) return find_symbol(st.ctx, symbol, true);
    const int32_t c = symbol::canonical(symbol);
    for (uint32_t k = 0; k < st.scan; k++)
        if (st.canonical[k] == c) return st.index[k];
    return -1;
}

void bind_series(node_t series, uint32_t from, const BindState& st) {
    if (!series || cycles::find(series)) return;
    cycles::Entry entry(series);
    SeriesBuffer* s = buf(series);
    Cell* end = series::tail_cell(s);
    for (Cell* c = series::head_cell(s) + from; c < end; ++c) {
        const uint32_t t = cell::type_of(c);
        if (is_word_or_refinement(t)) {
            const node_t was_context = word_context(c);
            const int32_t was_index = word_index(c);
            if (st.self_symbol && t == TYPE_WORD && word_symbol(c) == st.self_symbol) {
                word_context(c) = st.ctx;
                word_index(c) = -1;
            } else if (const int32_t index = bind_index(st, word_symbol(c)); index >= 0) {
                word_context(c) = st.ctx;
                word_index(c) = index;
            }
            // Binding allocates nothing, so s still names the buffer.
            if (word_context(c) != was_context || word_index(c) != was_index) block_code::changed(s);
        } else if (st.deep && is_block_like(t)) {
            bind_series(series_node(c), series_index(c), st);
        }
    }
}

}  // namespace

// ---- making -------------------------------------------------------------------

void init_global() {
    global = 0;
    global = make(INITIAL_GLOBAL_WORDS, false, false, 0, GLOBAL);
}

node_t make(uint32_t count, bool stack_values, bool object, node_t source, int kind) {
    if (count == 0) count = 1;
    const Cell src = source ? *cell_of(source) : UNSET;
    const node_t ctx = memory::alloc_cells(2);
    SeriesBuffer* s = buf(ctx);
    s->tail = s->head + 2 * sizeof(Cell);
    const uint32_t header = TYPE_CONTEXT | ((static_cast<uint32_t>(kind) << KIND_SHIFT) & KIND_MASK) |
                            (object ? OBJECT_FLAG : 0) | (stack_values ? cell_flag::CONTEXT_ON_STACK : 0);
    cells_of(ctx)[0] = Cell{header, 0, 0, 0};
    cells_of(ctx)[1] = UNSET;
    hashtab::Hold hold(Cell{TYPE_OBJECT, ctx, 0, 0});
    if (!stack_values) {
        const node_t values = memory::alloc_unset_cells(count);
        context_values(cell_of(ctx)) = values;
    }
    const node_t index = source ? hashtab::make(count, &src, hashtab::Kind::WORDS, 1)
                                : hashtab::make(count, nullptr, hashtab::Kind::WORDS, 0);
    context_words(cell_of(ctx)) = index;
    if (source) {
        const node_t words = hashtab::record(index)->series;
        const uint32_t n = cell_count(words);
        Cell* w = cells_of(words);
        for (uint32_t i = 0; i < n; i++) word_context(w[i]) = ctx;
        if (!stack_values) {
            // One value per key word; the unset! cells are already there
            // when the count covers them.
            SeriesBuffer* v = buf(context_values(cell_of(ctx)));
            while ((v->tail - v->head) / sizeof(Cell) < n) {
                append_value(ctx);
                v = buf(context_values(cell_of(ctx)));
            }
        }
    }
    return ctx;
}

node_t make_sharing_words(node_t index) {
    const node_t ctx = memory::alloc_cells(2);
    SeriesBuffer* s = buf(ctx);
    s->tail = s->head + 2 * sizeof(Cell);
    const uint32_t header = TYPE_CONTEXT | ((static_cast<uint32_t>(FUNCTION) << KIND_SHIFT) & KIND_MASK) |
                            cell_flag::CONTEXT_ON_STACK;
    cells_of(ctx)[0] = Cell{header, 0, 0, 0};
    context_words(cell_of(ctx)) = index;
    cells_of(ctx)[1] = UNSET;
    return ctx;
}

node_t make_from_spec(const Cell* spec_in, bool stack_values, bool object, int kind) {
    const Cell spec = *spec_in;
    const uint32_t total = series_node(spec) ? cell_count(series_node(spec)) : 0;
    const uint32_t length = series_index(spec) < total ? total - series_index(spec) : 0;
    const node_t ctx = make(length, stack_values, object, 0, kind);
    hashtab::Hold hold(Cell{TYPE_OBJECT, ctx, 0, 0});
    for (uint32_t i = series_index(spec); i < total; i++) {
        // Re-read each time: adding a word may move the spec's buffer.
        const Cell c = cells_of(series_node(spec))[i];
        const uint32_t t = cell::type_of(&c);
        if (t == TYPE_WORD || t == TYPE_GET_WORD || t == TYPE_LIT_WORD || t == TYPE_REFINEMENT) {
            int32_t added;
            find_or_add(ctx, word_symbol(c), true, &added);
        }
    }
    if (!stack_values) {
        // The values were made unset! for the spec's length, which bounds
        // the words.
        SeriesBuffer* v = buf(context_values(cell_of(ctx)));
        v->tail = v->head + word_count(ctx) * sizeof(Cell);
    }
    return ctx;
}

// ---- words ------------------------------------------------------------------------

int32_t find_or_add(node_t ctx, int32_t symbol, bool case_insensitive, int32_t* out_index) {
    int32_t position = -1;
    const int32_t found = hashtab::find_word(index_of(ctx), symbol, case_insensitive, ctx, &position);
    if (found < 0 && out_index) *out_index = position;
    return found;
}

int32_t add_symbol(node_t ctx, const Cell* word) {
    int32_t added = -1;
    const int32_t found = find_or_add(ctx, word_symbol(word), true, &added);
    if (found >= 0) return found;
    if (!has_stack_values(cell_of(ctx))) append_value(ctx);
    return added;
}

Cell* set_by_symbol(node_t ctx, const Cell* word, const Cell* value) {
    const Cell v = *value;
    const int32_t index = add_symbol(ctx, word);
    Cell* slot = slot_at(ctx, static_cast<uint32_t>(index));
    if (slot) {
        block_code::word_value_changes(slot, &v);
        *slot = v;
    }
    return slot;
}

Cell* add_to_global(int32_t symbol, bool case_insensitive, bool copy) {
    const node_t index = index_of(global);
    int32_t position = -1;
    if (hashtab::find_word(index, symbol, case_insensitive, 0, &position) >= 0) {
        Cell* key = word_at(global, static_cast<uint32_t>(position));
        if (case_insensitive && copy && word_symbol(key) != symbol) {
            Cell spelled = *key;
            word_symbol(spelled) = symbol;
            return keep_in_root(spelled);
        }
        return key;
    }
    // A new spelling of a name already there shares the first spelling's
    // index (and so its value); it still gets a value cell, so that value
    // i stays at position i.
    const int32_t shared = case_insensitive ? -1 : hashtab::find_word(index, symbol, true, 0, nullptr);
    hashtab::find_word(index, symbol, false, global, &position);
    append_value(global);
    Cell* key = word_at(global, static_cast<uint32_t>(position));
    if (shared >= 0) word_index(key) = shared;
    return key;
}

Cell* word_for_symbol(node_t ctx, int32_t symbol) {
    int32_t position = -1;
    if (hashtab::find_word(index_of(ctx), symbol, false, 0, &position) >= 0)
        return word_at(ctx, static_cast<uint32_t>(position));
    return add_to_global(symbol, false, false);
}

Cell* get_by_symbol(int32_t symbol, node_t ctx) {
    if (has_stack_values(cell_of(ctx))) ctx = global;
    const int32_t index = find_symbol(ctx, symbol, true);
    return index < 0 ? nullptr : value_by_index(ctx, static_cast<uint32_t>(index));
}

bool collect_set_words(node_t ctx, Cell* block) {
    const uint32_t total = series_node(block) ? cell_count(series_node(block)) : 0;
    if (series_index(block) > total) series_index(block) = total;
    const Cell b = *block;
    bool added = false;
    for (uint32_t i = series_index(b); i < total; i++) {
        const Cell c = cells_of(series_node(b))[i];
        if (cell::type_of(&c) != TYPE_SET_WORD) continue;
        if (find_symbol(ctx, word_symbol(c), true) >= 0) continue;
        add_symbol(ctx, &c);
        added = true;
    }
    return added;
}

// ---- binding ------------------------------------------------------------------------

int32_t bind_word(node_t ctx, Cell* word) {
    const int32_t index = find_symbol(ctx, word_symbol(word), true);
    if (index >= 0) {
        word_context(word) = ctx;
        word_index(word) = index;
    }
    return index;
}

void bind(const Cell* block, node_t ctx, bool deep, bool self) {
    BindState st;
    st.ctx = ctx;
    st.deep = deep;
    st.self_symbol = self ? symbol::find("self", 4) : 0;
    const uint32_t words = word_count(ctx);
    if (ctx != global && words <= BIND_SCAN_LIMIT) {
        // Outside the global context each name has one spelling, so the
        // first canonical match is the one the index would find.
        for (uint32_t k = 0; k < words; k++) {
            const Cell* w = word_at(ctx, k);
            st.canonical[k] = symbol::canonical(word_symbol(w));
            st.index[k] = word_index(w);
        }
        st.scan = words;
    }
    bind_series(series_node(block), series_index(block), st);
}

}  // namespace qel::context
