// The interpreter: a direct walker over the cells of a block.
//
// Every expression starts at the argument top: its value ends in the cell
// where it started, which is the running call's result cell when sub is
// clear (the top is first brought back to the base) or the next cell of
// the caller's stretch when sub is set. Positions are cell indexes read
// through the block's node, since user code may move or change the
// buffer; the block cell itself is copied on entry for the same reason.
//
// After every step that may run user code the walker looks at the pending
// exit and returns at once when one is set: the thrower has already
// settled the stacks for the frame that takes it.
#include "evaluator/interp.hpp"

#include <cstring>

#include "runtime/block_code.hpp"
#include "runtime/collector.hpp"

#include "datatypes/error.hpp"
#include "datatypes/integer.hpp"
#include "datatypes/object.hpp"
#include "evaluator/call.hpp"
#include "evaluator/fast_ops.hpp"
#include "evaluator/lookup.hpp"
#include "evaluator/native_fns.hpp"
#include "evaluator/natives.hpp"
#include "evaluator/path_eval.hpp"
#include "runtime/stack.hpp"
#include "evaluator/trace.hpp"
#include "evaluator/vm.hpp"
#include "runtime/context.hpp"
#include "runtime/datatypes.hpp"
#include "runtime/errors.hpp"
#include "runtime/exits.hpp"
#include "runtime/memory.hpp"
#include "runtime/runtime_words.hpp"
#include "runtime/symbols.hpp"
#include "runtime/words.hpp"

namespace qel::lookup {

GlobalValues global_values;

const Cell* global_slot_refresh(uint32_t index) {
    GlobalValues& g = global_values;
    const Cell* c = context::cell_of(context::global);
    const node_t values = context_values(c);
    if (!values) return nullptr;
    g.ctx = context::global;
    g.generation = memory::generation;
    g.cells = series::cells_of(values);
    g.count = series::cell_count(values);
    if (index >= g.count) return nullptr;
    return g.cells + index;
}

const Cell* peek_unresolved(const Cell* w) {
    const int32_t index = context::find_symbol(word_context(w), word_symbol(w), true);
    if (index < 0) return nullptr;
    return context::slot_at(word_context(w), static_cast<uint32_t>(index));
}

}  // namespace qel::lookup

namespace qel::interp {

Cell current_position{TYPE_UNSET, 0, 0, 0};

namespace {

using series::cells_of;

using call::is_prefix_function;

using lookup::peek;
using lookup::set_word;

// Types whose cells the walker pushes as they stand (the default case of
// eval_expression): everything but the words, paths, parens, issues and
// function values, which look something up or run code.
constexpr uint64_t type_bit(uint32_t t) { return uint64_t{1} << t; }
constexpr uint64_t RUNS_CODE =
    type_bit(TYPE_WORD) | type_bit(TYPE_SET_WORD) | type_bit(TYPE_LIT_WORD) | type_bit(TYPE_GET_WORD) |
    type_bit(TYPE_PAREN) | type_bit(TYPE_PATH) | type_bit(TYPE_LIT_PATH) | type_bit(TYPE_SET_PATH) |
    type_bit(TYPE_GET_PATH) | type_bit(TYPE_ISSUE) | type_bit(TYPE_NATIVE) | type_bit(TYPE_ACTION) |
    type_bit(TYPE_FUNCTION) | type_bit(TYPE_ROUTINE) | type_bit(TYPE_OP);

inline bool stands_as_is(uint32_t t) { return t < 64 && !(RUNS_CODE & type_bit(t)); }

// The value of a one-cell expression that runs no code and cannot fail: a
// cell that stands as it is, or a word whose value is not a function, an
// operator or unset. Null for everything else, which takes the walker.
[[gnu::always_inline]] inline const Cell* plain_value(const Cell* c) {
    const uint32_t t = cell::type_of(c);
    if (stands_as_is(t)) return c;
    if (t != TYPE_WORD) return nullptr;
    const Cell* slot = peek(c);
    if (!slot) return nullptr;
    const uint32_t vt = cell::type_of(slot);
    if (is_any_function(vt) || vt == TYPE_UNSET) return nullptr;
    return slot;
}

using namespace fast_ops;

// The infix call of a fast operator whose left operand, an integer, is at
// start. The frame is the one the call machinery would push, so that an
// error in the right operand names the operator as before; when the right
// operand is not an integer the call goes on the generic way. cells are
// the block's cells as the caller last read them; ran tells it whether
// they must be read again (the right operand was evaluated).
uint32_t infix_fast(int32_t code, const Cell& op, const Cell& blk, const Cell* cells, uint32_t pos, const Cell& name,
                    Cell* start, bool& ran) {
    // An integer written as the right operand, or a word whose value is an
    // integer, runs no code and cannot fail, so the operator's frame is left
    // out, unless an error could come up where the frame or the operand
    // would be pushed: those cases take the way below, which raises exactly
    // as a call would.
    const Cell* right = cells + pos;
    const Cell* value = right;
    if (cell::type_of(right) == TYPE_WORD) {
        value = plain_value(right);
        if (!value) value = right;
    }
    if (cell::type_of(value) == TYPE_INTEGER) {
        const int32_t x = integer_value(start), y = integer_value(value);
        if (!fast_raises(code, x, y) && stack::frame_top + 1 < stack::frame_limit &&
            start + 2 < stack::arg_limit) [[likely]] {
            fast_result(code, x, y, start);
            stack::arg_top = start + 1;
            return pos + 1;
        }
    }
    // The fast case above goes no deeper; the call below may.
    stack::check_depth();
    stack::arg_top = start;
    stack::mark_native_call(&name, native_spec(op));
    stack::arg_top = start + 1;
    if (cell::type_of(right) == TYPE_INTEGER) {
        stack::push(right);
        pos++;
    } else {
        ran = true;
        pos = eval_expression(&blk, pos, {.no_infix = true, .sub = true});
        if (exit_pending()) return pos;
    }
    Cell* b = start + 1;
    if (cell::type_of(b) != TYPE_INTEGER || stack::arg_top != start + 2) [[unlikely]] {
        call::finish_infix(&op, &blk, pos, &name);
        return pos;
    }
    fast_result(code, integer_value(start), integer_value(b), start);
    stack::unwind_keep();
    return pos;
}

int32_t system_symbols[2] = {0, 0};

bool names_system(const Cell& issue) {
    if (!system_symbols[0]) {
        system_symbols[0] = symbol::canonical(symbol::intern_cstr("system"));
        system_symbols[1] = symbol::canonical(symbol::intern_cstr("system-global"));
    }
    const int32_t s = symbol::canonical(word_symbol(issue));
    return s == system_symbols[0] || s == system_symbols[1];
}

}  // namespace

bool eval_plain(const Cell& blk, const Cell* cells, uint32_t tail, uint32_t& pos, bool no_infix) {
    const Cell* value = plain_value(cells + pos);
    if (!value) return false;
    // What eval_expression does for such a value when no trace runs: the
    // push, then the operator look-ahead, which the value cannot have
    // changed the block for.
    Cell* const start = stack::arg_top;
    stack::push(value);
    pos++;
    if (!no_infix && pos < tail && cell::type_of(cells + pos) == TYPE_WORD) pos = check_infix(blk, pos, start, cells, tail);
    return true;
}

void init() {
    current_position = Cell{TYPE_UNSET, 0, 0, 0};
    collector::add_mark_callback([](const stack::Marker& m) { m.cells(&current_position, &current_position + 1); });
    trace::init();
    vm::init();
    error_type::near_position = &current_position;
    object::eval_block = &eval_block;
    object::call_function = &call::call_function;
}

void eval_block(const Cell* block, bool chain, bool safe_points) {
    stack::check_depth();
    // Compiled code when no trace can look at the steps; a block with safe
    // points, where renumbering drops every code, takes its own way below.
    if (vm::enabled && !trace::installed && !safe_points && vm::run_block(block, chain)) return;
    Cell blk = *block;
    // The caller's position comes back however the block is left: at its
    // end, by a pending exit or by an error (whose value was made before the
    // unwinding, so it still names the failing expression).
    // Saved as two words, which the compiler copies whole.
    struct Restore {
        uint64_t saved[2];
        Restore() { std::memcpy(saved, &current_position, sizeof saved); }
        ~Restore() { std::memcpy(&current_position, saved, sizeof saved); }
    } restore;
    stack::mark_block(words::w_body);
    uint32_t pos = series_index(blk);
    if (trace::active) [[unlikely]]
        trace::fire(trace::ENTER, &blk, pos, nullptr, nullptr);
    if (pos >= series::cell_count(series_node(blk))) {
        *stack::arg_base = shared::unset;
        stack::keep_first();
    } else {
        current_position = blk;
        while (pos < series::cell_count(series_node(blk))) {
            series_index(current_position) = pos;
            // A script's top level runs once: each expression is compiled
            // just before it runs, when the words it reads have their values.
            if (safe_points && vm::enabled && !trace::installed) {
                stack::reset();
                if (!vm::run_top(&blk, pos)) pos = eval_expression(&blk, pos, {});
            } else {
                pos = eval_expression(&blk, pos, {});
            }
            if (exit_pending()) return;
            if (safe_points) [[unlikely]] {
                // The block comes back from its cell: renumbering may
                // have given it a new node.
                collector::safe_point();
                blk = *block;
                current_position = blk;
            }
        }
    }
    if (trace::active) [[unlikely]]
        trace::fire(trace::EXIT, &blk, series::cell_count(series_node(blk)), nullptr, stack::arg_base);
    if (chain) stack::unwind_last();
    else stack::unwind_keep();
}

uint32_t eval_next(const Cell* block, uint32_t position, bool sub) {
    const Cell blk = *block;
    stack::mark_native(words::w_body);
    position = eval_expression(&blk, position, {});
    if (exit_pending()) return position;
    if (sub) stack::unwind_keep();
    else stack::unwind_last();
    return position;
}

namespace {

// A set-word or set-path is pushed as the start of its assignment; the
// first value of the expression it takes is fetched.
void trace_assignment(const Cell& blk, uint32_t pos, const Cell& target) {
    trace::fire(trace::PUSH, &blk, pos, nullptr, &target);
    trace::fire(trace::FETCH, &blk, pos, nullptr, &cells_of(series_node(blk))[pos]);
}

}  // namespace

uint32_t eval_expression(const Cell* block, uint32_t pos, EvalOptions o) {
    const Cell blk = *block;
    const node_t n = series_node(blk);
    if (!o.sub) stack::reset();
    Cell* const start = stack::arg_top;
    const uint32_t here = pos;
    const Cell v = cells_of(n)[pos++];
    // The first value of an expression made for a result is fetched here;
    // an argument's was fetched by its call.
    if (!o.sub && trace::active) [[unlikely]]
        trace::fire(trace::FETCH, &blk, here, nullptr, &v);
    switch (cell::type_of(&v)) {
        case TYPE_WORD: {
            // v is the word as it stands in the block: its binding is all
            // the look-up reads.
            const Cell* slot = peek(&v);
            if (!slot) slot = word::get(cells_of(n) + here);
            const Cell value = *slot;
            const uint32_t t = cell::type_of(&value);
            if (is_prefix_function(t)) {
                pos = call::eval_call(&value, &blk, pos, &v, nullptr, 0, false);
                if (exit_pending()) return pos;
            } else if (t == TYPE_UNSET) {
                err::raise(err::NO_VALUE, &v);
            } else if (t == TYPE_OP) {
                err::raise(err::NO_OP_ARG, &v);
            } else {
                stack::push(&value);
                if (trace::active) [[unlikely]]
                    trace::fire(trace::PUSH, &blk, pos, nullptr, &value);
            }
            break;
        }
        case TYPE_SET_WORD: {
            if (pos >= series::cell_count(n)) err::raise(err::NEED_VALUE, &v);
            stack::mark_native(&v);
            if (trace::active) [[unlikely]] trace_assignment(blk, pos, v);
            pos = eval_expression(&blk, pos, {.sub = true});
            if (exit_pending()) return pos;
            const Cell value = *stack::top();
            if (cell::type_of(&value) == TYPE_UNSET) err::raise(err::NEED_VALUE, &v);
            if (trace::active) [[unlikely]]
                trace::fire(trace::SET, &blk, pos, &v, &value);
            // Set through the word in the block itself, so that it keeps
            // the index it resolves to.
            set_word(cells_of(n) + here, &value);
            *stack::arg_base = value;
            stack::unwind_keep();
            break;
        }
        case TYPE_GET_WORD: {
            Cell* w = cells_of(n) + here;
            stack::push(word::get(w));
            if (trace::active) [[unlikely]]
                trace::fire(trace::PUSH, &blk, pos, nullptr, stack::top());
            break;
        }
        case TYPE_LIT_WORD: {
            Cell w = v;
            w.header = TYPE_WORD;
            stack::push(&w);
            if (trace::active) [[unlikely]]
                trace::fire(trace::PUSH, &blk, pos, nullptr, &w);
            break;
        }
        case TYPE_PAREN: {
            stack::mark_native(words::w_body);
            eval_block(&v, true);
            if (exit_pending()) return pos;
            stack::unwind_keep();
            break;
        }
        case TYPE_PATH:
            pos = path_eval::eval_path(&v, &blk, pos, path_eval::CALL, true);
            if (exit_pending()) return pos;
            break;
        case TYPE_GET_PATH:
            path_eval::eval_path(&v, &blk, pos, path_eval::GET, true);
            break;
        case TYPE_LIT_PATH: {
            Cell p = v;
            p.header = TYPE_PATH;
            hash_index_node(p) = 0;  // a path keeps no index record
            stack::push(&p);
            if (trace::active) [[unlikely]]
                trace::fire(trace::PUSH, &blk, pos, nullptr, &p);
            break;
        }
        case TYPE_SET_PATH: {
            if (pos >= series::cell_count(n)) err::raise(err::NEED_VALUE, &v);
            stack::mark_native(words::w_set_path ? words::w_set_path : words::w_body);
            if (trace::active) [[unlikely]] trace_assignment(blk, pos, v);
            pos = eval_expression(&blk, pos, {.sub = true});
            if (exit_pending()) return pos;
            if (trace::active) [[unlikely]]
                trace::fire(trace::SET, &blk, pos, &v, stack::top());
            path_eval::eval_path(&v, &blk, pos, path_eval::SET, true);
            *stack::arg_base = *stack::top();
            stack::unwind_keep();
            break;
        }
        case TYPE_ISSUE:
            if (pos < series::cell_count(n) && cell::type_of(&cells_of(n)[pos]) == TYPE_BLOCK && names_system(v))
                err::raise(err::QEL_SYSTEM);
            stack::push(&v);
            if (trace::active) [[unlikely]]
                trace::fire(trace::PUSH, &blk, pos, nullptr, &v);
            break;
        case TYPE_NATIVE:
        case TYPE_ACTION:
        case TYPE_FUNCTION:
        case TYPE_ROUTINE:
            pos = call::eval_call(&v, &blk, pos, nullptr, nullptr, 0, false);
            if (exit_pending()) return pos;
            break;
        case TYPE_OP:
            err::raise(err::NOT_DONE);
        default:
            stack::push(&v);
            if (trace::active) [[unlikely]]
                trace::fire(trace::PUSH, &blk, pos, nullptr, &v);
            break;
    }
    // Most values are not followed by an operator word: that is seen here
    // without the call.
    if (!o.no_infix) {
        const Cell* cells = cells_of(n);
        const uint32_t tail = series::cell_count(n);
        if (pos < tail && cell::type_of(cells + pos) == TYPE_WORD) pos = check_infix(blk, pos, start, cells, tail);
        if (exit_pending()) return pos;
    }
    // Only the expressions that make a result, not those of arguments.
    if (!o.sub && trace::active) [[unlikely]]
        trace::fire(trace::EXPR, &blk, pos, nullptr, start);
    return pos;
}

// cells and tail are the block's as read after the left operand was made;
// they are read again after every step that may run user code or
// allocate, and kept across an integer operation on an integer literal,
// which does neither.
uint32_t check_infix(const Cell& blk, uint32_t pos, Cell* start, const Cell* cells, uint32_t tail) {
    const node_t n = series_node(blk);
    // Infix look-ahead: the value just made is the left operand of an
    // operator that follows; operators chain left to right.
    while (pos < tail) {
        const Cell name = cells[pos];
        if (cell::type_of(&name) != TYPE_WORD) break;
        const Cell* slot = peek(&name);
        if (!slot || cell::type_of(slot) != TYPE_OP) break;
        Cell op = *slot;
        if (!trace::active && cell::type_of(start) == TYPE_INTEGER && pos + 1 < tail) {
            const int32_t code = fast_op_of(op);
            if (code != NOT_FAST) {
                op = op_function(op);
                bool ran = false;
                pos = infix_fast(code, op, blk, cells, pos + 1, name, start, ran);
                if (exit_pending()) return pos;
                if (ran) {
                    cells = cells_of(n);
                    tail = series::cell_count(n);
                }
                continue;
            }
        }
        op = op_function(op);
        if (trace::active) [[unlikely]] {
            trace::fire(trace::FETCH, &blk, pos, nullptr, &name);
            if (exit_pending()) return pos;
        }
        stack::arg_top = start + 1;
        pos = call::eval_call(&op, &blk, pos + 1, &name, nullptr, 0, true);
        if (exit_pending()) return pos;
        cells = cells_of(n);
        tail = series::cell_count(n);
    }
    return pos;
}

}  // namespace qel::interp
