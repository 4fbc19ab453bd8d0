// object!: field access, make and copy, change handlers, paths, reflection,
// form, mold and comparison.
//
// Objects being made or copied live in argument-stack cells (which never
// move) while their contexts grow; values read from contexts are copied
// out before anything allocates or runs user code.
#include "datatypes/object.hpp"

#include <cstring>
#include <string_view>

#include "datatypes/block.hpp"
#include "datatypes/fills.hpp"
#include "datatypes/function.hpp"
#include "datatypes/series.hpp"
#include "datatypes/text.hpp"
#include "runtime/actions.hpp"
#include "runtime/block_code.hpp"
#include "runtime/stack.hpp"
#include "runtime/context.hpp"
#include "runtime/cycles.hpp"
#include "runtime/errors.hpp"
#include "runtime/exits.hpp"
#include "runtime/memory.hpp"
#include "runtime/owner.hpp"
#include "runtime/runtime_words.hpp"
#include "runtime/symbols.hpp"
#include "runtime/words.hpp"

namespace qel::object {

namespace {

int32_t class_counter = FIRST_CLASS_ID;

inline Cell* cells_of(node_t n) { return series::head_cell(series::buffer_of(n)); }
inline uint32_t count_of(node_t n) { return series::buffer_length(n); }

int32_t canon(int32_t sym) { return symbol::canonical(sym); }
int32_t canon_of(const Cell* w) { return canon(word_symbol(w)); }

// Series values a deep copy of an object duplicates: the strings and the
// block-like types but hash!; the others (binary, vector, hash, map, image,
// objects) stay shared.
bool copied_deep(uint32_t t) { return is_any_string(t) || (is_block_like(t) && t != TYPE_HASH); }

// What make copies of a prototype's values so no series is shared with it.
bool adopted(uint32_t t) {
    return copied_deep(t) || t == TYPE_HASH || t == TYPE_VECTOR || t == TYPE_BINARY || t == TYPE_IMAGE;
}

void store_self(const Cell* obj) { *context::self_of(object_context(obj)) = *obj; }

// A copy of the value through its type's copy slot, deep.
Cell copy_value(const Cell& v) {
    Cell* held = stack::push(&v);
    Cell* result = stack::push(&shared::unset);
    auto slot = datatype::action<datatype::COPY>(cell::type_of(held));
    Cell out = v;
    if (slot) {
        Cell* r = slot(held, result, nullptr, true, nullptr);
        if (r) out = *r;
    }
    stack::arg_top = held;
    return out;
}

// The handler's extra argument slots: what a call pushes after the
// arguments it was given (refinement flags, their arguments, locals).
uint32_t extra_slots(const Cell& fn, uint32_t given) {
    const node_t list = series_node(function::arg_list_of(fn));
    uint32_t extra = 0, args = 0;
    for (uint32_t i = 0; i < count_of(list); i++) {
        const Cell e = cells_of(list)[i];
        const uint32_t t = cell::type_of(&e);
        if (t == TYPE_TYPESET) {
            if (args++ >= given) extra++;
        } else if (t == TYPE_REFINEMENT) {
            extra++;
        } else if (t == TYPE_INTEGER) {
            extra += arg_entry_count(e);
        }
    }
    return extra;
}

// Pushes the extra slots as a call initialises them: refinements false,
// their arguments and locals none (the first local slot is /local's flag).
void push_extras(const Cell& fn, uint32_t given) {
    const node_t list = series_node(function::arg_list_of(fn));
    uint32_t args = 0;
    for (uint32_t i = 0; i < count_of(list); i++) {
        const Cell e = cells_of(list)[i];
        const uint32_t t = cell::type_of(&e);
        if (t == TYPE_TYPESET) {
            if (args++ >= given) stack::push(&shared::none);
        } else if (t == TYPE_REFINEMENT) {
            stack::push(&shared::false_value);
        } else if (t == TYPE_INTEGER && arg_entry_count(e) > 0) {
            stack::push(&shared::false_value);
            for (uint32_t k = 1; k < arg_entry_count(e); k++) stack::push(&shared::none);
        }
    }
}

// Calls a handler with the arguments already pushed from args on; the
// stacks come back as they were and the handler's result is dropped. An
// exit the handler starts for a loop outside it continues as an exception,
// since the C++ code that fired the handler cannot pass it on.
void call_handler(const Cell& fn, const Cell* name, Cell* args, uint32_t given) {
    stack::arg_top = args + given;
    push_extras(fn, given);
    call_in_place(fn, name, args);
}

// Refreshes the cached slot count of info cell k when the handler's spec
// changed; answers the handler's position or -1.
int32_t handler_position(node_t info, uint32_t k, const Cell& fn) {
    const int32_t pos = handler_field(handler_info(info, k));
    if (pos < 0) return -1;
    if (cell::type_of(&fn) == TYPE_FUNCTION && handler_spec(handler_info(info, k)) != function_spec(fn)) {
        const uint32_t n = extra_slots(fn, k == 0 ? 3 : 7);
        set_handler_info(handler_info(info, k), pos, n, function_spec(fn));
    }
    return pos;
}

Cell rebind_function(const Cell& fn, node_t ctx) {
    const Cell body = function::body_of(fn);
    if (cell::type_of(&body) != TYPE_BLOCK) err::raise(err::BAD_FUNC_DEF, &fn);
    Cell* mark = stack::arg_top;
    Cell* copied = block::copy_cells(&body, true, true);
    context::bind(copied, ctx, true, true);
    const Cell spec{TYPE_BLOCK, 0, function_spec(fn), 0};
    Cell* made = function::push(&spec, copied, fn.header & (function::FN_TRACE | function::FN_NO_TRACE));
    const Cell result = *made;
    stack::arg_top = mark;
    return result;
}

void rebind_functions(const Cell* obj) {
    const node_t ctx = object_context(obj);
    for (uint32_t i = 0; i < context::word_count(ctx); i++) {
        const Cell v = *context::value_by_index(ctx, i);
        if (cell::type_of(&v) != TYPE_FUNCTION) continue;
        const Cell f = rebind_function(v, ctx);
        *context::value_by_index(ctx, i) = f;
    }
}

bool is_handler_field(const Cell* obj, uint32_t index) {
    if (!object_on_set(obj)) return false;
    for (uint32_t k = 0; k < 2; k++) {
        const int32_t pos = handler_field(handler_info(object_on_set(obj), k));
        if (pos >= 0 && static_cast<uint32_t>(pos) == index) return true;
    }
    return false;
}

// Writes one field as set does: the changed flag, and on-change* unless the
// field is a handler field (which keeps its value).
void assign_field(const Cell* obj_in, uint32_t index, const Cell* value_in) {
    const Cell obj = *obj_in;
    const Cell value = *value_in;
    const node_t ctx = object_context(obj);
    if (object_on_set(obj)) {
        if (!is_handler_field(&obj, index)) {
            Cell* old = stack::push(context::value_by_index(ctx, index));
            block_code::word_value_changes(old, &value);
            *context::value_by_index(ctx, index) = value;
            context::word_at(ctx, index)->header |= context::CHANGED;
            Cell* word = stack::push(context::word_at(ctx, index));
            Cell* nv = stack::push(&value);
            Cell* o = stack::push(&obj);
            fire_on_set(o, word, old, nv);
            stack::arg_top = old;
        }
    } else {
        block_code::word_value_changes(context::value_by_index(ctx, index), &value);
        *context::value_by_index(ctx, index) = value;
    }
    context::word_at(ctx, index)->header |= context::CHANGED;
}

// Makes the object the owner of the series in its fields, the handler
// fields (positions skipped, -1 for none) aside, and marks its context as
// owning.
void own_series_fields(const Cell* obj, const int32_t skipped[2]) {
    const node_t ctx = object_context(obj);
    for (uint32_t i = 0; i < context::word_count(ctx); i++) {
        if (static_cast<int32_t>(i) == skipped[0] || static_cast<int32_t>(i) == skipped[1]) continue;
        Cell* v = stack::push(context::value_by_index(ctx, i));
        if (series_type::is_series(cell::type_of(v))) {
            const Cell w = *context::word_at(ctx, i);
            owner::attach(obj, &w, v);
        }
        stack::pop_n(1);
    }
    context::cell_of(ctx)->header |= owner::CONTEXT_OWNS;
}

void adopt_prototype_values(const Cell* obj) {
    const node_t ctx = object_context(obj);
    for (uint32_t i = 0; i < context::word_count(ctx); i++) {
        const Cell v = *context::value_by_index(ctx, i);
        const uint32_t t = cell::type_of(&v);
        if (!adopted(t)) continue;
        const Cell c = copy_value(v);
        *context::value_by_index(ctx, i) = c;
        if (is_block_like(t)) context::bind(&c, ctx, true, true);
    }
}

void clear_value_new_lines(node_t ctx) {
    for (uint32_t i = 0; i < context::word_count(ctx); i++) cell::clear_new_line(context::value_by_index(ctx, i));
}

void merge(Cell* result, const Cell* spec_obj) {
    const Cell spec = *spec_obj;
    bool added = false;
    for (uint32_t i = 0; i < context::word_count(object_context(spec)); i++) {
        const Cell w = *context::word_at(object_context(spec), i);
        const Cell v = *context::value_by_index(object_context(spec), i);
        if (context::find_symbol(object_context(result), word_symbol(w), true) < 0) added = true;
        context::set_by_symbol(object_context(result), &w, &v);
    }
    const node_t ctx = object_context(result);
    for (uint32_t i = 0; i < context::word_count(ctx); i++) {
        const Cell v = *context::value_by_index(ctx, i);
        if (copied_deep(cell::type_of(&v))) {
            const Cell c = copy_value(v);
            *context::value_by_index(ctx, i) = c;
        }
    }
    rebind_functions(result);
    if (added) object_class(result) = new_class_id();
}

}  // namespace

void (*eval_block)(const Cell* block, bool chain, bool safe_points) = nullptr;
void (*call_function)(const Cell* fn, const Cell* name) = nullptr;

void run_body(const Cell* block) {
    Cell* const top = stack::arg_top;
    Cell* held = stack::push(block);
    stack::mark_native(nullptr);
    eval_block(held, true, false);
    if (exit_pending()) raise_pending();
    stack::unwind();
    stack::arg_top = top;
}

Cell call_in_place(const Cell& fn, const Cell* name, Cell* args) {
    const node_t ctx = function_context(fn);
    const uint32_t saved_values = context_values(context::cell_of(ctx));
    Cell* const end = stack::arg_top;
    // The cells from args on become the call's: the frame's base is args.
    stack::arg_top = args;
    stack::mark_call(name, ctx);
    stack::arg_top = end;
    call_function(&fn, name);
    if (exit_pending()) {
        context_values(context::cell_of(ctx)) = saved_values;
        raise_pending();
    }
    const Cell result = *args;
    stack::unwind_drop_call();
    stack::arg_top = args;
    return result;
}

Cell call_with_values(const Cell& fn_in, const Cell* name, const Cell* values, uint32_t count) {
    const Cell fn = fn_in;
    Cell* const args = stack::arg_top;
    for (uint32_t i = 0; i < count; i++) stack::push(&values[i]);
    // Each argument slot, refinement flag and refinement argument in spec
    // order takes the next value; the values left over are dropped, the
    // slots left over take what an unused refinement gives.
    const node_t list = series_node(function::arg_list_of(fn));
    uint32_t slot = 0;
    for (uint32_t i = 0; i < count_of(list); i++) {
        const Cell e = cells_of(list)[i];
        const uint32_t t = cell::type_of(&e);
        if (t == TYPE_TYPESET || t == TYPE_REFINEMENT) {
            if (slot++ >= count) stack::push(t == TYPE_REFINEMENT ? &shared::false_value : &shared::none);
        } else if (t == TYPE_INTEGER && arg_entry_count(e) > 0) {
            if (slot < count) stack::arg_top = args + slot;
            slot = count;
            stack::push(&shared::false_value);
            for (uint32_t k = 1; k < arg_entry_count(e); k++) stack::push(&shared::none);
        }
    }
    if (slot < count) stack::arg_top = args + slot;
    return call_in_place(fn, name, args);
}

bool call_global_field(const char* object_name, const char* field, const Cell* values, uint32_t count,
                       Cell* result) {
    const int32_t at = context::find_symbol(context::global, symbol::intern_cstr(object_name), true);
    if (at < 0) return false;
    const Cell obj = *context::slot_at(context::global, static_cast<uint32_t>(at));
    if (cell::type_of(&obj) != TYPE_OBJECT) return false;
    const Cell name{TYPE_WORD, 0, static_cast<uint32_t>(symbol::intern_cstr(field)), UINT32_MAX};
    const Cell fn = *field_by_word(&obj, &name);
    if (cell::type_of(&fn) != TYPE_FUNCTION) return false;
    *result = call_with_values(fn, &name, values, count);
    return true;
}

int32_t new_class_id() { return ++class_counter; }

// ---- fields ----

uint32_t field_count(const Cell* obj) { return context::word_count(object_context(obj)); }

int32_t field_index(const Cell* obj, const Cell* word) {
    return context::find_field(object_context(obj), word_symbol(word));
}

Cell* field_by_word(const Cell* obj, const Cell* word) {
    const int32_t i = field_index(obj, word);
    return i < 0 ? &shared::none : context::value_by_index(object_context(obj), static_cast<uint32_t>(i));
}

Cell* value_at(const Cell* obj, uint32_t index) { return context::value_by_index(object_context(obj), index); }

void clear_changed(node_t ctx) {
    for (uint32_t i = 0; i < context::word_count(ctx); i++) context::word_at(ctx, i)->header &= ~context::CHANGED;
}

// ---- making ----

Cell* make_at_empty(Cell* target, uint32_t count) {
    const node_t ctx = context::make(count, false, true, 0, context::OBJECT);
    *target = Cell{TYPE_OBJECT, ctx, 0, 0};
    store_self(target);
    return target;
}

void install_handlers(Cell* obj) {
    const node_t ctx = object_context(obj);
    const int32_t syms[2] = {canon_of(words::w_on_change), canon_of(words::w_on_deep_change)};
    int32_t pos[2] = {-1, -1};
    for (uint32_t k = 0; k < 2; k++) {
        pos[k] = context::find_symbol(ctx, syms[k], true);
        if (pos[k] < 0) continue;
        const Cell v = *context::value_by_index(ctx, static_cast<uint32_t>(pos[k]));
        const uint32_t t = cell::type_of(&v);
        if (t != TYPE_FUNCTION && t != TYPE_ROUTINE) {
            Cell w = *context::word_at(ctx, static_cast<uint32_t>(pos[k]));
            w.header = TYPE_WORD;
            const Cell type{TYPE_DATATYPE, t, 0, 0};
            err::raise(err::BAD_FIELD_SET, &w, &type);
        }
    }
    if (pos[0] < 0 && pos[1] < 0) {
        object_on_set(obj) = 0;
        store_self(obj);
        return;
    }
    const node_t info = memory::alloc_cells(2);
    Cell* c = series::reserve_cell(series::buffer_of(info));
    *c = Cell{TYPE_PAIR, 0, 0, 0};
    c = series::reserve_cell(series::buffer_of(info));
    *c = Cell{TYPE_PAIR, 0, 0, 0};
    object_on_set(obj) = info;
    for (uint32_t k = 0; k < 2; k++) {
        if (pos[k] < 0) {
            set_handler_info(handler_info(info, k), -1, 0, 0);
            continue;
        }
        const Cell fn = *context::value_by_index(ctx, static_cast<uint32_t>(pos[k]));
        const uint32_t n = cell::type_of(&fn) == TYPE_FUNCTION ? extra_slots(fn, k == 0 ? 3 : 7) : 0;
        set_handler_info(handler_info(info, k), pos[k], n, function_spec(fn));
    }
    store_self(obj);
    // The object reports changes of its own series to itself.
    if (pos[1] >= 0) own_series_fields(obj, pos);
}

void copy_into(const Cell* source, Cell* target, bool deep, const Cell* types, bool new_handlers) {
    const Cell src = *source;
    const Cell type_set = types ? *types : shared::none;
    const uint32_t n = context::word_count(object_context(src));
    if (types && deep) {
        if (cycles::find(object_context(src))) err::raise(err::NO_CYCLE);
    }
    const node_t ctx = context::make(n, false, true, object_context(src), context::OBJECT);
    *target = Cell{cell::type_of(&src), ctx, static_cast<uint32_t>(object_class(src)),
                   new_handlers ? 0 : object_on_set(src)};
    store_self(target);
    for (uint32_t i = 0; i < n; i++)
        *context::value_by_index(ctx, i) = *context::value_by_index(object_context(src), i);
    if (deep && !types) {
        for (uint32_t i = 0; i < n; i++) {
            const Cell v = *context::value_by_index(ctx, i);
            if (!copied_deep(cell::type_of(&v))) continue;
            const Cell c = copy_value(v);
            *context::value_by_index(ctx, i) = c;
        }
    } else if (types) {
        cycles::push(object_context(src));
        struct Pop {
            ~Pop() { cycles::pop(); }
        } pop;
        const Cell values{TYPE_BLOCK, 0, context_values(context::cell_of(ctx)), 0};
        block::copy_typed_cells(&values, 0, n, 1, deep, &type_set);
    }
    rebind_functions(target);
    if (new_handlers) install_handlers(target);
}

// ---- natives' helpers ----

void set_many(const Cell* obj_in, const Cell* value_in, bool any, bool only, bool some) {
    Cell* obj = stack::push(obj_in);
    Cell* value = stack::push(value_in);
    const node_t ctx = object_context(obj);
    const uint32_t n = context::word_count(ctx);
    const uint32_t vt = cell::type_of(value);
    const bool spread = !only && (vt == TYPE_BLOCK || object::is_object_type(vt));
    auto source_at = [&](uint32_t i) -> Cell {
        if (vt == TYPE_BLOCK) {
            const uint32_t at = series_index(value) + i;
            return at < count_of(series_node(value)) ? cells_of(series_node(value))[at] : shared::none;
        }
        const Cell w = *context::word_at(ctx, i);
        const int32_t j = field_index(value, &w);
        return j < 0 ? Cell{} : *context::value_by_index(object_context(value), static_cast<uint32_t>(j));
    };
    if (!spread) {
        for (uint32_t i = 0; i < n && i < context::word_count(object_context(obj)); i++) {
            if (!any && cell::type_of(value) == TYPE_UNSET) {
                const Cell w = *context::word_at(object_context(obj), i);
                err::raise(err::NEED_VALUE, &w);
            }
            assign_field(obj, i, value);
        }
    } else {
        if (!any && !some) {
            for (uint32_t i = 0; i < n; i++) {
                if (vt == TYPE_BLOCK && series_index(value) + i >= count_of(series_node(value))) break;
                const Cell s = source_at(i);
                if (cell::type_of(&s) == TYPE_UNSET) {
                    const Cell w = *context::word_at(ctx, i);
                    err::raise(err::NEED_VALUE, &w);
                }
            }
        }
        for (uint32_t i = 0; i < n; i++) {
            const Cell s = source_at(i);
            if (cell::type_of(&s) == 0) continue;  // the source object lacks the field
            if (some && cell::type_of(&s) == TYPE_NONE) continue;
            Cell* sv = stack::push(&s);
            assign_field(obj, i, sv);
            stack::pop_n(1);
        }
    }
    stack::arg_top = obj;
}

void bind_block(const Cell* block, const Cell* obj, bool deep) {
    context::bind(block, object_context(obj), deep, true);
}

Cell* push_constructed(const Cell* proto, const Cell* spec_in, bool only) {
    Cell* result = stack::push(&shared::none);
    Cell* spec = stack::push(spec_in);
    if (proto && is_object_type(cell::type_of(proto))) {
        copy_into(proto, result, true, nullptr, false);
    } else {
        make_at_empty(result, 4);
        object_class(result) = new_class_id();
        store_self(result);
    }
    const int32_t truths[3] = {symbol::canonical(words::sym_true), symbol::canonical(words::sym_yes),
                               symbol::canonical(words::sym_on)};
    const int32_t falses[3] = {symbol::canonical(words::sym_false), symbol::canonical(words::sym_no),
                               symbol::canonical(words::sym_off)};
    const int32_t none_sym = symbol::canonical(words::sym_none);
    const node_t sn = series_node(spec);
    const uint32_t total = count_of(sn);
    uint32_t i = series_index(spec);
    while (i < total) {
        if (cell::type_of(&cells_of(sn)[i]) != TYPE_SET_WORD) {
            i++;
            continue;
        }
        uint32_t j = i;
        while (j < total && cell::type_of(&cells_of(sn)[j]) == TYPE_SET_WORD) j++;
        Cell v = j < total ? cells_of(sn)[j] : shared::none;
        if (!only && cell::type_of(&v) == TYPE_WORD) {
            const int32_t s = canon_of(&v);
            for (int k = 0; k < 3; k++) {
                if (s == truths[k]) v = shared::true_value;
                if (s == falses[k]) v = shared::false_value;
            }
            if (s == none_sym) v = shared::none;
        }
        for (uint32_t k = i; k < j; k++) {
            const Cell w = cells_of(sn)[k];
            context::set_by_symbol(object_context(result), &w, &v);
        }
        i = j + 1;
    }
    install_handlers(result);
    stack::arg_top = result + 1;
    return result;
}

// ---- change handlers ----

void fire_on_set(const Cell* obj_in, const Cell* word_in, const Cell* old_in, const Cell* new_in) {
    if (!object_on_set(obj_in)) return;
    Cell* const mark = stack::arg_top;
    Cell* obj = stack::push(obj_in);
    Cell* word = stack::push(word_in);
    Cell* old_value = stack::push(old_in);
    Cell* new_value = stack::push(new_in);
    const int32_t raw = handler_field(handler_info(object_on_set(obj), 0));
    if (raw < 0) {
        stack::arg_top = mark;
        return;
    }
    const Cell fn = *context::value_by_index(object_context(obj), static_cast<uint32_t>(raw));
    if (cell::type_of(&fn) != TYPE_FUNCTION) err::raise(err::INVALID_OBJ_EVT, &fn);
    handler_position(object_on_set(obj), 0, fn);
    // The handler sees the word bound to this object.
    word->header = TYPE_WORD;
    if (word_context(word) != object_context(obj)) context::bind_word(object_context(obj), word);
    Cell* fn_cell = stack::push(&fn);
    Cell* args = stack::push(word);
    stack::push(old_value);
    stack::push(new_value);
    call_handler(*fn_cell, words::w_on_change, args, 3);
    stack::arg_top = mark;
}

void fire_on_deep(const Cell* owner_in, const Cell* word_in, const Cell* target_in, const Cell* action_in,
                  const Cell* new_in, int32_t index, int32_t part) {
    Cell* const mark = stack::arg_top;
    Cell* owner = stack::push(owner_in);
    if (!object_on_set(owner)) err::raise(err::INVALID_OBJ_EVT, owner);
    Cell* word = stack::push(word_in);
    Cell* target = stack::push(target_in);
    Cell* action = stack::push(action_in);
    Cell* nv = stack::push(new_in ? new_in : &shared::none);
    const int32_t raw = handler_field(handler_info(object_on_set(owner), 1));
    if (raw < 0) {
        stack::arg_top = mark;
        return;
    }
    const Cell fn = *context::value_by_index(object_context(owner), static_cast<uint32_t>(raw));
    if (cell::type_of(&fn) != TYPE_FUNCTION) {
        stack::arg_top = mark;
        return;
    }
    handler_position(object_on_set(owner), 1, fn);
    Cell* fn_cell = stack::push(&fn);
    Cell* args = stack::push(owner);
    stack::push(word);
    stack::push(target);
    stack::push(action);
    stack::push(nv);
    const Cell i{TYPE_INTEGER, 0, static_cast<uint32_t>(index), 0};
    const Cell p{TYPE_INTEGER, 0, static_cast<uint32_t>(part), 0};
    stack::push(&i);
    stack::push(&p);
    call_handler(*fn_cell, words::w_on_deep_change, args, 7);
    stack::arg_top = mark;
}

namespace {
void deep_change(const Cell* owner, const Cell* field, const Cell* target, const Cell* action, const Cell* value,
                 int32_t index, int32_t part) {
    fire_on_deep(owner, field, target, action, value, index, part);
}

void on_object_set(const Cell* object, const Cell* word, const Cell* old_value, const Cell* new_value) {
    fire_on_set(object, word, old_value, new_value);
}
}  // namespace

// ---- paths ----

namespace {

// The index of the field a path element names; raises invalid-path.
uint32_t path_field_index(const Cell* obj, const Cell* element, const Cell* path) {
    const int32_t i = is_any_word(cell::type_of(element)) ? field_index(obj, element) : -1;
    if (i < 0) {
        const Cell path_cell = path ? *path : shared::none;
        err::raise(err::INVALID_PATH, &path_cell, element);
    }
    return static_cast<uint32_t>(i);
}

}  // namespace

Cell* path_field(const Cell* obj, const Cell* element, const Cell* path) {
    Cell* v = context::value_by_index(object_context(obj), path_field_index(obj, element, path));
    if (cell::type_of(v) == TYPE_UNSET) [[unlikely]] {
        const Cell path_cell = path ? *path : shared::none;
        err::raise(err::UNSET_PATH, &path_cell, element);
    }
    return v;
}

Cell* eval_path(Cell* value, const datatype::PathStep& step) {
    if (!step.new_value) return path_field(value, step.element, step.path);
    const uint32_t i = path_field_index(value, step.element, step.path);
    const node_t ctx = object_context(value);
    Cell* const mark = stack::arg_top;
    Cell* obj = stack::push(value);
    Cell* nv = stack::push(step.new_value);
    Cell* old = stack::push(context::value_by_index(ctx, i));
    block_code::word_value_changes(old, nv);
    *context::value_by_index(ctx, i) = *nv;
    context::word_at(ctx, i)->header |= context::CHANGED;
    if (object_on_set(obj)) {
        Cell* w = stack::push(context::word_at(ctx, i));
        fire_on_set(obj, w, old, nv);
    }
    stack::arg_top = mark;
    return step.new_value;
}

// ---- comparison ----

int32_t compare(const Cell* a, const Cell* b, CompareOp op) {
    if (!is_object_type(cell::type_of(b)) || !is_object_type(cell::type_of(a))) return -2;
    const node_t ca = object_context(a), cb = object_context(b);
    if (ca == cb) return 0;
    if (op == CompareOp::Same) return -1;
    if (cycles::find(ca)) return cycles::find(cb) ? 0 : -1;
    const uint32_t na = context::word_count(ca), nb = context::word_count(cb);
    if (na != nb) return na < nb ? -1 : 1;
    if (na == 0) return 0;
    cycles::push(ca);
    cycles::push(cb);
    struct Pop {
        ~Pop() { cycles::drop(2); }
    } pop;
    for (uint32_t i = 0; i < na; i++) {
        const int32_t sa = canon_of(context::word_at(ca, i)), sb = canon_of(context::word_at(cb, i));
        if (sa != sb) return sa < sb ? -1 : 1;
        Cell* va = stack::push(context::value_by_index(ca, i));
        Cell* vb = stack::push(context::value_by_index(cb, i));
        const uint32_t ta = cell::type_of(va), tb = cell::type_of(vb);
        int32_t r;
        if (ta == tb || (is_word_or_refinement(ta) && is_word_or_refinement(tb)) || (is_integer_float_or_percent(ta) && is_integer_float_or_percent(tb))) {
            r = actions::compare_values(va, vb, op);
        } else {
            r = ta < tb ? -1 : 1;
        }
        stack::pop_n(2);
        if (r != 0) return r;
    }
    return 0;
}

// ---- form and mold ----

// One field as "name: value", the value molded (a word with its quote, so
// that it reads back as the same word); answers the budget left.
int32_t field_text(node_t ctx, uint32_t i, Cell w, node_t out, const datatype::MoldOptions& options, int32_t limit,
                   int32_t indent) {
    w.header = TYPE_WORD;
    limit = actions::mold(&w, out, options.nested(), limit, indent);
    text::append_cstr(out, ": ");
    limit -= 2;
    Cell v = *context::value_by_index(ctx, i);
    if (cell::type_of(&v) == 0) v = shared::unset;
    if (cell::type_of(&v) == TYPE_WORD) {
        text::append_cstr(out, "'");
        limit--;
    }
    Cell* held = stack::push(&v);
    limit = actions::mold(held, out, options.nested(), limit, indent);
    stack::pop_n(1);
    return limit;
}

namespace {

// Calls each(i, word, first, limit) for the fields of ctx a text shows (the
// change handlers only with all) while ctx is on the cycle stack; stops
// once a part budget is spent. Answers the budget left.
template <typename Each>
int32_t each_shown_field(node_t ctx, bool all, bool part, int32_t limit, Each each) {
    const int32_t on_change = canon_of(words::w_on_change);
    const int32_t on_deep = canon_of(words::w_on_deep_change);
    cycles::push(ctx);
    struct Pop {
        ~Pop() { cycles::pop(); }
    } pop;
    bool first = true;
    const uint32_t n = context::word_count(ctx);
    for (uint32_t i = 0; i < n; i++) {
        if (part && limit < 1) break;
        const Cell w = *context::word_at(ctx, i);
        const int32_t s = canon_of(&w);
        if (!all && (s == on_change || s == on_deep)) continue;
        limit = each(i, w, first, limit);
        first = false;
    }
    return limit;
}

// The fields as "word: value" lines, each indented on a line of its own
// unless flat: answers the budget.
int32_t mold_body(const Cell* obj_in, node_t out, const datatype::MoldOptions& options, int32_t limit, int32_t indent) {
    const Cell obj = *obj_in;
    const node_t ctx = object_context(obj);
    if (context::word_count(ctx) == 0) return limit;
    const bool indenting = !options.flat;
    if (indenting && !options.only) {
        text::append_cstr(out, "\n");
        limit--;
    }
    return each_shown_field(ctx, options.all, options.part, limit, [&](uint32_t i, Cell w, bool first, int32_t left) {
        if (!indenting && !first) {
            text::append_cstr(out, " ");
            left--;
        }
        if (indenting && !options.only) {
            text::indent(out, indent);
            left -= 4 * indent;
        }
        left = field_text(ctx, i, w, out, options, left, indent);
        if (indenting) {
            text::append_cstr(out, "\n");
            left--;
        }
        return left;
    });
}

}  // namespace

int32_t mold_made(const Cell* value, node_t out, const datatype::MoldOptions& options, int32_t limit, int32_t indent,
                  const char* opening) {
    if (!options.only) {
        text::append_cstr(out, opening);
        limit -= static_cast<int32_t>(std::strlen(opening));
    }
    limit = mold_body(value, out, options, limit, indent + 1);
    if (!options.flat && indent > 0 && field_count(value) > 0) {
        text::indent(out, indent);
        limit -= 4 * indent;
    }
    if (!options.only) {
        text::append_cstr(out, "]");
        limit--;
    }
    return limit;
}

namespace {

int32_t mold(const Cell* value, node_t out, const datatype::MoldOptions& options, int32_t limit, int32_t indent) {
    if (cycles::find(object_context(value))) {
        text::append_cstr(out, "make object! [...]");
        return limit - 18;
    }
    return mold_made(value, out, options, limit, indent, "make object! [");
}

// Fields one per line, values molded; no wrapper, no indentation.
int32_t form(const Cell* value, node_t out, bool part, int32_t limit) {
    const Cell obj = *value;
    const node_t ctx = object_context(obj);
    if (cycles::find(ctx)) {
        text::append_cstr(out, "...");
        return limit - 3;
    }
    return each_shown_field(ctx, false, part, limit, [&](uint32_t i, Cell w, bool first, int32_t left) {
        if (!first) {
            text::append_cstr(out, "\n");
            left--;
        }
        return field_text(ctx, i, w, out, datatype::MoldOptions{.part = part}, left, 0);
    });
}

// ---- actions ----

Cell* make(Cell* proto, Cell* spec, uint32_t type) {
    Cell* result = stack::push(&shared::none);
    Cell* sp = stack::push(spec);
    const bool from_object = is_object_type(cell::type_of(proto));
    if (from_object) {
        copy_into(proto, result, false, nullptr, false);
        cell::set_type(result, TYPE_OBJECT);
    } else {
        make_at_empty(result, 4);
    }
    const uint32_t st = cell::type_of(sp);
    if (is_object_type(st)) {
        merge(result, sp);
        if (!from_object) object_class(result) = new_class_id();
        store_self(result);
    } else if (st == TYPE_BLOCK) {
        const bool added = context::collect_set_words(object_context(result), sp);
        if (added || !from_object) object_class(result) = new_class_id();
        store_self(result);
        context::bind(sp, object_context(result), true, true);
        if (from_object) adopt_prototype_values(result);
        run_body(sp);
        clear_changed(object_context(result));
        clear_value_new_lines(object_context(result));
    } else {
        const Cell t{TYPE_DATATYPE, TYPE_OBJECT, 0, 0};
        err::raise(err::MALCONSTRUCT, &t, sp);
    }
    install_handlers(result);
    stack::arg_top = result + 1;
    return result;
}

}  // namespace

Cell* reflect(Cell* value, int32_t field) {
    const Cell obj = *value;
    const node_t ctx = object_context(obj);
    const int32_t f = symbol::canonical(field);
    auto is = [f](int32_t sym) { return sym && f == symbol::canonical(sym); };
    Cell* r = stack::push(&shared::none);
    const uint32_t n = context::word_count(ctx);
    if (is(words::sym_changed)) {
        block::make_at(r, static_cast<int32_t>(n));
        for (uint32_t i = 0; i < context::word_count(ctx); i++) {
            const Cell w = *context::word_at(ctx, i);
            if (w.header & context::CHANGED) {
                Cell c = w;
                c.header &= ~context::CHANGED;
                block::append_copy(r, &c);
            }
        }
    } else if (is(words::sym_class)) {
        *r = Cell{TYPE_INTEGER, 0, static_cast<uint32_t>(object_class(obj)), 0};
    } else if (is(words::sym_words)) {
        block::make_at(r, static_cast<int32_t>(n));
        for (uint32_t i = 0; i < context::word_count(ctx); i++) {
            Cell c = *context::word_at(ctx, i);
            c.header = TYPE_WORD;
            block::append_copy(r, &c);
        }
    } else if (is(words::sym_values)) {
        block::make_at(r, static_cast<int32_t>(n));
        for (uint32_t i = 0; i < context::word_count(ctx); i++) {
            const Cell c = *context::value_by_index(ctx, i);
            block::append_copy(r, &c);
        }
    } else if (is(words::sym_body)) {
        block::make_at(r, static_cast<int32_t>(2 * n));
        for (uint32_t i = 0; i < context::word_count(ctx); i++) {
            Cell w = *context::word_at(ctx, i);
            w.header = TYPE_SET_WORD | cell_flag::NEW_LINE;
            block::append_copy(r, &w);
            Cell v = *context::value_by_index(ctx, i);
            if (cell::type_of(&v) == TYPE_WORD) cell::set_type(&v, TYPE_LIT_WORD);
            else if (cell::type_of(&v) == TYPE_PATH) cell::set_type(&v, TYPE_LIT_PATH);
            block::append_copy(r, &v);
        }
    } else if (is(words::sym_owner)) {
        *r = (context::cell_of(ctx)->header & owner::CONTEXT_OWNS) ? shared::true_value : shared::false_value;
    } else if (is(words::sym_events_q)) {
        *r = object_on_set(obj) ? shared::true_value : shared::false_value;
    } else {
        err::raise(err::NOT_DONE);
    }
    return r;
}

namespace {

Cell* copy(Cell* value, Cell* result, Cell* part, bool deep, Cell* types) {
    if (part) {
        Cell refinement = word::make_from_symbol(symbol::intern_cstr("part"));
        cell::set_type(&refinement, TYPE_REFINEMENT);
        err::raise(err::INVALID_REFINE_ARG, &refinement, part);
    }
    copy_into(value, result, deep, types, true);
    return result;
}

Cell* select(Cell* series, Cell* value, const datatype::FindOptions&) {
    const uint32_t t = cell::type_of(value);
    if (!is_any_word(t)) {
        const Cell type{TYPE_DATATYPE, t, 0, 0};
        err::raise(err::INVALID_TYPE, &type);
    }
    return field_by_word(series, value);
}

Cell* put(Cell* series, Cell* key, Cell* value, bool) {
    if (cell::type_of(key) != TYPE_WORD) {
        const Cell type{TYPE_DATATYPE, cell::type_of(key), 0, 0};
        err::raise(err::INVALID_KEY_TYPE, &type);
    }
    Cell* none_path = stack::push(&shared::none);
    eval_path(series, {.element = key, .new_value = value, .path = none_path});
    return value;
}

Cell* modify(Cell* target, Cell* field, Cell* value, bool) {
    const int32_t f = canon_of(field);
    if (f == symbol::canonical(words::sym_changed)) {
        if (cell::type_of(value) != TYPE_NONE) err::raise(err::INVALID_ARG, value);
        clear_changed(object_context(target));
    } else if (f == symbol::canonical(words::sym_owner)) {
        const int32_t no_handlers[2] = {-1, -1};
        own_series_fields(target, no_handlers);
    } else if (f == symbol::canonical(words::sym_owned)) {
        if (cell::type_of(value) == TYPE_NONE) {
            owner::remove_deep(target);
        } else if (cell::type_of(value) == TYPE_BLOCK && block::length(value) >= 2) {
            const Cell o = *block::cell_at(value, series_index(value));
            const Cell w = *block::cell_at(value, series_index(value) + 1);
            owner::attach(&o, &w, target);
        }
    }
    return value;
}

}  // namespace

}  // namespace qel::object

namespace qel::object_type {

void fill(datatype::Record& r) {
    using namespace qel::object;
    for (auto& a : r.actions) a = nullptr;
    datatype::set_slot<datatype::MAKE>(r, &make);
    datatype::set_slot<datatype::REFLECT>(r, &reflect);
    datatype::set_slot<datatype::FORM>(r, &form);
    datatype::set_slot<datatype::MOLD>(r, &mold);
    datatype::set_slot<datatype::EVAL_PATH>(r, &eval_path);
    datatype::set_slot<datatype::COMPARE>(r, &compare);
    datatype::set_slot<datatype::COPY>(r, &copy);
    datatype::set_slot<datatype::PUT>(r, &put);
    datatype::set_slot<datatype::SELECT>(r, &select);
    datatype::set_slot<datatype::MODIFY>(r, &modify);
    // Fields written through words and series changed under an object
    // reach their handlers through these hooks.
    word::on_object_set = &on_object_set;
    owner::deep_change_dispatch = &deep_change;
}

}  // namespace qel::object_type
