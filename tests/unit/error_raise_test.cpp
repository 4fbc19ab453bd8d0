// Raising errors and the argument checks: the typeset bit rule, which
// checks run, the error each raises and its display.
#include <gtest/gtest.h>

#include "runtime/stack.hpp"
#include "output_capture.hpp"
#include "runtime/checks.hpp"
#include "runtime/errors.hpp"
#include "runtime/words.hpp"
#include "startup_support.hpp"
#include "value_builders.hpp"

namespace qel {
namespace {

Cell integer(int32_t v) { return Cell{TYPE_INTEGER, 0, static_cast<uint32_t>(v), 0}; }
Cell typeset(uint32_t w1, uint32_t w2 = 0, uint32_t w3 = 0) { return Cell{TYPE_TYPESET, w1, w2, w3}; }

TEST(TypesetBits, TypeIdsCountFromTheTopBitOfTheFirstByte) {
    struct Case {
        uint32_t type;
        Cell set;
        bool allowed;
    };
    const Case cases[] = {
        {7, typeset(0x01), true},          // string!: lowest bit of the first byte
        {7, typeset(0x80), false},
        {0, typeset(0x80), true},
        {8, typeset(0x8000), true},        // file!: top bit of the second byte
        {8, typeset(0x01), false},
        {33, typeset(0, 0x40), true},      // typeset!: byte 4 is the low byte of word 2
        {95, typeset(0, 0, 0x01000000), true},
        {95, typeset(0xFFFFFFFF, 0xFFFFFFFF, 0x00FFFFFF), false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.type);
        EXPECT_EQ(err::typeset_has(&c.set, c.type), c.allowed);
    }
}

class ErrorRaise : public testutil::StartedRuntime {};


TEST_F(ErrorRaise, ArgumentChecksRaiseExpectArgNamingCallTypeAndArgument) {
    using testutil::word_cell;
    const Cell f = *word::make_from_cstr("f");
    const Cell spec = testutil::block_of({word_cell("value"), testutil::block_of({word_cell("integer!")})});
    const Cell ints = typeset(0x1000);  // integer! (11) only: byte 1, bit 0x10
    const Cell text{TYPE_STRING, 0, 0, 0}, one = integer(1);
    struct Case {
        const char* name;
        std::function<void()> check;
        uint32_t rejected_type;  // 0: passes
    };
    const Case cases[] = {
        {"allowed", [&] { err::check_typeset(&ints, 0, &one); }, 0},
        {"not allowed", [&] { err::check_typeset(&ints, 0, &text); }, TYPE_STRING},
        {"refinement absent", [&] { err::check_arg_type(-1, &ints, 0); }, 0},
        {"argument cell",
         [&] {
             stack::mark_native(&f);
             stack::push(&text);  // the first argument, at the base
             err::check_arg_type(0, &ints, 0);
         },
         TYPE_STRING},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        stack::Saved saved;
        stack::mark_try(nullptr);
        stack::mark_native_call(&f, series_node(spec));
        bool thrown = false;
        try {
            c.check();
        } catch (const NonLocalExit& e) {
            thrown = e.code == catch_code::ERROR;
        }
        ASSERT_EQ(thrown, c.rejected_type != 0);
        if (!thrown) continue;
        const Cell* error = stack::top();  // the thrower leaves it on top
        ASSERT_EQ(err::code_of(error), err::EXPECT_ARG);
        EXPECT_EQ(word_symbol(err::field(error, err::F_ARG1)), word_symbol(f));
        EXPECT_EQ(datatype_id(err::field(error, err::F_ARG2)), c.rejected_type);
        EXPECT_EQ(word_symbol(err::field(error, err::F_ARG3)), word_symbol(word_cell("value")));
    }
}

// The running call is the innermost frame of a call; its spec numbers the
// arguments without the refinements and the locals.
TEST_F(ErrorRaise, ArgumentNamesComeFromTheInnermostCallsSpec) {
    using testutil::word_cell;
    const Cell types = testutil::block_of({word_cell("integer!")});
    const Cell native_spec = testutil::block_of({Cell{TYPE_STRING, 0, 0, 0}, word_cell("series"), types,
                                                 word_cell("part", TYPE_REFINEMENT), word_cell("length"),
                                                 word_cell("only", TYPE_REFINEMENT), word_cell("count", TYPE_LIT_WORD),
                                                 word_cell("return", TYPE_SET_WORD), types});
    const Cell function_spec = testutil::block_of({word_cell("a", TYPE_GET_WORD), word_cell("local", TYPE_REFINEMENT),
                                                   word_cell("x"), word_cell("y"), word_cell("return", TYPE_SET_WORD),
                                                   word_cell("b")});
    const node_t ctx = context::make(4, true, false, 0, context::FUNCTION);
    *context::self_of(ctx) = Cell{TYPE_FUNCTION, ctx, series_node(function_spec), 0};
    auto name = [](int n) {
        const Cell w = err::arg_name_at(n);
        return cell::type_of(&w) == TYPE_WORD ? std::string(symbol::name(word_symbol(w))) : "none";
    };
    const stack::Saved saved;
    EXPECT_EQ(name(0), "none");  // no call running
    const Cell f = word_cell("f");
    stack::mark_call(&f, ctx);
    stack::mark_func_body(&f, ctx);
    stack::mark_loop(words::w_body);
    EXPECT_EQ(name(0), "a");
    EXPECT_EQ(name(1), "b");
    EXPECT_EQ(name(2), "none");
    stack::mark_native_call(&f, series_node(native_spec));
    stack::mark_native(words::w_anon);
    EXPECT_EQ(name(0), "series");
    EXPECT_EQ(name(1), "length");
    EXPECT_EQ(name(2), "count");
    EXPECT_EQ(name(3), "none");
    EXPECT_EQ(name(-1), "none");
}

TEST_F(ErrorRaise, PrintFormsCategoryMessageAndWhere) {
    const Cell f = *word::make_from_cstr("f");
    const Cell string_type{TYPE_DATATYPE, TYPE_STRING, 0, 0}, seven = integer(7);
    struct Case {
        int code;
        const Cell *a1, *a2, *a3;
        const Cell* where;
        const char* text;
    };
    const Case cases[] = {
        {err::EXPECT_ARG, &f, &string_type, words::w_anon, &f,
         "*** Script Error: f does not allow string! for its <anon> argument\n*** Where: f\n*** Near : none\n"},
        {err::STACK_OVERFLOW, nullptr, nullptr, nullptr, nullptr,
         "*** Internal Error: stack overflow\n*** Where: ???\n*** Near : none\n"},
        {err::NO_CATCH_THROW, &seven, nullptr, nullptr, nullptr,
         "*** Throw Error: no catch for throw: 7\n*** Where: ???\n*** Near : none\n"},
        {err::NO_LOOP_BREAK, nullptr, nullptr, nullptr, &f, "*** Throw Error: no loop to break\n*** Where: f\n*** Near : none\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.code);
        Cell e = err::make(c.code, c.a1, c.a2, c.a3);
        if (c.where) err::set_where_if_none(&e, c.where);
        EXPECT_EQ(testutil::capture_output([&] { err::print(&e); }), c.text);
    }
}

TEST_F(ErrorRaise, ErrorBeforeTheStacksExistTravelsAsItsCode) {
    stack::release();
    EXPECT_EQ(testutil::raised([] { err::raise(err::TOO_DEEP); }), err::TOO_DEEP);
}

}  // namespace
}  // namespace qel
