// The control natives: the conditionals (if, unless, either, any, all,
// switch, case) and the loops (while, until, loop, repeat, forever,
// foreach, forall, remove-each).
//
// Loops push a loop frame so that break and continue find them. Those two
// are the common case and normally arrive as a pending exit left by the
// interpreter; C++ code that ran user code below the loop may have turned
// one into a NonLocalExit instead, so every guarded evaluation takes both
// forms. A loop takes break and continue only: any other pending exit
// (return, exit) already has its stacks set for a frame below the loop's,
// so the loop returns at once and leaves it pending for the walker.
//
// Collector: every Cell* held across an evaluation points into the
// argument stack; cells of blocks are re-read through their node at each
// step, since a body may grow, shrink or move the block it walks.
#include <cmath>

#include "datatypes/block.hpp"
#include "datatypes/logic.hpp"
#include "datatypes/map.hpp"
#include "datatypes/series.hpp"
#include "evaluator/action_entries.hpp"
#include "runtime/actions.hpp"
#include "evaluator/interp.hpp"
#include "evaluator/native_fns.hpp"
#include "runtime/stack.hpp"
#include "runtime/datatypes.hpp"
#include "runtime/errors.hpp"
#include "runtime/exits.hpp"
#include "runtime/runtime_words.hpp"
#include "runtime/system.hpp"
#include "runtime/words.hpp"

namespace qel::natives {

namespace {

const Cell unset_value{TYPE_UNSET, 0, 0, 0};

Cell integer(int32_t v) { return Cell{TYPE_INTEGER, 0, static_cast<uint32_t>(v), 0}; }

// ---- truth -------------------------------------------------------------------------

// The strict truth test: a block that gave no value is an error, not a
// truth (is_truthy takes unset as true).
bool truthy_strict(const Cell* v) {
    if (cell::type_of(v) == TYPE_UNSET) err::raise(err::NO_RETURN);
    return is_truthy(v);
}

// ---- guarded evaluation --------------------------------------------------------------

enum class Outcome { normal, brk, cont, leave };

// Evaluates a loop's block into the loop's own argument base and reports
// how it ended. On brk the base holds break's value (unset without
// /return); on leave an exit for a frame below the loop is pending.
Outcome run(const Cell* block) {
    stack::reset();
    try {
        interp::eval_block(block, true);
    } catch (const NonLocalExit& e) {
        if (e.code != catch_code::BREAK && e.code != catch_code::CONTINUE) throw;
        sys.thrown_code = 0;
        return e.code == catch_code::BREAK ? Outcome::brk : Outcome::cont;
    }
    switch (pending_exit) {
    case 0:
        return Outcome::normal;
    case catch_code::BREAK:
        pending_exit = sys.thrown_code = 0;
        return Outcome::brk;
    case catch_code::CONTINUE:
        pending_exit = sys.thrown_code = 0;
        return Outcome::cont;
    default:
        return Outcome::leave;
    }
}

// Ends a loop with the value in its own argument base as the native's
// result.
void finish_with_base() {
    stack::unwind_last();
    stack::keep_first();
}

// Runs body as long as more() answers true and no break ends it, then ends
// the loop with the value in its base; a pending exit for a frame below the
// loop leaves at once.
template <typename More>
void run_while(const Cell* body, More more) {
    while (more()) {
        const Outcome o = run(body);
        if (o == Outcome::leave) return;
        if (o == Outcome::brk) break;
    }
    finish_with_base();
}

void finish_with(const Cell* value) {
    const Cell v = *value;
    stack::unwind();
    stack::set_last_reset(&v);
}

// ---- iteration steps -------------------------------------------------------------------

bool not_at_tail(const Cell* series) {
    if (cell::type_of(series) == TYPE_IMAGE) {
        return series_index(series) < image_width(series) * image_height(series);
    }
    return !series_type::at_tail(series);
}

// Sets the word (a copy held by the caller) to the value in the scratch
// cell. A block may hold unset values, which no loop word may take.
void assign(Cell* word, const Cell* scratch, bool from_block) {
    if (from_block && cell::type_of(scratch) == TYPE_UNSET) err::raise(err::NEED_VALUE, word);
    word::set(word, scratch);
}

// The i-th element (1-based) from the series copy's index into the scratch
// cell: the cell itself for blocks, pick for everything else; none past
// the tail.
void element_into(Cell* series, int32_t i, Cell* scratch) {
    if (is_block_like(cell::type_of(series))) {
        const int64_t at = static_cast<int64_t>(series_index(series)) + i - 1;
        const int64_t total = series::buffer_length(series_node(series));
        *scratch = at < total ? *block::cell_at(series, static_cast<uint32_t>(at)) : shared::none;
        return;
    }
    Cell index = integer(i);
    *scratch = *actions::pick(series, &index);
}

// One step of foreach and remove-each. words is the word argument (a word
// or a block of words); n the number of words. Answers whether a step was
// made.
bool step(Cell* series, const Cell* words, int32_t n, Cell* scratch) {
    if (!not_at_tail(series)) return false;
    const bool from_block = is_block_like(cell::type_of(series));
    if (cell::type_of(series) == TYPE_MAP) return map::foreach_step(series, words);
    if (cell::type_of(words) == TYPE_WORD) {
        element_into(series, 1, scratch);
        Cell w = *words;
        assign(&w, scratch, from_block);
    } else {
        for (int32_t i = 1; i <= n; ++i) {
            Cell w = *block::cell_at(words, series_index(words) + static_cast<uint32_t>(i) - 1);
            const uint32_t wt = cell::type_of(&w);
            if (!is_any_word(wt))
                err::raise(err::INVALID_ARG, &w);
            element_into(series, i, scratch);
            assign(&w, scratch, from_block);
        }
    }
    series_index(series) += static_cast<uint32_t>(n);
    return true;
}

// The word count of foreach and remove-each, with the checks that do not
// depend on the step.
int32_t word_count(const Cell* words, const Cell* series) {
    if (cell::type_of(words) == TYPE_WORD) {
        if (cell::type_of(series) == TYPE_MAP) err::raise(err::INVALID_ARG, words);
        return 1;
    }
    const int32_t n = block::length(words);
    if (n <= 0) err::raise(err::INVALID_ARG, words);
    if (cell::type_of(series) == TYPE_MAP && n != 2) err::raise(err::INVALID_ARG, words);
    return n;
}

// The evaluation of one expression of a block copy for any, all and case:
// the value lands in the running argument base. Answers the position after
// it.
uint32_t next_expression(Cell* copy, uint32_t position) {
    stack::arg_top = copy + 1 > stack::arg_base ? copy + 1 : stack::arg_base;
    return interp::eval_next(copy, position, false);
}

uint32_t tail_of(const Cell* block) { return series::buffer_length(series_node(block)); }

}  // namespace

// A count of loop or repeat: NaN, like every float out of range, is an
// overflow rather than a silently wrapped count.
int32_t loop_count(Cell* c) {
    if (cell::type_of(c) == TYPE_FLOAT) {
        const double d = std::trunc(cell::get_double(c));
        if (!(d >= -2147483648.0 && d <= 2147483647.0)) err::raise(err::OVERFLOW);
        *c = integer(static_cast<int32_t>(d));
    }
    return integer_value(c);
}

// ---- conditionals --------------------------------------------------------------------------

void native_if(const int32_t*) {
    Cell* base = stack::arg_base;
    if (is_truthy(base)) interp::eval_block(base + 1, true);
    else stack::set_last_reset(&shared::none);
}

void native_unless(const int32_t*) {
    Cell* base = stack::arg_base;
    if (!is_truthy(base)) interp::eval_block(base + 1, true);
    else stack::set_last_reset(&shared::none);
}

void native_either(const int32_t*) {
    Cell* base = stack::arg_base;
    interp::eval_block(truthy_strict(base) ? base + 1 : base + 2, true);
}

namespace {

// any and all: the same walk, stopping at the first value whose truth is
// `stop_on`.
void walk_conditions(bool stop_on) {
    Cell* base = stack::arg_base;
    Cell* copy = stack::push(base);
    uint32_t position = series_index(copy);
    bool any_ran = false;
    while (position < tail_of(copy)) {
        position = next_expression(copy, position);
        if (exit_pending()) return;
        any_ran = true;
        if (is_truthy(base) == stop_on) {
            if (!stop_on) stack::set_last_reset(&shared::none);
            stack::keep_first();
            return;
        }
    }
    // any: nothing was true. all: everything was, and the last value is
    // the result, unless there was nothing at all.
    if (stop_on || !any_ran) stack::set_last_reset(&shared::none);
    else stack::keep_first();
}

}  // namespace

void native_any(const int32_t*) { walk_conditions(true); }

void native_all(const int32_t*) { walk_conditions(false); }

void native_switch(const int32_t* refinements) {
    const int32_t default_at = refinements[0];
    Cell* base = stack::arg_base;
    const Cell* cases = base + 1;
    const uint32_t type = cell::type_of(base);
    if (type != TYPE_BLOCK) {
        for (uint32_t i = series_index(cases); i < tail_of(cases); ++i) {
            const Cell c = *block::cell_at(cases, i);
            if (cell::type_of(&c) != type || !actions::compare(&c, base, CompareOp::Equal)) continue;
            // The branch is the first block after the match, whatever
            // values stand between.
            for (uint32_t j = i + 1; j < tail_of(cases); ++j) {
                const Cell* b = block::cell_at(cases, j);
                if (cell::type_of(b) != TYPE_BLOCK) continue;
                Cell* branch = stack::push(b);
                interp::eval_block(branch, true);
                return;
            }
            break;
        }
    }
    if (default_at >= 0) interp::eval_block(base + default_at, true);
    else stack::set_last_reset(&shared::none);
}

void native_case(const int32_t* refinements) {
    const bool all = refinements[0] >= 0;
    Cell* base = stack::arg_base;
    Cell* copy = stack::push(base);
    if (series_index(copy) >= tail_of(copy)) {
        stack::set_last_reset(&shared::none);
        return;
    }
    Cell* last_branch = stack::push(&shared::none);
    bool last_true = false;
    stack::mark_native(words::w_anon);
    uint32_t position = series_index(copy);
    while (position < tail_of(copy)) {
        const Cell condition = *block::cell_at(copy, position);
        position = next_expression(copy, position);
        if (exit_pending()) return;
        if (position >= tail_of(copy)) err::raise(err::NEED_VALUE, &condition);
        last_true = truthy_strict(stack::arg_base);
        if (!last_true) {
            ++position;  // the branch is skipped unevaluated, one value
            continue;
        }
        const Cell* next = block::cell_at(copy, position);
        if (cell::type_of(next) == TYPE_BLOCK) {
            stack::keep_first();
            Cell* branch = stack::push(next);
            interp::eval_block(branch, true);
            ++position;
        } else {
            position = next_expression(copy, position);
        }
        if (exit_pending()) return;
        if (!all) {
            finish_with_base();
            return;
        }
        *last_branch = *stack::arg_base;
    }
    finish_with(last_true ? last_branch : &shared::none);
}

// ---- loops ------------------------------------------------------------------------------------

void native_while(const int32_t*) {
    const Cell* cond = stack::arg_base;
    const Cell* body = cond + 1;
    stack::mark_loop(words::w_body);
    for (;;) {
        switch (run(cond)) {
        case Outcome::brk:
        case Outcome::cont:
            err::raise(err::WHILE_COND);
        case Outcome::leave:
            return;
        case Outcome::normal:
            break;
        }
        if (!truthy_strict(stack::arg_base)) break;
        const Outcome o = run(body);
        if (o == Outcome::leave) return;
        if (o == Outcome::brk) break;
    }
    // while answers unset whatever ended it, break/return included.
    finish_with(&unset_value);
}

void native_until(const int32_t*) {
    const Cell* body = stack::arg_base;
    stack::mark_loop(words::w_body);
    for (;;) {
        const Outcome o = run(body);
        if (o == Outcome::leave) return;
        if (o == Outcome::brk) break;
        if (o == Outcome::cont) continue;
        if (truthy_strict(stack::arg_base)) break;
    }
    finish_with_base();
}

void native_loop(const int32_t*) {
    Cell* base = stack::arg_base;
    const int32_t count = loop_count(base);
    if (count < 1) {
        stack::set_last_reset(&shared::none);
        return;
    }
    const Cell* body = base + 1;
    stack::mark_loop(words::w_body);
    int32_t left = count;
    run_while(body, [&left] { return left-- > 0; });
}

void native_repeat(const int32_t*) {
    Cell* word = stack::arg_base;
    Cell* counter = word + 1;
    const Cell* body = word + 2;
    const int32_t count = loop_count(counter);
    if (count < 1) {
        stack::set_last_reset(&shared::none);
        return;
    }
    stack::mark_loop(words::w_body);
    // The counter is kept here as well as in its cell: the body may set the
    // word, but not change how many iterations run.
    int32_t i = 0;
    run_while(body, [&] {
        if (i == count) return false;
        *counter = integer(++i);
        word::set(word, counter);
        return true;
    });
}

void native_forever(const int32_t*) {
    const Cell* body = stack::arg_base;
    stack::mark_loop(words::w_body);
    run_while(body, [] { return true; });
}

void native_foreach(const int32_t*) {
    Cell* base = stack::arg_base;
    const Cell* body = base + 2;
    const int32_t n = word_count(base, base + 1);
    // The walk's own copy of the series, whose index the steps advance,
    // and of the word argument lie on the stack below the loop's frame.
    Cell* scratch = stack::push(&unset_value);
    Cell* series = stack::push(base + 1);
    const Cell* words = stack::push(base);
    // A map whose pairs the body compacts moves the walk's position too.
    const map::Walk walk(series);
    stack::mark_loop(words::w_body);
    *stack::arg_base = unset_value;
    stack::keep_first();
    run_while(body, [&] { return step(series, words, n, scratch); });
}

void native_forall(const int32_t*) {
    Cell* word = stack::arg_base;
    const Cell* body = word + 1;
    const Cell* start = stack::push(word::get(word));
    const uint32_t type = cell::type_of(start);
    if (!series_type::is_series(type)) {
        const Cell name = stack::get_call_name();
        const Cell datatype{TYPE_DATATYPE, type, 0, 0};
        const Cell arg = *word::make_from_cstr("word");
        err::raise(err::EXPECT_ARG, &name, &datatype, &arg);
    }
    stack::mark_loop(words::w_body);
    *stack::arg_base = unset_value;
    stack::keep_first();
    if (!not_at_tail(start)) {
        finish_with_base();
        return;
    }
    for (;;) {
        const Outcome o = run(body);
        if (o == Outcome::leave) return;
        if (o == Outcome::brk) {
            finish_with_base();  // the word stays where break found it
            return;
        }
        Cell* now = word::get(word);
        if (!series_type::is_series(cell::type_of(now)) || series_node(now) != series_node(start)) {
            const Cell bad = *now;
            err::raise(err::BAD_LOOP_SERIES, &bad);
        }
        series_index(now) += 1;
        if (!not_at_tail(now)) break;
    }
    // Back to where the walk began, before the word's cell (the native's
    // base) takes the result.
    word::set(word, start);
    finish_with_base();
}

void native_remove_each(const int32_t*) {
    Cell* base = stack::arg_base;
    const Cell* body = base + 2;
    const int32_t n = word_count(base, base + 1);
    Cell* scratch = stack::push(&unset_value);
    Cell* part = stack::push(&unset_value);
    *part = integer(n);
    Cell* series = stack::push(base + 1);
    const Cell* words = stack::push(base);
    stack::mark_loop(words::w_body);
    while (step(series, words, n, scratch)) {
        const Outcome o = run(body);
        if (o == Outcome::leave) return;
        if (o == Outcome::brk) break;
        if (o == Outcome::cont || !is_truthy(stack::arg_base)) continue;
        series_index(series) -= static_cast<uint32_t>(n);
        const Cell* after = actions::slot<datatype::REMOVE>(series)(series, n == 1 ? nullptr : part,
                                                                                     nullptr);
        series_index(series) = series_index(after);
    }
    finish_with(base + 1);
}

}  // namespace qel::natives
