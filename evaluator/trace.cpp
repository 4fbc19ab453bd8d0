// Trace hooks: the callback cell, the event mask, firing an event and
// calling a function with plain values.
//
// An event may fire at any point of an evaluation, between a reset of the
// argument top and the push that follows it, so fire() raises the top by
// one cell before it pushes anything, and puts the base, the top and the
// frame top back exactly when the callback is done. The callback runs in
// a call frame of its own named <interp-callback>, with tracing off.
#include "evaluator/trace.hpp"

#include "evaluator/call.hpp"
#include "runtime/stack.hpp"
#include "runtime/context.hpp"
#include "runtime/errors.hpp"
#include "runtime/exits.hpp"
#include "runtime/runtime_words.hpp"
#include "runtime/symbols.hpp"
#include "runtime/system.hpp"
#include "datatypes/block.hpp"

namespace qel::trace {

bool active = false;
bool installed = false;
uint32_t mask = DEFAULT_MASK;

namespace {

// The installed callback: a cell of the root block, so the collector
// keeps the function alive while the trace runs.
Cell* callback_cell = nullptr;

inline Cell* cells_of(node_t n) { return series::head_cell(series::buffer_of(n)); }
inline uint32_t count_of(node_t n) {
    const SeriesBuffer* s = series::buffer_of(n);
    return (s->tail - s->head) / sizeof(Cell);
}

// The event words in bit order: bit i of the mask is event_words()[i].
Cell* const* event_words() {
    static Cell* const* const words[16] = {
        &words::w_init, &words::w_end, &words::w_prolog, &words::w_epilog, &words::w_enter, &words::w_exit,
        &words::w_open, &words::w_return, &words::w_fetch, &words::w_push, &words::w_set, &words::w_call,
        &words::w_error, &words::w_throw, &words::w_catch, &words::w_expr,
    };
    static Cell* resolved[16];
    for (int i = 0; i < 16; i++) resolved[i] = *words[i];
    return resolved;
}

int bit_index(uint32_t event) { return __builtin_ctz(event); }

const Cell none_cell{TYPE_NONE, 0, 0, 0};

}  // namespace

void init() {
    active = installed = false;
    mask = DEFAULT_MASK;
    err::tracer = {&active, &on_error};
    callback_cell = block::append_copy(&root_cell, &none_cell);
}

uint32_t mask_of(const Cell* callback) {
    const Cell fn = *callback;
    if (cell::type_of(&fn) != TYPE_FUNCTION) return DEFAULT_MASK;
    const Cell body = cells_of(fn.data3)[0];
    if (body.data1 >= count_of(body.data2)) return DEFAULT_MASK;
    const Cell first = cells_of(body.data2)[body.data1];
    if (cell::type_of(&first) != TYPE_BLOCK) return DEFAULT_MASK;
    Cell* const* names = event_words();
    uint32_t m = 0;
    for (uint32_t i = first.data1; i < count_of(first.data2); i++) {
        const Cell w = cells_of(first.data2)[i];
        if (cell::type_of(&w) != TYPE_WORD) continue;
        const int32_t sym = symbol::canonical(static_cast<int32_t>(w.data2));
        for (int b = 0; b < 16; b++)
            if (symbol::canonical(static_cast<int32_t>(names[b]->data2)) == sym) m |= 1u << b;
    }
    return m;
}

Cell* call_with_values(const Cell* fn_in, const Cell* name, const Cell* args, uint32_t count) {
    const Cell fn = *fn_in;
    if (cell::type_of(&fn) != TYPE_FUNCTION) err::raise(err::NOT_DONE);
    Cell* const start = stack::arg_top;
    const node_t ctx = fn.data1;
    const uint32_t saved_values = context::cell_of(ctx)->data2;
    stack::mark_call(name, ctx);
    // Only as many values as the function has arguments; then the
    // refinements off, their arguments and the locals none.
    const node_t list = cells_of(fn.data3)[1].data2;
    const uint32_t entries = count_of(list);
    uint32_t i = 0, given = 0;
    for (; i < entries && cell::type_of(&cells_of(list)[i]) == TYPE_TYPESET; i++) given++;
    for (uint32_t k = 0; k < given; k++) stack::push(k < count ? &args[k] : &none_cell);
    const Cell off{TYPE_LOGIC, 0, 0, 0};
    for (; i < entries; i++) {
        const Cell e = cells_of(list)[i];
        const uint32_t t = cell::type_of(&e);
        if (t == TYPE_REFINEMENT) stack::push(&off);
        else if (t == TYPE_TYPESET) stack::push(&none_cell);
        else if (t == TYPE_INTEGER && e.data2 > 0) {
            stack::push(&off);
            for (uint32_t k = 1; k < e.data2; k++) stack::push(&none_cell);
        }
    }
    call::call_function(&fn, name);
    if (exit_pending()) [[unlikely]] {
        context::cell_of(ctx)->data2 = saved_values;
        raise_pending();
    }
    stack::unwind_keep_call();
    return start;
}

void fire(uint32_t event, const Cell* code, uint32_t position, const Cell* ref, const Cell* value) {
    if (!(mask & event)) return;
    // Everything the callback gets is copied first: the pointers may lie
    // in buffers that the callback's own allocations move.
    Cell args[6];
    args[0] = *event_words()[bit_index(event)];
    args[0].header = TYPE_WORD;
    if (code && (cell::type_of(code) == TYPE_BLOCK || cell::type_of(code) == TYPE_PAREN)) {
        args[1] = *code;
        const bool inside = position >= code->data1 && position <= count_of(code->data2);
        args[2] = Cell{TYPE_INTEGER, 0, inside ? position : static_cast<uint32_t>(-1), 0};
    } else {
        args[1] = none_cell;
        args[2] = Cell{TYPE_INTEGER, 0, static_cast<uint32_t>(-1), 0};
    }
    // An unset value would make the callback's own word unusable.
    args[3] = value && cell::type_of(value) != TYPE_UNSET ? *value : none_cell;
    const bool with_ref = event & (SET | EPILOG | PROLOG | RETURN | CALL);
    args[4] = with_ref && ref ? *ref : none_cell;
    args[5] = Cell{TYPE_PAIR, 0, stack::index_of(stack::arg_base), stack::index_of(stack::arg_top)};

    // Put back by hand on the normal way out only: an error leaving the
    // callback belongs to its catcher, which sets the stacks itself.
    Cell* const base = stack::arg_base;
    Cell* const top = stack::arg_top;
    Frame* const frames = stack::frame_top;
    stack::arg_top++;  // the cell at the top survives the callback
    struct Off {
        Off() { active = false; }
        ~Off() { active = true; }
    } off;
    const Cell fn = *callback_cell;
    call_with_values(&fn, words::w_interp_callback, args, 6);
    stack::arg_base = base;
    stack::arg_top = top;
    stack::frame_top = frames;
}

Session::Session(const Cell* callback) {
    if (!callback || installed) return;
    *callback_cell = *callback;
    mask = mask_of(callback);
    installed = active = true;
    started_ = true;
    // The destructor does not run for a constructor that leaves by an
    // exception: an error (or throw) out of the callback at init must
    // uninstall here, or tracing would stay on for the rest of the run.
    try {
        if (mask & INIT) fire(INIT, nullptr, 0, nullptr, nullptr);
    } catch (...) {
        uninstall();
        throw;
    }
}

void Session::finish() {
    if (!started_ || !active) return;
    // The exit in flight waits while end runs the callback.
    const uint32_t pending = pending_exit;
    pending_exit = 0;
    fire(END, nullptr, 0, nullptr, nullptr);
    pending_exit = pending;
}

void Session::uninstall() {
    *callback_cell = none_cell;
    installed = active = false;
    mask = DEFAULT_MASK;
}

Session::~Session() {
    if (started_) uninstall();
}

}  // namespace qel::trace
