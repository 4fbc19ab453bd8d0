// Trace hooks: the callback cell, the event mask, firing an event and
// calling a function with plain values.
//
// An event may fire at any point of an evaluation, between a reset of the
// argument top and the push that follows it, so fire() raises the top by
// one cell before it pushes anything, and puts the base, the top and the
// frame top back exactly when the callback is done. The callback runs in
// a call frame of its own named <interp-callback>, with tracing off.
#include "evaluator/trace.hpp"

#include <algorithm>
#include <vector>

#include "evaluator/call.hpp"
#include "runtime/stack.hpp"
#include "runtime/context.hpp"
#include "runtime/errors.hpp"
#include "runtime/exits.hpp"
#include "runtime/runtime_words.hpp"
#include "runtime/symbols.hpp"
#include "runtime/system.hpp"
#include "datatypes/block.hpp"
#include "datatypes/system_object.hpp"

namespace qel::trace {

bool active = false;
bool installed = false;
uint32_t mask = DEFAULT_MASK;

namespace {

// The installed callback: a cell of the root block, so the collector
// keeps the function alive while the trace runs.
Cell* callback_cell = nullptr;

using series::cells_of;
using series::cell_count;

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

uint32_t events_named(const Cell* callback, const Cell* const* names, uint32_t count, uint32_t every_event) {
    const Cell fn = *callback;
    if (cell::type_of(&fn) != TYPE_FUNCTION) return every_event;
    const Cell body = function::body_of(fn);
    if (series_index(body) >= cell_count(series_node(body))) return every_event;
    const Cell first = cells_of(series_node(body))[series_index(body)];
    if (cell::type_of(&first) != TYPE_BLOCK) return every_event;
    uint32_t m = 0;
    for (uint32_t i = series_index(first); i < cell_count(series_node(first)); i++) {
        const Cell w = cells_of(series_node(first))[i];
        if (cell::type_of(&w) != TYPE_WORD) continue;
        const int32_t sym = symbol::canonical(word_symbol(w));
        for (uint32_t b = 0; b < count; b++)
            if (symbol::canonical(word_symbol(names[b])) == sym) m |= 1u << b;
    }
    return m;
}

namespace {

// The bits of system/state/callbacks: 0 while it is not an integer.
uint32_t callback_bits() {
    const Cell* bits = system_object::field({"state", "callbacks", "bits"});
    return bits && cell::type_of(bits) == TYPE_INTEGER ? static_cast<uint32_t>(integer_value(*bits)) : 0;
}

}  // namespace

Cell* call_with_values(const Cell* fn_in, const Cell* name, const Cell* args, uint32_t count, CallbackKind kind) {
    const Cell fn = *fn_in;
    if (cell::type_of(&fn) != TYPE_FUNCTION) err::raise(err::NOT_DONE);
    // Tracing pauses for the call unless the kind's switch is on; it comes
    // back however the call ends.
    struct Pause {
        explicit Pause(bool on) : saved(active) {
            if (on) active = false;
        }
        ~Pause() { active = saved; }
        bool saved;
    } pause(active && kind != CallbackKind::Plain && !(callback_bits() & static_cast<uint32_t>(kind)));
    Cell* const start = stack::arg_top;
    const node_t ctx = function_context(fn);
    const uint32_t saved_values = context_values(context::cell_of(ctx));
    stack::mark_call(name, ctx);
    // Only as many values as the function has arguments; then the
    // refinements off, their arguments and the locals none.
    const node_t list = series_node(function::arg_list_of(fn));
    const uint32_t given = call::argument_count(list);
    for (uint32_t k = 0; k < given; k++) stack::push(k < count ? &args[k] : &none_cell);
    call::push_unused_entries(list, given);
    call::call_function(&fn, name);
    if (exit_pending()) [[unlikely]] {
        context_values(context::cell_of(ctx)) = saved_values;
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
        // The offset counts from the code's own position, so that
        // `skip code offset` reaches the value.
        args[1] = *code;
        const uint32_t from = series_index(code);
        const bool inside = position >= from && position <= cell_count(series_node(code));
        args[2] = Cell{TYPE_INTEGER, 0, inside ? position - from : static_cast<uint32_t>(-1), 0};
    } else {
        args[1] = none_cell;
        args[2] = Cell{TYPE_INTEGER, 0, static_cast<uint32_t>(-1), 0};
    }
    args[3] = value ? *value : none_cell;
    const bool with_ref = event & (SET | EPILOG | PROLOG | RETURN | CALL);
    args[4] = with_ref && ref ? *ref : none_cell;
    args[5] = Cell{TYPE_PAIR, 0, stack::index_of(stack::arg_base), stack::index_of(stack::arg_top)};

    // Put back by hand on the normal way out only: an error leaving the
    // callback belongs to its catcher, which sets the stacks itself.
    Cell* const base = stack::arg_base;
    Cell* const top = stack::arg_top;
    Frame* const frames = stack::frame_top;
    stack::arg_top++;  // the cell at the top survives the callback
    // Tracing is off while the callback runs and comes back when it
    // returns; an exit out of the callback leaves it off for the rest of
    // the run, until `trace true`.
    active = false;
    const Cell fn = *callback_cell;
    call_with_values(&fn, words::w_interp_callback, args, 6);
    active = true;
    stack::arg_base = base;
    stack::arg_top = top;
    stack::frame_top = frames;
}

Session::Session(const Cell* callback) {
    if (!callback || installed) return;
    *callback_cell = *callback;
    mask = events_named(callback, event_words(), 16, DEFAULT_MASK);
    installed = active = true;
    started_ = true;
    // The traced code starts a chain of body scopes of its own: the
    // library function that started the run is not its caller.
    outer_scope_ = BodyScope::innermost;
    BodyScope::innermost = nullptr;
    // The destructor does not run for a constructor that leaves by an
    // exception: an error (or throw) out of the callback at init must
    // uninstall here, or tracing would stay on for the rest of the run.
    try {
        if (mask & INIT) fire(INIT, nullptr, 0, nullptr, nullptr);
    } catch (...) {
        uninstall();
        BodyScope::innermost = outer_scope_;
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

void Session::finish_unwinding() {
    if (!started_ || !active) return;
    // The exit on its way keeps its state: its value, the codes, and the
    // records of the frames it left above the frame top, from which a
    // try/keep names the calls that led to an error. The callback's own
    // frames would write over them.
    const Cell error = stack::error_in_flight;
    const uint32_t thrown = sys.thrown_code;
    const int error_code = sys.pending_error;
    const uint32_t pending = pending_exit;
    Frame* frames_end = stack::frame_top;
    if (cell::type_of(&error) == TYPE_ERROR) {
        const Cell recorded = err::field(&error, err::F_STACK);
        if (cell::type_of(&recorded) == TYPE_INTEGER)
            frames_end = std::clamp(stack::frame_bottom + integer_value(recorded), stack::frame_top, stack::frame_limit);
    }
    const std::vector<Frame> frames(stack::frame_top, frames_end);
    Cell* const base = stack::arg_base;
    Cell* const top = stack::arg_top;
    Frame* const frame_top = stack::frame_top;
    pending_exit = 0;
    sys.thrown_code = 0;
    fire(END, nullptr, 0, nullptr, nullptr);
    stack::arg_base = base;
    stack::arg_top = top;
    stack::frame_top = frame_top;
    std::copy(frames.begin(), frames.end(), frame_top);
    stack::error_in_flight = error;
    sys.thrown_code = thrown;
    sys.pending_error = error_code;
    pending_exit = pending;
}

void Session::uninstall() {
    *callback_cell = none_cell;
    installed = active = false;
    mask = DEFAULT_MASK;
}

Session::~Session() {
    if (!started_) return;
    uninstall();
    BodyScope::innermost = outer_scope_;
}

BodyScope* BodyScope::innermost = nullptr;

BodyScope* BodyScope::library_entry() {
    BodyScope* entry = nullptr;
    for (BodyScope* s = innermost; s && (s->flags_ & FN_BUILT_IN); s = s->outer_) entry = s;
    return entry;
}

bool caller_tracing() {
    const BodyScope* entry = BodyScope::library_entry();
    return entry ? entry->saved_ : active;
}

void set_tracing(bool on) {
    const bool state = on && installed;
    if (BodyScope* entry = BodyScope::library_entry()) entry->saved_ = state;
    else active = state;
}

}  // namespace qel::trace
