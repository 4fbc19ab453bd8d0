// The natives of words and binding: get, set, value?, unset, bind, in,
// context?, construct and extend, and the new-line markers of list values
// (new-line, new-line?).
//
// They are thin layers over words (runtime/words), contexts (runtime/
// context), path evaluation and objects; what they settle is which
// argument goes where and which error is raised.
//
// Collector: word::set may run an object's change handler, so the word
// block of set is re-read through its node for every word, and only
// Cell* into the argument stack are held across it.
#include "datatypes/block.hpp"
#include "datatypes/map.hpp"
#include "datatypes/object.hpp"
#include "datatypes/series.hpp"
#include "evaluator/native_fns.hpp"
#include "evaluator/path_eval.hpp"
#include "runtime/block_code.hpp"
#include "runtime/stack.hpp"
#include "runtime/context.hpp"
#include "runtime/errors.hpp"
#include "runtime/runtime_words.hpp"
#include "runtime/symbols.hpp"
#include "runtime/words.hpp"

namespace qel::natives {

namespace {

bool is_list_type(uint32_t t) {
    return t == TYPE_BLOCK || t == TYPE_PAREN || t == TYPE_HASH || t == TYPE_MAP || is_any_path(t);
}

void answer_logic(bool b) { stack::set_last_reset(b ? &shared::true_value : &shared::false_value); }

// The value cell of a word, or nullptr when it has none to show: unbound,
// not found in its context, or a function's word while no call runs.
// Unlike word::get it raises nothing, so value? stays a plain question.
const Cell* peek(const Cell* word) {
    const node_t ctx = word_context(word);
    if (!ctx) return nullptr;
    int32_t index = word_index(word);
    if (index < 0) {
        const int32_t sym = word_symbol(word);
        if (sym == words::sym_self) return context::self_of(ctx);
        index = context::find_symbol(ctx, sym, false);
        if (index < 0) index = context::find_symbol(ctx, sym, true);
        if (index < 0) return nullptr;
    }
    return context::slot_at(ctx, static_cast<uint32_t>(index));
}

// The block, path or word value's position inside a list value.
uint32_t tail_of(const Cell* list) { return series::buffer_length(series_node(list)); }

// Assigns each word of the block at words (a cell on the argument stack)
// from value, as set does: position by position from a list value, else
// the value itself to every word.
void set_words(Cell* words, Cell* value, bool any, bool only, bool some) {
    const bool spread = is_list_type(cell::type_of(value)) && !only;
    const uint32_t first = series_index(words);
    const uint32_t end = tail_of(words);
    if (spread) {
        // Checked in full before the first assignment, so that a bad entry
        // leaves every word as it was.
        for (uint32_t i = first; i < end; ++i) {
            const Cell w = *block::cell_at(words, i);
            if (!is_any_word(cell::type_of(&w))) err::raise(err::INVALID_ARG, &w);
            if (any) continue;
            const uint32_t at = series_index(value) + (i - first);
            if (at < tail_of(value) && cell::type_of(block::cell_at(value, at)) == TYPE_UNSET)
                err::raise(err::NEED_VALUE, &w);
        }
    }
    for (uint32_t i = first; i < end && i < tail_of(words); ++i) {
        Cell w = *block::cell_at(words, i);
        Cell v = *value;
        if (spread) {
            const uint32_t at = series_index(value) + (i - first);
            v = at < tail_of(value) ? *block::cell_at(value, at) : shared::none;
        }
        if (some && cell::type_of(&v) == TYPE_NONE) continue;
        if (!is_any_word(cell::type_of(&w))) err::raise(err::INVALID_ARG, &w);
        cell::set_type(&w, TYPE_WORD);
        word::set(&w, &v);
    }
}

// The context a bind or in argument names: a function's or an object's
// own, or the one a word is bound to. 0 when it has none. A native's or
// an action's is its info record: it begins with the context! cell of the
// context made from its spec, so words bind to it as to that context
// (they have no values: no call lays its arguments out there).
node_t context_of(const Cell* v) {
    switch (cell::type_of(v)) {
    case TYPE_FUNCTION: case TYPE_ROUTINE:
        return function_context(v);
    case TYPE_OBJECT: case TYPE_ERROR: case TYPE_PORT:
        return object_context(v);
    case TYPE_NATIVE: case TYPE_ACTION:
        return native_info(v);
    case TYPE_OP: {
        // An op! keeps the payload of what it was made from.
        const Cell source = op_function(*v);
        return context_of(&source);
    }
    default:
        return is_word_or_refinement(cell::type_of(v)) ? word_context(v) : 0;
    }
}

void set_new_line(Cell* c, bool on) {
    if (on) c->header |= cell_flag::NEW_LINE;
    else cell::clear_new_line(c);
}

}  // namespace

// ---- values of words --------------------------------------------------------------

void native_get(const int32_t* refinements) {
    const bool any = refinements[0] >= 0;
    Cell* base = stack::arg_base;
    const uint32_t t = cell::type_of(base);
    if (is_any_path(t)) {
        // Get mode calls no function, so no code follows the path.
        const Cell path = *base;
        const Cell nothing = *block::push_new(1);
        path_eval::eval_path(&path, &nothing, 0, path_eval::GET, false, refinements[1] >= 0);
        return;
    }
    if (t == TYPE_OBJECT) {
        // The values in field order; the block has room for all, so no
        // allocation moves the object's values while they are copied.
        const uint32_t n = object::field_count(base);
        const Cell values = *block::push_new(static_cast<int32_t>(n));
        for (uint32_t i = 0; i < n; ++i) {
            const Cell v = *object::value_at(base, i);
            block::append_copy(&values, &v);
        }
        stack::set_last_reset(&values);
        return;
    }
    const Cell v = *word::get(base);
    if (!any && cell::type_of(&v) == TYPE_UNSET) {
        const Cell w = *base;
        err::raise(err::NO_VALUE, &w);
    }
    stack::set_last_reset(&v);
}

void native_set(const int32_t* refinements) {
    const bool any = refinements[0] >= 0;
    const bool only = refinements[2] >= 0;
    const bool some = refinements[3] >= 0;
    Cell* base = stack::arg_base;
    Cell* value = base + 1;
    if (!any && cell::type_of(value) == TYPE_UNSET) {
        const Cell w = *base;
        err::raise(err::NEED_VALUE, &w);
    }
    const uint32_t t = cell::type_of(base);
    if (t == TYPE_BLOCK) {
        stack::arg_top = value + 1;
        stack::mark_native(words::w_anon);
        set_words(base, value, any, only, some);
        stack::unwind();
    } else if (is_any_path(t)) {
        const Cell path = *base;
        const Cell nothing = *block::push_new(1);
        stack::push(value);
        path_eval::eval_path(&path, &nothing, 0, path_eval::SET, true, refinements[1] >= 0);
    } else if (t == TYPE_OBJECT) {
        object::set_many(base, value, any, only, some);
    } else {
        word::set(base, value);
    }
    stack::set_last_reset(value);
}

void native_value_q(const int32_t*) {
    const Cell* v = stack::arg_base;
    if (is_any_word(cell::type_of(v))) {
        const Cell* slot = peek(v);
        answer_logic(slot && cell::type_of(slot) != TYPE_UNSET);
        return;
    }
    answer_logic(cell::type_of(v) != TYPE_UNSET);
}

void native_unset(const int32_t*) {
    Cell* base = stack::arg_base;
    if (cell::type_of(base) == TYPE_WORD) {
        word::set(base, &shared::unset);
    } else if (cell::type_of(base) == TYPE_BLOCK) {
        for (uint32_t i = series_index(base); i < tail_of(base); ++i) {
            Cell w = *block::cell_at(base, i);
            if (cell::type_of(&w) == TYPE_WORD) word::set(&w, &shared::unset);
        }
    }
    stack::set_last_reset(&shared::unset);
}

// ---- binding ----------------------------------------------------------------------

void native_bind(const int32_t* refinements) {
    Cell* base = stack::arg_base;
    const Cell* target = base + 1;
    const node_t ctx = context_of(target);
    if (!ctx) err::raise(err::NOT_DEFINED, target);
    // Words re-bound in place may reach other cells, also where a block's
    // code took in the blocks it holds.
    if (refinements[0] < 0) block_code::bump_epoch();
    if (cell::type_of(base) == TYPE_BLOCK) {
        if (refinements[0] >= 0) {
            const Cell copy = *block::copy_cells(base, true, true);
            *base = copy;
        }
        // An object's words take self along: it names the object itself.
        if (cell::type_of(target) == TYPE_OBJECT) object::bind_block(base, target, true);
        else context::bind(base, ctx, true, false);
        stack::keep_first();
        return;
    }
    // A single word is looked up by its exact spelling: deep binding of a
    // block takes any letter case, a word asked for alone does not.
    const int32_t index = context::find_symbol(ctx, word_symbol(base), false);
    if (index >= 0) {
        word_context(base) = ctx;
        word_index(base) = index;
    }
    stack::keep_first();
}

void native_in(const int32_t*) {
    Cell* base = stack::arg_base;
    const node_t ctx = context_of(base);
    Cell w = base[1];
    if (context::bind_word(ctx, &w) < 0) {
        stack::set_last_reset(&shared::none);
        return;
    }
    if (cell::type_of(&w) == TYPE_REFINEMENT) cell::set_type(&w, TYPE_WORD);
    stack::set_last_reset(&w);
}

void native_context_q(const int32_t*) {
    const node_t ctx = word_context(stack::arg_base);
    if (!ctx) {
        stack::set_last_reset(&shared::none);
        return;
    }
    // The second cell of a native's info record, which serves as its spec
    // context, is the interpreter's argument list, not an owner.
    const Cell self = *context::self_of(ctx);
    stack::set_last_reset(cell::type_of(&self) == TYPE_BLOCK ? &shared::none : &self);
}

// ---- objects and maps ---------------------------------------------------------------

void native_construct(const int32_t* refinements) {
    Cell* base = stack::arg_base;
    const Cell* proto = refinements[0] >= 0 ? base + refinements[0] : nullptr;
    const Cell made = *object::push_constructed(proto, base, refinements[1] >= 0);
    stack::set_last_reset(&made);
}

void native_extend(const int32_t* refinements) {
    // Objects cannot grow in place: the objects of one class id share
    // one field layout.
    Cell* base = stack::arg_base;
    if (cell::type_of(base) != TYPE_MAP) err::raise(err::NOT_DONE);
    map::extend_from_block(base, base + 1, refinements[0] >= 0);
    stack::keep_first();
}

// ---- new-line markers -----------------------------------------------------------------

void native_new_line(const int32_t* refinements) {
    Cell* base = stack::arg_base;
    const bool on = cell::type_of(base + 1) == TYPE_LOGIC && logic_value(base[1]) != 0;
    const bool all = refinements[0] >= 0;
    const bool skip = refinements[1] >= 0;
    const uint32_t end = tail_of(base);
    // The markers are part of the cells.
    block_code::changed(series_node(base));
    if (!all && !skip) {
        if (series_index(base) < end) set_new_line(block::cell_at(base, series_index(base)), on);
        stack::keep_first();
        return;
    }
    int32_t period = 1;
    if (!all) {
        const Cell* size = base + refinements[1];
        period = integer_value(size);
        if (period <= 0) err::raise(err::OUT_OF_RANGE, size);
    }
    // Every period-th value starts a line; the others are made to follow
    // on the same line, so the result does not depend on old markers.
    int32_t k = 0;
    for (uint32_t i = series_index(base); i < end; ++i, ++k)
        set_new_line(block::cell_at(base, i), (k % period == 0) == on);
    stack::keep_first();
}

void native_new_line_q(const int32_t*) {
    const Cell* base = stack::arg_base;
    const uint32_t at = series_index(base);
    answer_logic(at < tail_of(base) && (block::cell_at(base, at)->header & cell_flag::NEW_LINE));
}

}  // namespace qel::natives
