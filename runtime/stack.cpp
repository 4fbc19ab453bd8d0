// The argument stack, the call frames and the throwers of non-local exits.
//
// A thrower walks the frames to find where its exit lands and leaves the
// pointers as the taker expects them. break, continue, return and exit are
// then left pending for the interpreter; an error or a throw goes on as
// NonLocalExit with its code, which the C++ unwinding carries to the
// nearest region whose catch code covers it. A thrower that finds no target
// (or a try-all frame in the way) raises the matching throw error instead,
// with the pointers as they were.
#include "runtime/stack.hpp"

#include <cstddef>
#include <unistd.h>

#include "platform/console.hpp"
#include "runtime/context.hpp"
#include "runtime/cycles.hpp"
#include "runtime/errors.hpp"
#include "runtime/exits.hpp"
#include "runtime/memory.hpp"
#include "runtime/runtime_words.hpp"
#include "runtime/symbols.hpp"
#include "runtime/system.hpp"

namespace qel::stack {

Cell* arg_bottom = nullptr;
Cell* arg_base = nullptr;
Cell* arg_top = nullptr;
Cell* arg_limit = nullptr;
Frame* frame_bottom = nullptr;
Frame* frame_top = nullptr;
Frame* frame_limit = nullptr;
Cell error_in_flight{TYPE_UNSET, 0, 0, 0};
Frame* throw_origin = nullptr;
uintptr_t depth_floor = 0;

namespace {

const Cell unset_cell{TYPE_UNSET, 0, 0, 0};

// Word 2 of a stack-values context! cell holds the argument base of its
// call as a cell index + 1, so that 0 still means "no call running".
Cell* values_of_call(uint32_t word2) { return arg_bottom + (word2 - 1); }

// A fixed series, appended to the root block so that it lives as long as
// the run. Its tail stays at its head: the cells in use are bottom..top,
// which only these pointers know, and the collector marks them from here.
Cell* make_fixed_block(uint32_t cells) {
    node_t n = memory::alloc_fixed_series(cells, sizeof(Cell), 0);
    Cell* root_slot = series::reserve_cell(&root_cell);
    *root_slot = Cell{TYPE_BLOCK, 0, n, 0};
    return series::head_cell(series::buffer_of(n));
}

// Frames named <anon> or <body> are skipped by every walk that reports
// names; unnamed frames (symbol 0) have nothing to report either.
bool reports_name(const Frame* f) {
    const int32_t s = symbol_of(f);
    if (s == 0) return false;
    if (words::w_anon && s == frame_symbol(word_symbol(words::w_anon))) return false;
    if (words::w_body && s == frame_symbol(word_symbol(words::w_body))) return false;
    return true;
}

node_t name_context(const Frame* f) { return f->word_ctx ? f->word_ctx : context::global; }

Cell word_of(const Frame* f) { return *context::word_for_symbol(name_context(f), symbol_of(f)); }

void restore_context(const Frame* f) {
    if (kind_of(f) == FrameKind::Call && f->ctx) values_word_of(f->ctx) = f->saved_values;
}

// First cell of the frame's own stretch: the base in force when the frame
// above it was pushed, or the current base when it is the top frame.
Cell* stretch_of(const Frame* f) { return f + 1 < frame_top ? saved_base_of(f + 1) : arg_base; }

// Where a walk down starts: the top frame, or the one below it when the
// thrower's own native frame is to be skipped. -1 when there is none.
ptrdiff_t walk_start(bool skip_top) {
    ptrdiff_t i = frame_top - frame_bottom - 1;
    return skip_top && i >= 0 ? i - 1 : i;
}

Cell* arg_end() { return arg_bottom + ARG_CELLS; }
Cell* soft_arg_limit() { return arg_end() - ARG_RESERVE; }

// First cell of the stretch of the innermost try or try-all frame, where
// the try's catcher puts the top back: the cells above it belong to calls
// that an error leaves. The bottom when no try is running.
Cell* innermost_try_stretch() {
    for (const Frame* f = frame_top - 1; f >= frame_bottom; --f) {
        const FrameKind k = kind_of(f);
        if (k == FrameKind::Try || k == FrameKind::TryAll) return stretch_of(f);
    }
    return arg_bottom;
}

struct Pointers {
    Cell* base = arg_base;
    Cell* top = arg_top;
    Frame* frame = frame_top;
    void restore() const {
        arg_base = base;
        arg_top = top;
        frame_top = frame;
    }
};

// The stacks as the target frame's catcher expects them: the frame kept,
// its own stretch empty.
void settle(Frame* target, Cell* stretch) {
    frame_top = target + 1;
    arg_base = arg_top = stretch;
}

}  // namespace

void init() {
    arg_bottom = make_fixed_block(ARG_CELLS);
    arg_base = arg_top = arg_bottom;
    arg_limit = soft_arg_limit();
    frame_bottom = reinterpret_cast<Frame*>(make_fixed_block(FRAME_CELLS));
    frame_top = frame_bottom;
    frame_limit = frame_bottom + MAX_FRAMES - FRAME_RESERVE;
    throw_origin = nullptr;
    context::call_values = values_of_call;
}

bool ready() { return arg_bottom != nullptr; }

void release() {
    arg_bottom = arg_base = arg_top = arg_limit = nullptr;
    frame_bottom = frame_top = frame_limit = throw_origin = nullptr;
    context::call_values = nullptr;
}

// Only the running call's own cells are given up: at a frame overflow, or
// at a push that a call with few cells of its own makes, five cells below
// the top can lie under its base, in the stretch of a caller that a try
// returns to after the error (a recursion without arguments pushes no cell
// per level at all), where the report would overwrite them. The room for
// the report comes from the reserve instead.
void overflow() {
    Cell* const floor = arg_base < arg_top ? arg_base : arg_top;
    arg_top = arg_top - floor < static_cast<ptrdiff_t>(OVERFLOW_BACK_OFF) ? floor : arg_top - OVERFLOW_BACK_OFF;
    if (arg_end() - arg_top < static_cast<ptrdiff_t>(REPORT_CELLS)) [[unlikely]] {
        // The reserve is used up by code that a report ran (a trace
        // callback that went deep). Every cell above the stretch of the
        // innermost try is given up by the error anyway, since that try
        // takes it: the report takes its room there. Only a try made that
        // near the end leaves none, and the overflow then ends the process
        // as an uncaught error does.
        Cell* const room = arg_end() - REPORT_CELLS;
        if (room < innermost_try_stretch()) {
            sys.pending_error = err::STACK_OVERFLOW;
            err::print_pending();
            console::flush();
            _exit(-2 & 0xFF);
        }
        arg_top = room;
    }
    arg_limit = arg_end();
    cycles::reset();
    err::raise(err::STACK_OVERFLOW);
}

// ---- frame pushes ----

// An overflow of the frame reserve itself is reported all the same, with
// nothing more to lend: the report pushes no frame of its own.
void frame_overflow() {
    frame_limit = frame_bottom + MAX_FRAMES;
    overflow();
}

namespace {

Frame* soft_frame_limit() { return frame_bottom + MAX_FRAMES - FRAME_RESERVE; }

// Once the error is on its way to its try, the reserves close again when
// that try lies below them: its catcher puts the tops back at its own
// stretch. A try made during a report (by a trace callback) leaves them
// open until the report's own error passes; a reserve left open only means
// that a later overflow takes its room among the cells its error gives up.
void close_reserves(const Cell* catcher) {
    if (catcher < soft_arg_limit()) arg_limit = soft_arg_limit();
    if (frame_limit != soft_frame_limit() && frame_top < soft_frame_limit()) frame_limit = soft_frame_limit();
}

}  // namespace

// ---- pops ----

void unwind() {
    if (frame_top == frame_bottom) return;
    const Frame* f = --frame_top;
    restore_context(f);
    if (frame_top == frame_bottom) {
        arg_base = arg_top = arg_bottom;
    } else {
        arg_top = arg_base;
        arg_base = saved_base_of(f);
    }
}

void unwind_drop() {
    if (frame_top == frame_bottom) return;
    const Frame* f = --frame_top;
    arg_base = arg_top = saved_base_of(f);
}

void unwind_drop_call() {
    if (frame_top == frame_bottom) return;
    restore_context(frame_top - 1);
    unwind_drop();
}

void try_result() {
    // The error comes from its own cell: the C++ code unwound on the way
    // here may have put the stack top back below the copy on the stack.
    if (cell::type_of(&error_in_flight) == TYPE_ERROR) cell::copy(&error_in_flight, arg_base);
    else if (top_type() == TYPE_ERROR) cell::copy(top(), arg_base);
    error_in_flight = Cell{TYPE_UNSET, 0, 0, 0};
    arg_top = arg_base + 1;
}

// ---- names and traces ----

Cell get_call_name() {
    Frame* f = (throw_origin ? throw_origin : frame_top) - 1;
    throw_origin = nullptr;
    while (f >= frame_bottom && !reports_name(f)) --f;
    if (f < frame_bottom) return *words::w_not_found;
    return word_of(f);
}

node_t running_spec() {
    for (const Frame* f = frame_top - 1; f >= frame_bottom; --f) {
        const FrameKind k = kind_of(f);
        if (k == FrameKind::NativeCall) return f->spec;
        if (k == FrameKind::Call && f->ctx) {
            // A function's context keeps the function as its self value.
            const Cell* self = context::self_of(f->ctx);
            if (cell::type_of(self) == TYPE_FUNCTION) return function_spec(self);
        }
    }
    return 0;
}

namespace {
bool names_function(const Frame* f) {
    const Cell* v = context::get_by_symbol(symbol_of(f), name_context(f));
    return v && cell::type_of(v) == TYPE_FUNCTION;
}
}  // namespace

int32_t collect_calls(int level, const Cell* end, std::string& out, int32_t width) {
    const Frame* last = frame_bottom + integer_value(end);
    for (const Frame* f = frame_bottom; f < last && f < frame_limit && width > 0; ++f) {
        if (!reports_name(f) || (level <= 1 && !names_function(f))) continue;
        const int32_t s = symbol_of(f);
        const char* name = symbol::name(s);
        const auto len = static_cast<int32_t>(symbol::name_length(s));
        const int32_t take = len < width ? len : width;
        out.append(name, static_cast<size_t>(take));
        width -= take;
        if (width <= 0) break;
        out.push_back(' ');
        width--;
    }
    return width;
}

std::vector<Cell> call_words() {
    std::vector<Cell> out;
    for (const Frame* f = frame_bottom; f < frame_top; ++f) {
        const FrameKind k = kind_of(f);
        if ((k == FrameKind::Call || k == FrameKind::NativeCall) && reports_name(f)) out.push_back(word_of(f));
    }
    return out;
}

void record_error_frame(Cell* error) {
    err::set_stack_if_not_block(error, Cell{TYPE_INTEGER, 0, static_cast<uint32_t>(frame_top - frame_bottom), 0});
}

// ---- throwers ----

namespace {

// Pops the frames above the innermost try or try-all frame and answers
// that frame; null, with every frame popped, when there is none. Unless
// nothing was popped, the argument base goes back to the one the try frame
// was pushed on (the bottom for the bottom frame or none). The caller sets
// the top.
Frame* unroll_to_try() {
    Frame* const start = frame_top;
    while (frame_top > frame_bottom) {
        Frame* f = frame_top - 1;
        const FrameKind k = kind_of(f);
        if (k == FrameKind::Try || k == FrameKind::TryAll) {
            if (frame_top != start) arg_base = f == frame_bottom ? arg_bottom : saved_base_of(f);
            return f;
        }
        restore_context(f);
        frame_top = f;
    }
    arg_base = arg_bottom;
    return nullptr;
}

}  // namespace

void throw_error(const Cell* error) {
    Cell e = *error;
    bool caught = false;
    const Cell* catcher = arg_bottom;
    if (frame_top > frame_bottom) {
        const Cell where = get_call_name();
        err::set_where_if_none(&e, &where);
        record_error_frame(&e);
        Cell* saved_top = arg_top;
        catcher = innermost_try_stretch();
        if (Frame* f = unroll_to_try()) {
            frame_top = f;  // the try frame goes too: its region takes the error
            caught = true;
        }
        arg_top = saved_top;
    }
    sys.pending_error = err::code_of(&e);
    if (!caught) {
        // No try anywhere: the error ends the process at once.
        cell::copy(&e, arg_base);
        err::print(&e);
        console::flush();
        _exit(-2 & 0xFF);
    }
    error_in_flight = e;
    push(&e);
    close_reserves(catcher);
    qel::throw_exit(catch_code::ERROR);
}

uint32_t signal_break(bool has_value, bool is_continue) {
    const Pointers saved;
    const int code = is_continue ? err::NO_LOOP_CONTINUE : err::NO_LOOP_BREAK;
    for (ptrdiff_t i = walk_start(true); i >= 0; --i) {
        Frame* f = frame_bottom + i;
        const FrameKind k = kind_of(f);
        if (k == FrameKind::TryAll) break;
        if (k != FrameKind::Loop) continue;
        const Cell result = has_value && !is_continue ? *saved.base : unset_cell;
        Cell* stretch = stretch_of(f);
        *stretch = result;
        settle(f, stretch);
        return pending_exit = sys.thrown_code = is_continue ? catch_code::CONTINUE : catch_code::BREAK;
    }
    saved.restore();
    err::raise(code);
}

uint32_t signal_exit(bool has_value, bool keep_top) {
    const Pointers saved;
    for (ptrdiff_t i = walk_start(!keep_top); i >= 0; --i) {
        Frame* f = frame_bottom + i;
        if (kind_of(f) == FrameKind::TryAll) break;
        if (!has_flag(f, frame_flag::BODY)) continue;
        const Cell result = has_value ? *saved.base : unset_cell;
        Cell* stretch = stretch_of(f);
        *stretch = result;
        settle(f, stretch);
        return pending_exit = sys.thrown_code = has_value ? catch_code::RETURN : catch_code::EXIT;
    }
    saved.restore();
    err::raise(err::NO_FUNCTION_RETURN);
}

void throw_value(uint32_t code) {
    const Pointers saved;
    const Cell value = saved.base[0];
    const Cell name = saved.base[1];
    const ptrdiff_t start = walk_start(true);
    if (!throw_origin) throw_origin = frame_top;
    for (ptrdiff_t i = start; i >= 0; --i) {
        Frame* f = frame_bottom + i;
        const FrameKind k = kind_of(f);
        if (k == FrameKind::TryAll) break;
        if (k != FrameKind::Catch) continue;
        settle(f, stretch_of(f));
        push(&value);
        push(&name);
        qel::throw_exit(code);
    }
    saved.restore();
    err::raise(err::NO_CATCH_THROW, &value);
}

// ---- collector ----

namespace {

// The cells above the top are what earlier calls left behind, an error's
// unwinding above all: nothing marks them, so the nodes they name may be
// freed or renumbered by this collection and given to other buffers later.
// Yet push_slot hands such a cell out as it is and the caller fills it
// after an allocation, and code that sets the top back up takes the cells
// below it as they lie: a collection then would follow a dead node as a
// value of the old cell's type (a word's context that is now a hash
// record, say) and keep a buffer without what it holds. So each collection
// blanks them: between two collections every cell above the top is unset
// or was written since the last one, when every node it names was alive
// and kept its id.
void forget_above_top() {
    for (Cell* c = arg_top; c < arg_limit; ++c)
        if (cell::type_of(c) != TYPE_UNSET) *c = unset_cell;
}

}  // namespace

void mark_gc(const Marker& m) {
    if (!ready()) return;
    m.cells(arg_bottom, arg_top);
    forget_above_top();
    m.cells(&error_in_flight, &error_in_flight + 1);
    for (Frame* f = frame_bottom; f < frame_top; ++f) {
        if (f->word_ctx) {
            // A frame named self was named by an object's own word, whose
            // binding is the object's context series rather than a context.
            if (symbol_of(f) == words::sym_self) m.series(&f->word_ctx);
            else m.context(&f->word_ctx);
        }
        if (kind_of(f) == FrameKind::NativeCall && f->spec) m.series(&f->spec);
        if (f->ctx) {
            m.context(&f->ctx);
            if (f->saved_values && !context::has_stack_values(context::cell_of(f->ctx)))
                m.series(&f->saved_values);
        }
    }
}

// ---- machine-stack depth ----

void depth_overflow() {
    cycles::reset();
    err::raise(err::STACK_OVERFLOW);
}

}  // namespace qel::stack
