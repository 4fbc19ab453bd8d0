// throw, catch and try: the natives that stop non-local exits.
//
// catch and try push the frames that the throwers look for (a catch frame,
// a try or try-all frame) and then take, as C++ exceptions, what those
// throwers send them: throw arrives with its value and name pushed in the
// catch frame's own stretch; an error arrives with the try frame already
// popped and the error! pushed above the argument top of the place that
// raised it. break, continue, return and exit normally travel as a pending
// exit whose stacks are settled for a frame below ours: those pass through
// untouched. A try-all frame is a barrier: the throwers turn exits that
// meet it into throw errors, so only errors reach try/all.
//
// Collector: the native's own arguments stay on the argument stack below
// the frames pushed here, so the block and the name argument are read
// through Cell* into the argument stack, which never moves.
#include "datatypes/block.hpp"
#include "evaluator/interp.hpp"
#include "evaluator/native_fns.hpp"
#include "runtime/stack.hpp"
#include "evaluator/trace.hpp"
#include "runtime/context.hpp"
#include "runtime/errors.hpp"
#include "runtime/exits.hpp"
#include "runtime/runtime_words.hpp"
#include "runtime/symbols.hpp"
#include "runtime/system.hpp"

namespace qel::natives {

namespace {

int32_t canonical_of(const Cell* word) { return symbol::canonical(word_symbol(word)); }

// Whether catch's /name argument takes a throw named by thrown (the name
// cell the thrower pushed: a word!, or unset when throw had no /name).
// Names match whatever their letter case.
bool name_matches(const Cell* wanted, const Cell* thrown) {
    if (cell::type_of(thrown) != TYPE_WORD) return false;
    const int32_t sym = canonical_of(thrown);
    if (cell::type_of(wanted) == TYPE_WORD) return canonical_of(wanted) == sym;
    // A block of names: every entry must be a word, checked before any
    // match is taken so that a bad block never passes silently.
    const uint32_t tail = static_cast<uint32_t>(block::length(wanted)) + series_index(wanted);
    bool found = false;
    for (uint32_t i = series_index(wanted); i < tail; ++i) {
        const Cell* entry = block::cell_at(wanted, i);
        if (cell::type_of(entry) != TYPE_WORD) {
            Cell refinement = *words::w_name;
            cell::set_type(&refinement, TYPE_REFINEMENT);
            const Cell names = *wanted;
            err::raise(err::INVALID_REFINE_ARG, &refinement, &names);
        }
        if (canonical_of(entry) == sym) found = true;
    }
    return found;
}

// The throw error that an exit of the given code becomes at a try-all
// frame.
int error_for_exit(uint32_t code) {
    switch (code) {
    case catch_code::BREAK: return err::NO_LOOP_BREAK;
    case catch_code::CONTINUE: return err::NO_LOOP_CONTINUE;
    default: return err::NO_FUNCTION_RETURN;
    }
}

// /keep: the error's stack field, the frame position recorded when it was
// raised, becomes the block of the calls that led there, outermost first:
// every frame whose name is a word holding a function. Done at once, while
// the records of the frames the error unrolled still lie untouched above
// the frame top (nothing has pushed a frame since).
bool names_a_function(const Frame* f) {
    const int32_t sym = stack::symbol_of(f);
    if (sym == 0) return false;
    if (sym == stack::frame_symbol(word_symbol(words::w_anon)) || sym == stack::frame_symbol(word_symbol(words::w_body)))
        return false;
    const node_t ctx = f->word_ctx ? f->word_ctx : context::global;
    const Cell* v = context::get_by_symbol(sym, ctx);
    return v && cell::type_of(v) == TYPE_FUNCTION;
}

void capture_stack(Cell* error) {
    const Cell recorded = err::field(error, err::F_STACK);
    if (cell::type_of(&recorded) != TYPE_INTEGER) return;
    const Frame* end = stack::frame_bottom + integer_value(recorded);
    if (end > stack::frame_limit) end = stack::frame_limit;
    // No collection sees the records above the frame top, nor the contexts
    // only they still name (those of calls of temporary functions): the
    // words are all read, and pushed where the collector sees them, before
    // anything allocates.
    Cell* const words_at = stack::arg_top;
    for (const Frame* f = stack::frame_bottom; f < end; ++f) {
        if (!names_a_function(f)) continue;
        // A function's body frame carries its call's name once more.
        if ((f->header & stack::frame_flag::BODY) && f > stack::frame_bottom &&
            stack::symbol_of(f - 1) == stack::symbol_of(f))
            continue;
        const node_t ctx = f->word_ctx ? f->word_ctx : context::global;
        stack::push(context::word_for_symbol(ctx, stack::symbol_of(f)));
    }
    const auto count = static_cast<uint32_t>(stack::arg_top - words_at);
    const Cell calls = *block::push_new(static_cast<int32_t>(count));
    for (uint32_t i = 0; i < count; i++) block::append_copy(&calls, words_at + i);
    err::set_stack_if_not_block(error, calls);
    stack::arg_top = words_at;
}

// The thrower's position, for the error of a throw that no catch takes: a
// catch that passes the throw on raises that error from its own code. Read
// only while the throw is unwinding, before anything can allocate.
Cell thrower_position;

}  // namespace

void native_throw(const int32_t* refinements) {
    trace::on_throw(stack::arg_base);
    // The catcher finds the value and, above it, the name: unset when
    // there is none, so that no name matches it.
    if (refinements[0] < 0) {
        stack::arg_top = stack::arg_base + 1;
        stack::push(&shared::unset);
    }
    thrower_position = interp::current_position;
    stack::throw_value(catch_code::THROW);
}

void native_catch(const int32_t* refinements) {
    Cell* const base = stack::arg_base;
    const Cell* const wanted = refinements[0] >= 0 ? base + refinements[0] : nullptr;
    stack::mark_catch(words::w_body);
    try {
        interp::eval_block(base, true);
    } catch (const NonLocalExit& e) {
        if (e.code != catch_code::THROW) throw;
        // The thrower kept our frame and left value and name at the base
        // of its stretch.
        // While the throw is ours, an error names its own call, not the
        // thrower's; passed on, the throw keeps naming its thrower.
        Frame* const origin = stack::throw_origin;
        stack::throw_origin = nullptr;
        if (wanted && !name_matches(wanted, stack::arg_base + 1)) {
            // Not ours: on to an outer catch. The walk skips the top
            // frame, which is our own catch frame.
            stack::throw_origin = origin;
            stack::arg_top = stack::arg_base + 2;
            // Should no outer catch take it, its error is near the throw;
            // the frames unwound on the way to an outer catch put back
            // their positions themselves.
            const Cell ours = interp::current_position;
            interp::current_position = thrower_position;
            try {
                stack::throw_value(catch_code::THROW);
            } catch (...) {
                interp::current_position = ours;
                throw;
            }
        }
        sys.thrown_code = 0;
        stack::unwind_last();
        trace::on_catch(stack::arg_base);
        stack::keep_first();
        return;
    }
    // An exit for a frame below ours has its stacks settled already.
    if (exit_pending()) return;
    stack::unwind_last();
}

void native_try(const int32_t* refinements) {
    const bool all = refinements[0] >= 0;
    const bool keep = refinements[1] >= 0;
    Cell* const base = stack::arg_base;
    Cell* const top = stack::arg_top;
    Frame* const frame = stack::frame_top;
    if (all) stack::mark_try_all(words::w_try);
    else stack::mark_try(words::w_try);
    bool raised = false;
    try {
        interp::eval_block(base, true);
    } catch (const NonLocalExit& e) {
        if (e.code != catch_code::ERROR) throw;
        // throw_error unrolled the frames down to ours and popped it; the
        // error lies on top, above the raiser's stretch.
        raised = true;
        sys.thrown_code = 0;
        stack::arg_base = base;
        stack::frame_top = frame;
        stack::try_result();
    }
    if (!raised) {
        if (exit_pending()) {
            if (!all) return;  // on its way to a loop or function below
            // The throwers stop at a try-all frame, so nothing should come
            // through it; should an exit still arrive, it becomes the same
            // throw error the throwers would have raised.
            const uint32_t code = pending_exit;
            pending_exit = sys.thrown_code = 0;
            stack::arg_base = base;
            stack::arg_top = top;
            stack::frame_top = frame;
            const Cell error = err::make(error_for_exit(code));
            stack::set_last_reset(&error);
        } else {
            stack::unwind_last();
        }
    }
    if (keep && cell::type_of(base) == TYPE_ERROR) capture_stack(base);
}

}  // namespace qel::natives
