// Calls of function values: argument lists, fetching, and the calls.
//
// Frames of a call. A native, action or routine gets one NativeCall frame,
// which keeps its spec, whose base is its first argument cell. An
// interpreted function gets a Call frame holding its context (whose values
// pointer it saves), then the argument cells, then a body frame (the
// target of return and exit) above them; the context's values pointer is
// set to the first argument cell, so a bound word of the body reaches its
// cell with one index.
//
// Exits. return, exit, break and continue come back as a pending exit:
// the thrower has already settled the stacks for the frame that takes it.
// Every step here that sees a pending exit returns at once without
// touching the stacks, except that a function restores its context's
// values pointer on the way out (the frames it lies in are gone already).
// The function body takes return and exit; everything else passes on.
#include "evaluator/call.hpp"

#include "datatypes/function.hpp"
#include "datatypes/typeset.hpp"
#include "evaluator/action_entries.hpp"
#include "evaluator/interp.hpp"
#include "evaluator/natives.hpp"
#include "evaluator/path_eval.hpp"
#include "evaluator/routines.hpp"
#include "runtime/stack.hpp"
#include "evaluator/trace.hpp"
#include "runtime/checks.hpp"
#include "runtime/context.hpp"
#include "runtime/datatypes.hpp"
#include "runtime/errors.hpp"
#include "runtime/exits.hpp"
#include "runtime/memory.hpp"
#include "runtime/runtime_words.hpp"
#include "runtime/symbols.hpp"
#include "runtime/words.hpp"
#include "datatypes/block.hpp"

namespace qel::call {

namespace {

using series::cells_of;

constexpr uint32_t MAX_REFINEMENTS = 32;
const Cell none_cell{TYPE_NONE, 0, 0, 0};
const Cell false_cell{TYPE_LOGIC, 0, 0, 0};

// The values whose calls lay out every slot of the argument list as cells
// of the frame (refinements as logic! cells), rather than passing natives'
// refinement integers.
bool is_function_or_routine(uint32_t t) { return t == TYPE_FUNCTION || t == TYPE_ROUTINE; }

// A native's or action's refinement integers, every one absent. last is
// the argument list's last entry: an integer! counting them, if it has any.
inline void clear_refinements(const Cell& last, int32_t* refs) {
    if (cell::type_of(&last) != TYPE_INTEGER) return;
    for (uint32_t k = 0; k < arg_entry_count(last) && k < MAX_REFINEMENTS; k++) refs[k] = -1;
}

// The word of argument-list entry i, for error messages: a refinement
// names itself; an argument is named by the running call's spec, whose
// argument numbers leave out the refinements.
Cell arg_word(const Cell& fn, uint32_t entry) {
    // Cell 1 of a function's body record, as of a native's info record.
    const node_t list = series_node(function::arg_list_of(fn));
    if (entry >= series::cell_count(list)) return none_cell;
    const Cell* entries = cells_of(list);
    if (cell::type_of(entries + entry) == TYPE_REFINEMENT) {
        // The entry's third word holds its ordinal, not a word index.
        Cell word = entries[entry];
        cell::set_type(&word, TYPE_WORD);
        word_index(word) = -1;
        return word;
    }
    int n = 0;
    for (uint32_t k = 0; k < entry; k++)
        if (cell::type_of(entries + k) == TYPE_TYPESET) n++;
    return err::arg_name_at(n);
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
    const uint32_t tail = series::cell_count(series_node(blk));
    if (trace::active && pos < tail) [[unlikely]]
        trace::fire(trace::FETCH, &blk, pos, nullptr, &cells_of(series_node(blk))[pos]);
    const function::ArgKind kind = function::arg_kind(ts);
    if (pos >= tail) {
        if (kind == function::ArgKind::LITERAL && typeset::has(&ts, TYPE_UNSET)) {
            stack::push(&shared::unset);
            return pos;
        }
        const Cell n = call_name(name);
        const Cell word = arg_word(fn, entry);
        err::raise(err::NO_ARG, &n, &word);
    }
    if (kind == function::ArgKind::EVALUATED) return interp::eval_expression(&blk, pos, {.no_infix = infix, .sub = true});
    const Cell v = cells_of(series_node(blk))[pos];
    if (kind == function::ArgKind::LITERAL) {
        const uint32_t t = cell::type_of(&v);
        if (t == TYPE_PAREN) {
            stack::mark_native(words::w_anon);
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

// An evaluated argument from the block: a block written in the code, not
// followed by a word (an operator there would take it as its left operand;
// infix right operands take none), is pushed inline as it stands; other
// values that run no code go through eval_plain; the rest through the
// walker. Only for calls made while no trace runs, since the walker would
// report the push. The block's cells are read here, since an earlier
// argument may have changed it.
inline uint32_t fetch_evaluated(const Cell& blk, const SeriesBuffer* b, uint32_t pos, bool infix) {
    const uint32_t tail = (b->tail - b->head) / sizeof(Cell);
    const Cell* cells = series::head_cell(const_cast<SeriesBuffer*>(b));
    if (cell::type_of(cells + pos) == TYPE_BLOCK &&
        (infix || pos + 1 >= tail || cell::type_of(cells + pos + 1) != TYPE_WORD)) {
        stack::push(cells + pos);
        return pos + 1;
    }
    if (interp::eval_plain(blk, cells, tail, pos, infix)) return pos;
    return interp::eval_expression(&blk, pos, {.no_infix = infix, .sub = true});
}

// What one call's argument fetching needs besides the position.
struct Fetch {
    const Cell& fn;
    const Cell& blk;
    const Cell* name;
    node_t list;
    uint32_t count;    // entries of the argument list
    uint32_t plain;    // leading entries that are evaluated and take any type
    uint32_t tail;     // apply mode: the block's tail when the call began
    uint32_t mode;     // 0 from the interpreter, else the apply mode bits
    bool infix;
    bool is_fn;        // function! or routine!: refinements are logic cells
    int32_t* refs;     // native!/action!: the refinement integers
    // The list's cells as last read, and the memory generation then: the
    // list never changes, so its cells are read again only when buffers
    // may have moved.
    const Cell* entries;
    uint32_t seen;
    // Arguments already on the stack when the fetching starts (a call that
    // compiled code began): their entries are skipped.
    uint32_t first = 0;
    // A call through a path that compiled code began and left inside its
    // refinements: the frame's cells after the arguments are in place
    // (laid), and the refinement argument of entry `placed` (-1: none) is
    // on the top, checked, still to be moved into its cell.
    bool laid = false;
    int32_t placed = -1;
};

inline const Cell& entry_at(Fetch& f, uint32_t i) {
    if (f.seen != memory::generation) [[unlikely]] {
        f.entries = cells_of(f.list);
        f.seen = memory::generation;
    }
    return f.entries[i];
}

// The last argument entry of the refinement at entry i (i itself when it
// takes none).
uint32_t next_non_arg(Fetch& f, uint32_t i) {
    while (i + 1 < f.count && cell::type_of(&entry_at(f, i + 1)) == TYPE_TYPESET) i++;
    return i;
}

// One argument in apply mode: at the end of the block none stands in for
// it; with SAFER an evaluated argument is the one value at the position
// alone, so a function found there cannot take the values after it.
uint32_t fetch_apply_argument(Fetch& f, uint32_t pos, const Cell& ts, uint32_t entry) {
    if (pos >= f.tail) {
        stack::push(&none_cell);
        return pos;
    }
    if (f.mode & LITERAL_VALUES) {
        stack::push(&cells_of(series_node(f.blk))[pos]);
        return pos + 1;
    }
    const function::ArgKind kind = function::arg_kind(ts);
    if (!(f.mode & SAFER) || kind != function::ArgKind::EVALUATED)
        return fetch_argument(f.fn, f.blk, pos, ts, entry, f.name, false);
    // The single value goes into a block of its own, held on the stack
    // while it runs; the result then takes the holder's cell.
    Cell* holder = block::push_new(1);
    const Cell one = *holder;
    block::append_copy(&one, &cells_of(series_node(f.blk))[pos]);
    interp::eval_expression(&one, 0, {.sub = true});
    if (exit_pending()) [[unlikely]] return pos + 1;
    *holder = *stack::top();
    stack::arg_top = holder + 1;
    return pos + 1;
}

// The arguments of the refinement at entry j: used ones fetched and type
// checked (for functions, moved into their cells after the refinement's
// logic cell when they were not fetched in place); unused ones dropped
// after evaluation, or skipped unevaluated in SAFER apply mode.
uint32_t refinement_args(Fetch& f, uint32_t pos, uint32_t j, bool used, bool in_place) {
    for (uint32_t a = j + 1; a < f.count; a++) {
        const Cell e = entry_at(f, a);
        if (cell::type_of(&e) != TYPE_TYPESET) break;
        if (!used && f.mode && (f.mode & SAFER)) {
            if (pos < f.tail) pos++;
            if (in_place) stack::push(&none_cell);
            continue;
        }
        if (f.mode) pos = fetch_apply_argument(f, pos, e, a);
        else pos = fetch_argument(f.fn, f.blk, pos, e, a, f.name, f.infix);
        if (exit_pending()) [[unlikely]] return pos;
        if (!used) {
            stack::pop_n(1);
            if (in_place) stack::push(&none_cell);
            continue;
        }
        // A missing apply argument is none, checked like any other: the
        // entry of a native trusts every argument it is given.
        check_type(f.fn, f.name, e, stack::top(), a);
        if (f.is_fn && !in_place) {
            stack::arg_base[a] = *stack::top();
            stack::pop_n(1);
        }
    }
    return pos;
}

// A refinement named by a path element or an apply block: finds it among
// the refinements of the list, marks it used or not, fetches its
// arguments. dup is what a second use reports.
uint32_t name_refinement(Fetch& f, uint32_t pos, uint32_t first_refinement, const Cell& elem, bool used,
                         const Cell& dup) {
    const int32_t sym = symbol::canonical(word_symbol(elem));
    uint32_t j = first_refinement;
    for (; j < f.count; j++) {
        const Cell e = entry_at(f, j);
        if (cell::type_of(&e) == TYPE_REFINEMENT && symbol::canonical(word_symbol(e)) == sym) break;
    }
    if (j >= f.count) {
        const Cell n = call_name(f.name);
        err::raise(err::NO_REFINE, &n, &elem);
    }
    if (f.is_fn) {
        Cell* flag = stack::arg_base + j;
        if (logic_value(flag)) err::raise(err::DUP_REFINE, &dup);
        *flag = Cell{TYPE_LOGIC, used ? 1u : 0u, 0, 0};
    } else {
        const uint32_t ord = arg_entry_ordinal(entry_at(f, j));
        if (ord == 0 || ord > MAX_REFINEMENTS || f.refs[ord - 1] != -1) err::raise(err::DUP_REFINE, &dup);
        if (used) f.refs[ord - 1] = static_cast<int32_t>(stack::arg_top - stack::arg_base);
    }
    return refinement_args(f, pos, j, used, false);
}

// Apply mode without named refinements: every refinement takes a logic!
// from the block, then its arguments.
uint32_t apply_refinements(Fetch& f, uint32_t pos, uint32_t i) {
    for (; i < f.count; i++) {
        const Cell e = entry_at(f, i);
        const uint32_t t = cell::type_of(&e);
        if (t == TYPE_INTEGER) {
            if (f.is_fn) push_locals(arg_entry_count(e));
            continue;
        }
        if (t != TYPE_REFINEMENT) continue;
        bool used = false;
        if (pos < f.tail && !(f.mode & NAMED)) {
            const Cell any{TYPE_TYPESET, 0, 0, 0};
            pos = fetch_apply_argument(f, pos, any, i);
            if (exit_pending()) [[unlikely]] return pos;
            const Cell v = *stack::top();
            stack::pop_n(1);
            if (cell::type_of(&v) != TYPE_LOGIC) expect_arg(f.fn, f.name, &v, i);
            used = logic_value(v) != 0;
            if (f.is_fn) stack::push(&v);
            else if (used)
                f.refs[arg_entry_ordinal(entry_at(f, i)) - 1] = static_cast<int32_t>(stack::arg_top - stack::arg_base);
            // Unused arguments are still evaluated (and dropped) in mode 1
            // only, so that the block's side effects happen in order.
            if (used || f.mode == APPLY) {
                pos = refinement_args(f, pos, i, used, f.is_fn);
                if (exit_pending()) [[unlikely]] return pos;
                i = next_non_arg(f, i);
                continue;
            }
        } else if (f.is_fn) {
            stack::push(&false_cell);
        }
        // Unused without taking values: functions get none, natives nothing.
        const uint32_t end = next_non_arg(f, i);
        for (uint32_t a = i + 1; a <= end; a++) {
            if (f.is_fn) stack::push(&none_cell);
            if (pos < f.tail && !(f.mode & NAMED)) pos++;
        }
        i = end;
    }
    return pos;
}

// NAMED apply mode after the arguments: /ref, an expression for whether
// it is used, then its arguments, to the end of the block.
uint32_t named_refinements(Fetch& f, uint32_t pos, uint32_t first_refinement) {
    while (pos < f.tail) {
        const Cell elem = cells_of(series_node(f.blk))[pos];
        if (cell::type_of(&elem) != TYPE_REFINEMENT) err::raise(err::BAD_REFINE, &elem);
        const Cell any{TYPE_TYPESET, 0, 0, 0};
        pos = fetch_apply_argument(f, pos + 1, any, first_refinement);
        if (exit_pending()) [[unlikely]] return pos;
        const bool used = is_truthy(stack::top());
        stack::pop_n(1);
        pos = name_refinement(f, pos, first_refinement, elem, used, elem);
        if (exit_pending()) [[unlikely]] return pos;
    }
    return pos;
}

// The arguments, then the refinements: in apply mode without a path as
// the mode bits say; from the interpreter, and in apply mode through a
// path, the path's refinements in path order, each taking its arguments
// from the block (none once an apply block is exhausted).
uint32_t fetch_arguments(Fetch& f, uint32_t pos, const Cell* path, uint32_t path_from) {
    bool left = f.infix && f.first == 0;
    uint32_t i = f.first;
    // Plain arguments from the interpreter: only an unset result can fail
    // their check, and the check itself then raises the usual error. A
    // trace switched on by an argument, or the block's end, sends the rest
    // down the general loop below, which fires and reports as always.
    if (!f.mode && !f.infix) {
        for (; i < f.plain; i++) {
            const SeriesBuffer* b = series::buffer_of(series_node(f.blk));
            if (trace::active || pos >= (b->tail - b->head) / sizeof(Cell)) [[unlikely]] break;
            pos = fetch_evaluated(f.blk, b, pos, false);
            if (exit_pending()) [[unlikely]] return pos;
            const uint32_t t = cell::type_of(stack::top());
            if (t == TYPE_UNSET || t >= typeset::BITS) [[unlikely]]
                check_type(f.fn, f.name, entry_at(f, i), stack::top(), i);
        }
    }
    for (; i < f.count; i++) {
        const Cell e = entry_at(f, i);
        if (cell::type_of(&e) != TYPE_TYPESET) break;
        if (left) {
            left = false;
            check_type(f.fn, f.name, e, stack::arg_base, i);
            continue;
        }
        if (f.mode) {
            pos = fetch_apply_argument(f, pos, e, i);
            if (exit_pending()) [[unlikely]] return pos;
        } else if (const SeriesBuffer* b = series::buffer_of(series_node(f.blk));
                   !trace::active && function::arg_kind(e) == function::ArgKind::EVALUATED &&
                   pos < (b->tail - b->head) / sizeof(Cell)) [[likely]] {
            // The common argument, taken without fetch_argument's cases.
            pos = fetch_evaluated(f.blk, b, pos, f.infix);
            if (exit_pending()) [[unlikely]] return pos;
        } else {
            pos = fetch_argument(f.fn, f.blk, pos, e, i, f.name, f.infix);
            if (exit_pending()) [[unlikely]] return pos;
        }
        check_type(f.fn, f.name, e, stack::top(), i);
    }
    const uint32_t first_refinement = i;
    if (!f.is_fn && f.count) clear_refinements(entry_at(f, f.count - 1), f.refs);
    if (f.mode && !path) {
        pos = apply_refinements(f, pos, i);
        if (exit_pending() || !(f.mode & NAMED)) return pos;
        return named_refinements(f, pos, first_refinement);
    }
    if (f.is_fn && i < f.count && !f.laid) push_unused_entries(f.list, i);
    if (!path) return pos;
    if (f.placed >= 0) {
        const auto a = static_cast<uint32_t>(f.placed);
        stack::arg_base[a] = *stack::top();
        stack::pop_n(1);
        pos = refinement_args(f, pos, a, true, false);
        if (exit_pending()) [[unlikely]] return pos;
    }

    const Cell p = *path;
    for (uint32_t k = path_from; k < series::cell_count(series_node(p)); k++) {
        const Cell elem = cells_of(series_node(p))[k];
        const uint32_t et = cell::type_of(&elem);
        if (et != TYPE_WORD && et != TYPE_GET_WORD) err::raise(err::BAD_REFINE, &elem);
        bool used = true;
        if (et == TYPE_GET_WORD) {
            Cell w = elem;
            used = is_truthy(word::get(&w));
        }
        pos = name_refinement(f, pos, first_refinement, elem, used, p);
        if (exit_pending()) [[unlikely]] return pos;
    }
    // Applied through a path: the block may still name more refinements.
    if (f.mode & NAMED) return named_refinements(f, pos, first_refinement);
    return pos;
}

}  // namespace

namespace {

// A function body while a trace is installed: the function's own trace
// attributes (and the built-in mark of library functions) decide whether
// its body fires events; prolog and epilog frame the body when it does.
void call_function_traced(const Cell& fn, const Cell& body, const Cell* name) {
    const trace::BodyScope scope(fn.header);
    if (trace::active) trace::fire(trace::PROLOG, &body, series_index(body), name, &fn);
    interp::eval_block(&body, true);
    if (exit_pending()) {
        if (pending_exit != catch_code::RETURN && pending_exit != catch_code::EXIT) return;
        pending_exit = 0;
        stack::keep_first();
    }
    if (trace::active) trace::fire(trace::EPILOG, &body, series::cell_count(series_node(body)), name, &fn);
    stack::unwind_last();
}

}  // namespace

void call_function(const Cell* fn_in, const Cell* name) {
    const Cell fn = *fn_in;
    const Cell body = function::body_of(fn);
    stack::mark_func_body(name, function_context(fn));
    if (trace::installed) [[unlikely]] {
        call_function_traced(fn, body, name);
        return;
    }
    interp::eval_block(&body, true);
    if (exit_pending()) {
        if (pending_exit != catch_code::RETURN && pending_exit != catch_code::EXIT) return;
        pending_exit = 0;
        stack::keep_first();
    }
    stack::unwind_last();
}

namespace {

// Runs the entry of a native! or action! on the arguments in place from
// the argument base: the native table's entry, or the action slot's.
inline void run_entry(const Cell& fn, const int32_t* refs) {
    if (cell::type_of(&fn) == TYPE_NATIVE) {
        const natives::Entry* e = natives::entry_of(static_cast<int32_t>(native_index(fn)));
        if (!e || !e->fn) err::raise(err::NOT_DONE);
        e->fn(refs);
        return;
    }
    const actions::ActionEntry entry = actions::entry_of_slot(native_index(fn) - 1);
    if (!entry) err::raise(err::NOT_DONE);
    entry(refs);
}

[[noreturn]] void unfit_entry(const Cell& fn) {
    const Cell spec{TYPE_BLOCK, 0, native_spec(fn), 0};
    err::raise(err::BAD_FUNC_DEF, &spec);
}

// The rest of a call whose frame is pushed: the arguments from entry
// f.first on, then the call. start is the call's first cell.
uint32_t complete_call(Fetch& f, Cell* start, uint32_t pos, const Cell* path, uint32_t path_from) {
    const Cell& fn = f.fn;
    const Cell& blk = f.blk;
    const Cell* name = f.name;
    const uint32_t t = cell::type_of(&fn);
    if (t == TYPE_FUNCTION) {
        const node_t ctx = function_context(fn);
        const uint32_t saved_values = (stack::frame_top - 1)->saved_values;
        pos = fetch_arguments(f, pos, path, path_from);
        if (!exit_pending()) {
            if (trace::active) [[unlikely]]
                trace::fire(trace::CALL, &blk, f.mode ? 0 : pos, name, &fn);
            call_function(&fn, name);
        }
        if (exit_pending()) [[unlikely]] {
            context_values(context::cell_of(ctx)) = saved_values;
            return pos;
        }
        stack::unwind_keep_call();
        if (trace::active) [[unlikely]]
            trace::fire(trace::RETURN, &blk, pos, name, start);
        return pos;
    }
    pos = fetch_arguments(f, pos, path, path_from);
    if (exit_pending()) [[unlikely]] return pos;
    if (trace::active) [[unlikely]]
        trace::fire(trace::CALL, &blk, f.mode ? 0 : pos, name, &fn);
    if (t == TYPE_ROUTINE) routines::call(&fn, name);
    else run_entry(fn, f.refs);
    if (exit_pending()) return pos;
    stack::unwind_keep();
    if (trace::active) [[unlikely]]
        trace::fire(trace::RETURN, &blk, pos, name, start);
    return pos;
}

// The fetching state of a call of fn from blk.
Fetch fetch_state(const Cell& fn, const Cell& blk, const Cell* name, const Cell& list_cell, uint32_t mode,
                  bool infix, int32_t* refs) {
    const node_t list = series_node(list_cell);
    const SeriesBuffer* entries = series::buffer_of(list);
    return Fetch{fn,
                 blk,
                 name,
                 list,
                 static_cast<uint32_t>((entries->tail - entries->head) / sizeof(Cell)),
                 function::arg_list_plain(list_cell),
                 mode ? series::cell_count(series_node(blk)) : 0,
                 mode,
                 infix,
                 is_function_or_routine(cell::type_of(&fn)),
                 refs,
                 series::head_cell(const_cast<SeriesBuffer*>(entries)),
                 memory::generation};
}

// The call itself; mode 0 from the interpreter, else apply mode.
uint32_t call_at(const Cell* fn_in, const Cell* block, uint32_t pos, const Cell* name, const Cell* path,
                 uint32_t path_from, bool infix, uint32_t mode) {
    stack::check_depth();
    const Cell fn = *fn_in;
    const Cell blk = *block;
    Cell* start = infix ? stack::arg_top - 1 : stack::arg_top;
    int32_t refs[MAX_REFINEMENTS];
    const uint32_t t = cell::type_of(&fn);
    stack::arg_top = start;
    // A call through a path is named by the path's first word.
    Cell head_word;
    if (name && is_any_path(cell::type_of(name))) {
        head_word = cells_of(series_node(name))[series_index(name)];
        name = &head_word;
        if (cell::type_of(name) != TYPE_WORD) name = nullptr;
    }
    if (t != TYPE_NATIVE && t != TYPE_ACTION && !is_function_or_routine(t)) err::raise(err::NOT_DONE);
    // Events of a call: open before its arguments, call once they are
    // complete, return with the result.
    if (trace::active) [[unlikely]]
        trace::fire(trace::OPEN, &blk, pos, nullptr, name);
    const Cell list_cell = function::arg_list_of(&fn);
    if (list_cell.header & function::UNFIT_ENTRY) [[unlikely]] unfit_entry(fn);
    Fetch f = fetch_state(fn, blk, name, list_cell, mode, infix, refs);
    if (t == TYPE_FUNCTION) stack::mark_call(name, function_context(fn));
    else stack::mark_native_call(name, native_spec(fn));
    if (infix) stack::arg_top = start + 1;
    return complete_call(f, start, pos, path, path_from);
}

}  // namespace

void finish_infix(const Cell* fn_in, const Cell* block, uint32_t pos, const Cell* name_in) {
    const Cell fn = *fn_in;
    const Cell blk = *block;
    const Cell name = *name_in;
    Cell* start = stack::arg_base;
    const Cell list_cell = function::arg_list_of(&fn);
    if (list_cell.header & function::UNFIT_ENTRY) [[unlikely]] unfit_entry(fn);
    const node_t list = series_node(list_cell);
    const uint32_t count = series::cell_count(list);
    const Cell ts = cells_of(list)[1];
    check_type(fn, &name, ts, start + 1, 1);
    int32_t refs[MAX_REFINEMENTS];
    if (count) clear_refinements(cells_of(list)[count - 1], refs);
    if (trace::active) [[unlikely]]
        trace::fire(trace::CALL, &blk, pos, &name, &fn);
    run_entry(fn, refs);
    if (exit_pending()) return;
    stack::unwind_keep();
    if (trace::active) [[unlikely]]
        trace::fire(trace::RETURN, &blk, pos, &name, start);
}

uint32_t resume_call(const Cell* fn_in, const Cell* block, uint32_t pos, const Cell* name_in, uint32_t fetched) {
    const Cell fn = *fn_in;
    const Cell blk = *block;
    const Cell name = *name_in;
    int32_t refs[MAX_REFINEMENTS];
    Cell* start = stack::arg_base;
    Fetch f = fetch_state(fn, blk, &name, function::arg_list_of(&fn), 0, false, refs);
    f.first = fetched;
    return complete_call(f, start, pos, nullptr, 0);
}

uint32_t resume_path_call(const Cell* fn_in, const Cell* block, uint32_t pos, const Cell* name_in, const Cell* path_in,
                          const PathResume& at) {
    const Cell fn = *fn_in;
    const Cell blk = *block;
    const Cell name = *name_in;
    const Cell path = *path_in;
    int32_t refs[MAX_REFINEMENTS];
    Cell* start = stack::arg_base;
    Fetch f = fetch_state(fn, blk, &name, function::arg_list_of(&fn), 0, false, refs);
    f.first = at.fetched;
    f.laid = at.laid;
    f.placed = at.placed;
    return complete_call(f, start, pos, &path, at.elem);
}

void check_arg(const Cell* fn, const Cell* name, uint32_t entry) {
    const Cell ts = series::cells_of(series_node(function::arg_list_of(fn)))[entry];
    check_type(*fn, name, ts, stack::top(), entry);
}

uint32_t eval_call(const Cell* fn, const Cell* block, uint32_t pos, const Cell* name, const Cell* path,
                   uint32_t path_from, bool infix) {
    return call_at(fn, block, pos, name, path, path_from, infix, 0);
}

Cell* apply(const Cell* fn_in, const Cell* args, uint32_t mode, const Cell* name, const Cell* path) {
    Cell fn = *fn_in;
    // An operator is applied as what it was made from.
    if (cell::type_of(&fn) == TYPE_OP) fn = op_function(fn);
    const Cell blk = *args;
    const uint32_t t = cell::type_of(&blk);
    if (t != TYPE_BLOCK && t != TYPE_PAREN) err::raise(err::NOT_DONE);
    Cell* result = stack::arg_top;
    // A path names the call by its first word; its refinements follow.
    const Cell* call_name = path ? path : name;
    const uint32_t path_from = path ? series_index(path) + 1 : 0;
    call_at(&fn, &blk, series_index(blk), call_name, path, path_from, false, mode == 0 ? APPLY : mode);
    if (exit_pending()) return nullptr;
    stack::arg_top = result + 1;
    return result;
}

void apply_values(const Cell* fn_in, const Cell* args, uint32_t count) {
    // The values go into a block read in apply mode, each taken as it
    // stands: a word or a function among them is not evaluated again.
    const Cell fn = *fn_in;
    Cell* held = block::push_new(static_cast<int32_t>(count));
    const Cell b = *held;
    for (uint32_t i = 0; i < count; i++) block::append_copy(&b, &args[i]);
    Cell* r = apply(&fn, &b, APPLY | SAFER | LITERAL_VALUES, nullptr);
    if (!r) return;
    *held = *r;
    stack::arg_top = held + 1;
}

}  // namespace qel::call
