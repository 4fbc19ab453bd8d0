// The control natives under the check flag, which compiled callers set
// when they have not checked the argument types: each argument must pass
// its spec's typeset, and a value the typeset allows must get through.
// The cases stop before any block would be evaluated; the scripts in
// tests/lang/control cover the natives at work, and
// tests/lang/control/argument_types_cases.qel the same arguments in calls
// from a script, which check the types before calling.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "evaluator/native_fns.hpp"
#include "evaluator/natives.hpp"
#include "startup_support.hpp"
#include "value_builders.hpp"

namespace qel {
namespace {

using testutil::int_cell;

Cell float_cell(double d) {
    Cell c{TYPE_FLOAT, 0, 0, 0};
    cell::put_double(&c, d);
    return c;
}

class ControlChecks : public testutil::StartedRuntime {
protected:
    static int call(natives::NativeFn fn, const std::vector<Cell>& args, const std::vector<int32_t>& refs,
                    Cell* result = nullptr) {
        return testutil::call_checked(fn, args, refs, result);
    }
};

TEST_F(ControlChecks, ArgumentsOutsideTheTypesetRaiseExpectArg) {
    const Cell blk = testutil::block_of({});
    const Cell two = int_cell(2);
    const Cell text = testutil::string_of("");
    const Cell word = testutil::word_cell("x");
    struct Case {
        const char* name;
        natives::NativeFn fn;
        std::vector<Cell> args;
        std::vector<int32_t> refs;
    };
    const Case cases[] = {
        {"if with an integer block", natives::native_if, {two, two}, {}},
        {"either's false branch", natives::native_either, {two, blk, two}, {}},
        {"loop counting a string", natives::native_loop, {text, blk}, {}},
        {"repeat with a word block", natives::native_repeat, {blk, two, blk}, {}},
        {"foreach over an integer", natives::native_foreach, {word, two, blk}, {}},
        {"remove-each over a map", natives::native_remove_each, {word, Cell{TYPE_MAP, 0, blk.data2, 0}, blk}, {}},
        {"switch with an integer default", natives::native_switch, {two, blk, two}, {2}},
        {"case on a string", natives::native_case, {text}, {-1}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(call(c.fn, c.args, c.refs), err::EXPECT_ARG);
    }
}

TEST_F(ControlChecks, AllowedArgumentsGetThrough) {
    const Cell blk = testutil::block_of({});
    const Cell word = testutil::word_cell("x");
    Cell result{};
    // Counts below one run nothing and answer none, floats included.
    EXPECT_EQ(call(natives::native_loop, {int_cell(0), blk}, {}, &result), 0);
    EXPECT_EQ(cell::type_of(&result), TYPE_NONE);
    EXPECT_EQ(call(natives::native_repeat, {word, float_cell(0.9), blk}, {}, &result), 0);
    EXPECT_EQ(cell::type_of(&result), TYPE_NONE);
    // Every series type and map! pass foreach's typeset: an empty string
    // runs no turn, and a single word over a map fails later, on its own
    // error.
    EXPECT_EQ(call(natives::native_foreach, {word, testutil::string_of(""), blk}, {}, &result), 0);
    EXPECT_EQ(cell::type_of(&result), TYPE_UNSET);
    EXPECT_EQ(call(natives::native_foreach, {word, Cell{TYPE_MAP, 0, blk.data2, 0}, blk}, {}), err::INVALID_ARG);
    EXPECT_EQ(call(natives::native_remove_each, {word, testutil::string_of("", TYPE_FILE), blk}, {}, &result), 0);
    EXPECT_EQ(call(natives::native_case, {blk}, {-1}, &result), 0);
    EXPECT_EQ(cell::type_of(&result), TYPE_NONE);
}

TEST_F(ControlChecks, FloatCountsNoIntegerHoldsAreOverflows) {
    const Cell blk = testutil::block_of({});
    for (double d : {2147483648.0, -2147483649.0, 1e300, -1e300, std::nan("")}) {
        SCOPED_TRACE(d);
        EXPECT_EQ(call(natives::native_loop, {float_cell(d), blk}, {}), err::OVERFLOW);
    }
    // Truncation toward zero brings these into range.
    Cell result{};
    EXPECT_EQ(call(natives::native_loop, {float_cell(-2147483648.9), blk}, {}, &result), 0);
    EXPECT_EQ(cell::type_of(&result), TYPE_NONE);
}

}  // namespace
}  // namespace qel
