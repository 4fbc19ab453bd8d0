// Ownership tracking.
//
// Attaching and removing walk a value the way mold does: into the cells of
// block-like series and into the values of objects, with the cycle stack
// guarding against structures that hold themselves. Every walk may
// allocate (a new owner entry can grow the table), so a cell is read once,
// on entry, and each element is re-read through its series' node.
#include "runtime/owner.hpp"

#include "runtime/context.hpp"
#include "runtime/cycles.hpp"

namespace qel::owner {

node_t table = 0;
DeepChangeFn deep_change_dispatch = nullptr;

namespace {

// Series owned without descending into them.
bool is_flat_series(uint32_t type) {
    return is_any_string(type) || type == TYPE_BINARY || type == TYPE_VECTOR || type == TYPE_BITSET ||
           type == TYPE_IMAGE;
}

bool is_object(uint32_t type) { return type == TYPE_OBJECT; }

// The key of a value in the owner table, 0 for values that cannot be
// owned. Only types whose word 2 is a node answer it: for the others word
// 2 is a number that could equal some owned node.
node_t key_of(const Cell* v) {
    const uint32_t t = cell::type_of(v);
    if (is_object(t)) return object_context(v);
    if (is_block_like(t) || is_flat_series(t) || t == TYPE_MAP) return series_node(v);
    return 0;
}

// The value series of an object's context, or 0 when its values are not a
// series of their own.
node_t values_of(node_t context) {
    const Cell* c = context::cell_of(context);
    return context::has_stack_values(c) ? 0 : context_values(c);
}

Cell* cell_at(node_t n, uint32_t i) { return series::head_cell(series::buffer_of(n)) + i; }

using series::cell_count;

void set_owned(node_t n, bool on) {
    SeriesBuffer* s = series::buffer_of(n);
    s->flags = on ? s->flags | series_flag::OWNED : s->flags & ~series_flag::OWNED;
}

void attach_cell(const Cell& owner, const Cell& field, Cell* where);

void attach_cells(const Cell& owner, const Cell& field, node_t n, uint32_t from) {
    for (uint32_t i = from; i < cell_count(n); i++) attach_cell(owner, field, cell_at(n, i));
}

// where is read and flagged before anything is allocated and never touched
// after, so it may point into any buffer.
void attach_cell(const Cell& owner, const Cell& field, Cell* where) {
    const Cell v = *where;
    const uint32_t t = cell::type_of(&v);
    if (t == TYPE_IMAGE) where->header |= cell_flag::IMAGE_OWNED;
    if (is_block_like(t) || is_flat_series(t)) {
        if (t != TYPE_IMAGE) set_owned(series_node(v), true);
        Cell* e = hashtab::put_key(table, series_node(v));
        *entry_owner(e) = owner;
        *entry_field(e) = field;
        // Blocks are walked under the cycle stack as objects are: a block
        // that holds itself would otherwise be walked for ever.
        if (is_block_like(t) && !cycles::find(series_node(v))) {
            cycles::Entry guard(series_node(v));
            attach_cells(owner, field, series_node(v), series_index(v));
        }
    } else if (is_object(t)) {
        // An object that owns its own series keeps them.
        if (cycles::find(object_context(v)) || (context::cell_of(object_context(v))->header & CONTEXT_OWNS)) return;
        const node_t values = values_of(object_context(v));
        if (!values) return;
        cycles::Entry guard(object_context(v));
        attach_cells(owner, field, values, 0);
    }
}

void remove_cell(Cell* where);

void remove_cells(node_t n, uint32_t from) {
    for (uint32_t i = from; i < cell_count(n); i++) remove_cell(cell_at(n, i));
}

void remove_cell(Cell* where) {
    const Cell v = *where;
    const uint32_t t = cell::type_of(&v);
    if (t == TYPE_IMAGE) where->header &= ~cell_flag::IMAGE_OWNED;
    if (is_block_like(t) || is_flat_series(t)) {
        if (t != TYPE_IMAGE) set_owned(series_node(v), false);
        if (Cell* e = hashtab::get_key(table, series_node(v))) {
            for (int k = 0; k < ENTRY_CELLS; k++) e[k] = Cell{TYPE_UNSET, 0, 0, 0};
            hashtab::remove_key(table, series_node(v));
        }
        if (is_block_like(t) && !cycles::find(series_node(v))) {
            cycles::Entry guard(series_node(v));
            remove_cells(series_node(v), series_index(v));
        }
    } else if (is_object(t)) {
        if (cycles::find(object_context(v)) || (context::cell_of(object_context(v))->header & CONTEXT_OWNS)) return;
        const node_t values = values_of(object_context(v));
        if (!values) return;
        cycles::Entry guard(object_context(v));
        remove_cells(values, 0);
    }
}

}  // namespace

void init() { table = hashtab::make(TABLE_SIZE_HINT, nullptr, hashtab::Kind::OWNERS, ENTRY_CELLS); }

void attach(const Cell* owner_object, const Cell* field_word, Cell* value) {
    const Cell owner = *owner_object;
    const Cell field = *field_word;
    attach_cell(owner, field, value);
    context::cell_of(object_context(owner))->header |= CONTEXT_OWNS;
}

void remove_deep(Cell* value) { remove_cell(value); }

Cell* find(const Cell* value) {
    // Every modifying action asks; most programs own nothing, and then
    // there is no key to hash.
    if (!owns_anything()) return nullptr;
    const node_t key = key_of(value);
    if (!key) return nullptr;
    Cell* e = hashtab::get_key(table, key);
    return e ? entry_owner(e) : nullptr;
}

bool report_owned_change(const Cell* value, const Cell* action_word, const Cell* new_value, int32_t index,
                         int32_t part) {
    const Cell* e = find(value);
    if (!e) return false;
    // Copies: the handler runs user code, which may move the table.
    const Cell owner = e[0];
    const Cell field = e[1];
    if (object_on_set(owner) == 0) return false;  // no change handlers
    if (deep_change_dispatch)
        deep_change_dispatch(&owner, &field, value, action_word, new_value, index, part);
    return true;
}

}  // namespace qel::owner
