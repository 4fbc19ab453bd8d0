// Ownership of series by objects.
//
// An object can own the series held in its fields: the owner table maps
// each owned series (by node) to the owner object and the field that holds
// it, so that every modifying action can report the change to the owner's
// deep-change handler. Owned buffers carry the OWNED series flag; an owned
// image! carries a cell flag instead, and an object that owns series
// carries CONTEXT_OWNS on its context! cell. The owner table is a
// collector root (owner::table).
#pragma once
#include <cstdint>

#include "runtime/block_code.hpp"
#include "runtime/cell.hpp"
#include "runtime/hashtab.hpp"
#include "runtime/series.hpp"

namespace qel::owner {

constexpr uint32_t CONTEXT_OWNS = 0x00010000;  // on a context! cell
constexpr uint32_t TABLE_SIZE_HINT = 1000;

// The owner table's hash record (OWNERS, three value cells per entry:
// unused, owner object!, field word). A collector root; its entries hold
// their owner weakly.
extern node_t table;
constexpr int ENTRY_CELLS = 3;

// The owner object! and the field word of an entry, given its first value
// cell.
inline Cell* entry_owner(Cell* values) { return values + 1; }
inline Cell* entry_field(Cell* values) { return values + 2; }

// Called for a change of an owned series whose owner has change handlers:
// the owner object, the field word, the changed value, the action word,
// the new value, the index and the part count. Objects install it. The
// owner and field cells are copies on the machine stack: the handler must
// move them to the argument stack before it runs user code.
using DeepChangeFn = void (*)(const Cell* owner, const Cell* field, const Cell* target, const Cell* action,
                              const Cell* value, int32_t index, int32_t part);
extern DeepChangeFn deep_change_dispatch;

void init();

// Records owner and field for the value and every series nested in it,
// then marks the owner's context as owning. The cells are read before
// anything is allocated, so they may lie in movable buffers.
void attach(const Cell* owner_object, const Cell* field_word, Cell* value);
// Drops the entries of the value and its nested series.
void remove_deep(Cell* value);
// The owner object! cell of the value's entry, the field word right after
// it; null when the value has no owner. Valid until the next allocation.
Cell* find(const Cell* value);
// Whether any series or object is owned: most programs own nothing.
inline bool owns_anything() { return hashtab::count(table) != 0; }

// Whether the value may have an entry in the owner table. The buffer of a
// listed series carries OWNED (the flag may outlive an entry the collector
// dropped, never the other way round); an image! and the other types are
// looked up.
inline bool may_be_owned(const Cell* v) {
    const uint32_t t = cell::type_of(v);
    if (is_block_like(t) || is_any_string(t) || t == TYPE_BINARY || t == TYPE_VECTOR || t == TYPE_BITSET)
        return (series::buffer_of(series_node(v))->flags & series_flag::OWNED) != 0;
    return true;
}

// check_change when something is owned: finds the value's owner and calls
// its handler.
bool report_owned_change(const Cell* value, const Cell* action_word, const Cell* new_value, int32_t index,
                         int32_t part);

// Reports a change made to value; answers whether a handler was called.
// The series actions report each change here, and a block's compiled code
// is dropped on the way. Inline for the common case of a value nobody
// owns, which nearly every append and insert meets.
inline bool check_change(const Cell* value, const Cell* action_word, const Cell* new_value, int32_t index,
                         int32_t part) {
    const bool owned =
        owns_anything() && may_be_owned(value) && report_owned_change(value, action_word, new_value, index, part);
    // After the handler, which may have run the block: the cells change
    // next (or just did), so code made for them is stale.
    if (is_block_like(cell::type_of(value))) block_code::changed(series_node(value));
    return owned;
}

}  // namespace qel::owner
