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

#include "evaluator/call.hpp"
#include "evaluator/path_eval.hpp"
#include "evaluator/stack.hpp"
#include "evaluator/trace.hpp"
#include "runtime/context.hpp"
#include "runtime/errors.hpp"
#include "runtime/exits.hpp"
#include "runtime/runtime_words.hpp"
#include "runtime/symbols.hpp"
#include "runtime/words.hpp"

namespace qel::interp {

Cell current_position{TYPE_UNSET, 0, 0, 0};

namespace {

using series::cells_of;

inline bool is_callable(uint32_t t) {
    return t == TYPE_NATIVE || t == TYPE_ACTION || t == TYPE_FUNCTION || t == TYPE_ROUTINE;
}

// The value of a word, without raising: for the infix look-ahead, which
// must not fail on a word that is merely not an operator.
const Cell* peek(Cell* w) {
    const node_t ctx = w->data1;
    if (!ctx) return nullptr;
    auto index = static_cast<int32_t>(w->data3);
    if (index < 0) {
        index = context::find_symbol(ctx, static_cast<int32_t>(w->data2), true);
        if (index < 0) return nullptr;
    }
    return context::slot_at(ctx, static_cast<uint32_t>(index));
}

int32_t system_symbols[2] = {0, 0};

bool names_system(const Cell& issue) {
    if (!system_symbols[0]) {
        system_symbols[0] = symbol::canonical(symbol::intern_cstr("system"));
        system_symbols[1] = symbol::canonical(symbol::intern_cstr("system-global"));
    }
    const int32_t s = symbol::canonical(static_cast<int32_t>(issue.data2));
    return s == system_symbols[0] || s == system_symbols[1];
}

}  // namespace

// The infix look-ahead after the value that starts at start.
uint32_t check_infix(const Cell& blk, uint32_t pos, Cell* start);

void init() {
    current_position = Cell{TYPE_UNSET, 0, 0, 0};
    trace::init();
}

void eval_block(const Cell* block, bool chain) {
    stack::check_depth();
    const Cell blk = *block;
    // The caller's position comes back however the block is left: at its
    // end, by a pending exit or by an error (whose value was made before the
    // unwinding, so it still names the failing expression).
    struct Restore {
        Cell saved = current_position;
        ~Restore() { current_position = saved; }
    } restore;
    stack::mark_interp_eval(words::w_body);
    uint32_t pos = blk.data1;
    if (trace::active) [[unlikely]]
        trace::fire(trace::ENTER, &blk, pos, nullptr, nullptr);
    if (pos >= series::cell_count(blk.data2)) {
        *stack::arg_base = shared::unset;
        stack::keep_first();
    } else {
        current_position = blk;
        while (pos < series::cell_count(blk.data2)) {
            current_position.data1 = pos;
            pos = eval_expression(&blk, pos, false, false, false);
            if (exit_pending()) return;
        }
    }
    if (trace::active) [[unlikely]]
        trace::fire(trace::EXIT, &blk, series::cell_count(blk.data2), nullptr, stack::arg_base);
    if (chain) stack::unwind_last();
    else stack::unwind_keep();
}

uint32_t eval_next(const Cell* block, uint32_t position, bool sub) {
    const Cell blk = *block;
    stack::mark_interp_native(words::w_body);
    position = eval_expression(&blk, position, false, false, false);
    if (exit_pending()) return position;
    if (sub) stack::unwind_keep();
    else stack::unwind_last();
    return position;
}

uint32_t eval_expression(const Cell* block, uint32_t pos, bool no_infix, bool sub, bool as_value) {
    const Cell blk = *block;
    const node_t n = blk.data2;
    if (!sub) stack::reset();
    Cell* const start = stack::arg_top;
    const uint32_t here = pos;
    const Cell v = cells_of(n)[pos++];
    switch (cell::type_of(&v)) {
        case TYPE_WORD: {
            const Cell* slot = peek(cells_of(n) + here);
            if (!slot) slot = word::get(cells_of(n) + here);
            const Cell value = *slot;
            const uint32_t t = cell::type_of(&value);
            if (is_callable(t)) {
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
            stack::mark(&v, (stack::kind::NATIVE << stack::frame_flag::KIND_SHIFT) | stack::frame_flag::INTERP);
            pos = eval_expression(&blk, pos, false, true, false);
            if (exit_pending()) return pos;
            const Cell value = *stack::top();
            if (cell::type_of(&value) == TYPE_UNSET) err::raise(err::NEED_VALUE, &v);
            if (trace::active) [[unlikely]]
                trace::fire(trace::SET, &blk, pos, &v, &value);
            // Set through the word in the block itself, so that it keeps
            // the index it resolves to.
            word::set(cells_of(n) + here, &value);
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
            stack::mark_interp_native(words::w_body);
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
            p.data3 = 0;
            stack::push(&p);
            if (trace::active) [[unlikely]]
                trace::fire(trace::PUSH, &blk, pos, nullptr, &p);
            break;
        }
        case TYPE_SET_PATH: {
            if (pos >= series::cell_count(n)) err::raise(err::NEED_VALUE, &v);
            stack::mark_interp_native(words::w_set_path ? words::w_set_path : words::w_body);
            pos = eval_expression(&blk, pos, false, true, false);
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
            if (as_value) {
                stack::push(&v);
                if (trace::active) [[unlikely]]
                    trace::fire(trace::PUSH, &blk, pos, nullptr, &v);
            } else {
                pos = call::eval_call(&v, &blk, pos, nullptr, nullptr, 0, false);
                if (exit_pending()) return pos;
            }
            break;
        case TYPE_OP:
            err::raise(err::NOT_DONE);
        default:
            stack::push(&v);
            if (trace::active) [[unlikely]]
                trace::fire(trace::PUSH, &blk, pos, nullptr, &v);
            break;
    }
    if (!no_infix) {
        pos = check_infix(blk, pos, start);
        if (exit_pending()) return pos;
    }
    // Only the expressions that make a result, not those of arguments.
    if (!sub && trace::active) [[unlikely]]
        trace::fire(trace::EXPR, &blk, pos, nullptr, start);
    return pos;
}

uint32_t check_infix(const Cell& blk, uint32_t pos, Cell* start) {
    const node_t n = blk.data2;
    // Infix look-ahead: the value just made is the left operand of an
    // operator that follows; operators chain left to right.
    while (pos < series::cell_count(n)) {
        Cell* w = cells_of(n) + pos;
        if (cell::type_of(w) != TYPE_WORD) break;
        const Cell* slot = peek(w);
        if (!slot || cell::type_of(slot) != TYPE_OP) break;
        Cell op = *slot;
        op.header = (op.header >> 16) & 0xFF;
        const Cell name = *w;
        if (trace::active) [[unlikely]] {
            trace::fire(trace::FETCH, &blk, pos, nullptr, &name);
            if (exit_pending()) return pos;
        }
        stack::arg_top = start + 1;
        pos = call::eval_call(&op, &blk, pos + 1, &name, nullptr, 0, true);
        if (exit_pending()) return pos;
    }
    return pos;
}

}  // namespace qel::interp
