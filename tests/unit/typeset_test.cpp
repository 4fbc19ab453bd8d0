// typeset!: making from blocks of types, membership, the bitwise and set
// operations, complement, ordering and the molded text.
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
    static bool found(const Cell& ts, const Cell& value) {
        Cell t = ts, v = value;
        return actions::slot<slot_fn::Find>(&t, datatype::FIND)(&t, &v, nullptr, false, false, false, false, nullptr,
                                                                nullptr, false, false, false, false)
            ->data1;
    }
};

TEST_F(TypesetTest, BitLayoutAgreesWithTheArgumentChecks) {
    for (uint32_t t = 0; t < typeset::BITS; t++) {
        const Cell ts = of({t});
        EXPECT_TRUE(err::typeset_has(&ts, t)) << t;
        EXPECT_FALSE(err::typeset_has(&ts, t ^ 1)) << t;
    }
    // Byte 0 of word 1 holds ids 0-7, the high bit first.
    EXPECT_EQ(of({TYPE_DATATYPE}).data1, 0x40u);
    EXPECT_EQ(of({TYPE_BLOCK}).data1, 0x04u);
}

TEST_F(TypesetTest, MakeFromBlockAndFind) {
    const Cell spec = block_cell({type_cell(TYPE_INTEGER), type_cell(TYPE_FLOAT)});
    const Cell ts = make_value(TYPE_TYPESET, spec);
    EXPECT_EQ(typeset::count(&ts), 2);
    EXPECT_TRUE(found(ts, type_cell(TYPE_INTEGER)));
    EXPECT_FALSE(found(ts, type_cell(TYPE_STRING)));
    EXPECT_EQ(raised([&] { found(ts, int_cell(1)); }), err::INVALID_ARG);

    // A word naming a typeset brings in all its bits.
    Cell w = word::make_from_symbol(symbol::intern_cstr("number-like"));
    word::set(&w, &ts);
    const Cell with_word = make_value(TYPE_TYPESET, block_cell({w, type_cell(TYPE_CHAR)}));
    EXPECT_EQ(typeset::count(&with_word), 3);
    Cell unset_word = word::make_from_symbol(symbol::intern_cstr("nothing-here"));
    EXPECT_EQ(make_error(TYPE_TYPESET, block_cell({unset_word})), err::NO_VALUE);
    EXPECT_EQ(make_error(TYPE_TYPESET, block_cell({int_cell(1)})), err::INVALID_ARG);
    EXPECT_EQ(make_error(TYPE_TYPESET, int_cell(1)), err::BAD_TO_ARG);
    EXPECT_EQ(make_error(TYPE_TYPESET, int_cell(1), true), err::BAD_TO_ARG);
    const Cell same = make_value(TYPE_TYPESET, ts, true);
    EXPECT_EQ(compared(same, ts, 2), 0);
}

TEST_F(TypesetTest, BitwiseAndSetOperations) {
    const Cell num = of({TYPE_INTEGER, TYPE_FLOAT});
    const Cell str = of({TYPE_STRING, TYPE_FLOAT});
    const struct {
        int32_t code;
        Cell b;
        Cell expect;
    } cases[] = {
        {5, str, of({TYPE_INTEGER, TYPE_FLOAT, TYPE_STRING})},
        {9, str, of({TYPE_INTEGER, TYPE_FLOAT, TYPE_STRING})},
        {6, str, of({TYPE_FLOAT})},
        {10, str, of({TYPE_FLOAT})},
        {7, str, of({TYPE_INTEGER, TYPE_STRING})},
        {12, str, of({TYPE_INTEGER, TYPE_STRING})},
        {11, type_cell(TYPE_FLOAT), of({TYPE_INTEGER})},
        {6, type_cell(TYPE_INTEGER), of({TYPE_INTEGER})},
        {6, type_cell(TYPE_BLOCK), of({})},
        {8, type_cell(TYPE_BLOCK), num},
    };
    for (const auto& c : cases) {
        stack::Saved saved;
        stack::arg_base = stack::arg_top;
        stack::push(&num);
        stack::push(&c.b);
        typeset::do_bitwise(c.code);
        EXPECT_EQ(compared(*stack::arg_base, c.expect, 0), 0) << c.code;
    }
    const Cell r = run_direct(datatype::OR_T, num, type_cell(TYPE_BLOCK));
    EXPECT_TRUE(typeset::has(&r, TYPE_BLOCK));
    EXPECT_EQ(direct_error(datatype::AND_T, num, int_cell(1)), err::INVALID_ARG);
}

TEST_F(TypesetTest, ComplementFlipsEveryBit) {
    Cell empty = of({});
    Cell all = *actions::slot<slot_fn::Complement>(&empty, datatype::COMPLEMENT)(&empty);
    EXPECT_EQ(all.data1 & all.data2 & all.data3, 0xFFFFFFFFu);
    Cell listed = of({});
    for (uint32_t t = 1; t <= datatype::highest(); t++) typeset::set_bit(&listed, t);
    // Bits of id 0 and past the last type count for equality.
    EXPECT_EQ(compared(all, listed, 0), 1);
    EXPECT_EQ(typeset::count(&all), typeset::count(&listed));
}

TEST_F(TypesetTest, CompareAndOrdering) {
    const Cell one = of({TYPE_INTEGER});
    const Cell two = of({TYPE_INTEGER, TYPE_FLOAT});
    EXPECT_EQ(compared(one, two, 0), 1);
    EXPECT_EQ(compared(one, one, 9), 0);
    EXPECT_EQ(compared(one, two, 3), -2);
    EXPECT_EQ(compared(one, two, 7), -1);
    EXPECT_EQ(compared(two, one, 8), 1);
    EXPECT_EQ(compared(one, type_cell(TYPE_INTEGER), 0), -2);
    EXPECT_EQ(raised([&] { actions::compare(&one, &two, 3); }), err::INVALID_COMPARE);
}

TEST_F(TypesetTest, MoldAndForm) {
    const Cell ts = of({TYPE_FLOAT, TYPE_INTEGER});
    EXPECT_EQ(molded(ts), "make typeset! [integer! float!]");
    EXPECT_EQ(formed(ts), "make typeset! [integer! float!]");
    EXPECT_EQ(molded(ts, true), "integer! float!");
    EXPECT_EQ(molded(of({})), "make typeset! []");
    EXPECT_EQ(molded(of({}), true), "");
    const node_t out = text::make_buffer(16);
    EXPECT_EQ(actions::mold(&ts, out, false, false, false, true, 10, 0), -5);
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
    EXPECT_EQ(compared(ts, of({TYPE_STRING, TYPE_OBJECT}), 0), 0);
    const Cell bad = block_cell({int_cell(3)});
    EXPECT_EQ(raised([&] { typeset::append_from_block(&block, &bad); }), err::INVALID_TYPE_SPEC);

    const Cell all = *typeset::append_all_types(&block);
    EXPECT_FALSE(typeset::has(&all, TYPE_UNSET));
    EXPECT_TRUE(typeset::has(&all, TYPE_NONE));

    const Cell pair = of({TYPE_STRING, TYPE_INTEGER});
    Cell out{};
    typeset::to_block(&pair, &out);
    ASSERT_EQ(series::length_of(&out), 2);
    const Cell* cells = series::head_cell(series::buffer_of(out.data2));
    EXPECT_EQ(cells[0].data1, TYPE_STRING);
    EXPECT_EQ(cells[1].data1, TYPE_INTEGER);
}

}  // namespace
}  // namespace qel
