// Path evaluation. The walk keeps the current value, the parent and the
// selector on the argument stack (cells there never move), reads the path's
// elements through its node, and asks each current value's eval-path slot
// for the next one. A function found on the way is called with the rest of
// the path as refinements.
#include "evaluator/path_eval.hpp"

#include "runtime/actions.hpp"
#include "datatypes/object.hpp"
#include "evaluator/call.hpp"
#include "evaluator/interp.hpp"
#include "runtime/stack.hpp"
#include "runtime/errors.hpp"
#include "runtime/exits.hpp"
#include "runtime/runtime_words.hpp"
#include "runtime/words.hpp"

namespace qel::path_eval {

namespace {

using series::cells_of;

using call::is_prefix_function;

// A function met on the way is called with the elements after from as its
// refinements and the code after the path as its arguments; the call's
// result is pushed (sub) or becomes the running call's result.
uint32_t call_found(const Cell& fn, const Cell& path, Cell path_arg, const Cell& blk, uint32_t position,
                    uint32_t from, bool sub, Cell* start) {
    stack::arg_top = start;
    position = call::eval_call(&fn, &blk, position, &path, &path_arg, from, false);
    if (exit_pending()) return position;
    if (!sub) {
        *stack::arg_base = *start;
        stack::keep_first();
    }
    return position;
}

}  // namespace

uint32_t eval_path(const Cell* path_in, const Cell* block, uint32_t position, Mode mode, bool sub,
                   bool case_sensitive) {
    const Cell path = *path_in;
    const Cell blk = *block;
    const node_t n = series_node(path);
    const uint32_t first = series_index(path);
    const uint32_t total = series::cell_count(n);
    if (first >= total) err::raise(err::EMPTY_PATH, &path);
    // New value of a set-path: the cell the caller pushed last.
    Cell* const new_value = mode == SET ? stack::top() : nullptr;
    Cell* const start = stack::arg_top;

    Cell* head = cells_of(n) + first;
    if (cell::type_of(head) != TYPE_WORD) err::raise(err::WORD_FIRST, &path);
    const Cell head_word = *head;
    Cell value = *word::get(head);
    const uint32_t ht = cell::type_of(&value);
    if (ht == TYPE_UNSET) err::raise(err::UNSET_PATH, &path, &head_word);
    if (is_prefix_function(ht)) {
        if (mode == SET) err::raise(err::INVALID_PATH_SET, &path);
        if (mode == GET) err::raise(err::INVALID_PATH_GET, &path);
        Cell p = path;
        series_index(p) = 0;
        return call_found(value, path, p, blk, position, first + 1, sub, start);
    }

    // Fields of objects named by plain words, the common case, are read
    // straight from the object's context: nothing is pushed and no slot is
    // dispatched, and a read runs no user code, so the cells may stay here.
    Cell parent_value = shared::none;
    Cell previous = head_word;
    uint32_t i = first + 1;
    for (; i < total; i++) {
        Cell elem = cells_of(n)[i];
        if (cell::type_of(&value) != TYPE_OBJECT || cell::type_of(&elem) != TYPE_WORD) break;
        if (mode == SET && i + 1 == total) {
            Cell p = path;
            object::eval_path(&value, {.element = &elem, .new_value = new_value, .path = &p});
            const Cell result = *new_value;
            stack::arg_top = start;
            if (sub) stack::push(&result);
            else stack::set_last_reset(&result);
            return position;
        }
        parent_value = value;
        value = *object::path_field(&parent_value, &elem, &path);
        previous = elem;
        if (mode == CALL && is_prefix_function(cell::type_of(&value)))
            return call_found(value, path, path, blk, position, i + 1, sub, start);
    }
    if (i == total) {
        if (sub) stack::push(&value);
        else stack::set_last_reset(&value);
        return position;
    }

    // cur, parent and the element on the stack: the slots receive Cell*.
    Cell* cur = stack::push(&value);
    Cell* parent = stack::push(&parent_value);
    Cell* sel = stack::push(&shared::none);
    Cell* prev = stack::push(&previous);
    for (; i < total; i++) {
        const Cell elem = cells_of(n)[i];
        const uint32_t et = cell::type_of(&elem);
        if (et == TYPE_GET_WORD) {
            Cell w = elem;
            *sel = *word::get(&w);
        } else if (et == TYPE_PAREN) {
            stack::mark_native(words::w_body);
            interp::eval_block(&elem, true);
            if (exit_pending()) return position;
            stack::unwind_keep();
            *sel = *stack::top();
            stack::pop_n(1);
        } else {
            *sel = elem;
        }
        if (cell::type_of(sel) == TYPE_UNSET) err::raise(err::INVALID_PATH, &path, &elem);
        const bool last = i + 1 == total;
        Cell p = path;
        const auto slot = datatype::action<datatype::EVAL_PATH>(cell::type_of(cur));
        if (!slot) {
            const Cell type{TYPE_DATATYPE, cell::type_of(cur), 0, 0};
            // The message names the element that gave the value, its type
            // and the path.
            const Cell from = *prev;
            err::raise(err::BAD_PATH_TYPE, &path, &type, &from);
        }
        Cell* nv = last && mode == SET ? new_value : nullptr;
        const datatype::PathStep step{.element = sel, .new_value = nv, .path = &p, .parent = parent, .previous = prev,
                                      .index = static_cast<int32_t>(i - first), .case_sensitive = case_sensitive};
        Cell* answer = slot(cur, step);
        const Cell got = answer ? *answer : shared::none;
        *parent = *cur;
        *cur = got;
        *prev = elem;
        if (mode == CALL && is_prefix_function(cell::type_of(cur))) {
            const Cell fn = *cur;
            return call_found(fn, path, path, blk, position, i + 1, sub, start);
        }
    }
    const Cell result = mode == SET ? *new_value : *cur;
    stack::arg_top = start;
    if (sub) stack::push(&result);
    else stack::set_last_reset(&result);
    return position;
}

}  // namespace qel::path_eval
