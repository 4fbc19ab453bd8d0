// The argument stack and the call-frame stack.
//
// Every call works on one shared argument stack of value cells: it reserves
// a stretch starting at the argument base, finds its arguments there and
// leaves its result in the base cell. Beside it runs a stack of small
// fixed-size call frames, one per active call, try, catch, loop or block
// evaluation: it names the running calls for error reports and is the map
// that break, continue, exit, return, throw and errors follow when they
// leave several calls at once. break, continue, return and exit are
// signalled: the signaller settles the stacks on the frame that takes the
// exit and leaves its code pending (runtime/exits.hpp), and the interpreter
// returns step by step up to that frame. Errors and throw are C++
// exceptions (NonLocalExit): their throwers settle the stacks for the
// catcher, then throw.
//
// Both stacks are fixed buffers that never move, so C++ may keep Cell*
// into the argument stack across anything. The pointers are plain globals:
// the interpreter is single-threaded.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "runtime/cell.hpp"
#include "runtime/series.hpp"

namespace qel {

// A call frame. The header packs the naming word's symbol (its low 16 bits,
// in bits 8-23), the frame kind (bits 24-27) and the frame flags; read it
// through kind_of, symbol_of and has_flag.
struct Frame {
    uint32_t header;
    uint32_t saved_base;  // caller's argument base, as a cell index from the bottom
    uint32_t word_ctx;    // binding context of the naming word, 0 when none
    uint32_t ctx;         // a function's call: the called function's context node
    union {
        uint32_t saved_values;  // a function's call: that context's values word before the call
        node_t spec;            // a native's call: the called value's spec block
    };
};
static_assert(sizeof(Frame) == 20, "a call frame is five 32-bit words");

namespace stack {

constexpr uint32_t ARG_CELLS = 20000;
constexpr uint32_t FRAME_CELLS = 15000;  // room for 12,000 frames
constexpr uint32_t MAX_FRAMES = FRAME_CELLS * sizeof(Cell) / sizeof(Frame);
// Cells and frames kept back from the program, so that reporting an
// overflow (building the error, tracing it, carrying it to its try) has
// room to push its own whatever the stacks held when it came. The limits
// move to the true ends while an overflow is being reported and back once
// the error is on its way to its try.
constexpr uint32_t ARG_RESERVE = 64;
// Room that reporting an overflow needs on the argument stack when no trace
// callback runs: the error's arguments and its value while it is built,
// and its copies on the way to the try.
constexpr uint32_t REPORT_CELLS = 16;
constexpr uint32_t FRAME_RESERVE = 32;
// Cells of the running call given up at an overflow; never more than the
// call has, since the cells below its base belong to its callers, and those
// of the callers that a try will return to live on after the error.
constexpr uint32_t OVERFLOW_BACK_OFF = 5;

// What a frame stands for.
enum class FrameKind : uint32_t {
    Call = 1,        // a call of a function!: its context and the values it lends
    Native = 2,      // a native's own work (a block it runs, a callback), a function body
    NativeCall = 3,  // a call of a native!, action! or routine!: its spec
    Try = 4,
    TryAll = 5,
    Catch = 6,
    Block = 7,
    Loop = 8,
};

namespace frame_flag {
constexpr uint32_t KIND_SHIFT = 24;
constexpr uint32_t KIND_MASK = 0x0F000000;
constexpr uint32_t SYMBOL_SHIFT = 8;
constexpr uint32_t SYMBOL_MASK = 0x00FFFF00;
constexpr uint32_t BODY = 0x10000000;    // a function body: where return and exit land
}  // namespace frame_flag

// The pointers. Argument limit and frame limit are exclusive: a push that
// brings the top to them overflows. Outside an overflow report they stand
// short of the true ends by the reserves.
extern Cell* arg_bottom;
extern Cell* arg_base;
extern Cell* arg_top;
extern Cell* arg_limit;
extern Frame* frame_bottom;
extern Frame* frame_top;
extern Frame* frame_limit;
// Frame top at which the last throw started, for naming the thrower in a
// later error report; null when unset.
extern Frame* throw_origin;

// Start-up, right after the root block exists: both stacks are appended to
// the root block. The frame-name symbols are taken from the runtime words
// when they are first needed, since those are made later in start-up.
void init();
// Whether init ran (and release did not since). Before that, raised errors
// have no stack to describe and travel as bare codes.
bool ready();
// Forgets both stacks, for starting over on fresh memory.
void release();

[[noreturn]] void overflow();

inline FrameKind kind_of(const Frame* f) {
    return static_cast<FrameKind>((f->header & frame_flag::KIND_MASK) >> frame_flag::KIND_SHIFT);
}
inline int32_t symbol_of(const Frame* f) {
    return static_cast<int32_t>((f->header & frame_flag::SYMBOL_MASK) >> frame_flag::SYMBOL_SHIFT);
}
// A word's symbol as a frame keeps it, for comparing with symbol_of.
inline int32_t frame_symbol(int32_t symbol) {
    return symbol & static_cast<int32_t>(frame_flag::SYMBOL_MASK >> frame_flag::SYMBOL_SHIFT);
}
inline bool has_flag(const Frame* f, uint32_t flag) { return f->header & flag; }
inline uint32_t index_of(const Cell* c) { return static_cast<uint32_t>(c - arg_bottom); }
inline Cell* at_index(uint32_t i) { return arg_bottom + i; }
inline Cell* saved_base_of(const Frame* f) { return arg_bottom + f->saved_base; }

// ---- argument stack ----
inline Cell* push_slot() {
    Cell* c = arg_top++;
    if (arg_top >= arg_limit) [[unlikely]] overflow();
    return c;
}
inline Cell* push(const Cell* value) {
    const Cell v = *value;  // the value may lie at the top itself
    Cell* c = push_slot();
    *c = v;
    return c;
}
inline void pop_n(uint32_t n) {
    arg_top = static_cast<uint32_t>(arg_top - arg_bottom) < n ? arg_bottom : arg_top - n;
}
inline Cell* top() { return arg_top == arg_bottom ? arg_bottom : arg_top - 1; }
inline uint32_t top_type() { return cell::type_of(top()); }
inline void set_last(const Cell* value) { cell::copy(value, arg_base); }
inline void set_last_reset(const Cell* value) {
    cell::copy(value, arg_base);
    arg_top = arg_base + 1;
}
inline void reset() { arg_top = arg_base; }
inline void keep_first() { arg_top = arg_base + 1; }

// ---- frame pushes ----
// name is a word cell, or null / none for an unnamed call. Inline: every
// call and block evaluation pushes frames.
[[noreturn]] void frame_overflow();
inline void mark(const Cell* name, FrameKind kind, uint32_t flags = 0, node_t spec = 0) {
    if (frame_top + 1 >= frame_limit) [[unlikely]] frame_overflow();
    int32_t symbol = 0;
    node_t word_ctx = 0;
    if (name && is_all_word(cell::type_of(name))) {
        symbol = frame_symbol(word_symbol(name));
        word_ctx = word_context(name);
    }
    const uint32_t header = (static_cast<uint32_t>(kind) << frame_flag::KIND_SHIFT) |
                            (static_cast<uint32_t>(symbol) << frame_flag::SYMBOL_SHIFT) | flags;
    *frame_top++ = Frame{header, index_of(arg_base), word_ctx, 0, {spec}};
    arg_base = arg_top;
}
// Names the frame by another word (a routine that stands for a native).
inline void rename(Frame* f, const Cell* name) {
    f->header = (f->header & ~frame_flag::SYMBOL_MASK) |
                (static_cast<uint32_t>(frame_symbol(word_symbol(name))) << frame_flag::SYMBOL_SHIFT);
    f->word_ctx = word_context(name);
}
// The values word of a function's context! cell: the node of its values,
// or for a stack-values context the argument base of the running call as a
// cell index + 1. The context cell is reached through its node, as the
// head of the context series.
inline uint32_t& values_word_of(node_t ctx) { return context_values(series::cells_of(ctx)); }
inline void mark_call(const Cell* name, node_t ctx) {
    mark(name, FrameKind::Call);
    Frame* f = frame_top - 1;
    f->ctx = ctx;
    f->saved_values = ctx ? values_word_of(ctx) : 0;
}
inline void mark_native(const Cell* name) { mark(name, FrameKind::Native); }
inline void mark_try(const Cell* name) { mark(name, FrameKind::Try); }
inline void mark_try_all(const Cell* name) { mark(name, FrameKind::TryAll); }
inline void mark_catch(const Cell* name) { mark(name, FrameKind::Catch); }
inline void mark_loop(const Cell* name) { mark(name, FrameKind::Loop); }
inline void mark_block(const Cell* name) { mark(name, FrameKind::Block); }
// A call of a native, action or routine, which keeps the callee's spec for
// naming its arguments.
inline void mark_native_call(const Cell* name, node_t spec) {
    mark(name, FrameKind::NativeCall, 0, spec);
}
// The arguments the caller pushed become the function context's values,
// then a function-body frame is pushed.
inline void mark_func_body(const Cell* name, node_t fn_ctx) {
    if (fn_ctx) values_word_of(fn_ctx) = index_of(arg_base) + 1;
    mark(name, FrameKind::Native, frame_flag::BODY);
}

// ---- pops ----
void unwind();
inline void unwind_keep() {
    if (frame_top == frame_bottom) [[unlikely]] return;
    const Frame* f = --frame_top;
    arg_top = arg_base + 1;
    arg_base = saved_base_of(f);
}
inline void unwind_keep_call() {
    if (frame_top == frame_bottom) [[unlikely]] return;
    const Frame* f = frame_top - 1;
    if (kind_of(f) == FrameKind::Call && f->ctx) values_word_of(f->ctx) = f->saved_values;
    unwind_keep();
}
inline void unwind_last() {
    Cell* result = arg_base;
    unwind_keep();
    cell::copy(result, arg_base);
}
void unwind_drop();
void unwind_drop_call();
void try_result();

// ---- names and traces ----
// The word naming the running call (or the thrower, once after a throw).
Cell get_call_name();
// The spec block of the innermost call of a function, native, action or
// routine; 0 when none is running.
node_t running_spec();
// The call trace of an error: names outermost first, each followed by a
// blank, while width lasts; answers the width left.
int32_t collect_calls(int level, const Cell* end, std::string& out, int32_t width);
// The words naming the active calls of functions, natives, actions and
// routines, outermost first.
std::vector<Cell> call_words();
// Records the frame top in the error's stack field, for its call trace.
void record_error_frame(Cell* error);

// ---- throwers ----
// The error that throw_error is carrying to its try, kept in a cell of its
// own as well as on the stack: C++ code unwound on the way may put the
// stack top back below the stack copy. Catchers read it here.
extern Cell error_in_flight;

[[noreturn]] void throw_error(const Cell* error);
// break, continue, return and exit: set the stacks for the target frame,
// leave the code as the pending exit and return it; the interpreter returns
// step by step to the target, and C++ code that cannot pass the exit up
// raises it with raise_pending. A missing target (or a try-all frame in the
// way) raises the throw error instead.
uint32_t signal_break(bool has_value, bool is_continue);
uint32_t signal_exit(bool has_value, bool keep_top);
[[noreturn]] void throw_value(uint32_t code);

// ---- collector ----
// What the collector keeps alive through the stacks: the argument cells in
// use, and for every frame its naming word's context, its function context
// and the values series that context will get back when the call ends, or
// the spec of the native it calls.
// Nodes are passed by address: the collector may renumber them. The cells
// above the argument top are blanked to unset, so that none of them names
// a node this collection frees or renumbers.
struct Marker {
    void (*context)(node_t* ctx);
    void (*series)(node_t* n);
    void (*cells)(Cell* from, Cell* to);
};
void mark_gc(const Marker& m);

// ---- machine-stack depth ----
// Raises internal stack-overflow when the machine stack of the interpreter
// thread is nearly used up. Called on each nested evaluation.
// Lowest usable address of the interpreter's machine stack (0: unchecked).
extern uintptr_t depth_floor;
[[noreturn]] void depth_overflow();
// Inline: it runs on every nested evaluation, and is one compare.
inline void check_depth() {
    const auto here = reinterpret_cast<uintptr_t>(__builtin_frame_address(0));
    // The raise and the unwinding after it run below the floor, inside the
    // margin kept for them.
    if (here < depth_floor) [[unlikely]] depth_overflow();
}
constexpr uintptr_t DEPTH_MARGIN = 256u << 10;

// Restores the argument stack top on scope exit, error or not: cells a
// routine pushes to hold values across allocations are dropped on the way
// out. Base and frame top are left alone (Saved keeps those too).
class TopSaved {
public:
    TopSaved() : top_(arg_top) {}
    ~TopSaved() { arg_top = top_; }
    TopSaved(const TopSaved&) = delete;
    TopSaved& operator=(const TopSaved&) = delete;

private:
    Cell* top_;
};

// Restores the argument base and top and the frame top on scope exit:
// the C++ side of every guarded region.
class Saved {
public:
    Saved() : base_(arg_base), top_(arg_top), frame_(frame_top) {}
    ~Saved() { restore(); }
    void restore() {
        arg_base = base_;
        arg_top = top_;
        frame_top = frame_;
    }
    Saved(const Saved&) = delete;
    Saved& operator=(const Saved&) = delete;

private:
    Cell* base_;
    Cell* top_;
    Frame* frame_;
};

}  // namespace stack
}  // namespace qel
