// The set-operation, math and encoding natives called directly, without
// the caller's spec check: they check their own argument types, so a value
// of a type the native cannot take raises expect-arg before any payload is
// read as the wrong type, and an allowed value gets through.
// The scripts in tests/lang/sets, tests/lang/math and tests/lang/encoding
// cover the natives at work, and tests/lang/control/argument_types_cases.qel
// the same arguments in calls from a script.
#include <gtest/gtest.h>

#include <vector>

#include "evaluator/native_fns.hpp"
#include "evaluator/natives.hpp"
#include "startup_support.hpp"
#include "value_builders.hpp"

namespace qel {
namespace {

using testutil::int_cell;

class ValueNativeChecks : public testutil::StartedRuntime {
protected:
    static int call(natives::NativeFn fn, const std::vector<Cell>& args, const std::vector<int32_t>& refs,
                    Cell* result = nullptr) {
        return testutil::call_checked(fn, args, refs, result);
    }
};

TEST_F(ValueNativeChecks, ArgumentsOfOtherTypesRaiseExpectArg) {
    const Cell blk = testutil::block_of({});
    const Cell text = testutil::string_of("ab");
    const Cell one = int_cell(1);
    const Cell chr = testutil::character('a');
    const Cell none = testutil::none_cell();
    struct Case {
        const char* name;
        natives::NativeFn fn;
        std::vector<Cell> args;
        std::vector<int32_t> refs;
    };
    const Case cases[] = {
        {"union of integers", natives::native_union, {one, one}, {-1, -1}},
        {"unique of none", natives::native_unique, {none}, {-1, -1}},
        {"union with a string skip", natives::native_union, {blk, blk, text}, {-1, 2}},
        {"negative? of a char", natives::native_negative_q, {chr}, {}},
        {"sign? of a string", natives::native_sign_q, {text}, {}},
        {"NaN? of a block", natives::native_NaN_q, {blk}, {}},
        {"shift of a string", natives::native_shift, {text, one}, {-1, -1}},
        {"shift by none", natives::native_shift, {one, none}, {-1, -1}},
        {"to-hex of a char", natives::native_to_hex, {chr}, {-1}},
        {"to-hex with a string size", natives::native_to_hex, {one, text}, {1}},
        {"sine of a string", natives::native_sine, {text}, {-1}},
        {"arctangent2 of a block", natives::native_arctangent2, {one, blk}, {-1}},
        {"log-e of none", natives::native_log_e, {none}, {}},
        {"dehex of a block", natives::native_dehex, {blk}, {}},
        {"enhex of an integer", natives::native_enhex, {one}, {}},
        {"uppercase of a block", natives::native_uppercase, {blk}, {-1}},
        {"lowercase with a block limit", natives::native_lowercase, {text, blk}, {1}},
        {"to-local-file of an integer", natives::native_to_local_file, {one}, {-1}},
        {"as-pair of a string", natives::native_as_pair, {text, one}, {}},
        {"as-point3D of none", natives::native_as_point3D, {one, one, none}, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(call(c.fn, c.args, c.refs), err::EXPECT_ARG);
    }
}

TEST_F(ValueNativeChecks, AllowedArgumentsGetThrough) {
    Cell result{};
    EXPECT_EQ(call(natives::native_shift, {int_cell(-8), int_cell(1)}, {-1, 1}, &result), 0);
    EXPECT_EQ(integer_value(result), 2147483644);
    EXPECT_EQ(call(natives::native_sign_q, {int_cell(-3)}, {}, &result), 0);
    EXPECT_EQ(integer_value(result), -1);
    EXPECT_EQ(call(natives::native_uppercase, {testutil::character('q')}, {-1}, &result), 0);
    EXPECT_EQ(char_code(result), static_cast<uint32_t>('Q'));
    // zero? answers false for any type it has no zero for.
    EXPECT_EQ(call(natives::native_zero_q, {testutil::string_of("")}, {}, &result), 0);
    EXPECT_EQ(cell::type_of(&result), TYPE_LOGIC);
    EXPECT_EQ(logic_value(result), 0u);
}

}  // namespace
}  // namespace qel
