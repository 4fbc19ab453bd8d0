// unset!, none! and logic!: their texts, make and to, comparison, the truth
// tests, the bitwise actions, random, and none's lookups that answer none.
#include <gtest/gtest.h>

#include <cmath>

#include "datatypes/logic.hpp"
#include "datatypes/text.hpp"
#include "evaluator/action_entries.hpp"
#include "evaluator/actions.hpp"
#include "startup_support.hpp"
#include "value_builders.hpp"

namespace {

using namespace qel;
using namespace qel::testutil;
using Logic = StartedRuntime;

Cell float_of(double d, uint32_t type = TYPE_FLOAT) {
    Cell c{type, 0, 0, 0};
    cell::put_double(&c, d);
    return c;
}

TEST_F(Logic, FormAndMoldTextsAndBudgets) {
    struct Case {
        Cell value;
        bool mold, all;
        const char* text;
    };
    const Case cases[] = {
        {Cell{TYPE_UNSET, 0, 0, 0}, false, false, ""},
        {Cell{TYPE_UNSET, 0, 0, 0}, true, false, "unset"},
        {Cell{TYPE_UNSET, 0, 0, 0}, true, true, "#(unset)"},
        {none_cell(), false, false, "none"},
        {none_cell(), false, true, "none"},  // form ignores all
        {none_cell(), true, false, "none"},
        {none_cell(), true, true, "#(none)"},
        {logic_cell(true), false, false, "true"},
        {logic_cell(true), true, false, "true"},
        {logic_cell(true), true, true, "#(true)"},
        {logic_cell(false), false, false, "false"},
        {logic_cell(false), true, true, "#(false)"},
    };
    for (const Case& c : cases) {
        const node_t out = text::make_buffer(16);
        const int32_t left = c.mold ? actions::mold(&c.value, out, false, c.all, false, false, 100, 0)
                                    : actions::form(&c.value, out, false, 100);
        EXPECT_EQ(text::to_utf8(out), c.text) << show(c.value) << " mold " << c.mold << " all " << c.all;
        EXPECT_EQ(left, 100 - static_cast<int32_t>(std::strlen(c.text))) << c.text;
    }
}

TEST_F(Logic, MakeReadsNumbersWhileToOnlyAsksForNone) {
    struct Case {
        Cell spec;
        bool made, converted;
    };
    const Case cases[] = {
        {int_cell(0), false, true},
        {int_cell(2), true, true},
        {int_cell(-1), true, true},
        {float_of(0.0), false, true},
        {float_of(-0.0), false, true},
        {float_of(NAN), true, true},
        {float_of(0.0, TYPE_PERCENT), false, true},
        {float_of(0.5, TYPE_PERCENT), true, true},
        {none_cell(), false, false},
        {logic_cell(false), false, false},
        {logic_cell(true), true, true},
        {string_of("false"), true, true},
        {block_of({}), true, true},
    };
    for (const Case& c : cases) {
        Cell* spec = arg(c.spec);
        Cell* proto = arg(datatype_of(TYPE_LOGIC));
        const Cell* made = actions::slot<slot_fn::Make>(&shared::true_value, datatype::MAKE)(proto, spec, TYPE_LOGIC);
        ASSERT_EQ(cell::type_of(made), TYPE_LOGIC);
        EXPECT_EQ(made->data1, c.made) << show(c.spec);
        const Cell* to = actions::slot<slot_fn::Make>(&shared::true_value, datatype::TO)(proto, spec, TYPE_LOGIC);
        ASSERT_EQ(cell::type_of(to), TYPE_LOGIC);
        EXPECT_EQ(to->data1, c.converted) << show(c.spec);
    }
}

TEST_F(Logic, MakeOfUnsetAndNoneIgnoresTheSpec) {
    for (uint32_t t : {TYPE_UNSET, TYPE_NONE}) {
        const Cell proto = datatype_of(t);
        for (const Cell& spec : {int_cell(1), logic_cell(true), block_of({int_cell(1)})}) {
            Cell s = spec;
            for (uint32_t slot : {datatype::MAKE, datatype::TO}) {
                const Cell* r = action_as<slot_fn::Make>(datatype::action(t, slot))(const_cast<Cell*>(&proto), &s, t);
                EXPECT_EQ(cell::type_of(r), t);
            }
        }
    }
}

TEST_F(Logic, CompareAnswersEqualityButNoOrder) {
    struct Case {
        Cell a, b;
        int32_t op, answer;
    };
    const Cell unset{TYPE_UNSET, 0, 0, 0};
    const Case cases[] = {
        {logic_cell(true), logic_cell(true), 0, 0},   {logic_cell(true), logic_cell(false), 0, 1},
        {logic_cell(false), logic_cell(true), 1, -1}, {logic_cell(true), logic_cell(true), 9, 0},
        {logic_cell(true), logic_cell(false), 12, 1}, {logic_cell(true), logic_cell(false), 7, 1},
        {logic_cell(true), logic_cell(false), 3, -2}, {logic_cell(true), logic_cell(false), 4, -2},
        {logic_cell(true), logic_cell(false), 5, -2}, {logic_cell(true), logic_cell(false), 6, -2},
        {logic_cell(true), int_cell(1), 0, -2},   {none_cell(), none_cell(), 0, 0},
        {none_cell(), none_cell(), 3, -2},            {none_cell(), unset, 0, -2},
        {unset, unset, 2, 0},               {unset, none_cell(), 0, -2},
    };
    for (const Case& c : cases) {
        const auto f = actions::slot<slot_fn::Compare>(&c.a, datatype::COMPARE);
        EXPECT_EQ(f(&c.a, &c.b, c.op), c.answer) << show(c.a) << " " << show(c.b) << " op " << c.op;
    }
    EXPECT_EQ(raised([] { actions::compare(&shared::true_value, &shared::false_value, 3); }), err::INVALID_COMPARE);
    EXPECT_FALSE(actions::compare(&shared::true_value, &shared::none, 0));
}

TEST_F(Logic, OnlyNoneAndFalseAreFalse) {
    const Cell unset{TYPE_UNSET, 0, 0, 0};
    struct Case {
        Cell value;
        bool truth;
    };
    const Case cases[] = {
        {none_cell(), false},        {logic_cell(false), false},  {logic_cell(true), true},
        {int_cell(0), true},     {string_of(""), true},  {block_of({}), true},
        {unset, true},          {Cell{TYPE_LOGIC, 2, 0, 0}, true},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(logic::cell_true(&c.value, false, nullptr), c.truth) << show(c.value);
        stack::Saved saved;
        stack::arg_base = arg(c.value);
        EXPECT_EQ(logic::is_false(), !c.truth);
        EXPECT_EQ(logic::top_false(), !c.truth);
        EXPECT_EQ(logic::top_true(), c.truth);
    }
}

TEST_F(Logic, UnsetConditionsRaiseWhereAValueIsRequired) {
    const Cell unset{TYPE_UNSET, 0, 0, 0};
    const Cell name = word_cell("x");
    EXPECT_EQ(raised([&] { logic::cell_true(&unset, true, &name); }), err::NO_VALUE);
    stack::Saved saved;
    stack::arg_base = arg(unset);
    EXPECT_EQ(raised_at(stack::arg_base, [] { logic::true_value(); }), err::NO_RETURN);
    EXPECT_FALSE(logic::is_false());  // compiled-code tests count it as true
    *stack::arg_base = none_cell();
    EXPECT_FALSE(logic::true_value());
}

TEST_F(Logic, TopTestsReadTheLastCellOrTheBaseWhenNothingIsAbove) {
    stack::Saved saved;
    stack::arg_base = arg(none_cell());
    stack::arg_top = stack::arg_base;  // empty above the base: the base is read
    EXPECT_TRUE(logic::top_false());
    arg(logic_cell(true));
    EXPECT_FALSE(logic::top_false());
}

TEST_F(Logic, BitwiseActionsOnTheFirstTwoArguments) {
    struct Case {
        datatype::Slot slot;
        bool a, b, result;
    };
    const Case cases[] = {
        {datatype::AND_T, true, true, true},   {datatype::AND_T, true, false, false},
        {datatype::OR_T, false, false, false}, {datatype::OR_T, false, true, true},
        {datatype::XOR_T, true, true, false},  {datatype::XOR_T, true, false, true},
    };
    for (const Case& c : cases) {
        stack::Saved saved;
        stack::arg_base = arg(logic_cell(c.a));
        arg(logic_cell(c.b));
        actions::slot<slot_fn::Direct>(stack::arg_base, c.slot)();
        EXPECT_EQ(stack::arg_base->data1, c.result) << c.slot << " " << c.a << " " << c.b;
    }
}

TEST_F(Logic, BitwiseWithANonLogicRaisesAndLeavesTheFirstAlone) {
    for (datatype::Slot slot : {datatype::AND_T, datatype::OR_T, datatype::XOR_T}) {
        stack::Saved saved;
        stack::arg_base = arg(logic_cell(true));
        arg(int_cell(0));
        EXPECT_EQ(raised_at(stack::arg_base, [&] { actions::slot<slot_fn::Direct>(stack::arg_base, slot)(); }),
                  err::EXPECT_ARG);
        EXPECT_EQ(show(*stack::arg_base), "true");
    }
}

TEST_F(Logic, ComplementFlipsInPlace) {
    Cell* v = arg(logic_cell(false));
    EXPECT_EQ(show(*actions::slot<slot_fn::Complement>(v, datatype::COMPLEMENT)(v)), "true");
    EXPECT_EQ(show(*actions::slot<slot_fn::Complement>(v, datatype::COMPLEMENT)(v)), "false");
}

TEST_F(Logic, RandomSeedsRepeatablyAndDrawsBothValues) {
    auto draw = [] {
        Cell* v = arg(logic_cell(false));
        return logic::random(v, false, false, false)->data1;
    };
    Cell* seeded = arg(logic_cell(true));
    EXPECT_EQ(cell::type_of(logic::random(seeded, true, false, false)), TYPE_UNSET);
    std::vector<uint32_t> first;
    for (int i = 0; i < 64; i++) first.push_back(draw());
    logic::random(arg(logic_cell(true)), true, false, false);
    std::vector<uint32_t> second;
    for (int i = 0; i < 64; i++) second.push_back(draw());
    EXPECT_EQ(first, second);
    EXPECT_NE(std::count(first.begin(), first.end(), 1u), 0);
    EXPECT_NE(std::count(first.begin(), first.end(), 0u), 0);
    const Cell* secure = logic::random(arg(logic_cell(false)), false, true, false);
    EXPECT_EQ(cell::type_of(secure), TYPE_LOGIC);
}

TEST_F(Logic, LookupsOnNoneAnswerNone) {
    Cell* n = arg(none_cell());
    Cell* v = arg(int_cell(1));
    EXPECT_EQ(cell::type_of(actions::slot<slot_fn::Clear>(n, datatype::CLEAR)(n)), TYPE_NONE);
    EXPECT_EQ(cell::type_of(actions::slot<slot_fn::Find>(n, datatype::FIND)(n, v, nullptr, false, false, false, false,
                                                                             nullptr, nullptr, false, false, false,
                                                                             false)),
              TYPE_NONE);
    EXPECT_EQ(cell::type_of(actions::slot<slot_fn::Select>(n, datatype::SELECT)(n, v, nullptr, false, false, false,
                                                                                 false, nullptr, nullptr, false, false)),
              TYPE_NONE);
    EXPECT_EQ(cell::type_of(actions::slot<slot_fn::Remove>(n, datatype::REMOVE)(n, v, v)), TYPE_NONE);
    EXPECT_EQ(cell::type_of(actions::slot<slot_fn::Take>(n, datatype::TAKE)(n, v, true, true)), TYPE_NONE);
    EXPECT_EQ(show(actions::length(n)), "none");
}

TEST_F(Logic, ActionsWithoutASlotRaise) {
    Cell* t = arg(logic_cell(true));
    EXPECT_EQ(raised([&] { actions::slot<slot_fn::Clear>(t, datatype::CLEAR); }), err::EXPECT_ARG);
    Cell* n = arg(none_cell());
    EXPECT_EQ(raised([&] { actions::slot<slot_fn::Complement>(n, datatype::COMPLEMENT); }), err::EXPECT_ARG);
    Cell* u = arg(Cell{TYPE_UNSET, 0, 0, 0});
    EXPECT_EQ(raised([&] { actions::slot<slot_fn::Random>(u, datatype::RANDOM); }), err::EXPECT_ARG);
}

}  // namespace
