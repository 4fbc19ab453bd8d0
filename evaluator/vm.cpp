// The dispatch loop of compiled block code, and the hand-over to the
// walker.
//
// Values go to the argument stack exactly where the walker would leave
// them; the argument base only moves with the frames that report names
// (calls, natives, infix operators, set-words), so a frame pushed inside
// an in-place block records the base the walker's would. Every instruction
// that may run user code is followed by a look at the pending exit: the
// thrower has settled the stacks, and the loop returns at once.
//
// Hand-over. When a check fails where an operand starts, the walker
// evaluates that operand from its position; the sites waiting for it
// (whose frames are pushed, their earlier arguments in place) are then
// finished by the call machinery from the walker's position, operators
// after them by the walker's look-ahead, up to the end of the expression;
// the rest of the block runs through the walker too, until an expression
// starts where the code has one. A block whose cells changed while its
// code ran hands over the same way after the step that changed it.
//
// Loops in place. A loop compiled in place pushes the native's frame and
// its loop frame as the native does, and keeps, for the run, where its
// head and end are. break and continue reach it as a pending exit (from a
// native called in the body, or from the walker after a hand-over) or as
// a NonLocalExit thrown by C++ code below: the innermost loop of the run
// takes either, since a loop frame above it would have taken it first.
//
// Calls in place. A function! whose body has code ready to run is called
// without a C++ call: InvokeFn pushes the body's frame as call_body does,
// leaves a call record (the caller's code, instruction, locals and
// position) and goes on in the body's code, whose Return comes back
// through the record. The records of every run share one stack; a run owns
// those above the top it started at. return and exit end the body there;
// break and continue it does not take leave it for its caller; an error
// leaves every record of the run, whose codes the run lets go.
#include "evaluator/vm.hpp"

#include <cstring>

#include "datatypes/block.hpp"
#include "datatypes/function.hpp"
#include "datatypes/typeset.hpp"
#include "evaluator/call.hpp"
#include "evaluator/compile.hpp"
#include "evaluator/fast_ops.hpp"
#include "evaluator/interp.hpp"
#include "evaluator/lookup.hpp"
#include "evaluator/native_fns.hpp"
#include "evaluator/path_eval.hpp"
#include "evaluator/trace.hpp"
#include "runtime/block_code.hpp"
#include "runtime/collector.hpp"
#include "runtime/context.hpp"
#include "runtime/errors.hpp"
#include "runtime/exits.hpp"
#include "runtime/runtime_words.hpp"
#include "runtime/stack.hpp"
#include "runtime/symbols.hpp"
#include "runtime/system.hpp"
#include "runtime/words.hpp"

namespace qel::vm {

bool enabled = true;

namespace {

using namespace compile;

// The refinements of a native called without any: every one absent.
struct NoRefinements {
    int32_t refs[32];
    constexpr NoRefinements() : refs() {
        for (int32_t& r : refs) r = -1;
    }
};
constexpr NoRefinements no_refinements;

// Whether the block's buffer still carries the index of the code it was
// compiled under, and that code is still the table's.
inline bool valid(const Block& b) {
    if (b.seen == block_code::generation) [[likely]] return true;
    if (series::buffer_of(series_node(b.cell))->code != b.code || b.ref->dead) return false;
    b.seen = block_code::generation;
    return true;
}

// A frame with a header made when the code was: what stack::mark pushes.
[[gnu::always_inline]] inline void push_frame(uint32_t header, node_t word_ctx, node_t ctx, uint32_t last) {
    if (stack::frame_top + 1 >= stack::frame_limit) [[unlikely]] stack::frame_overflow();
    *stack::frame_top++ = Frame{header, stack::index_of(stack::arg_base), word_ctx, ctx, {last}};
    stack::arg_base = stack::arg_top;
}

// The global values' cells as the run last read them: read again after
// every step that may allocate (and so move them).
struct Globals {
    const Cell* cells = nullptr;
    uint32_t count = 0;
    void refresh() {
        count = 0;
        if (lookup::global_slot(0)) {
            cells = lookup::global_values.cells;
            count = lookup::global_values.count;
        }
    }
    const Cell* at(uint32_t i) const { return i < count ? cells + i : lookup::global_slot(i); }
};

// The value cell of the word that names a site.
[[gnu::always_inline]] inline const Cell* reach(const Site& s, const Cell* locals, const Globals& g) {
    switch (s.reach) {
    case Reach::Global: return g.at(s.index);
    case Reach::Local: return locals + s.index;
    default: return lookup::peek(&s.name);
    }
}

[[gnu::always_inline]] inline bool same_value(const Cell* v, const Cell& expected) {
    return v && !((v->header ^ expected.header) & 0x00FF00FF) && same_payload(v, &expected);
}

// A function! other than the one a call site was made for, called in the
// same way: its argument list is entry for entry the one the site was
// compiled from, so the site's checks and the cells after the arguments
// hold for it too, and its context keeps it as its self value, where the
// call's frame finds it again (called_fn). Its context is not the site's
// own (the function the site was made for may have died, its context's
// node given to another): a frame with the site's context calls the
// site's function. Answers that context; 0 when the function is to be
// called otherwise.
[[gnu::noinline]] node_t alike_function(const Site& s, const Cell* v) {
    if (!v || cell::type_of(v) != TYPE_FUNCTION || s.kind != SiteKind::Function ||
        (v->header & 0x00FF00FF) != (s.fn.header & 0x00FF00FF))
        return 0;
    const Cell& list = function::arg_list_of(v);
    if (list.header != s.list_cell.header || series_index(list) != series_index(s.list_cell) ||
        function::arg_list_plain(list) != function::arg_list_plain(s.list_cell))
        return 0;
    const node_t n = series_node(list);
    // An empty list has no cells to compare (and the site no pool for them).
    if (series::cell_count(n) != s.list_n ||
        (s.list_n && std::memcmp(series::cells_of(n), s.list, s.list_n * sizeof(Cell)) != 0))
        return 0;
    const node_t ctx = function_context(*v);
    if (ctx == s.ctx || !same_value(context::self_of(ctx), *v)) return 0;
    return ctx;
}

// The function! a call site's frame (on the top of the frame stack) calls:
// the site's own, or one alike, which its context keeps as its self value.
inline const Cell& called_fn(const Site& s) {
    const node_t ctx = (stack::frame_top - 1)->ctx;
    return ctx == s.ctx ? s.fn : *context::self_of(ctx);
}

using lookup::plain;

enum class Phase {
    Todo,  // the operand at pos is to be evaluated
    Done,  // the operand's value is at start; the operators after it are not looked at
};

// Where the one expression of a script's top level ended, when the walker
// finished it.
uint32_t top_end = 0;

// Goes on with the block from pos, the value of the expression before at
// base: to the code's instruction for the expression that starts there,
// or through the walker expression by expression, up to the block's end.
const Ins* resume_block(Code& c, uint16_t r, uint32_t pos, Cell* base) {
    const Block& b = c.blocks[r];
    const Cell blk = b.cell;
    const node_t n = series_node(blk);
    for (;;) {
        stack::arg_top = base + 1;
        if (pos >= b.limit) {
            top_end = pos;
            return &c.ins[b.end];
        }
        if (pos >= series::cell_count(n)) return &c.ins[b.end];
        if (valid(b))
            for (const auto& [at, i] : b.starts)
                if (at == pos) return &c.ins[i];
        stack::arg_top = base;
        interp::current_position = blk;
        series_index(interp::current_position) = pos;
        pos = interp::eval_expression(&blk, pos, {.sub = true});
        if (exit_pending()) return nullptr;
    }
}

// The expression from pos through the walker (the first of its block when
// first is set), then the rest of the block.
const Ins* walk_from(Code& c, uint16_t r, uint32_t pos, Cell* base, bool first) {
    const Block& b = c.blocks[r];
    const Cell blk = b.cell;
    if (pos >= series::cell_count(series_node(blk))) {
        if (first) *base = shared::unset;
        stack::arg_top = base + 1;
        return &c.ins[b.end];
    }
    stack::arg_top = base;
    interp::current_position = blk;
    series_index(interp::current_position) = pos;
    pos = interp::eval_expression(&blk, pos, {.sub = true});
    if (exit_pending()) return nullptr;
    return resume_block(c, r, pos, base);
}

void set_value(Code& c, const Site& s) {
    const Cell value = *stack::top();
    if (cell::type_of(&value) == TYPE_UNSET) err::raise(err::NEED_VALUE, &s.name);
    // Through the word in the block itself, as the walker sets it.
    Cell* w = series::cells_of(series_node(c.blocks[s.blk].cell)) + s.pos;
    lookup::set_word(w, &value);
    *stack::arg_base = value;
    stack::unwind_keep();
}

// A set-path's value, on the top of its frame, is set as the walker sets
// it; the frame ends with the value.
void set_path(Code& c, const Site& s, uint32_t pos) {
    path_eval::eval_path(&s.fn, &c.blocks[s.blk].cell, pos, path_eval::SET, true);
    if (exit_pending()) return;
    *stack::arg_base = *stack::top();
    stack::unwind_keep();
}

// The field cell of a Field or SetPath site, when the word still names the
// object it was compiled for and the path's cells are as they were (a path
// carries no code of its own to tell); null otherwise.
[[gnu::always_inline]] inline const Cell* field_value(const Site& s, const Cell* obj) {
    if (!obj || cell::type_of(obj) != TYPE_OBJECT || object_context(obj) != s.ctx) [[unlikely]]
        return nullptr;
    const node_t pn = series_node(s.fn);
    const uint32_t first = series_index(s.fn);
    if (series::cell_count(pn) != first + 2) [[unlikely]] return nullptr;
    const Cell* cells = series::cells_of(pn) + first;
    if (std::memcmp(cells, &s.name, sizeof(Cell)) != 0 || std::memcmp(cells + 1, &s.element, sizeof(Cell)) != 0)
        [[unlikely]] return nullptr;
    return context::value_by_index(s.ctx, s.field);
}

// The path of a call site through a path, from its index 0 as the walker
// reads its elements.
Cell path_of(const Code& c, const Site& s) {
    Cell p = c.blocks[s.path_blk].cell;
    series_index(p) = 0;
    return p;
}

// A call through a path whose operand argi (an argument-list entry) was
// evaluated by the walker and checked: the walker's call machinery takes
// the rest of the call. A refinement argument's path element is found in
// the path as compiled: the path itself may have changed meanwhile.
uint32_t resume_path_site(const Code& c, const Site& s, const Cell& fn, uint32_t pos, uint32_t argi) {
    const Cell blk = c.blocks[s.blk].cell;
    const Cell path = path_of(c, s);
    const uint32_t first = series_index(c.blocks[s.path_blk].cell);
    uint32_t argc = 0;
    while (argc < s.list_n && cell::type_of(&s.list[argc]) == TYPE_TYPESET) argc++;
    if (argi < argc)
        return call::resume_path_call(&fn, &blk, pos, &s.name, &path, {first + 1, argi + 1, false, -1});
    uint32_t j = argi;
    while (j > argc && cell::type_of(&s.list[j]) != TYPE_REFINEMENT) j--;
    const int32_t sym = symbol::canonical(word_symbol(s.list[j]));
    uint32_t k = 1;
    while (k < s.path_n && symbol::canonical(word_symbol(s.path[k])) != sym) k++;
    return call::resume_path_call(&fn, &blk, pos, &s.name, &path,
                                  {first + k + 1, argc, true, static_cast<int32_t>(argi)});
}

// Finishes the expression of block r through the walker and the call
// machinery: operand argi of site up (-1: the expression itself) is to be
// evaluated from pos, or its value lies at start. Then the rest of the
// block. Answers the instruction to go on at; null when an exit is
// pending.
const Ins* finish(Code& c, uint16_t r, int32_t up, uint32_t argi, uint32_t pos, Phase phase, Cell* start) {
    const Cell blk = c.blocks[r].cell;
    for (;;) {
        const bool no_infix = up >= 0 && c.sites[static_cast<size_t>(up)].kind == SiteKind::Infix;
        if (phase == Phase::Todo) {
            stack::arg_top = start;
            pos = interp::eval_expression(&blk, pos, {.no_infix = no_infix, .sub = true});
            if (exit_pending()) return nullptr;
        } else if (!no_infix) {
            const node_t n = series_node(blk);
            pos = interp::check_infix(blk, pos, start, series::cells_of(n), series::cell_count(n));
            if (exit_pending()) return nullptr;
        }
        if (up < 0) break;
        const Site& s = c.sites[static_cast<size_t>(up)];
        Cell* const site_start = stack::arg_base;
        switch (s.kind) {
        case SiteKind::Infix:
            call::finish_infix(&s.fn, &blk, pos, &s.name);
            break;
        case SiteKind::Set:
            set_value(c, s);
            break;
        case SiteKind::SetPath:
            set_path(c, s, pos);
            break;
        default: {
            const Cell fn = s.kind == SiteKind::Function ? called_fn(s) : s.fn;
            call::check_arg(&fn, &s.name, argi);
            if (s.path_blk) pos = resume_path_site(c, s, fn, pos, argi);
            else pos = call::resume_call(&fn, &blk, pos, &s.name, argi + 1);
            break;
        }
        }
        if (exit_pending()) return nullptr;
        start = site_start;
        phase = Phase::Done;
        argi = s.argi;
        up = s.up;
    }
    return resume_block(c, r, pos, start);
}

// A check of the instruction failed: the code is made again at the block's
// next evaluation. Until then (a loop of the code may still turn many
// times) the block in place that holds the instruction is taken as changed,
// so that it runs as a block of its own, whose code is made from what its
// words hold now. No buffer carries the index it then expects.
constexpr uint32_t NO_CODE_INDEX = UINT32_MAX;
void went_stale(Code& c, const Ins& i) {
    c.stale = true;
    if (i.blk) c.blocks[i.blk].code = NO_CODE_INDEX;
    block_code::generation++;
}

// A check of the instruction failed: the walker takes over from it.
[[gnu::noinline]] const Ins* hand_over(Code& c, const Ins& i, Phase phase, uint32_t pos, Cell* start) {
    went_stale(c, i);
    return finish(c, i.blk, i.up, i.argi, pos, phase, start);
}

// The block i stands in changed during the step before: the site (or
// operand) that step completed, whose value is on the top, goes on
// through the walker from pos.
[[gnu::noinline]] const Ins* changed_under(Code& c, const Ins& i, int32_t up, uint32_t argi, uint32_t pos) {
    return finish(c, i.blk, up, argi, pos, Phase::Done, stack::arg_top - 1);
}

// The path of a call changed before its element i.d was read (the path's
// tail for InvokeFn): the walker's call machinery reads it from there, then
// the rest of the expression and the block go on through the walker.
[[gnu::noinline]] const Ins* path_hand_over(Code& c, const Ins& i, const Site& s) {
    went_stale(c, i);
    Cell* const start = stack::arg_base;
    const Cell fn = called_fn(s);
    const Cell blk = c.blocks[i.blk].cell;
    const Cell path = path_of(c, s);
    uint32_t argc = 0;
    while (argc < s.list_n && cell::type_of(&s.list[argc]) == TYPE_TYPESET) argc++;
    const bool laid = i.op != Op::Refine || !i.c;
    const uint32_t pos = call::resume_path_call(&fn, &blk, i.pos, &s.name, &path, {i.d, argc, laid, -1});
    if (exit_pending()) return nullptr;
    return finish(c, i.blk, s.up, s.argi, pos, Phase::Done, start);
}

// An infix operator's frame, its left operand at left, as the call
// machinery pushes it; the left operand is checked now unless the
// operator's integer step takes it.
void begin_infix(const Site& s, Cell* left) {
    stack::check_depth();
    stack::arg_top = left;
    push_frame(s.header, s.word_ctx, 0, s.spec);
    stack::arg_top = left + 1;
    if (s.fast == fast_ops::NOT_FAST || cell::type_of(left) != TYPE_INTEGER) call::check_arg(&s.fn, &s.name, 0);
}

// The integer steps that neither raise nor leave the integers, written
// into the left operand's cell; false for the others, which take
// fast_ops::fast_result or the call.
[[gnu::always_inline]] inline bool quick_int(int32_t code, int32_t x, int32_t y, Cell* left) {
    int32_t r;
    switch (code) {
    case fast_ops::OP_ADD:
        if (__builtin_add_overflow(x, y, &r)) return false;
        integer_value(left) = r;
        return true;
    case fast_ops::OP_SUBTRACT:
        if (__builtin_sub_overflow(x, y, &r)) return false;
        integer_value(left) = r;
        return true;
    case fast_ops::OP_MULTIPLY:
        if (__builtin_mul_overflow(x, y, &r)) return false;
        integer_value(left) = r;
        return true;
    case fast_ops::OP_REMAINDER:
        if (y == 0 || y == -1) return false;
        integer_value(left) = x % y;
        return true;
    case fast_ops::OP_LESSER:
        *left = x < y ? shared::true_value : shared::false_value;
        return true;
    case fast_ops::OP_EQUAL:
        *left = x == y ? shared::true_value : shared::false_value;
        return true;
    case fast_ops::OP_GREATER:
        *left = x > y ? shared::true_value : shared::false_value;
        return true;
    default:
        return false;
    }
}

// Both operands of an infix operator in place from its frame's base.
bool end_infix(Code& c, const Site& s, uint32_t pos) {
    Cell* left = stack::arg_base;
    if (s.fast != fast_ops::NOT_FAST && cell::type_of(left) == TYPE_INTEGER &&
        cell::type_of(left + 1) == TYPE_INTEGER && stack::arg_top == left + 2) {
        fast_ops::fast_result(s.fast, integer_value(left), integer_value(left + 1), left);
        stack::unwind_keep();
        return true;
    }
    call::finish_infix(&s.fn, &c.blocks[s.blk].cell, pos, &s.name);
    return !exit_pending();
}

// An operator whose integer step does not apply to its operands: the call
// the walker would make, with the right operand's value as it stands.
[[gnu::noinline]] bool slow_arith(Code& c, const Site& s, Cell* left, const Cell* right, uint32_t op_pos) {
    const Cell r = *right;
    begin_infix(s, left);
    stack::push(&r);
    return end_infix(c, s, op_pos + 2);
}

// The right operand of an operator is no longer a value as it stands.
[[gnu::noinline]] const Ins* arith_hand_over(Code& c, const Ins& i, Cell* left, uint32_t op_pos) {
    begin_infix(c.sites[i.a], left);
    went_stale(c, i);
    return finish(c, i.blk, static_cast<int32_t>(i.a), 1, op_pos + 1, Phase::Todo, left + 1);
}

// The block of an in-place conditional or paren changed, or a check in it
// failed: it runs as the walker runs it (through its own code, when it has
// one).
[[gnu::noinline]] bool run_changed_block(const Block& b) {
    Cell cell = b.cell;
    if (b.paren) {
        stack::mark_native(words::w_body);
        interp::eval_block(&cell, true);
        if (exit_pending()) return false;
        stack::unwind_keep();
        return true;
    }
    interp::eval_block(&cell, true);
    return !exit_pending();
}

// The body of fn, called at site s, whose arguments are in place (its
// context's values word set): call::call_function with the frame header
// made beforehand. False when an exit for a frame below is pending.
bool call_body(const Site& s, const Cell& fn) {
    if (trace::installed) [[unlikely]] {
        call::call_function(&fn, &s.name);
        return !exit_pending();
    }
    const Cell body = function::body_of(fn);
    push_frame(s.body_header, s.word_ctx, 0, 0);
    interp::eval_block(&body, true);
    if (exit_pending()) {
        if (pending_exit != catch_code::RETURN && pending_exit != catch_code::EXIT) return false;
        pending_exit = 0;
        stack::keep_first();
    }
    stack::unwind_last();
    return true;
}

// foreach over a block in place: the cells the native keeps below its
// loop frame (a scratch cell for the value, the walk's copy of the series,
// the word) after its arguments (the word, the series, the body). The
// loop frame is pushed next, its base unset as the native leaves it.
void begin_foreach() {
    Cell* base = stack::arg_base;
    stack::push(&shared::unset);
    stack::push(base + 1);
    stack::push(base);
}

enum class Step {
    End,     // the walk is at the tail
    Set,     // the word holds the next value
    Called,  // the same, through word::set (which may have allocated or run a handler)
};

// One step of foreach over a block: the native's step for one word. base
// is the native's frame base. The cells are read through the node at each
// step: the body may change the block it walks.
[[gnu::always_inline]] inline Step foreach_step(Cell* base) {
    Cell* scratch = base + 3;
    Cell* series = base + 4;
    const node_t n = series_node(series);
    const uint32_t i = series_index(series);
    if (i >= series::buffer_length(n)) return Step::End;
    *scratch = series::cells_of(n)[i];
    series_index(series) = i + 1;
    Cell w = base[5];
    if (cell::type_of(scratch) == TYPE_UNSET) [[unlikely]] {
        series_index(series) = i;
        err::raise(err::NEED_VALUE, &w);
    }
    // A global word holding data, taking data: straight into its cell.
    if (word_context(w) == context::global && word_index(w) >= 0) {
        if (Cell* slot = const_cast<Cell*>(lookup::global_slot(static_cast<uint32_t>(word_index(w))));
            slot && plain(slot) && plain(scratch)) [[likely]] {
            *slot = *scratch;
            return Step::Set;
        }
    }
    lookup::set_word(&w, scratch);
    return Step::Called;
}

// How a run of the code ended.
enum class End {
    Done,  // at its end, the value on the top
    Exit,  // an exit is pending
};

// A loop compiled in place that is running: where break and continue take
// it. Loops nest no deeper than blocks compiled in place.
struct Active {
    Frame* frame;     // its loop frame
    Cell* base;       // the loop frame's base
    uint32_t begin;   // its LoopBegin
    uint32_t head;    // its LoopHead
    uint32_t end;     // its LoopEnd
    int32_t left;     // loop and repeat: the turns still to run
    int32_t count;    // repeat: the turns in all
    bool cond;        // while: its condition is running
};

// A run of the code: where it goes on, the code running there (the run's
// own, or the body of a function it called) and the loops it is inside.
struct State {
    const Ins* ip;
    Code* code;
    Cell* locals;
    uint32_t depth = 0;
    uint32_t calls = 0;  // the call records below this run's
    Active loops[16];
};

// A call of a function! whose body runs in the caller's loop: what the
// caller's run goes on with when the body ends. The records of all runs
// share one stack; a run owns those above its start.
struct CallRecord {
    Code* code;          // the caller's code
    const Ins* ip;       // its InvokeFn
    Cell* locals;
    Cell* base;          // the body's base: its value ends there
    node_t ctx;          // the called function's context
    uint32_t depth;      // the loops the caller was inside
    uint32_t saved_values;  // the function context's values word before the call
    uint64_t position[2];   // the caller's interp::current_position
};

// A call pushes at least two frames, so the frame stack runs out first.
constexpr uint32_t MAX_CALLS = stack::MAX_FRAMES / 2 + 1;
CallRecord call_records[MAX_CALLS];
uint32_t call_top = 0;

// The loops of the code running at the top of the run: those above the
// innermost call record's.
inline uint32_t level_loops(const State& st) {
    return call_top > st.calls ? call_records[call_top - 1].depth : 0;
}

// The compiled body of fn, called at site s, ready to run in the caller's
// loop: null when it is to be called the ordinary way (traced, not
// compiled yet, stale, ...). The function's arguments are in place and its
// context's values word set.
[[gnu::noinline]] Code* find_body(const Site& s, const Cell& fn, node_t ctx, const State& st);
[[gnu::always_inline]] inline Code* inline_body(const Site& s, const Cell& fn, node_t ctx, const State& st) {
    if (trace::installed || call_top >= MAX_CALLS) [[unlikely]]
        return nullptr;
    // The site's own function keeps its body: the code found for it holds
    // while no code may have gone stale.
    if (ctx == s.ctx && s.body_own && s.body_seen == block_code::generation) [[likely]] {
        Code* c = s.body;
        if (c->home && c->home != ctx && !stack::values_word_of(c->home)) return nullptr;
        if (st.depth + c->loops > std::size(st.loops)) return nullptr;
        return c;
    }
    return find_body(s, fn, ctx, st);
}

// inline_body's look-up of the code, once the site's own is not known to
// hold.
Code* find_body(const Site& s, const Cell& fn, node_t ctx, const State& st) {
    const Cell& body = function::body_of(fn);
    const node_t n = series_node(body);
    Code* c = s.body;
    if (s.body_seen != block_code::generation || s.body_node != n || s.body_index != series_index(body))
        [[unlikely]] {
        if (!series::buffer_of(n)->code) return nullptr;
        c = block_code::find(n);
        if (!c || c->kind != Kind::Compiled || c->stale || c->one_expression || c->start != series_index(body))
            return nullptr;
        s.body = c;
        s.body_node = n;
        s.body_index = series_index(body);
        s.body_seen = block_code::generation;
        s.body_own = ctx == s.ctx;
    }
    if (c->home && c->home != ctx && !stack::values_word_of(c->home)) return nullptr;
    if (st.depth + c->loops > std::size(st.loops)) return nullptr;
    return c;
}

// A break or continue (pending, or thrown by C++ code below) reaches the
// innermost loop the run is inside: every loop frame above that one has
// taken its own. Settles the stacks as the loop natives find them and
// answers whether the exit was taken; the run goes on at st.ip.
bool take_loop_exit(const Code& c, State& st, uint32_t code) {
    if (st.depth <= level_loops(st) || (code != catch_code::BREAK && code != catch_code::CONTINUE)) return false;
    const Active& l = st.loops[st.depth - 1];
    pending_exit = sys.thrown_code = 0;
    stack::frame_top = l.frame + 1;
    stack::arg_base = stack::arg_top = l.base;
    interp::current_position = c.ins[l.begin].k;
    if (l.cond) err::raise(err::WHILE_COND);
    st.ip = c.ins.data() + (code == catch_code::BREAK ? l.end : l.head);
    return true;
}

// The body that runs at the top of the run is left by an exit it does not
// take: its caller's code runs again, the function context's values word
// back as it was.
void leave_body(State& st) {
    const CallRecord& r = call_records[--call_top];
    if (r.ctx) stack::values_word_of(r.ctx) = r.saved_values;
    st.depth = r.depth;
    end_run(st.code);
    std::memcpy(&interp::current_position, r.position, sizeof r.position);
    st.code = r.code;
    st.locals = r.locals;
}

// A break or continue thrown by C++ code below: the bodies above the
// innermost loop of the run are left. Answers whether a loop takes it.
bool take_thrown_exit(State& st, uint32_t code) {
    if (st.depth == 0 || (code != catch_code::BREAK && code != catch_code::CONTINUE)) return false;
    while (st.depth <= level_loops(st)) leave_body(st);
    return take_loop_exit(*st.code, st, code);
}

// Runs the code from st.ip.
End exec(State& st) {
    static const void* const labels[] = {
        &&Expr,   &&Const,    &&Global,    &&Local,   &&Word,    &&Walk1,    &&NotOp,  &&Arith,
        &&LocalArith, &&GlobalArith,
        &&CallFn, &&CallNat,  &&Check,     &&Unset,   &&InvokeFn, &&InvokeNat, &&InvokeAppend, &&OpBegin, &&OpEnd,
        &&SetBegin, &&SetEnd, &&Branch,    &&Enter,   &&Leave,   &&Jump,     &&PopFrame, &&Return,
        &&LoopBegin, &&LoopHead, &&LoopTest, &&LoopEnd, &&Field, &&SetPathEnd,
        &&CallPath, &&Refine, &&Place,
    };
    static_assert(sizeof labels / sizeof labels[0] == static_cast<size_t>(Op::Place) + 1);
    Code* cp = st.code;
    Cell* locals = st.locals;
    const Ins* first = cp->ins.data();
    const Site* sites = cp->sites.data();
    const Block* blocks = cp->blocks.data();
    const Ins* ip = st.ip;
    Globals globals;
    globals.refresh();
    uint32_t op_pos = 0;
#define DISPATCH() goto* labels[static_cast<size_t>(ip->op)]
#define NEXT()     \
    do {           \
        ++ip;      \
        DISPATCH(); \
    } while (0)
#define GO(to)                    \
    do {                          \
        ip = (to);                \
        if (!ip) goto exited;    \
        globals.refresh();        \
        DISPATCH();               \
    } while (0)
    DISPATCH();

Expr : {
    // The block is known valid here: at the start of the run, and after
    // every step that may have changed it.
    if (ip->b) --stack::arg_top;
    if (ip->c) [[unlikely]]
        GO(walk_from(*cp, static_cast<uint16_t>(ip->a), ip->pos, stack::arg_top, ip->b == 0));
    interp::current_position = ip->k;
    NEXT();
}
Const:
    stack::push(&ip->k);
    NEXT();
Global : {
    const Cell* v = globals.at(ip->a);
    if (!plain(v)) [[unlikely]] GO(hand_over(*cp, *ip, Phase::Todo, ip->pos, stack::arg_top));
    stack::push(v);
    NEXT();
}
Local : {
    const Cell* v = locals + ip->a;
    if (!plain(v)) [[unlikely]] GO(hand_over(*cp, *ip, Phase::Todo, ip->pos, stack::arg_top));
    stack::push(v);
    NEXT();
}
Word : {
    const Cell* v = lookup::peek(&ip->k);
    if (!plain(v)) [[unlikely]] GO(hand_over(*cp, *ip, Phase::Todo, ip->pos, stack::arg_top));
    stack::push(v);
    NEXT();
}
Walk1:
    interp::eval_expression(&blocks[ip->blk].cell, ip->pos, {.no_infix = true, .sub = true});
    if (exit_pending()) goto exited;
    if (!valid(blocks[ip->blk])) [[unlikely]] GO(changed_under(*cp, *ip, ip->up, ip->argi, ip->pos + 1));
    globals.refresh();
    NEXT();
NotOp : {
    const Cell* v = lookup::peek(&ip->k);
    if (v && cell::type_of(v) == TYPE_OP) [[unlikely]]
        GO(hand_over(*cp, *ip, Phase::Done, ip->pos, stack::arg_top - 1));
    NEXT();
}
LocalArith : {
    const Cell* v = locals + ip->d;
    if (!plain(v)) [[unlikely]] GO(hand_over(*cp, *ip, Phase::Todo, ip->pos, stack::arg_top));
    stack::push(v);
    op_pos = ip->pos + 1;
    goto arith;
}
GlobalArith : {
    const Cell* v = globals.at(ip->d);
    if (!plain(v)) [[unlikely]] GO(hand_over(*cp, *ip, Phase::Todo, ip->pos, stack::arg_top));
    stack::push(v);
    op_pos = ip->pos + 1;
    goto arith;
}
Arith:
    op_pos = ip->pos;
arith : {
    const Site& s = sites[ip->a];
    Cell* left = stack::arg_top - 1;
    if (!same_value(reach(s, locals, globals), s.op)) [[unlikely]]
        GO(hand_over(*cp, *ip, Phase::Done, op_pos, left));
    const Cell* right;
    switch (static_cast<Reach>(ip->b)) {
    case Reach::Const: right = &ip->k; break;
    case Reach::Global: right = globals.at(ip->c); break;
    case Reach::Local: right = locals + ip->c; break;
    default: right = lookup::peek(&ip->k); break;
    }
    // Two integers are values as they stand; anything else is checked
    // before the operation's call.
    if (right && cell::type_of(left) == TYPE_INTEGER && cell::type_of(right) == TYPE_INTEGER) [[likely]] {
        const int32_t x = integer_value(left), y = integer_value(right);
        if (quick_int(s.fast, x, y, left)) NEXT();
        if (!fast_ops::fast_raises(s.fast, x, y) && stack::frame_top + 1 < stack::frame_limit &&
            left + 2 < stack::arg_limit) [[likely]] {
            fast_ops::fast_result(s.fast, x, y, left);
            NEXT();
        }
    } else if (!plain(right)) [[unlikely]] {
        GO(arith_hand_over(*cp, *ip, left, op_pos));
    }
    if (!slow_arith(*cp, s, left, right, op_pos)) goto exited;
    globals.refresh();
    if (!valid(blocks[ip->blk])) [[unlikely]] GO(changed_under(*cp, *ip, s.up, s.argi, op_pos + 2));
    NEXT();
}
CallFn : {
    const Site& s = sites[ip->a];
    const Cell* v = reach(s, locals, globals);
    node_t ctx = s.ctx;
    if (!same_value(v, s.fn)) [[unlikely]] {
        ctx = alike_function(s, v);
        if (!ctx) GO(hand_over(*cp, *ip, Phase::Todo, ip->pos, stack::arg_top));
    }
    push_frame(s.header, s.word_ctx, ctx, ctx ? stack::values_word_of(ctx) : 0);
    NEXT();
}
CallPath:
    if (!valid(blocks[sites[ip->a].path_blk])) [[unlikely]]
        GO(hand_over(*cp, *ip, Phase::Todo, ip->pos, stack::arg_top));
    goto CallFn;
Refine : {
    const Site& s = sites[ip->a];
    if (!valid(blocks[s.path_blk])) [[unlikely]] GO(path_hand_over(*cp, *ip, s));
    if (ip->c)
        for (uint32_t k = 0; k < s.rest_n; k++) stack::push(&s.rest[k]);
    stack::arg_base[ip->b] = shared::true_value;
    NEXT();
}
Place : {
    const Site& s = sites[ip->a];
    if (!typeset::has(&s.list[ip->c], cell::type_of(stack::top()))) [[unlikely]] {
        const Cell fn = called_fn(s);
        call::check_arg(&fn, &s.name, ip->c);
    }
    stack::arg_base[ip->c] = *stack::top();
    stack::pop_n(1);
    NEXT();
}
CallNat : {
    const Site& s = sites[ip->a];
    if (!same_value(reach(s, locals, globals), s.fn)) [[unlikely]]
        GO(hand_over(*cp, *ip, Phase::Todo, ip->pos, stack::arg_top));
    push_frame(s.header, s.word_ctx, 0, s.spec);
    NEXT();
}
Check : {
    const Site& s = sites[ip->a];
    if (!typeset::has(&s.list[ip->c], cell::type_of(stack::top()))) [[unlikely]] {
        const Cell fn = s.kind == SiteKind::Function ? called_fn(s) : s.fn;
        call::check_arg(&fn, &s.name, ip->c);
    }
    NEXT();
}
Unset : {
    const Site& s = sites[ip->a];
    if (cell::type_of(stack::top()) == TYPE_UNSET) [[unlikely]] {
        const Cell fn = s.kind == SiteKind::Function ? called_fn(s) : s.fn;
        call::check_arg(&fn, &s.name, ip->c);
    }
    NEXT();
}
InvokeFn : {
    const Site& s = sites[ip->a];
    // A call through a path laid its cells out at its first refinement.
    if (!s.path_blk) [[likely]] {
        for (uint32_t k = 0; k < s.rest_n; k++) stack::push(&s.rest[k]);
    } else if (!valid(blocks[s.path_blk])) [[unlikely]] {
        GO(path_hand_over(*cp, *ip, s));
    }
    const Frame* frame = stack::frame_top - 1;
    const uint32_t saved_values = frame->saved_values;
    const node_t ctx = frame->ctx;
    const Cell fn = called_fn(s);
    Cell* const args = stack::arg_base;
    if (ctx) stack::values_word_of(ctx) = stack::index_of(args) + 1;
    if (Code* body = inline_body(s, fn, ctx, st)) [[likely]] {
        // The body runs here, in the frame call_body would push; Return
        // comes back to this instruction.
        CallRecord& r = call_records[call_top++];
        r.code = cp;
        r.ip = ip;
        r.locals = locals;
        r.depth = st.depth;
        r.saved_values = saved_values;
        r.ctx = ctx;
        std::memcpy(r.position, &interp::current_position, sizeof r.position);
        push_frame(s.body_header, s.word_ctx, 0, 0);
        r.base = stack::arg_top;
        body->running++;
        cp = st.code = body;
        // The body's locals are the called function's arguments, whose
        // values word was just set to the call's base.
        locals = st.locals = !body->home         ? nullptr
                             : body->home == ctx ? args
                                                 : stack::arg_bottom + stack::values_word_of(body->home) - 1;
        first = cp->ins.data();
        sites = cp->sites.data();
        blocks = cp->blocks.data();
        ip = first;
        DISPATCH();
    }
    if (!call_body(s, fn)) [[unlikely]] {
        if (ctx) stack::values_word_of(ctx) = saved_values;
        goto exited;
    }
    stack::unwind_keep_call();
    globals.refresh();
    if (!valid(blocks[ip->blk])) [[unlikely]] GO(changed_under(*cp, *ip, s.up, s.argi, ip->pos));
    NEXT();
}
InvokeAppend : {
    Cell* series = stack::arg_base;
    if (cell::type_of(series) == TYPE_BLOCK && !is_block_like(cell::type_of(series + 1)) &&
        block::append_in_room(series, series + 1)) [[likely]] {
        stack::unwind_keep();
        if (!valid(blocks[ip->blk])) [[unlikely]]
            GO(changed_under(*cp, *ip, sites[ip->a].up, sites[ip->a].argi, ip->pos));
        NEXT();
    }
}
InvokeNat : {
    const Site& s = sites[ip->a];
    s.entry(no_refinements.refs);
    if (exit_pending()) goto exited;
    stack::unwind_keep();
    globals.refresh();
    if (!valid(blocks[ip->blk])) [[unlikely]] GO(changed_under(*cp, *ip, s.up, s.argi, ip->pos));
    NEXT();
}
OpBegin : {
    const Site& s = sites[ip->a];
    Cell* left = stack::arg_top - 1;
    if (!same_value(reach(s, locals, globals), s.op)) [[unlikely]]
        GO(hand_over(*cp, *ip, Phase::Done, ip->pos, left));
    begin_infix(s, left);
    NEXT();
}
OpEnd : {
    // Two integers: the step in place, the frame dropped as unwind_keep does.
    const Site& s = sites[ip->a];
    Cell* left = stack::arg_base;
    if (cell::type_of(left) == TYPE_INTEGER && cell::type_of(left + 1) == TYPE_INTEGER &&
        stack::arg_top == left + 2 && quick_int(s.fast, integer_value(left), integer_value(left + 1), left)) {
        stack::unwind_keep();
        NEXT();
    }
}
    if (!end_infix(*cp, sites[ip->a], ip->pos)) goto exited;
    globals.refresh();
    if (!valid(blocks[ip->blk])) [[unlikely]]
        GO(changed_under(*cp, *ip, sites[ip->a].up, sites[ip->a].argi, ip->pos));
    NEXT();
SetBegin : {
    const Site& s = sites[ip->a];
    push_frame(s.header, s.word_ctx, 0, 0);
    NEXT();
}
SetEnd : {
    const Site& s = sites[ip->a];
    if ((s.reach == Reach::Global && s.index < globals.count) || s.reach == Reach::Local) {
        // A global or local word whose value neither is nor becomes a
        // function: straight into its cell, as set_word would.
        Cell* slot = s.reach == Reach::Local ? locals + s.index : const_cast<Cell*>(globals.cells) + s.index;
        const Cell* value = stack::arg_top - 1;
        const uint32_t t = cell::type_of(value);
        if (t != TYPE_UNSET && !is_any_function(t) && !is_any_function(cell::type_of(slot))) {
            *slot = *value;
            *stack::arg_base = *value;
            stack::unwind_keep();
            NEXT();
        }
    }
    set_value(*cp, s);
    globals.refresh();
    NEXT();
}
Branch : {
    const Site& s = sites[ip->a];
    Cell* start = stack::arg_base;
    if (!typeset::has(&s.list[0], cell::type_of(start))) [[unlikely]]
        call::check_arg(&s.fn, &s.name, 0);
    if (cell::type_of(&ip->k) == TYPE_WORD) {
        const Cell* v = lookup::peek(&ip->k);
        if (v && cell::type_of(v) == TYPE_OP) [[unlikely]]
            GO(hand_over(*cp, *ip, Phase::Todo, ip->pos, start + 1));
    }
    bool take;
    if (s.kind == SiteKind::Either) {
        if (cell::type_of(start) == TYPE_UNSET) err::raise(err::NO_RETURN);
        take = is_truthy(start);
    } else {
        take = is_truthy(start) == (s.kind == SiteKind::If);
    }
    stack::arg_top = start;
    if (take) NEXT();
    if (s.kind != SiteKind::Either) {
        *start = shared::none;
        stack::arg_top = start + 1;
    }
    ip = first + ip->c;
    DISPATCH();
}
Enter:
    if (!valid(blocks[ip->b])) [[unlikely]] {
        if (!run_changed_block(blocks[ip->b])) goto exited;
        globals.refresh();
        ip = first + ip->c;
        DISPATCH();
    }
    NEXT();
Leave:
    interp::current_position = ip->k;
    if (ip->a && !valid(blocks[ip->b])) [[unlikely]] GO(changed_under(*cp, *ip, ip->up, ip->argi, ip->pos));
    NEXT();
Jump:
    ip = first + ip->c;
    DISPATCH();
PopFrame : {
    stack::unwind_keep();
    const Site& s = sites[ip->a];
    if (!valid(blocks[ip->blk])) [[unlikely]] GO(changed_under(*cp, *ip, s.up, s.argi, ip->pos));
    NEXT();
}
Return:
    if (call_top == st.calls) return End::Done;
    // A body that ran in place ends: its value into the call's first cell,
    // as run, call_body and InvokeFn leave it.
    {
        Cell* base = call_records[call_top - 1].base;
        stack::arg_top = base + 1;
        *stack::arg_base = *base;
    }
body_done : {
    stack::unwind_last();
    stack::unwind_keep_call();
    const CallRecord& r = call_records[--call_top];
    st.depth = r.depth;
    if (cp->dead) [[unlikely]] end_run(cp);
    else cp->running--;
    std::memcpy(&interp::current_position, r.position, sizeof r.position);
    cp = st.code = r.code;
    locals = st.locals = r.locals;
    first = cp->ins.data();
    sites = cp->sites.data();
    blocks = cp->blocks.data();
    ip = r.ip;
    globals.refresh();
    const Site& s = sites[ip->a];
    if (!valid(blocks[ip->blk])) [[unlikely]] GO(changed_under(*cp, *ip, s.up, s.argi, ip->pos));
    NEXT();
}
LoopBegin : {
    const Site& s = sites[ip->a];
    int32_t left = 0;
    if (s.kind == SiteKind::Foreach) {
        if (!is_block_like(cell::type_of(stack::arg_base + 1))) [[unlikely]] {
            // A map, a string...: the native's own walk.
            s.entry(no_refinements.refs);
            if (exit_pending()) goto exited;
            globals.refresh();
            ip = first + ip->d;
            DISPATCH();
        }
        begin_foreach();
    }
    if (s.kind == SiteKind::Loop || s.kind == SiteKind::Repeat) {
        left = natives::loop_count(stack::arg_base + (s.kind == SiteKind::Repeat ? 1 : 0));
        if (left < 1) {
            stack::set_last_reset(&shared::none);
            ip = first + ip->d;
            DISPATCH();
        }
    }
    push_frame(s.body_header, s.ctx, 0, 0);
    // foreach over an empty walk answers unset.
    *stack::arg_base = shared::unset;
    st.loops[st.depth++] = Active{stack::frame_top - 1, stack::arg_base, static_cast<uint32_t>(ip - first),
                                  ip->b, ip->c, left, left, false};
    NEXT();
}
LoopHead : {
    Active& l = st.loops[st.depth - 1];
    stack::arg_top = stack::arg_base;
    if (ip->b == 3) {
        // foreach: the next value into the word, in the native's frame
        // below the loop's.
        const Step step = foreach_step(stack::arg_bottom + l.frame->saved_base);
        if (step == Step::End) {
            ip = first + ip->c;
            DISPATCH();
        }
        if (step == Step::Called) globals.refresh();
        NEXT();
    }
    if (ip->b && l.left-- <= 0) {
        ip = first + ip->c;
        DISPATCH();
    }
    if (ip->b == 2) {
        // repeat's word and counter, in the native's frame below the loop's.
        Cell* word = stack::arg_bottom + l.frame->saved_base;
        word[1] = Cell{TYPE_INTEGER, 0, 0, 0};
        integer_value(word[1]) = l.count - l.left;
        word::set(word, word + 1);
    }
    l.cond = sites[ip->a].kind == SiteKind::While;
    NEXT();
}
LoopTest : {
    const Cell* v = stack::arg_base;
    if (cell::type_of(v) == TYPE_UNSET) [[unlikely]] err::raise(err::NO_RETURN);
    if (is_truthy(v) == (ip->b != 0)) {
        ip = first + ip->c;
        DISPATCH();
    }
    st.loops[st.depth - 1].cond = false;
    stack::arg_top = stack::arg_base;
    NEXT();
}
LoopEnd : {
    // while answers unset whatever ended it; the others the value in the
    // loop's base: the last turn's, or break's.
    st.depth--;
    const Cell v = sites[ip->a].kind == SiteKind::While ? shared::unset : *stack::arg_base;
    stack::unwind_keep();
    stack::set_last_reset(&v);
    NEXT();
}
Field : {
    const Site& s = sites[ip->a];
    const Cell* v = field_value(s, reach(s, locals, globals));
    if (!plain(v)) [[unlikely]] GO(hand_over(*cp, *ip, Phase::Todo, ip->pos, stack::arg_top));
    stack::push(v);
    NEXT();
}
SetPathEnd : {
    const Site& s = sites[ip->a];
    if (s.ctx) {
        // A field of an object without a set handler: what the object's
        // path step does, straight into the field's cell.
        const Cell* obj = reach(s, locals, globals);
        if (Cell* slot = const_cast<Cell*>(field_value(s, obj)); slot && !object_on_set(obj)) [[likely]] {
            const Cell* value = stack::arg_top - 1;
            block_code::word_value_changes(slot, value);
            *slot = *value;
            context::word_at(s.ctx, s.field)->header |= context::CHANGED;
            *stack::arg_base = *value;
            stack::unwind_keep();
            NEXT();
        }
    }
    set_path(*cp, s, ip->pos);
    if (exit_pending()) goto exited;
    globals.refresh();
    if (!valid(blocks[ip->blk])) [[unlikely]] GO(changed_under(*cp, *ip, s.up, s.argi, ip->pos));
    NEXT();
}
exited:
    for (;;) {
        if (take_loop_exit(*cp, st, pending_exit)) {
            ip = st.ip;
            globals.refresh();
            DISPATCH();
        }
        if (call_top == st.calls) return End::Exit;
        // The body that ran in place takes return and exit; the others
        // leave it for its caller.
        if (pending_exit == catch_code::RETURN || pending_exit == catch_code::EXIT) {
            pending_exit = 0;
            stack::keep_first();
            goto body_done;
        }
        leave_body(st);
        cp = st.code;
        locals = st.locals;
        first = cp->ins.data();
        sites = cp->sites.data();
        blocks = cp->blocks.data();
    }

#undef DISPATCH
#undef NEXT
#undef GO
}

End run(Code& c, bool chain) {
    // The caller's position comes back however the block is left.
    struct Restore {
        uint64_t saved[2];
        Restore() { std::memcpy(saved, &interp::current_position, sizeof saved); }
        ~Restore() { std::memcpy(&interp::current_position, saved, sizeof saved); }
    } restore;
    State st;
    st.code = &c;
    st.locals = c.home ? stack::arg_bottom + stack::values_word_of(c.home) - 1 : nullptr;
    st.ip = c.ins.data();
    st.calls = call_top;
    // Every code of the run is held while it runs: its own and those of the
    // bodies it runs in place, which an error leaves where they are.
    struct Hold {
        State& st;
        explicit Hold(State& s) : st(s) { st.code->running++; }
        ~Hold() {
            for (uint32_t i = call_top; i > st.calls; i--) {
                end_run(st.code);
                st.code = call_records[i - 1].code;
            }
            call_top = st.calls;
            end_run(st.code);
        }
    } hold(st);
    Cell* const base = stack::arg_top;
    End end;
    for (;;) {
        try {
            end = exec(st);
            break;
        } catch (const NonLocalExit& e) {
            if (!take_thrown_exit(st, e.code)) throw;
        }
    }
    if (end != End::Done) return end;
    stack::arg_top = base + 1;
    if (chain) *stack::arg_base = *base;
    return end;
}

}  // namespace

// A function body's code is made at its third call: the first makes the
// block's entry, and this many more walk it (other blocks are made at their
// second evaluation).
constexpr uint32_t BODY_WALKS = 1;

bool run_block(const Cell* block, bool chain) {
    const Cell blk = *block;
    const node_t n = series_node(blk);
    const SeriesBuffer* buffer = series::buffer_of(n);
    if (series_index(blk) >= (buffer->tail - buffer->head) / sizeof(Cell)) return false;
    const uint32_t index = buffer->code;
    Code* c = index ? block_code::find(n) : nullptr;
    bool loops_now = false;
    if (!c) {
        // A function body waits for its third call (unless it runs a
        // loop): functions made in a loop are often called once or twice,
        // and walking their bodies costs less than making code that dies
        // with them. Its first two calls only mark the block.
        const bool body = stack::frame_top > stack::frame_bottom &&
                          stack::has_flag(stack::frame_top - 1, stack::frame_flag::BODY);
        if (body && index != block_code::WALKED_TWICE && (index == block_code::WALKED_ONCE || !compile::runs_loop(blk))) {
            series::buffer_of(n)->code = index == block_code::WALKED_ONCE ? block_code::WALKED_TWICE
                                                                          : block_code::WALKED_ONCE;
            return false;
        }
        c = new Code;
        block_code::attach(n, c);
        if (index) {
            // Walked before as a body: made now.
            c->walked = BODY_WALKS;
        } else {
            if (!body && !compile::runs_loop(blk)) return false;
            loops_now = true;
        }
    }
    // A code made for one expression of a script's top level is no code
    // for the whole block.
    if (c->one_expression) return false;
    switch (c->kind) {
    case Kind::Never:
        return false;
    case Kind::Seen:
        // A block first evaluated outside a body waits as a body would.
        if (!loops_now && c->walked < BODY_WALKS && stack::frame_top > stack::frame_bottom &&
            stack::has_flag(stack::frame_top - 1, stack::frame_flag::BODY)) {
            c->walked++;
            return false;
        }
        [[fallthrough]];
    case Kind::Inlined:
        compile::compile(blk, *c);
        break;
    case Kind::Compiled:
        if (c->stale) c = compile::remake(blk, c);
        if (c->kind == Kind::Never) return false;
        break;
    }
    if (c->start != series_index(blk)) return false;
    if (c->home && !stack::values_word_of(c->home)) return false;
    run(*c, chain);
    return true;
}

bool run_top(const Cell* block, uint32_t& pos) {
    Cell blk = *block;
    series_index(blk) = pos;
    const node_t n = series_node(blk);
    auto* c = new Code;
    c->one_expression = true;
    block_code::attach(n, c);
    compile::compile(blk, *c);
    if (c->ins[0].c || (c->home && !stack::values_word_of(c->home))) return false;  // walked
    // A top level may run inside the expression of another (a script that
    // the console runs from its own line): the outer one's end comes back.
    struct Outer {
        uint32_t end = top_end;
        ~Outer() { top_end = end; }
    } outer;
    top_end = c->blocks[0].limit;
    run(*c, true);
    pos = top_end;
    return true;
}

void init() { block_code::set_free(&compile::free_code); }

}  // namespace qel::vm
