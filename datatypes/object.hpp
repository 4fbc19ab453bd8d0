// object!: records with named fields. An object! cell holds its context
// node (word 1), its class id (word 2) and the node of its on-set info
// block (word 3, 0 when the object has no change handler).
//
// Class ids tell compiled code that two objects share one field layout: a
// copy, or a make that adds no field, keeps its prototype's id; anything
// else takes a new one from a counter starting above 1,000,000. error!
// values are objects of class 1.
//
// The on-set info block holds two pair! cells, one for on-change* and one
// for on-deep-change*: word 2 the handler field's position << 16 | the
// number of extra slots the handler's call needs after its arguments
// (position -1 when there is no such field), word 3 the node of the spec
// block that count was computed from, so a replaced handler is noticed.
//
// Everything here that runs user code (change handlers, make with a block)
// re-reads buffers through their nodes afterwards; object cells passed in
// are copied first. Cells answered point into movable buffers unless said
// otherwise.
#pragma once
#include <cstdint>

#include "runtime/cell.hpp"
#include "runtime/datatypes.hpp"
#include "runtime/series.hpp"

namespace qel::object {

constexpr int32_t FIRST_CLASS_ID = 1000000;
constexpr int32_t ERROR_CLASS_ID = 1;

inline bool is_object_type(uint32_t t) { return t == TYPE_OBJECT || t == TYPE_ERROR || t == TYPE_PORT; }

// The cells of the on-set info block (node info): k 0 for on-change*, 1
// for on-deep-change*; the handler field's position (-1 none), and the
// spec block the extra slot count was computed from.
inline Cell& handler_info(node_t info, uint32_t k) { return series::cells_of(info)[k]; }
inline int32_t handler_field(const Cell& c) { return static_cast<int32_t>(c.data2) >> 16; }
inline node_t handler_spec(const Cell& c) { return c.data3; }
inline void set_handler_info(Cell& c, int32_t field, uint32_t extra_slots, node_t spec) {
    c.data2 = (static_cast<uint32_t>(field) << 16) | (extra_slots & 0xFFFF);
    c.data3 = spec;
}

int32_t new_class_id();

// ---- what objects need of the evaluator ----
// The interpreter and the call machinery lie a layer above and install
// these at start-up: the evaluation of a whole block (interp::eval_block),
// and the run of an interpreted function whose argument cells are in place
// from the base of a call frame the caller pushed (call::call_function).
extern void (*eval_block)(const Cell* block, bool chain, bool safe_points);
extern void (*call_function)(const Cell* fn, const Cell* name);

// Evaluates a block (an object's body, its words bound to the object), the
// result dropped; an exit that would leave the block raises instead.
void run_body(const Cell* block);

// Calls the function! fn, whose frame's cells (its arguments, refinement
// flags and their arguments, then its locals) lie from args to the stack
// top, with a call frame named name; answers the function's result. The
// stack top comes back to args. An exit the function starts for a loop
// outside it continues as an exception.
Cell call_in_place(const Cell& fn, const Cell* name, Cell* args);
// Calls the function! fn with the values laid into its frame in spec
// order, refinement flags and their arguments included, then its locals
// set as a call sets them (false for /local, none for each local word).
// Slots beyond the values take false (a refinement) or none; values
// beyond the slots are dropped. Answers the function's result.
Cell call_with_values(const Cell& fn, const Cell* name, const Cell* values, uint32_t count);
// Calls the function in the field of the object that a global word holds
// (both named by their text) with the values, as call_with_values does.
// Answers false, calling nothing, when the word holds no object or the
// field no function.
bool call_global_field(const char* object_name, const char* field, const Cell* values, uint32_t count,
                       Cell* result);

// ---- fields ----
uint32_t field_count(const Cell* obj);
// Position of the word's field (any letter case), or -1.
int32_t field_index(const Cell* obj, const Cell* word);
// The field's value cell, or &shared::none when the object lacks it.
Cell* field_by_word(const Cell* obj, const Cell* word);
Cell* value_at(const Cell* obj, uint32_t index);
void clear_changed(node_t ctx);

// ---- making ----
// target (a cell on the argument stack) becomes an empty object! with
// room for count fields, class id 0 and no handlers.
Cell* make_at_empty(Cell* target, uint32_t count);
// Stores the on-set info block the object's fields call for (or none) in
// the cell and in its self cell. Raises bad-field-set for a handler field
// that does not hold a function.
void install_handlers(Cell* obj);
// A copy of source in target (an argument-stack cell): a new context with
// the same words, the values copied; functions are rebound to the copy.
// deep copies series values (types limits which); new_handlers rebuilds
// the info block from the copy's fields.
void copy_into(const Cell* source, Cell* target, bool deep, const Cell* types, bool new_handlers);

// ---- what the natives use ----
// set of an object: the value (or, for a block or object without only,
// its values) goes into the fields; with any unset values are allowed,
// with some none values leave fields alone.
void set_many(const Cell* obj, const Cell* value, bool any, bool only, bool some);
// Binds the block's words that name the object's fields (deep: nested
// blocks too); self binds to the object itself.
void bind_block(const Cell* block, const Cell* obj, bool deep);
// construct: an object from the set-words of the spec and the values that
// follow them, nothing evaluated; without only the words true, yes, on,
// false, no, off and none become the values they name. Pushed.
Cell* push_constructed(const Cell* proto, const Cell* spec, bool only);

// ---- change handlers ----
// Calls on-change* when the object has one; its result is discarded.
void fire_on_set(const Cell* obj, const Cell* word, const Cell* old_value, const Cell* new_value);
void fire_on_deep(const Cell* owner, const Cell* word, const Cell* target, const Cell* action,
                  const Cell* new_value, int32_t index, int32_t part);

// ---- slots shared with error! ----
Cell* eval_path(Cell* value, const datatype::PathStep& step);
// What eval_path answers for a field read: the value cell of the field
// that element (a word of any kind, any letter case) names. Raises
// invalid-path for another element or a field the object lacks, and
// unset-path for a field without a value; path is the path they name.
Cell* path_field(const Cell* obj, const Cell* element, const Cell* path);
int32_t compare(const Cell* a, const Cell* b, CompareOp op);
// The reflect action: pushes what the field word names (body, words,
// values, class, changed, owner, events?). make and to block! take the
// body from here.
Cell* reflect(Cell* value, int32_t field);
// The value molded as opening ("make object! [", "make error! [") then its
// fields as "word: value" lines and "]"; /only leaves the wrapper out.
// Answers the budget.
int32_t mold_made(const Cell* value, node_t out, const datatype::MoldOptions& options, int32_t limit, int32_t indent,
                  const char* opening);

}  // namespace qel::object

namespace qel::object_type {
void fill(datatype::Record& r);
}
