// percent!: its text (the value times 100, ending in "%", the same for
// form and mold) and the float! behaviour it inherits.
#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "datatypes/float.hpp"
#include "datatypes/percent.hpp"
#include "datatypes/text.hpp"
#include "evaluator/actions.hpp"
#include "evaluator/stack.hpp"
#include "startup_support.hpp"

namespace qel {
namespace {

class Percent : public testutil::StartedRuntime {
protected:
    static Cell pct(double d) {
        Cell c{0, 0, 0, 0};
        return *percent_type::make_at(&c, d);
    }
    static std::string text_of(const Cell& v, bool mold) {
        const node_t out = text::make_buffer(40);
        if (mold) actions::mold(&v, out, false, false, false, false, 1000, 0);
        else actions::form(&v, out, false, 1000);
        return text::to_utf8(out);
    }
};

TEST_F(Percent, FormAndMoldWriteThePercentage) {
    struct Case {
        double value;
        const char* text;
    };
    const Case cases[] = {
        {0.5, "50%"},       {0.0, "0%"},          {1.0, "100%"},   {0.125, "12.5%"},
        {-0.015, "-1.5%"},  {0.0057, "0.57%"},    {1e-10, "1e-8%"},
        {2.5e17, "2.5e19%"}, {1.0 / 3, "33.33333333333%"}, {HUGE_VAL, "1.#INF"},
        {std::nan(""), "1.#NaN"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(text_of(pct(c.value), false), c.text);
        EXPECT_EQ(text_of(pct(c.value), true), c.text);
    }
}

TEST_F(Percent, InheritsFloatArithmeticAndComparison) {
    stack::Saved saved;
    stack::arg_base = stack::arg_top;
    const Cell half = pct(0.5);
    stack::push(&half);
    stack::push(&half);
    action_as<slot_fn::Direct>(actions::lookup_or_raise(&half, datatype::ADD))();
    EXPECT_EQ(cell::type_of(stack::arg_base), TYPE_PERCENT);
    EXPECT_EQ(text_of(*stack::arg_base, true), "100%");
    const Cell f = *float_type::push(0.5);
    EXPECT_TRUE(actions::compare(&half, &f, 0));
    EXPECT_FALSE(actions::compare(&half, &f, 2));
    EXPECT_EQ(datatype::action(TYPE_PERCENT, datatype::ROUND), datatype::action(TYPE_FLOAT, datatype::ROUND));
    EXPECT_EQ(datatype::action(TYPE_PERCENT, datatype::APPEND), nullptr);
}

TEST_F(Percent, CellRoutines) {
    Cell c{0x40000000, 0, 0, 0};  // a new-line flag survives
    percent_type::make_from_words(&c, 0, 0x3FE00000);
    EXPECT_EQ(c.header, 0x40000000u | TYPE_PERCENT);
    EXPECT_EQ(cell::get_double(&c), 0.5);
    stack::Saved saved;
    stack::arg_base = stack::arg_top;
    const Cell* p = percent_type::push(0.25);
    EXPECT_EQ(cell::type_of(p), TYPE_PERCENT);
    EXPECT_EQ(percent_type::get_top(), 0.25);
}

}  // namespace
}  // namespace qel
