// float!: what the language cannot reach. The number formatter's kinds
// and its plain (not pretty) mode that no value's text uses yet, and
// float!'s hand-over of money! operands. Everything
// a script can write is tested in tests/lang/numbers/float_cases.qel.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>

#include "datatypes/float.hpp"
#include "datatypes/money.hpp"
#include "runtime/actions.hpp"
#include "runtime/stack.hpp"
#include "runtime/errors.hpp"
#include "startup_support.hpp"

namespace qel {
namespace {

Cell flt(double d) {
    Cell c{TYPE_FLOAT, 0, 0, 0};
    cell::put_double(&c, d);
    return c;
}

std::string format_number(double v, int32_t kind) {
    char buf[float_type::FORMAT_MAX];
    const size_t n = float_type::format_number(v, kind, buf);
    EXPECT_EQ(n, std::strlen(buf));
    return buf;
}

// Restores the pretty-print flag whatever a test does to it.
struct PrettyPrint {
    explicit PrettyPrint(bool on) : saved(float_type::pretty_print) { float_type::pretty_print = on; }
    ~PrettyPrint() { float_type::pretty_print = saved; }
    bool saved;
};

TEST(FloatFormatNumber, KindsAndPlainMode) {
    struct Case {
        double value;
        int32_t kind;
        bool pretty;
        const char* text;
    };
    using namespace float_type;
    const Case cases[] = {
        {0.57 * 100, KIND_FLOAT, false, "56.99999999999999"},
        {1.5e-20, KIND_FLOAT, false, "1.5e-20"},
        {0.0, KIND_FLOAT, false, "0.0"},
        {-0.0, KIND_FLOAT, false, "-0.0"},
        {5e-324, KIND_FLOAT, false, "4.940656458412465e-324"},
        {0.0, KIND_PERCENT, false, "0%"},
        {1.0 / 3, KIND_FLOAT32, true, "0.3333333"},
        {2.0, KIND_FLOAT32, true, "2.0"},
        {1.0 / 3 * 100, KIND_PERCENT32, true, "33.33333%"},
        // The time's own text carries this into the minutes.
        {59.9999999, KIND_SECONDS, true, "60"},
        {1e-20, KIND_POINT, false, "1e-20"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        PrettyPrint p(c.pretty);
        EXPECT_EQ(format_number(c.value, c.kind), c.text);
    }
}

class FloatActions : public testutil::StartedRuntime {};

TEST_F(FloatActions, MoneyIsHandedOverAndNoScale) {
    const Cell money{TYPE_MONEY, 0, 0, 0};
    {
        // 1.0 + $0 is computed by money!, which answers money.
        const Cell one = flt(1.0);
        stack::Saved saved;
        stack::arg_base = stack::arg_top;
        stack::push(&one);
        stack::push(&money);
        actions::slot<datatype::ADD>(&one)();
        EXPECT_EQ(cell::type_of(stack::arg_base), TYPE_MONEY);
        EXPECT_EQ(money::amount_of(stack::arg_base), money::UNIT);
    }
    auto round = datatype::action<datatype::ROUND>(TYPE_FLOAT);
    Cell v = flt(1.0), s = money;
    EXPECT_EQ(testutil::raised([&] { round(&v, {.scale = &s}); }), err::NOT_RELATED);
}

TEST_F(FloatActions, ScalarOpTakesOnlyArithmeticSteps) {
    EXPECT_EQ(testutil::raised([] { float_type::scalar_op(1, 2, MathOp::Xor); }), err::CANNOT_USE);
}

}  // namespace
}  // namespace qel
