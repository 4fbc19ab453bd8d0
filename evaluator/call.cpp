// Calls of function values: argument lists, fetching, and the calls.
//
// Frames of a call. A native or action gets one kind-2 frame whose base is
// its first argument cell. An interpreted function gets a kind-1 frame
// holding its context (whose values pointer it saves), then the argument
// cells, then a body frame (the target of return and exit) above them;
// the context's values pointer is set to the first argument cell, so a
// bound word of the body reaches its cell with one index.
//
// Exits. return, exit, break and continue come back as a pending exit:
// the thrower has already settled the stacks for the frame that takes it.
// Every step here that sees a pending exit returns at once without
// touching the stacks, except that a function restores its context's
// values pointer on the way out (the frames it lies in are gone already).
// The function body takes return and exit; everything else passes on.
#include "evaluator/call.hpp"

#include "datatypes/typeset.hpp"
#include "evaluator/action_entries.hpp"
#include "evaluator/interp.hpp"
#include "evaluator/natives.hpp"
#include "evaluator/path_eval.hpp"
#include "evaluator/stack.hpp"
#include "runtime/context.hpp"
#include "runtime/errors.hpp"
#include "runtime/exits.hpp"
#include "runtime/runtime_words.hpp"
#include "runtime/symbols.hpp"
#include "runtime/words.hpp"
#include "datatypes/block.hpp"

namespace qel::call {

namespace {

inline Cell* cells_of(node_t n) { return series::head_cell(series::buffer_of(n)); }
inline uint32_t count_of(node_t n) {
    const SeriesBuffer* s = series::buffer_of(n);
    return (s->tail - s->head) / sizeof(Cell);
}

constexpr uint32_t MAX_REFINEMENTS = 32;
const Cell none_cell{TYPE_NONE, 0, 0, 0};
const Cell false_cell{TYPE_LOGIC, 0, 0, 0};

bool is_truthy(const Cell* v) {
    const uint32_t t = cell::type_of(v);
    return !(t == TYPE_NONE || (t == TYPE_LOGIC && v->data1 == 0));
}

bool is_function_type(uint32_t t) { return t == TYPE_FUNCTION || t == TYPE_ROUTINE; }

// The argument word of list entry i, for error messages: the i-th name of
// the spec (words, get-words, lit-words, refinements; return: skipped).
Cell arg_word(const Cell& fn, uint32_t entry) {
    const node_t spec = fn.data2;
    uint32_t seen = 0;
    for (uint32_t k = 0; k < count_of(spec); k++) {
        Cell c = cells_of(spec)[k];
        const uint32_t t = cell::type_of(&c);
        if (t == TYPE_WORD || t == TYPE_GET_WORD || t == TYPE_LIT_WORD || t == TYPE_REFINEMENT) {
            if (seen++ == entry) {
                cell::set_type(&c, TYPE_WORD);
                return c;
            }
        }
    }
    return none_cell;
}

Cell call_name(const Cell* name) {
    if (name && cell::type_of(name) == TYPE_WORD) return *name;
    if (name && cell::type_of(name) >= TYPE_PATH && cell::type_of(name) <= TYPE_GET_PATH) return *name;
    return *words::w_anon;
}

[[noreturn]] void expect_arg(const Cell& fn, const Cell* name, const Cell* value, uint32_t entry) {
    const Cell n = call_name(name);
    const Cell type{TYPE_DATATYPE, cell::type_of(value), 0, 0};
    const Cell word = arg_word(fn, entry);
    err::raise(err::EXPECT_ARG, &n, &type, &word);
}

inline void check_type(const Cell& fn, const Cell* name, const Cell& ts, const Cell* value, uint32_t entry) {
    if (!typeset::has(&ts, cell::type_of(value))) [[unlikely]]
        expect_arg(fn, name, value, entry);
}

// One argument from the block, pushed. For infix calls the right operand
// takes no operators of its own.
uint32_t fetch_argument(const Cell& fn, const Cell& blk, uint32_t pos, const Cell& ts, uint32_t entry,
                        const Cell* name, bool infix) {
    const uint32_t tail = count_of(blk.data2);
    const uint32_t kind = (ts.header & KIND_MASK) >> KIND_SHIFT;
    if (pos >= tail) {
        if (kind == LITERAL && typeset::has(&ts, TYPE_UNSET)) {
            stack::push(&shared::unset);
            return pos;
        }
        const Cell n = call_name(name);
        const Cell word = arg_word(fn, entry);
        err::raise(err::NO_ARG, &n, &word);
    }
    if (kind == EVALUATED) return interp::eval_expression(&blk, pos, infix, true, false);
    const Cell v = cells_of(blk.data2)[pos];
    if (kind == LITERAL) {
        const uint32_t t = cell::type_of(&v);
        if (t == TYPE_PAREN) {
            stack::mark_interp_native(words::w_anon);
            interp::eval_block(&v, true);
            if (!exit_pending()) stack::unwind_keep();
            return pos + 1;
        }
        if (t == TYPE_GET_WORD) {
            Cell w = v;
            stack::push(word::get(&w));
            return pos + 1;
        }
        if (t == TYPE_GET_PATH) {
            path_eval::eval_path(&v, &blk, pos + 1, path_eval::GET, true);
            return pos + 1;
        }
    }
    stack::push(&v);
    return pos + 1;
}

uint32_t fetch_arguments(const Cell& fn, const Cell& blk, uint32_t pos, const Cell* name, const Cell* path,
                         uint32_t path_from, bool infix, int32_t* refs) {
    const node_t list = cells_of(fn.data3)[1].data2;
    const uint32_t count = count_of(list);
    const bool is_fn = is_function_type(cell::type_of(&fn));
    bool left = infix;
    uint32_t i = 0;
    for (; i < count; i++) {
        const Cell e = cells_of(list)[i];
        if (cell::type_of(&e) != TYPE_TYPESET) break;
        if (left) {
            left = false;
            check_type(fn, name, e, stack::arg_base, i);
            continue;
        }
        pos = fetch_argument(fn, blk, pos, e, i, name, infix);
        if (exit_pending()) [[unlikely]] return pos;
        check_type(fn, name, e, stack::top(), i);
    }
    const uint32_t first_refinement = i;
    uint32_t nrefs = 0;
    if (is_fn) {
        for (; i < count; i++) {
            const Cell e = cells_of(list)[i];
            const uint32_t t = cell::type_of(&e);
            if (t == TYPE_REFINEMENT) stack::push(&false_cell);
            else if (t == TYPE_TYPESET) stack::push(&none_cell);
            else if (t == TYPE_INTEGER && e.data2 > 0) {
                stack::push(&false_cell);
                for (uint32_t k = 1; k < e.data2; k++) stack::push(&none_cell);
            }
        }
    } else if (count && cell::type_of(&cells_of(list)[count - 1]) == TYPE_INTEGER) {
        nrefs = cells_of(list)[count - 1].data2;
        for (uint32_t k = 0; k < nrefs && k < MAX_REFINEMENTS; k++) refs[k] = -1;
    }
    if (!path) return pos;

    const Cell p = *path;
    for (uint32_t k = path_from; k < count_of(p.data2); k++) {
        const Cell elem = cells_of(p.data2)[k];
        const uint32_t et = cell::type_of(&elem);
        if (et != TYPE_WORD && et != TYPE_GET_WORD) err::raise(err::BAD_REFINE, &elem);
        bool used = true;
        if (et == TYPE_GET_WORD) {
            Cell w = elem;
            used = is_truthy(word::get(&w));
        }
        const int32_t sym = symbol::canonical(static_cast<int32_t>(elem.data2));
        uint32_t j = first_refinement;
        for (; j < count; j++) {
            const Cell e = cells_of(list)[j];
            if (cell::type_of(&e) == TYPE_REFINEMENT &&
                symbol::canonical(static_cast<int32_t>(e.data2)) == sym)
                break;
        }
        if (j >= count) {
            const Cell n = call_name(name);
            err::raise(err::NO_REFINE, &n, &elem);
        }
        if (is_fn) {
            Cell* flag = stack::arg_base + j;
            if (flag->data1) err::raise(err::DUP_REFINE, &p);
            *flag = Cell{TYPE_LOGIC, used ? 1u : 0u, 0, 0};
        } else {
            const uint32_t ord = cells_of(list)[j].data3;
            if (ord == 0 || ord > MAX_REFINEMENTS || refs[ord - 1] != -1) err::raise(err::DUP_REFINE, &p);
            refs[ord - 1] = static_cast<int32_t>(stack::arg_top - stack::arg_base);
        }
        for (uint32_t a = j + 1; a < count; a++) {
            const Cell e = cells_of(list)[a];
            if (cell::type_of(&e) != TYPE_TYPESET) break;
            pos = fetch_argument(fn, blk, pos, e, a, name, infix);
            if (exit_pending()) [[unlikely]] return pos;
            if (!used) {
                stack::pop_n(1);
                continue;
            }
            check_type(fn, name, e, stack::top(), a);
            if (is_fn) {
                stack::arg_base[a] = *stack::top();
                stack::pop_n(1);
            }
        }
    }
    return pos;
}

}  // namespace

node_t build_arg_list(const Cell* spec_in, bool native) {
    const Cell spec = *spec_in;
    Cell* list = block::push_new(8);
    uint32_t ordinal = 0, locals = 0;
    bool in_locals = false;
    const uint32_t total = count_of(spec.data2);
    for (uint32_t i = spec.data1; i < total; i++) {
        const Cell c = cells_of(spec.data2)[i];
        const uint32_t t = cell::type_of(&c);
        if (in_locals) {
            if (t == TYPE_SET_WORD) {
                in_locals = false;
            } else {
                if (t == TYPE_WORD) locals++;
                continue;
            }
        }
        if (t == TYPE_WORD || t == TYPE_GET_WORD || t == TYPE_LIT_WORD) {
            const bool typed = i + 1 < total && cell::type_of(&cells_of(spec.data2)[i + 1]) == TYPE_BLOCK &&
                               block::length(&cells_of(spec.data2)[i + 1]) > 0;
            Cell* ts;
            if (typed) {
                const Cell types = cells_of(spec.data2)[i + 1];
                ts = typeset::append_from_block(list, &types);
            } else {
                ts = typeset::append_all_types(list);
            }
            const uint32_t kind = t == TYPE_WORD ? EVALUATED : t == TYPE_GET_WORD ? GET : LITERAL;
            ts->header = (ts->header & ~KIND_MASK) | (kind << KIND_SHIFT);
        } else if (t == TYPE_REFINEMENT) {
            if (symbol::canonical(static_cast<int32_t>(c.data2)) ==
                symbol::canonical(static_cast<int32_t>(words::w_local->data2))) {
                in_locals = true;
                locals = 1;
                continue;
            }
            Cell r = c;
            r.data3 = native ? ++ordinal : 0;
            block::append_copy(list, &r);
        }
    }
    const uint32_t n = native ? ordinal : locals;
    if (n) {
        const Cell count_cell{TYPE_INTEGER, 0, n, 0};
        block::append_copy(list, &count_cell);
    }
    const node_t node = list->data2;
    stack::pop_n(1);
    return node;
}

void call_function(const Cell* fn_in, const Cell* name) {
    const Cell fn = *fn_in;
    const Cell body = cells_of(fn.data3)[0];
    stack::mark_func_body(name, fn.data1);
    interp::eval_block(&body, true);
    if (exit_pending()) {
        if (pending_exit != catch_code::RETURN && pending_exit != catch_code::EXIT) return;
        pending_exit = 0;
        stack::keep_first();
    }
    stack::unwind_last();
}

uint32_t eval_call(const Cell* fn_in, const Cell* block, uint32_t pos, const Cell* name, const Cell* path,
                   uint32_t path_from, bool infix) {
    stack::check_depth();
    const Cell fn = *fn_in;
    const Cell blk = *block;
    Cell* start = infix ? stack::arg_top - 1 : stack::arg_top;
    int32_t refs[MAX_REFINEMENTS];
    const uint32_t t = cell::type_of(&fn);
    stack::arg_top = start;
    // A call through a path is named by the path's first word.
    Cell head_word;
    if (name && cell::type_of(name) >= TYPE_PATH && cell::type_of(name) <= TYPE_GET_PATH) {
        head_word = cells_of(name->data2)[name->data1];
        name = &head_word;
        if (cell::type_of(name) != TYPE_WORD) name = nullptr;
    }
    if (is_function_type(t)) {
        const node_t ctx = fn.data1;
        const uint32_t saved_values = context::cell_of(ctx)->data2;
        stack::mark_call(name, ctx);
        stack::set_interp_flag();
        if (infix) stack::arg_top = start + 1;
        pos = fetch_arguments(fn, blk, pos, name, path, path_from, infix, refs);
        if (!exit_pending()) call_function(&fn, name);
        if (exit_pending()) [[unlikely]] {
            context::cell_of(ctx)->data2 = saved_values;
            return pos;
        }
        stack::unwind_keep_call();
        return pos;
    }
    stack::mark_interp_native(name);
    if (infix) stack::arg_top = start + 1;
    pos = fetch_arguments(fn, blk, pos, name, path, path_from, infix, refs);
    if (exit_pending()) [[unlikely]] return pos;
    if (t == TYPE_NATIVE) {
        const natives::Entry* e = natives::entry_of(static_cast<int32_t>(fn.data1));
        if (!e || !e->fn) err::raise(err::NOT_DONE);
        e->fn(false, refs);
    } else if (t == TYPE_ACTION) {
        actions::ActionEntry entry = actions::entry_of_slot(fn.data1 - 1);
        if (!entry) err::raise(err::NOT_DONE);
        entry(refs);
    } else {
        err::raise(err::NOT_DONE);
    }
    if (exit_pending()) return pos;
    stack::unwind_keep();
    return pos;
}

void apply_values(const Cell* fn_in, const Cell* args, uint32_t count) {
    // The arguments go into a block that the ordinary fetching reads;
    // evaluated arguments therefore see each value evaluated once more.
    const Cell fn = *fn_in;
    const Cell b = *block::push_new(static_cast<int32_t>(count));
    for (uint32_t i = 0; i < count; i++) block::append_copy(&b, &args[i]);
    const uint32_t t = cell::type_of(&fn);
    if (t != TYPE_NATIVE && t != TYPE_ACTION && !is_function_type(t)) err::raise(err::NOT_DONE);
    Cell* held = stack::top();  // the block stays on the stack for the collector
    eval_call(&fn, &b, 0, nullptr, nullptr, 0, false);
    if (exit_pending()) return;
    *held = *(held + 1);
    stack::arg_top = held + 1;
}

}  // namespace qel::call
