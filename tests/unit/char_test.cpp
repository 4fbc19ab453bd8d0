// char!: making characters, their molded escapes, comparison with
// integers and arithmetic kept inside the code-point range.
#include <gtest/gtest.h>

#include "datatypes/char.hpp"
#include "runtime/errors.hpp"
#include "slot_support.hpp"
#include "startup_support.hpp"

namespace qel {
namespace {

using namespace testutil;

class CharTest : public StartedRuntime {};

TEST_F(CharTest, MoldEscapes) {
    const struct {
        uint32_t cp;
        bool all;
        const char* expect;
    } cases[] = {
        {'a', false, "#\"a\""},      {9, false, "#\"^-\""},      {10, false, "#\"^/\""},
        {0, false, "#\"^@\""},       {27, false, "#\"^[\""},     {31, false, "#\"^_\""},
        {30, false, "#\"^(1E)\""},   {'"', false, "#\"^\"\""},   {'^', false, "#\"^^\""},
        {127, false, "#\"^~\""},     {128, false, "#\"^(80)\""}, {159, false, "#\"^(9F)\""},
        {233, false, "#\"\xC3\xA9\""}, {233, true, "#\"^(E9)\""},  {0x10FFFF, true, "#\"^(10FFFF)\""},
        {'{', false, "#\"{\""},
    };
    for (const auto& c : cases) EXPECT_EQ(molded(char_cell(c.cp), false, c.all), c.expect) << c.cp;
    EXPECT_EQ(formed(char_cell(9)), "\t");
    // The budget counts four whatever the escape wrote.
    const node_t out = text::make_buffer(16);
    const Cell v = char_cell(30);
    EXPECT_EQ(actions::mold(&v, out, false, false, false, false, 100, 0), 96);
}

TEST_F(CharTest, ArithmeticStaysInRange) {
    const struct {
        datatype::Slot slot;
        Cell a, b;
        uint32_t expect;
        int code;
    } cases[] = {
        {datatype::ADD, char_cell('a'), int_cell(1), 'b', 0},
        {datatype::ADD, char_cell('a'), float_cell(1.9), 'b', 0},
        {datatype::ADD, char_cell('a'), char_cell(1), 'b', 0},
        {datatype::SUBTRACT, char_cell('b'), int_cell(1), 'a', 0},
        {datatype::DIVIDE, char_cell(7), int_cell(2), 3, 0},
        {datatype::REMAINDER, char_cell(7), int_cell(2), 1, 0},
        {datatype::MULTIPLY, char_cell(0x100), int_cell(0x100), 0x10000, 0},
        {datatype::OR_T, char_cell('A'), int_cell(0x20), 'a', 0},
        {datatype::AND_T, char_cell('a'), int_cell(0xDF), 'A', 0},
        {datatype::XOR_T, char_cell('a'), int_cell(0x20), 'A', 0},
        {datatype::ADD, char_cell(0x10FFFF), int_cell(1), 0, err::OVERFLOW},
        {datatype::SUBTRACT, char_cell(0), int_cell(1), 0, err::OVERFLOW},
        // An overflow of the 32 bits themselves is caught too, not wrapped.
        {datatype::MULTIPLY, char_cell(0x10000), int_cell(0x10000), 0, err::OVERFLOW},
        {datatype::ADD, char_cell(1), float_cell(1e20), 0, err::OVERFLOW},
        {datatype::DIVIDE, char_cell(7), int_cell(0), 0, err::ZERO_DIVIDE},
        {datatype::REMAINDER, char_cell(7), int_cell(0), 0, err::ZERO_DIVIDE},
        {datatype::ADD, char_cell('a'), string_cell("b"), 0, err::INVALID_TYPE},
    };
    for (size_t i = 0; i < std::size(cases); i++) {
        const auto& c = cases[i];
        SCOPED_TRACE(i);
        Cell r{};
        EXPECT_EQ(raised([&] { r = run_direct(c.slot, c.a, c.b); }), c.code);
        if (c.code) continue;
        EXPECT_EQ(cell::type_of(&r), TYPE_CHAR);
        EXPECT_EQ(r.data2, c.expect);
    }
}

TEST_F(CharTest, InheritedActionsKeepTheType) {
    const Cell r = run_direct(datatype::ABSOLUTE, char_cell('x'));
    EXPECT_EQ(cell::type_of(&r), TYPE_CHAR);
    Cell v = char_cell('b');
    EXPECT_TRUE(actions::slot<slot_fn::EvenOdd>(&v, datatype::EVEN_Q)(&v));
    EXPECT_EQ(actions::lookup(&v, datatype::NEGATE), nullptr);
    EXPECT_EQ(actions::lookup(&v, datatype::POWER), nullptr);
    EXPECT_EQ(actions::lookup(&v, datatype::ROUND), nullptr);
}

TEST_F(CharTest, MakeAndTo) {
    const struct {
        Cell spec;
        uint32_t expect;
        int code;
    } cases[] = {
        {int_cell(97), 'a', 0},
        {int_cell(0x10FFFF), 0x10FFFF, 0},
        {int_cell(1114112), 0, err::OUT_OF_RANGE},
        {int_cell(-1), 0, err::OUT_OF_RANGE},
        {float_cell(65.9), 'A', 0},
        {float_cell(-0.5), 0, 0},
        {float_cell(1e300), 0, err::OUT_OF_RANGE},
        {string_cell("xyz", 1), 'y', 0},
        {string_cell("\xE2\x82\xAC"), 0x20AC, 0},
        {string_cell(""), 0, err::BAD_TO_ARG},
        {string_cell("ab", 2), 0, err::BAD_TO_ARG},
        {binary_cell({0x41}), 'A', 0},
        {binary_cell({0xC3, 0xA9, 0x41}), 0xE9, 0},
        {binary_cell({0xF4, 0x8F, 0xBF, 0xBF}), 0x10FFFF, 0},
        {binary_cell({0xF4, 0x90, 0x80, 0x80}), 0, err::INVALID_UTF8},
        {binary_cell({0x80}), 0, err::INVALID_UTF8},
        {binary_cell({0xC3}), 0, err::INVALID_UTF8},
        {binary_cell({}), 0, err::BAD_TO_ARG},
        {logic_cell(true), 0, err::BAD_TO_ARG},
    };
    for (size_t i = 0; i < std::size(cases); i++) {
        SCOPED_TRACE(i);
        Cell r{};
        EXPECT_EQ(raised([&] { r = make_value(TYPE_CHAR, cases[i].spec); }), cases[i].code);
        if (cases[i].code) continue;
        EXPECT_EQ(cell::type_of(&r), TYPE_CHAR);
        EXPECT_EQ(r.data2, cases[i].expect);
    }
}

TEST_F(CharTest, CompareWithCharsAndIntegers) {
    const struct {
        Cell b;
        int32_t op, expect;
    } cases[] = {
        {int_cell('a'), 0, 0},   {int_cell('a'), 2, 1},    {char_cell('a'), 2, 0},
        {char_cell('A'), 0, 1},  {char_cell('b'), 3, -1},  {string_cell("a"), 0, -2},
        {string_cell("a"), 12, 1},
    };
    for (const auto& c : cases) EXPECT_EQ(compared(char_cell('a'), c.b, c.op), c.expect) << c.op;
}

}  // namespace
}  // namespace qel
