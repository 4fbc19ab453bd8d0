// The fast paths that compiled code and C++ routines call: integer math
// with its overflow into floats, comparisons, block picks and steps, the
// range check of floats and the case search. The generic fallbacks are
// the actions, which the action tests cover.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "evaluator/fast_paths.hpp"
#include "startup_support.hpp"
#include "value_builders.hpp"

namespace qel {
namespace {

using testutil::int_cell;

class FastPaths : public testutil::StartedRuntime {};

double as_float(const Cell* c) {
    EXPECT_EQ(cell::type_of(c), TYPE_FLOAT);
    return cell::get_double(c);
}

TEST_F(FastPaths, IntegerOverflowGivesTheExactFloat) {
    const stack::Saved saved;
    const Cell max = int_cell(2147483647), min = int_cell(-2147483647 - 1), one = int_cell(1);
    EXPECT_EQ(as_float(fast::int_math(fast::ADD, nullptr, &max, &one)), 2147483648.0);
    EXPECT_EQ(as_float(fast::int_math_b(fast::SUBTRACT, nullptr, &min, 1)), -2147483649.0);
    const Cell big = int_cell(65536);
    EXPECT_EQ(as_float(fast::int_math(fast::MULTIPLY, nullptr, &big, &big)), 4294967296.0);
    // Right at the edges nothing overflows.
    const Cell m1 = int_cell(-1);
    const Cell* r = fast::int_math(fast::SUBTRACT, nullptr, &max, &m1);
    EXPECT_EQ(cell::type_of(r), TYPE_FLOAT);
    r = fast::int_math(fast::ADD, nullptr, &min, &max);
    EXPECT_EQ(cell::type_of(r), TYPE_INTEGER);
    EXPECT_EQ(static_cast<int32_t>(r->data2), -1);
    r = fast::int_math_b(fast::MULTIPLY, nullptr, &min, 1);
    EXPECT_EQ(static_cast<int32_t>(r->data2), -2147483647 - 1);
    const Cell seven = int_cell(7);
    EXPECT_EQ(fast::int_math_b(fast::OR, nullptr, &seven, 8)->data2, 15u);
    EXPECT_EQ(fast::int_math_b(fast::XOR, nullptr, &seven, 5)->data2, 2u);
}

TEST_F(FastPaths, StackVariantsReplaceTheTop) {
    const stack::Saved saved;
    const Cell five = int_cell(5);
    Cell* top = stack::push(&five);
    Cell* r = fast::int_math_stack_b(fast::MULTIPLY, nullptr, 3);
    EXPECT_EQ(r, top);
    EXPECT_EQ(r->data2, 15u);
    EXPECT_EQ(stack::arg_top, top + 1);
    r = fast::int_compare_stack_b(5, nullptr, 10);  // 15 > 10
    EXPECT_EQ(cell::type_of(r), TYPE_LOGIC);
    EXPECT_EQ(r->data1, 1u);
    EXPECT_EQ(stack::arg_top, top + 1);
}

TEST_F(FastPaths, ComparisonsAreSigned) {
    const stack::Saved saved;
    const Cell neg = int_cell(-1), pos = int_cell(1);
    EXPECT_EQ(fast::int_compare(3, nullptr, &neg, &pos)->data1, 1u);
    EXPECT_EQ(fast::int_compare_b(6, nullptr, &neg, 0)->data1, 0u);
    // c and d answer whether the truth differs from the expected one.
    EXPECT_FALSE(fast::int_compare_c(0, nullptr, &pos, &pos, true));
    EXPECT_TRUE(fast::int_compare_d(1, nullptr, &pos, 1, true));
}

TEST_F(FastPaths, BlockPicksAndSteps) {
    const stack::Saved saved;
    const Cell b = testutil::at_index(testutil::block_of({int_cell(1), int_cell(2), int_cell(3)}), 1);
    EXPECT_EQ(fast::eval_path_compiled(&b, 1, nullptr)->data2, 2u);
    EXPECT_EQ(cell::type_of(fast::eval_path_compiled(&b, 0, nullptr)), TYPE_NONE);
    EXPECT_EQ(cell::type_of(fast::eval_path_compiled(&b, 3, nullptr)), TYPE_NONE);
    EXPECT_EQ(fast::series_step_compiled(&b, fast::LENGTH_Q, nullptr)->data2, 2u);
    EXPECT_EQ(fast::series_step_compiled(&b, fast::INDEX_Q, nullptr)->data2, 2u);
    EXPECT_EQ(fast::series_step_compiled(&b, fast::TAIL, nullptr)->data1, 3u);
    const Cell head = testutil::at_index(b, 0);
    EXPECT_EQ(fast::series_step_compiled(&head, fast::BACK, nullptr)->data1, 0u);
    const Cell tail = testutil::at_index(b, 3);
    EXPECT_EQ(fast::series_step_compiled(&tail, fast::NEXT, nullptr)->data1, 3u);
    EXPECT_EQ(fast::series_step_compiled(&tail, fast::TAIL_Q, nullptr)->data1, 1u);
}

TEST_F(FastPaths, FloatsOutside32BitsOrNaNAreOutOfRange) {
    auto f = [](double d) {
        Cell c{TYPE_FLOAT, 0, 0, 0};
        cell::put_double(&c, d);
        return c;
    };
    const Cell ok = f(2147483647.0), low = f(-2147483648.0), over = f(2147483648.0),
               nan = f(std::numeric_limits<double>::quiet_NaN());
    EXPECT_EQ(fast::check_integer_range(&ok), 2147483647);
    EXPECT_EQ(fast::check_integer_range(&low), -2147483647 - 1);
    EXPECT_EQ(testutil::raised([&] { fast::check_integer_range(&over); }), err::OUT_OF_RANGE);
    EXPECT_EQ(testutil::raised([&] { fast::check_integer_range(&nan); }), err::OUT_OF_RANGE);
}

TEST_F(FastPaths, SwitchCaseFindsTheBlockAfterSeveralValues) {
    const stack::Saved saved;
    stack::mark_native(nullptr);
    const Cell body = testutil::block_of({int_cell(9)});
    const Cell cases = testutil::block_of({int_cell(1), int_cell(2), int_cell(3), body});
    const Cell one = int_cell(1);
    stack::push(&one);
    stack::push(&cases);
    fast::select_case(false, true);
    EXPECT_EQ(cell::type_of(stack::arg_base), TYPE_BLOCK);
    EXPECT_EQ(stack::arg_base->data2, body.data2);
    // select: values and results alternate; a value standing last answers
    // itself.
    const Cell three = int_cell(3);
    const Cell pairs = testutil::block_of({int_cell(1), int_cell(2), int_cell(3)});
    stack::arg_top = stack::arg_base;
    stack::push(&three);
    stack::push(&pairs);
    fast::select_case(false, false);
    EXPECT_EQ(stack::arg_base->data2, 3u);
    stack::arg_top = stack::arg_base;
    const Cell two = int_cell(2);
    stack::push(&two);
    stack::push(&pairs);
    fast::select_case(false, false);
    EXPECT_EQ(cell::type_of(stack::arg_base), TYPE_NONE);
}

}  // namespace
}  // namespace qel
