// The argument stack, the call frames and the throwers of non-local exits:
// where each exit lands and what the pointers are afterwards.
#include <gtest/gtest.h>

#include <utility>
#include <vector>

#include "runtime/stack.hpp"
#include "platform/console.hpp"
#include "runtime/context.hpp"
#include "runtime/errors.hpp"
#include "runtime/exits.hpp"
#include "runtime/memory.hpp"
#include "runtime/words.hpp"
#include "startup_support.hpp"

namespace qel {
namespace {

using namespace stack;

Cell integer(int32_t v) { return Cell{TYPE_INTEGER, 0, static_cast<uint32_t>(v), 0}; }
Cell word(const char* name) { return *word::make_from_cstr(name); }
uint32_t at(const Cell* c) { return index_of(c); }

// The code of the exit f makes, 0 when it returns.
template <class F>
uint32_t exit_of(F&& f) {
    try {
        f();
    } catch (const NonLocalExit& e) {
        return e.code;
    }
    return 0;
}

// The exit f starts: the code it leaves pending (taken here), or the code of
// the exception it raises.
template <class F>
uint32_t signalled(F&& f) {
    const uint32_t raised = exit_of(f);
    return raised ? raised : take_pending(catch_code::TOP_LEVEL);
}

class Stack : public testutil::StartedRuntime {};

TEST_F(Stack, PushThatFillsTheLastCellOverflowsAndBacksOffFiveCells) {
    mark_try(nullptr);
    arg_top = arg_limit - 2;
    push_slot();  // top reaches limit - 1: still room
    EXPECT_EQ(arg_top, arg_limit - 1);
    EXPECT_EQ(exit_of([] { push_slot(); }), catch_code::ERROR);
    EXPECT_EQ(sys.pending_error, err::STACK_OVERFLOW);
    // The raise put its error where the top was backed off to.
    const Cell* raised_at = arg_limit - OVERFLOW_BACK_OFF;
    ASSERT_EQ(cell::type_of(raised_at), TYPE_ERROR);
    EXPECT_EQ(err::code_of(raised_at), err::STACK_OVERFLOW);
    // The stack works again after the error.
    EXPECT_EQ(exit_of([] { push_slot(); }), 0u);
}

// The overflow is raised short of the true end, so that its report may push
// frames of its own, and the stacks work again once a try took it.
TEST_F(Stack, FramePushAtTheLimitOverflowsKeepingAReserveAndRecovers) {
    Frame* const end = frame_bottom + MAX_FRAMES;
    for (int round = 0; round < 2; round++) {
        SCOPED_TRACE(round);
        mark_try(nullptr);
        Frame* try_frame = frame_top - 1;
        while (frame_top < frame_limit - 1) mark_native(nullptr);  // the last frame that fits
        EXPECT_EQ(frame_top, end - FRAME_RESERVE - 1);
        EXPECT_EQ(exit_of([] { mark_native(nullptr); }), catch_code::ERROR);
        EXPECT_EQ(sys.pending_error, err::STACK_OVERFLOW);
        EXPECT_EQ(frame_top, try_frame);
        EXPECT_EQ(frame_limit, end - FRAME_RESERVE);
    }
    // While an overflow is reported the reserve is open: a second overflow
    // raised from inside the report still comes out as the same error.
    frame_top = frame_bottom;
    mark_try(nullptr);
    Frame* try_frame = frame_top - 1;
    frame_limit = end;
    while (frame_top < end - 1) mark_native(nullptr);
    EXPECT_EQ(exit_of([] { mark_native(nullptr); }), catch_code::ERROR);
    EXPECT_EQ(sys.pending_error, err::STACK_OVERFLOW);
    EXPECT_EQ(frame_top, try_frame);
    EXPECT_EQ(frame_limit, end - FRAME_RESERVE);
}

// An overflow gives up only cells of the running call. Here the call has
// none or one, and right below its base lie the cells of the code around
// the try, which goes on after the error: the report must not touch them.
TEST_F(Stack, OverflowKeepsTheCellsBelowTheRunningCall) {
    struct Case {
        const char* name;
        Cell* markers_at;  // where the cells of the code around the try start
        void (*fill)();    // brings the running call to the last push that fits
        void (*overflow)();
    };
    Cell* const end = arg_bottom + ARG_CELLS;
    const Case cases[] = {
        {"frame push", arg_bottom + 100,
         [] { while (frame_top < frame_limit - 1) mark_native(nullptr); },
         [] { mark_native(nullptr); }},
        {"argument push", end - ARG_RESERVE - 8,
         [] { push_slot(); },
         [] { push_slot(); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        arg_base = arg_top = c.markers_at;
        frame_top = frame_bottom;
        for (int i = 1; i <= 6; i++) {
            const Cell v = integer(i);
            push(&v);
        }
        mark_try(nullptr);
        mark_native(nullptr);  // the running call, with no cell of its own yet
        c.fill();
        EXPECT_EQ(exit_of(c.overflow), catch_code::ERROR);
        EXPECT_EQ(err::code_of(&error_in_flight), err::STACK_OVERFLOW);
        for (int i = 1; i <= 6; i++) {
            ASSERT_EQ(cell::type_of(c.markers_at + i - 1), TYPE_INTEGER) << i;
            EXPECT_EQ(integer_value(c.markers_at + i - 1), i);
        }
        // The reserves closed again once the error was on its way.
        EXPECT_EQ(arg_limit, end - ARG_RESERVE);
        EXPECT_EQ(frame_limit, frame_bottom + MAX_FRAMES - FRAME_RESERVE);
    }
}

// An overflow at the true end, with the reserve already lent to a report,
// still has room to raise: the cells above the try's stretch are given up
// by the error anyway.
TEST_F(Stack, OverflowOfTheReserveTakesItsRoomAboveTheTry) {
    Cell* const end = arg_bottom + ARG_CELLS;
    mark_try(nullptr);
    Cell* const stretch = arg_top;
    arg_limit = end;
    arg_top = end - 2;
    mark_native(nullptr);
    push_slot();
    EXPECT_EQ(exit_of([] { push_slot(); }), catch_code::ERROR);
    EXPECT_EQ(err::code_of(&error_in_flight), err::STACK_OVERFLOW);
    EXPECT_GE(arg_top, stretch);
    EXPECT_LE(arg_top, end);
    EXPECT_EQ(arg_limit, end - ARG_RESERVE);
}

TEST_F(Stack, PopBeyondTheStackStopsAtTheBottom) {
    const Cell v = integer(7);
    push(&v);
    push(&v);
    pop_n(3);
    EXPECT_EQ(arg_top, arg_bottom);
    EXPECT_EQ(top(), arg_bottom);  // an empty stack answers its bottom cell
}

// Outer call at base 1, callee at base 4 with two cells, result 42.
struct TwoCalls {
    TwoCalls() {
        const Cell v = integer(0), r = integer(42);
        push(&v);
        mark_native(nullptr);
        for (int i = 0; i < 3; i++) push(&v);
        mark_native(nullptr);
        push(&r);
        push(&v);
    }
};

TEST_F(Stack, UnwindVariantsLeaveBaseAndTop) {
    struct Case {
        const char* name;
        void (*op)();
        uint32_t base, top;
        bool result_copied;
    };
    const Case cases[] = {
        {"unwind", unwind, 1, 4, false},
        {"unwind-keep", unwind_keep, 1, 5, false},
        {"unwind-last", unwind_last, 1, 5, true},
        {"unwind-drop", unwind_drop, 1, 1, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        arg_base = arg_top = arg_bottom;
        frame_top = frame_bottom;
        TwoCalls calls;
        c.op();
        EXPECT_EQ(at(arg_base), c.base);
        EXPECT_EQ(at(arg_top), c.top);
        EXPECT_EQ(frame_top - frame_bottom, 1);
        EXPECT_EQ(integer_value(arg_bottom[1]) == 42, c.result_copied);
    }
    // Popping the last frame empties the whole stack.
    unwind();
    EXPECT_EQ(arg_base, arg_bottom);
    EXPECT_EQ(arg_top, arg_bottom);
}

// TopSaved gives back the top of its creation on a normal end and on an
// unwinding exit alike, and leaves the base as the body left it.
TEST_F(Stack, TopSavedRestoresOnlyTheTop) {
    const Cell v = integer(1);
    push(&v);
    Cell* const top = arg_top;
    Cell* const base = arg_base;
    {
        TopSaved kept;
        push(&v);
        push(&v);
        arg_base = top;
    }
    EXPECT_EQ(arg_top, top);
    EXPECT_EQ(arg_base, top);
    arg_base = base;
    try {
        TopSaved kept;
        push(&v);
        throw NonLocalExit{catch_code::ERROR};
    } catch (const NonLocalExit&) {
    }
    EXPECT_EQ(arg_top, top);
}

TEST_F(Stack, CallFramesLendArgumentsToTheContextAndGiveThemBack) {
    const node_t ctx = context::make(2, true, false, 0, context::FUNCTION);
    const Cell name = word("f");
    mark_call(&name, ctx);
    const Cell a = integer(5);
    push(&a);
    mark_func_body(&name, ctx);
    ASSERT_NE(context::slot_at(ctx, 0), nullptr);
    EXPECT_EQ(integer_value(context::slot_at(ctx, 0)), 5);
    unwind();  // the body frame leaves the values alone
    EXPECT_NE(context::slot_at(ctx, 0), nullptr);
    unwind_drop_call();
    EXPECT_EQ(context::slot_at(ctx, 0), nullptr);
}

// break/continue from a native inside a function called from a loop.
TEST_F(Stack, BreakFindsTheLoopThroughFunctionBodiesButNotThroughTryAll) {
    struct Case {
        const char* name;
        bool is_continue, has_value, try_all_between;
        uint32_t code;
    };
    const Case cases[] = {
        {"break", false, false, false, catch_code::BREAK},
        {"break/return", false, true, false, catch_code::BREAK},
        {"continue", true, false, false, catch_code::CONTINUE},
        {"break across try/all", false, false, true, catch_code::ERROR},
        {"continue across try/all", true, false, true, catch_code::ERROR},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        arg_base = arg_top = arg_bottom;
        frame_top = frame_bottom;
        mark_try(nullptr);
        mark_loop(nullptr);
        Cell* loop_stretch = arg_base;
        Frame* loop = frame_top - 1;
        const Cell filler = integer(0), value = integer(33);
        push(&filler);
        mark_native(nullptr);  // the function's call
        push(&filler);
        mark_func_body(nullptr, 0);
        if (c.try_all_between) mark_try_all(nullptr);
        Frame* try_all = frame_top - 1;
        mark_native(nullptr);  // break itself
        push(&value);
        EXPECT_EQ(signalled([&] { signal_break(c.has_value, c.is_continue); }), c.code);
        if (c.code == catch_code::ERROR) {
            EXPECT_EQ(sys.pending_error, c.is_continue ? err::NO_LOOP_CONTINUE : err::NO_LOOP_BREAK);
            EXPECT_EQ(frame_top, try_all);  // taken by the try/all frame
            continue;
        }
        EXPECT_EQ(frame_top, loop + 1);
        EXPECT_EQ(arg_base, loop_stretch);
        EXPECT_EQ(arg_top, loop_stretch);
        EXPECT_EQ(cell::type_of(loop_stretch), c.has_value ? TYPE_INTEGER : TYPE_UNSET);
    }
}

TEST_F(Stack, BreakWithoutLoopRaisesWithPointersAsBefore) {
    mark_try(nullptr);
    Frame* try_frame = frame_top - 1;
    mark_native(nullptr);
    const Cell v = integer(1);
    push(&v);
    EXPECT_EQ(signalled([] { signal_break(false, false); }), catch_code::ERROR);
    EXPECT_EQ(sys.pending_error, err::NO_LOOP_BREAK);
    EXPECT_EQ(frame_top, try_frame);
}

TEST_F(Stack, ReturnAcrossTryAllRaisesAtTheTryAll) {
    mark_try(nullptr);
    mark_func_body(nullptr, 0);
    mark_try_all(nullptr);
    Frame* try_all = frame_top - 1;
    mark_native(nullptr);
    EXPECT_EQ(signalled([] { signal_exit(false, false); }), catch_code::ERROR);
    EXPECT_EQ(sys.pending_error, err::NO_FUNCTION_RETURN);
    EXPECT_EQ(frame_top, try_all);
}

TEST_F(Stack, ThrowReachesCatchWithValueAndName) {
    mark_catch(nullptr);
    Cell* catch_stretch = arg_base;
    mark_native(nullptr);
    const Cell value = integer(11), name = word("tag");
    push(&value);
    push(&name);
    EXPECT_EQ(exit_of([] { throw_value(catch_code::THROW); }), catch_code::THROW);
    EXPECT_EQ(frame_top, frame_bottom + 1);
    EXPECT_EQ(arg_base, catch_stretch);
    EXPECT_EQ(arg_top, catch_stretch + 2);
    EXPECT_EQ(integer_value(catch_stretch[0]), 11);
    EXPECT_EQ(word_symbol(catch_stretch[1]), word_symbol(name));
}

TEST_F(Stack, ThrowInsideTryAllInsideCatchRaisesAtTheTryAll) {
    mark_catch(nullptr);
    mark_try_all(nullptr);
    Frame* try_all = frame_top - 1;
    mark_native(nullptr);
    const Cell value = integer(11);
    push(&value);
    push(&value);
    EXPECT_EQ(exit_of([] { throw_value(catch_code::THROW); }), catch_code::ERROR);
    EXPECT_EQ(sys.pending_error, err::NO_CATCH_THROW);
    EXPECT_EQ(frame_top, try_all);
    const Cell arg1 = err::field(top(), err::F_ARG1);
    EXPECT_EQ(integer_value(arg1), 11);
}

TEST_F(Stack, CallNameNamesTheThrowerOnceThenTheTop) {
    const Cell thrower = word("thrower"), catcher = word("catcher");
    mark_catch(&catcher);
    mark_native(&thrower);
    push(&thrower);
    push(&thrower);
    ASSERT_EQ(exit_of([] { throw_value(catch_code::THROW); }), catch_code::THROW);
    // The thrower's frame is gone, but its record is where the origin
    // points until a new frame takes its place.
    EXPECT_EQ(word_symbol(get_call_name()), word_symbol(thrower));
    EXPECT_EQ(word_symbol(get_call_name()), word_symbol(catcher));
}

TEST_F(Stack, CallNameSkipsAnonymousAndBodyFrames) {
    const Cell outer = word("outer");
    EXPECT_EQ(word_symbol(get_call_name()), word_symbol(words::w_not_found));
    mark_native(&outer);
    mark_native(words::w_anon);
    mark_loop(words::w_body);
    EXPECT_EQ(word_symbol(get_call_name()), word_symbol(outer));
}

TEST_F(Stack, TryResultKeepsAnErrorAsTheResult) {
    mark_try(nullptr);
    const Cell v = integer(1);
    push(&v);
    EXPECT_EQ(exit_of([] { err::raise(err::INVALID_ARG); }), catch_code::ERROR);
    try_result();
    EXPECT_EQ(arg_top, arg_base + 1);
    EXPECT_EQ(cell::type_of(arg_base), TYPE_ERROR);
    EXPECT_EQ(err::code_of(arg_base), err::INVALID_ARG);
}

TEST_F(Stack, ErrorRecordsWhereAndTheFrameTop) {
    const Cell f = word("f");
    mark_try(nullptr);
    mark_native(&f);
    const Cell arg = integer(4);
    EXPECT_EQ(exit_of([&] { err::raise(err::INVALID_ARG, &arg); }), catch_code::ERROR);
    EXPECT_EQ(word_symbol(err::field(top(), err::F_WHERE)), word_symbol(f));
    EXPECT_EQ(integer_value(err::field(top(), err::F_STACK)), 2);
    EXPECT_EQ(integer_value(err::field(top(), err::F_ARG1)), 4);
}

using StackDeathTest = Stack;

TEST_F(StackDeathTest, ErrorWithoutTryIsPrintedAndEndsTheProcess) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    const Cell f = word("f");
    EXPECT_EXIT(
        {
            console::set_output_fd(2);
            mark_loop(&f);
            const Cell arg = integer(5);
            err::raise(err::INVALID_ARG, &arg);
        },
        ::testing::ExitedWithCode(254), "\\*\\*\\* Script Error: invalid argument: 5\n\\*\\*\\* Where: f\n");
}


// break, continue, return and exit: no exception, the stacks settled on the
// target, and the code pending until a loop or function body takes it.
TEST_F(Stack, SignalFormsLeaveTheExitPendingForItsTaker) {
    struct Case {
        const char* name;
        uint32_t (*signal)();
        uint32_t code;
        bool loop_takes;
    };
    const Case cases[] = {
        {"break", [] { return signal_break(false, false); }, catch_code::BREAK, true},
        {"continue", [] { return signal_break(false, true); }, catch_code::CONTINUE, true},
        {"return", [] { return signal_exit(true, false); }, catch_code::RETURN, false},
        {"exit", [] { return signal_exit(false, false); }, catch_code::EXIT, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        arg_base = arg_top = arg_bottom;
        frame_top = frame_bottom;
        mark_func_body(nullptr, 0);
        Frame* body = frame_top - 1;
        Cell* body_stretch = arg_base;
        mark_loop(nullptr);
        Frame* loop = frame_top - 1;
        Cell* loop_stretch = arg_base;
        mark_native(nullptr);
        const Cell v = integer(3);
        push(&v);
        ASSERT_EQ(pending_exit, 0u);
        EXPECT_EQ(c.signal(), c.code);
        EXPECT_EQ(pending_exit, c.code);
        EXPECT_EQ(frame_top, (c.loop_takes ? loop : body) + 1);
        EXPECT_EQ(arg_base, c.loop_takes ? loop_stretch : body_stretch);
        // The loop's catch code covers every one of them, but takes only
        // what it handles; the rest stays pending for the function body.
        const uint32_t code = take_pending(catch_code::BREAK);
        if (c.loop_takes) {
            EXPECT_EQ(code, c.code);
            EXPECT_EQ(pending_exit, 0u);
        } else {
            pending_exit = code;
            EXPECT_EQ(take_pending(catch_code::ERROR), c.code);
            EXPECT_EQ(pending_exit, 0u);
        }
    }
    // An error region takes nothing above its code, and raise_pending turns
    // a pending exit into the exception C++ catchers expect.
    pending_exit = catch_code::ERROR;
    EXPECT_EQ(take_pending(catch_code::THROW), 0u);
    EXPECT_EQ(exit_of([] { raise_pending(); }), catch_code::ERROR);
    EXPECT_EQ(pending_exit, 0u);
    EXPECT_EQ(exit_of([] { raise_pending(); }), 0u);
}


// The collector reaches, through the stacks, the argument cells in use,
// each frame's contexts and the values its function context gets back, and
// the spec of a native's call.
std::vector<std::pair<char, uint32_t>> marked;

TEST_F(Stack, MarkingReachesCellsContextsAndSavedValues) {
    const node_t fn = context::make(2, false, false, 0, 1);
    const node_t values = context_values(context::cell_of(fn));
    const node_t obj = context::make(1, false, true, 0, 2);
    Cell named = word("f");
    word_context(named) = context::global;
    Cell self = word("self");
    word_context(self) = obj;
    const Cell v = integer(1);
    push(&v);
    mark_call(&named, fn);
    push(&v);
    mark_native(&self);
    push(&v);
    const node_t spec = memory::alloc_cells(1);
    mark_native_call(nullptr, spec);
    marked.clear();
    mark_gc({[](node_t* n) { marked.push_back({'c', *n}); }, [](node_t* n) { marked.push_back({'s', *n}); },
             [](Cell* from, Cell* to) { marked.push_back({'a', static_cast<uint32_t>(to - from)}); }});
    const std::vector<std::pair<char, uint32_t>> want = {
        {'a', 3}, {'a', 1}, {'c', context::global}, {'c', fn}, {'s', values}, {'s', obj}, {'s', spec}};
    EXPECT_EQ(marked, want);
}

}  // namespace
}  // namespace qel
