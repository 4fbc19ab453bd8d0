// typeset!: the bit layout the argument checks read, the operations no
// native hands over (exclude of a datatype, unique), the count of a
// complement, the mold budget and the helpers that build typesets from
// function specs. What a script sees is tested in
// tests/lang/sets/typeset_cases.qel.
#include <gtest/gtest.h>

#include "datatypes/typeset.hpp"
#include "runtime/checks.hpp"
#include "runtime/errors.hpp"
#include "runtime/symbols.hpp"
#include "runtime/words.hpp"
#include "slot_support.hpp"
#include "startup_support.hpp"

namespace qel {
namespace {

using namespace testutil;

class TypesetTest : public StartedRuntime {
protected:
    static Cell of(std::initializer_list<uint32_t> types) {
        Cell ts{TYPE_TYPESET, 0, 0, 0};
        for (uint32_t t : types) typeset::set_bit(&ts, t);
        return ts;
    }
};

TEST_F(TypesetTest, BitLayoutAgreesWithTheArgumentChecks) {
    for (uint32_t t = 0; t < typeset::BITS; t++) {
        const Cell ts = of({t});
        EXPECT_TRUE(err::typeset_has(&ts, t)) << t;
        EXPECT_FALSE(err::typeset_has(&ts, t ^ 1)) << t;
    }
    // Byte 0 of word 1 holds ids 0-7, the high bit first.
    EXPECT_EQ(payload_word(of({TYPE_DATATYPE}), 0), 0x40u);
    EXPECT_EQ(payload_word(of({TYPE_BLOCK}), 0), 0x04u);
}

TEST_F(TypesetTest, OperationsNoNativeHandsOver) {
    const Cell num = of({TYPE_INTEGER, TYPE_FLOAT});
    const struct {
        SetOp code;
        Cell b;
        Cell expect;
    } cases[] = {
        {SetOp::Exclude, type_cell(TYPE_FLOAT), of({TYPE_INTEGER})},
        {SetOp::Unique, type_cell(TYPE_BLOCK), num},
    };
    for (const auto& c : cases) {
        stack::Saved saved;
        stack::arg_base = stack::arg_top;
        stack::push(&num);
        stack::push(&c.b);
        typeset::do_bitwise(c.code);
        EXPECT_EQ(compared(*stack::arg_base, c.expect, CompareOp::Equal), 0) << static_cast<int32_t>(c.code);
    }
}

TEST_F(TypesetTest, ComplementCountsOnlyRegisteredTypes) {
    Cell empty = of({});
    Cell all = *actions::slot<datatype::COMPLEMENT>(&empty)(&empty);
    EXPECT_EQ(payload_word(all, 0) & payload_word(all, 1) & payload_word(all, 2), 0xFFFFFFFFu);
    Cell listed = of({});
    for (uint32_t t = 1; t <= datatype::highest(); t++) typeset::set_bit(&listed, t);
    EXPECT_EQ(typeset::count(&all), typeset::count(&listed));
}

TEST_F(TypesetTest, MoldBudget) {
    const Cell ts = of({TYPE_FLOAT, TYPE_INTEGER});
    const node_t out = text::make_buffer(16);
    EXPECT_EQ(actions::mold(&ts, out, datatype::MoldOptions{.part = true}, 10, 0), -5);
    EXPECT_EQ(text::to_utf8(out), "make typeset! [");
}

TEST_F(TypesetTest, BlockHelpers) {
    const Cell block = block_cell({});
    // A word whose value is a word names an object class; nested blocks
    // (argument documentation) are skipped.
    Cell cls = word::make_from_symbol(symbol::intern_cstr("class-word"));
    const Cell target = word::make_from_symbol(symbol::intern_cstr("point"));
    word::set(&cls, &target);
    const Cell spec = block_cell({type_cell(TYPE_STRING), block_cell({}), cls});
    const Cell ts = *typeset::append_from_block(&block, &spec);
    EXPECT_EQ(compared(ts, of({TYPE_STRING, TYPE_OBJECT}), CompareOp::Equal), 0);
    const Cell bad = block_cell({int_cell(3)});
    EXPECT_EQ(raised([&] { typeset::append_from_block(&block, &bad); }), err::INVALID_TYPE_SPEC);

    const Cell all = *typeset::append_all_types(&block);
    EXPECT_FALSE(typeset::has(&all, TYPE_UNSET));
    EXPECT_TRUE(typeset::has(&all, TYPE_NONE));
}

// has_all_but_unset: every bit set with unset!'s either way; any other
// bit missing, in any of the three words, fails.
TEST_F(TypesetTest, AllButUnsetTakesEveryBitButUnsets) {
    const Cell block = block_cell({});
    const Cell all = *typeset::append_all_types(&block);
    Cell with_unset = all;
    typeset::set_bit(&with_unset, TYPE_UNSET);
    EXPECT_TRUE(typeset::has_all_but_unset(&all));
    EXPECT_TRUE(typeset::has_all_but_unset(&with_unset));
    for (uint32_t t = 0; t < typeset::BITS; t++) {
        if (t == TYPE_UNSET) continue;
        Cell missing{TYPE_TYPESET, 0, 0, 0};
        for (uint32_t k = 0; k < typeset::BITS; k++)
            if (k != t) typeset::set_bit(&missing, k);
        EXPECT_FALSE(typeset::has_all_but_unset(&missing)) << t;
    }
    const Cell empty{TYPE_TYPESET, 0, 0, 0};
    EXPECT_FALSE(typeset::has_all_but_unset(&empty));
}

// The numbers that compare with each other across their types: exactly
// integer!, float! and percent! among all type ids.
TEST(TypeSetPredicates, IntegerFloatOrPercent) {
    for (uint32_t t = 0; t <= cell_flag::TYPE_MASK; ++t)
        EXPECT_EQ(is_integer_float_or_percent(t), t == TYPE_INTEGER || t == TYPE_FLOAT || t == TYPE_PERCENT) << t;
}

}  // namespace
}  // namespace qel
