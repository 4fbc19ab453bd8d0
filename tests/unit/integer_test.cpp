// integer!: overflow into float!, the division errors, power, every rule
// of round, conversions and the decimal text, all through the action slots.
#include <gtest/gtest.h>

#include <cmath>

#include "datatypes/integer.hpp"
#include "runtime/errors.hpp"
#include "runtime/symbols.hpp"
#include "slot_support.hpp"
#include "startup_support.hpp"

namespace qel {
namespace {

using namespace testutil;
using datatype::Slot;

class IntegerTest : public StartedRuntime {};

int32_t iv(const Cell& c) { return integer::value_of(&c); }

struct MathCase {
    Slot slot;
    int32_t a, b;
    bool is_float;
    double expect;  // the integer result when not a float
};

TEST_F(IntegerTest, ArithmeticStaysIntegerOrBecomesExactFloat) {
    const MathCase cases[] = {
        {datatype::ADD, 2147483647, 1, true, 2147483648.0},
        {datatype::ADD, -2147483647, -1, false, -2147483648.0},
        {datatype::ADD, -2147483648, -1, true, -2147483649.0},
        {datatype::SUBTRACT, -2147483648, 1, true, -2147483649.0},
        {datatype::SUBTRACT, 0, -2147483648, true, 2147483648.0},
        {datatype::SUBTRACT, -1, 2147483647, false, -2147483648.0},
        {datatype::MULTIPLY, 65536, 65536, true, 4294967296.0},
        {datatype::MULTIPLY, -2147483648, -1, true, 2147483648.0},
        {datatype::MULTIPLY, 46341, -46340, false, -2147441940.0},
        {datatype::DIVIDE, 7, 2, true, 3.5},
        {datatype::DIVIDE, -7, 2, true, -3.5},
        {datatype::DIVIDE, 6, 3, false, 2},
        {datatype::DIVIDE, -2147483648, 2, false, -1073741824},
        {datatype::REMAINDER, -7, 2, false, -1},
        {datatype::REMAINDER, 7, -2, false, 1},
        {datatype::REMAINDER, -2147483648, 3, false, -2},
        {datatype::OR_T, 12, 3, false, 15},
        {datatype::AND_T, -1, 0x70, false, 0x70},
        {datatype::XOR_T, 0x0F, 0xFF, false, 0xF0},
    };
    for (const MathCase& c : cases) {
        SCOPED_TRACE(testing::Message() << c.a << " slot " << c.slot << " " << c.b);
        const Cell r = run_direct(c.slot, int_cell(c.a), int_cell(c.b));
        if (c.is_float) {
            ASSERT_EQ(cell::type_of(&r), TYPE_FLOAT);
            EXPECT_EQ(cell::get_double(&r), c.expect);
        } else {
            ASSERT_EQ(cell::type_of(&r), TYPE_INTEGER);
            EXPECT_EQ(integer::value_of(&r), static_cast<int32_t>(c.expect));
        }
    }
}

TEST_F(IntegerTest, DivisionErrorsAreRaisedBeforeDividing) {
    const struct {
        Slot slot;
        int32_t a, b;
        int code;
    } cases[] = {
        {datatype::DIVIDE, 1, 0, err::ZERO_DIVIDE},
        {datatype::REMAINDER, 1, 0, err::ZERO_DIVIDE},
        {datatype::DIVIDE, -2147483648, -1, err::OVERFLOW},
        {datatype::REMAINDER, -2147483648, -1, err::OVERFLOW},
    };
    for (const auto& c : cases) {
        const Cell a = int_cell(c.a);
        EXPECT_EQ(direct_error(c.slot, a, int_cell(c.b)), c.code) << c.a << " / " << c.b;
    }
}

TEST_F(IntegerTest, AbsoluteAndNegateOfTheMinimumOverflow) {
    EXPECT_EQ(direct_error(datatype::ABSOLUTE, int_cell(INT32_MIN), int_cell(0)), err::OVERFLOW);
    EXPECT_EQ(iv(run_direct(datatype::ABSOLUTE, int_cell(-5))), 5);
    Cell v = int_cell(INT32_MIN);
    auto negate = actions::slot<slot_fn::Negate>(&v, datatype::NEGATE);
    EXPECT_EQ(raised([&] { negate(&v); }), err::OVERFLOW);
    Cell w = int_cell(-7);
    EXPECT_EQ(integer::value_of(negate(&w)), 7);
}

TEST_F(IntegerTest, MixingWithUnrelatedTypesIsRefused) {
    const Cell none{TYPE_NONE, 0, 0, 0};
    EXPECT_EQ(direct_error(datatype::ADD, int_cell(1), none), err::INVALID_TYPE);
    // The composite types refuse an integer on the left of these.
    const Cell tuple{TYPE_TUPLE, 0, 0, 0};
    EXPECT_EQ(direct_error(datatype::SUBTRACT, int_cell(1), tuple), err::NOT_RELATED);
    const Cell pair{TYPE_PAIR, 0, 0, 0};
    EXPECT_EQ(direct_error(datatype::DIVIDE, int_cell(1), pair), err::NOT_RELATED);
    const Cell date{TYPE_DATE, 0, 0, 0};
    EXPECT_EQ(direct_error(datatype::MULTIPLY, int_cell(1), date), err::NOT_RELATED);
}

TEST_F(IntegerTest, PowerBySquaringFallsBackToFloat) {
    const struct {
        int32_t base, exponent;
        bool is_float;
        double expect;
    } cases[] = {
        {2, 10, false, 1024},        {3, 0, false, 1},
        {-2, 31, false, -2147483648.0}, {2, 31, true, 2147483648.0},
        {2, -1, true, 0.5},          {-1, 2147483647, false, -1},
        {0, 0, false, 1},            {46341, 2, true, 2147488281.0},
        // The last squaring of the base would overflow but is never used.
        {1290, 3, false, 2146689000},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.base << " ** " << c.exponent);
        const Cell r = run_direct(datatype::POWER, int_cell(c.base), int_cell(c.exponent));
        if (c.is_float) {
            ASSERT_EQ(cell::type_of(&r), TYPE_FLOAT);
            EXPECT_EQ(cell::get_double(&r), c.expect);
        } else {
            ASSERT_EQ(cell::type_of(&r), TYPE_INTEGER);
            EXPECT_EQ(integer::value_of(&r), static_cast<int32_t>(c.expect));
        }
    }
    const Cell r = run_direct(datatype::POWER, int_cell(4), float_cell(0.5));
    ASSERT_EQ(cell::type_of(&r), TYPE_FLOAT);
    EXPECT_EQ(cell::get_double(&r), 2.0);
    EXPECT_EQ(direct_error(datatype::POWER, int_cell(2), char_cell('a')), err::EXPECT_ARG);
}

enum Refine { NONE = 0, EVEN = 1, DOWN = 2, HALF_DOWN = 4, FLOOR = 8, CEILING = 16, HALF_CEILING = 32 };

TEST_F(IntegerTest, RoundWithEveryRefinement) {
    const struct {
        int32_t n, scale;
        int refine;
        int32_t expect;  // 0 with code set: raises
        int code;
    } cases[] = {
        {17, 5, NONE, 15, 0},          {18, 5, NONE, 20, 0},
        {-17, 5, NONE, -15, 0},        {-18, 5, NONE, -20, 0},
        {-17, 5, FLOOR, -20, 0},       {17, 5, FLOOR, 15, 0},
        {17, 5, CEILING, 20, 0},       {-17, 5, CEILING, -15, 0},
        {18, 5, DOWN, 15, 0},          {-18, 5, DOWN, -15, 0},
        {25, 10, EVEN, 20, 0},         {35, 10, EVEN, 40, 0},
        {-35, 10, EVEN, -40, 0},       {25, 10, HALF_DOWN, 20, 0},
        {-25, 10, HALF_DOWN, -20, 0},  {25, 10, HALF_CEILING, 30, 0},
        {-25, 10, HALF_CEILING, -20, 0}, {25, 10, NONE, 30, 0},
        {-25, 10, NONE, -30, 0},       {25, -10, NONE, 30, 0},
        {20, 10, CEILING, 20, 0},      {7, 0, NONE, 7, 0},
        {INT32_MIN, 10, NONE, INT32_MIN, 0},
        // /down takes precedence over the other refinements.
        {18, 5, DOWN | CEILING, 15, 0},
        {2147483647, 10, NONE, 0, err::OVERFLOW},
        {2147483647, 10, DOWN, 2147483640, 0},
        // /floor checks the upper neighbour although it answers the lower.
        {2147483647, 10, FLOOR, 0, err::OVERFLOW},
        {2147483645, 10, HALF_DOWN, 2147483640, 0},
        {2147483645, 10, EVEN, 2147483640, 0},
        {2147483645, 10, HALF_CEILING, 0, err::OVERFLOW},
        {5, INT32_MIN, NONE, 0, err::OVERFLOW},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.n << " to " << c.scale << " refinements " << c.refine);
        Cell v = int_cell(c.n);
        Cell scale = int_cell(c.scale);
        auto round = actions::slot<slot_fn::Round>(&v, datatype::ROUND);
        Cell result{};
        const int code = raised([&] {
            result = *round(&v, &scale, c.refine & EVEN, c.refine & DOWN, c.refine & HALF_DOWN, c.refine & FLOOR,
                            c.refine & CEILING, c.refine & HALF_CEILING);
        });
        EXPECT_EQ(code, c.code);
        if (!c.code) {
            EXPECT_EQ(integer::value_of(&result), c.expect);
        }
    }
    // Without /to the scale is 1: nothing to round.
    Cell v = int_cell(42);
    EXPECT_EQ(integer::value_of(actions::slot<slot_fn::Round>(&v, datatype::ROUND)(&v, nullptr, false, false, false,
                                                                                       false, false, false)),
              42);
}

TEST_F(IntegerTest, ConversionsToInteger) {
    const struct {
        Cell spec;
        int32_t expect;
        int code;
    } cases[] = {
        {string_cell("12'345"), 12345, 0},
        {string_cell("-2147483648"), INT32_MIN, 0},
        {string_cell("+7"), 7, 0},
        {string_cell("x12", 1), 12, 0},
        {string_cell("2147483648"), 0, err::BAD_TO_ARG},
        {string_cell("12a"), 0, err::BAD_TO_ARG},
        {string_cell("'1"), 0, err::BAD_TO_ARG},
        {string_cell(""), 0, err::BAD_TO_ARG},
        {char_cell(0x10FFFF), 0x10FFFF, 0},
        {float_cell(-1.9), -1, 0},
        {float_cell(2147483647.0), 2147483647, 0},
        {float_cell(2147483647.5), 0, err::TYPE_LIMIT},
        {float_cell(2147483648.0), 0, err::TYPE_LIMIT},
        {float_cell(-2147483649.0), 0, err::TYPE_LIMIT},
        {float_cell(std::nan("")), 0, err::TYPE_LIMIT},
        {binary_cell({0x01, 0x02}), 0x0102, 0},
        {binary_cell({0xFF, 0xFF, 0xFF, 0xFF, 0x12}), -1, 0},
        {binary_cell({}), 0, 0},
        {Cell{TYPE_NONE, 0, 0, 0}, 0, err::BAD_TO_ARG},
    };
    for (size_t i = 0; i < std::size(cases); i++) {
        SCOPED_TRACE(i);
        Cell r{};
        EXPECT_EQ(raised([&] { r = make_value(TYPE_INTEGER, cases[i].spec, true); }), cases[i].code);
        if (!cases[i].code) {
            EXPECT_EQ(integer::value_of(&r), cases[i].expect);
        }
    }
}

TEST_F(IntegerTest, IssuesReadAsHexadecimal) {
    auto issue = [](const char* name) {
        return Cell{TYPE_ISSUE, 0, static_cast<uint32_t>(symbol::intern_cstr(name)), static_cast<uint32_t>(-1)};
    };
    EXPECT_EQ(iv(make_value(TYPE_INTEGER, issue("FF"), true)), 255);
    EXPECT_EQ(static_cast<uint32_t>(iv(make_value(TYPE_INTEGER, issue("FFFFFFFF"), true))),
              0xFFFFFFFFu);
    EXPECT_EQ(make_error(TYPE_INTEGER, issue("123456789"), true), err::INVALID_DATA);
    EXPECT_EQ(make_error(TYPE_INTEGER, issue("12G"), true), err::INVALID_DATA);
}

TEST_F(IntegerTest, MakeTakesLogicAndOtherwiseConverts) {
    EXPECT_EQ(iv(make_value(TYPE_INTEGER, logic_cell(true))), 1);
    EXPECT_EQ(iv(make_value(TYPE_INTEGER, logic_cell(false))), 0);
    EXPECT_EQ(make_error(TYPE_INTEGER, logic_cell(true), true), err::BAD_TO_ARG);
    EXPECT_EQ(iv(make_value(TYPE_INTEGER, string_cell("-3"))), -3);
}

TEST_F(IntegerTest, DecimalText) {
    for (int32_t v : {0, 7, -1, 2147483647, INT32_MIN, -10, 1000000}) {
        EXPECT_EQ(formed(int_cell(v)), std::to_string(v));
        EXPECT_EQ(molded(int_cell(v)), std::to_string(v));
    }
    const node_t out = text::make_buffer(16);
    const Cell min = int_cell(INT32_MIN);
    EXPECT_EQ(actions::form(&min, out, true, 20), 9);
}

TEST_F(IntegerTest, CompareWithIntegersAndChars) {
    const struct {
        Cell b;
        int32_t op, expect;
    } cases[] = {
        {int_cell(5), 0, 0},   {int_cell(6), 3, -1},  {int_cell(-6), 3, 1},
        {char_cell(5), 0, 0},  {char_cell(5), 2, 1},  {char_cell(5), 12, 1},
        {string_cell("5"), 0, -2}, {string_cell("5"), 2, 1},
        {int_cell(INT32_MIN), 5, 1},
    };
    for (const auto& c : cases) EXPECT_EQ(compared(int_cell(5), c.b, c.op), c.expect) << c.op;
}

TEST_F(IntegerTest, EvenOddComplementAndRandom) {
    Cell v = int_cell(-3);
    EXPECT_TRUE(actions::slot<slot_fn::EvenOdd>(&v, datatype::ODD_Q)(&v));
    EXPECT_FALSE(actions::slot<slot_fn::EvenOdd>(&v, datatype::EVEN_Q)(&v));
    EXPECT_EQ(integer::value_of(actions::slot<slot_fn::Complement>(&v, datatype::COMPLEMENT)(&v)), 2);

    auto random = actions::slot<slot_fn::Random>(&v, datatype::RANDOM);
    Cell zero = int_cell(0);
    EXPECT_EQ(integer::value_of(random(&zero, false, false, false)), 0);
    for (int i = 0; i < 100; i++) {
        Cell n = int_cell(-6);
        const int32_t r = integer::value_of(random(&n, false, false, false));
        EXPECT_TRUE(r >= -6 && r <= -1) << r;
    }
    Cell seed = int_cell(42);
    EXPECT_EQ(cell::type_of(random(&seed, true, false, false)), TYPE_UNSET);
    Cell a = int_cell(1000);
    const int32_t first = integer::value_of(random(&a, false, false, false));
    random(&seed, true, false, false);
    Cell b = int_cell(1000);
    EXPECT_EQ(integer::value_of(random(&b, false, false, false)), first);
}

}  // namespace
}  // namespace qel
