// bitset!: the spec language of make, membership beyond the stored bits
// under the complement flag, modification, the bitwise operations, ordering
// and the molded text that reads back through make.
#include <gtest/gtest.h>

#include "datatypes/bitset.hpp"
#include "runtime/errors.hpp"
#include "runtime/runtime_words.hpp"
#include "runtime/words.hpp"
#include "slot_support.hpp"
#include "startup_support.hpp"

namespace qel {
namespace {

using namespace testutil;

class BitsetTest : public StartedRuntime {
protected:
    static Cell dash() { return word::make_from_symbol(words::sym_dash); }
    static Cell not_word() { return word::make_from_symbol(words::sym_not); }
    static Cell make(const Cell& spec) { return make_value(TYPE_BITSET, spec); }
    static bool pick(const Cell& bits, const Cell& index) {
        Cell b = bits, i = index;
        return actions::slot<slot_fn::Pick>(&b, datatype::PICK)(&b, 0, &i)->data1;
    }
    static int32_t length(const Cell& bits) {
        Cell b = bits;
        return actions::slot<slot_fn::Length>(&b, datatype::LENGTH_Q)(&b);
    }
    static bool complement_flag(const Cell& bits) { return bitset::is_complement(bits.data2); }
};

TEST_F(BitsetTest, SpecLanguage) {
    const struct {
        const char* what;
        Cell spec;
        std::vector<int32_t> members;
        std::vector<int32_t> absent;
        int32_t bytes;
    } cases[] = {
        {"char", char_cell('a'), {97}, {96, 98, 1000}, 13},
        {"string", string_cell("ab"), {97, 98}, {99}, 13},
        {"string from index", string_cell("ab", 1), {98}, {97}, 13},
        {"range", block_cell({char_cell('a'), dash(), char_cell('c')}), {97, 98, 99}, {96, 100}, 13},
        {"integer range", block_cell({int_cell(0), dash(), int_cell(9)}), {0, 9}, {10}, 2},
        {"mixed", block_cell({int_cell(1), string_cell("A"), block_cell({char_cell(200)})}), {1, 65, 200}, {2}, 26},
        {"not", block_cell({not_word(), string_cell("ab")}), {0, 99, 100000}, {97, 98}, 13},
        {"not binary", block_cell({not_word(), binary_cell({0xF0})}), {4, 7, 8, 500}, {0, 3}, 1},
        {"count", int_cell(9), {}, {0, 8, 15, 16}, 2},
        {"float count", float_cell(16.0), {}, {0}, 2},
        {"binary", binary_cell({0x80, 0x01}), {0, 15}, {1, 14}, 2},
        {"empty block", block_cell({}), {}, {0}, 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const Cell b = make(c.spec);
        EXPECT_EQ(cell::type_of(&b), TYPE_BITSET);
        EXPECT_EQ(length(b), c.bytes * 8);
        for (int32_t m : c.members) EXPECT_TRUE(pick(b, int_cell(m))) << m;
        for (int32_t m : c.absent) EXPECT_FALSE(pick(b, int_cell(m))) << m;
    }
    const Cell nb = make(block_cell({not_word(), binary_cell({0xF0})}));
    EXPECT_TRUE(complement_flag(nb));
    EXPECT_EQ(bitset::data_ptr(&nb)[0], 0x0F);
}

TEST_F(BitsetTest, SpecErrors) {
    const struct {
        const char* what;
        Cell spec;
        bool to;
        int code;
    } cases[] = {
        {"reversed range", block_cell({char_cell('c'), dash(), char_cell('a')}), false, err::PAST_END},
        {"open range", block_cell({char_cell('a'), dash()}), false, err::PAST_END},
        {"mixed range", block_cell({char_cell('a'), dash(), int_cell(5)}), false, err::INVALID_ARG},
        {"negative count", int_cell(-1), false, err::OUT_OF_RANGE},
        {"negative member", block_cell({int_cell(-1)}), false, err::OUT_OF_RANGE},
        {"to from count", int_cell(8), true, err::BAD_TO_ARG},
        {"make from none", Cell{TYPE_NONE, 0, 0, 0}, false, err::BAD_MAKE_ARG},
        {"to from none", Cell{TYPE_NONE, 0, 0, 0}, true, err::BAD_TO_ARG},
        {"binary inside", block_cell({binary_cell({1})}), false, err::NOT_DONE},
        {"other string type", Cell{TYPE_FILE, 0, string_cell("a").data2, 0}, false, err::BAD_MAKE_ARG},
    };
    for (const auto& c : cases) EXPECT_EQ(make_error(TYPE_BITSET, c.spec, c.to), c.code) << c.what;
}

TEST_F(BitsetTest, GrowthAndTheComplementFlag) {
    Cell plain = make(string_cell("a"));
    Cell inverse = plain;
    actions::slot<slot_fn::Complement>(&inverse, datatype::COMPLEMENT)(&inverse);
    EXPECT_TRUE(complement_flag(inverse));
    EXPECT_FALSE(pick(plain, int_cell(1000)));
    EXPECT_TRUE(pick(inverse, int_cell(1000)));
    EXPECT_FALSE(pick(inverse, char_cell('a')));
    EXPECT_EQ(length(inverse), length(plain));

    auto append = actions::slot<slot_fn::Insert>(&plain, datatype::APPEND);
    Cell k = int_cell(1000);
    append(&plain, &k, -1, false, 1);
    EXPECT_EQ(length(plain), 126 * 8);
    EXPECT_TRUE(pick(plain, int_cell(1000)));
    EXPECT_FALSE(pick(plain, int_cell(999)));
    append(&inverse, &k, -1, false, 1);
    EXPECT_EQ(length(inverse), 13 * 8);

    // Clearing a member past the stored bits of a complement grows it, and
    // the new bytes are members.
    auto poke = actions::slot<slot_fn::Poke>(&inverse, datatype::POKE);
    Cell f = logic_cell(false);
    Cell m = int_cell(2000);
    poke(&inverse, 0, &f, &m);
    EXPECT_FALSE(pick(inverse, int_cell(2000)));
    EXPECT_TRUE(pick(inverse, int_cell(1999)));
    EXPECT_TRUE(pick(inverse, int_cell(2001)));
}

TEST_F(BitsetTest, PokeFindRemoveAndClear) {
    Cell b = make(int_cell(64));
    auto poke = actions::slot<slot_fn::Poke>(&b, datatype::POKE);
    const struct {
        Cell value;
        bool member;
    } cases[] = {
        {logic_cell(true), true},  {logic_cell(false), false}, {int_cell(1), true},
        {int_cell(0), false},      {Cell{TYPE_NONE, 0, 0, 0}, false}, {float_cell(0.5), true},
        {float_cell(0.0), false},  {string_cell(""), true},
    };
    for (const auto& c : cases) {
        Cell v = c.value, i = char_cell(5);
        poke(&b, 0, &v, &i);
        EXPECT_EQ(pick(b, int_cell(5)), c.member);
    }
    Cell s = string_cell("ab");
    Cell* found = actions::slot<slot_fn::Find>(&b, datatype::FIND)(&b, &s, nullptr, false, false, false, false,
                                                                    nullptr, nullptr, false, false, false, false);
    EXPECT_EQ(cell::type_of(found), TYPE_NONE);
    auto append = actions::slot<slot_fn::Insert>(&b, datatype::INSERT);
    append(&b, &s, -1, false, 1);
    EXPECT_TRUE(pick(b, block_cell({char_cell('a'), string_cell("b")})));

    auto remove = actions::slot<slot_fn::Remove>(&b, datatype::REMOVE);
    EXPECT_EQ(raised([&] { remove(&b, nullptr, nullptr); }), err::MISSING_ARG);
    Cell a = char_cell('a');
    remove(&b, &a, nullptr);
    EXPECT_FALSE(pick(b, char_cell('a')));
    EXPECT_TRUE(pick(b, char_cell('b')));

    const int32_t before = length(b);
    actions::slot<slot_fn::Clear>(&b, datatype::CLEAR)(&b);
    EXPECT_EQ(length(b), before);
    EXPECT_FALSE(pick(b, char_cell('b')));
    EXPECT_FALSE(pick(b, int_cell(-1)));
}

TEST_F(BitsetTest, BitwiseOperations) {
    const Cell ab = make(string_cell("ab"));                              // 13 bytes
    const Cell bc_long = make(block_cell({string_cell("bc"), int_cell(200)}));  // 26 bytes
    const Cell not_b = make(block_cell({not_word(), string_cell("b")}));
    const struct {
        int32_t code;
        Cell a, b;
        std::vector<int32_t> members, absent;
        bool flag;
        int32_t bytes;
    } cases[] = {
        {9, ab, bc_long, {97, 98, 99, 200}, {100}, false, 26},
        {10, ab, bc_long, {98}, {97, 99, 200}, false, 26},
        {12, ab, bc_long, {97, 99, 200}, {98}, false, 26},
        {11, ab, bc_long, {97}, {98, 99, 200}, false, 26},
        {11, bc_long, ab, {99, 200}, {97, 98}, false, 26},
        // Exactly one complement operand gives a complement result.
        {9, ab, not_b, {97, 98, 5000}, {}, true, 13},
        {10, not_b, not_b, {97}, {98, 5000}, false, 13},
    };
    for (size_t i = 0; i < std::size(cases); i++) {
        const auto& c = cases[i];
        SCOPED_TRACE(i);
        stack::Saved saved;
        stack::arg_base = stack::arg_top;
        stack::push(&c.a);
        stack::push(&c.b);
        bitset::do_bitwise(c.code);
        const Cell r = *stack::arg_base;
        EXPECT_EQ(complement_flag(r), c.flag);
        EXPECT_EQ(length(r), c.bytes * 8);
        for (int32_t m : c.members) EXPECT_TRUE(pick(r, int_cell(m))) << m;
        for (int32_t m : c.absent) EXPECT_FALSE(pick(r, int_cell(m))) << m;
    }
    const Cell o = run_direct(datatype::OR_T, ab, bc_long);
    EXPECT_TRUE(pick(o, int_cell(200)));
    EXPECT_EQ(direct_error(datatype::AND_T, ab, int_cell(1)), err::INVALID_TYPE);
}

TEST_F(BitsetTest, CompareOrdersByLengthFlagAndBytes) {
    const Cell a = make(string_cell("a"));
    const Cell a_long = make(block_cell({char_cell('a'), int_cell(1000)}));
    const Cell b = make(string_cell("b"));
    const Cell not_a = make(block_cell({not_word(), string_cell("a")}));
    const Cell a_copy = make(a);
    EXPECT_EQ(compared(a, a_copy, 0), 0);
    EXPECT_EQ(compared(a, a_copy, 9), 1);
    EXPECT_EQ(compared(a, a, 9), 0);
    EXPECT_EQ(compared(a, a_long, 3), -1);
    // Same members, other lengths: never equal.
    Cell a_grown = make(a);
    Cell zero = int_cell(1000);
    Cell f = logic_cell(false);
    actions::slot<slot_fn::Poke>(&a_grown, datatype::POKE)(&a_grown, 0, &f, &zero);
    EXPECT_EQ(compared(a, a_grown, 0), 0);  // clearing an absent member does not grow it
    EXPECT_EQ(compared(a, b, 0), 1);
    EXPECT_EQ(compared(b, a, 3), -1);  // 'b' sets a lower bit of the same byte
    EXPECT_EQ(compared(a, not_a, 3), -1);
    EXPECT_EQ(compared(make(int_cell(0)), make(int_cell(0)), 0), 0);
    EXPECT_EQ(compared(a, int_cell(1), 0), -2);
}

TEST_F(BitsetTest, MoldReadsBackThroughMake) {
    const Cell a = make(string_cell("a"));
    const std::string zeros(24, '0');
    EXPECT_EQ(molded(a), "make bitset! #{" + zeros + "40}");
    EXPECT_EQ(formed(a), molded(a));
    const Cell not_a = make(block_cell({not_word(), string_cell("a")}));
    EXPECT_EQ(molded(not_a), "make bitset! [not #{" + zeros + "40}]");
    // Reading back: the text's [not #{...}] is the spec of an equal bitset.
    const Cell back = make(block_cell({not_word(), binary_cell({0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x40})}));
    EXPECT_EQ(compared(back, not_a, 0), 0);
    EXPECT_EQ(molded(make(int_cell(0))), "make bitset! #{}");

    const node_t out = text::make_buffer(16);
    EXPECT_EQ(actions::mold(&a, out, false, false, false, true, 18, 0), -1);
    EXPECT_EQ(text::to_utf8(out), "make bitset! #{0000");
}

TEST_F(BitsetTest, PathAccessAndCopy) {
    Cell b = make(string_cell("a"));
    auto path = actions::slot<slot_fn::EvalPath>(&b, datatype::EVAL_PATH);
    Cell idx = char_cell('a');
    EXPECT_EQ(path(&b, &idx, nullptr, nullptr, nullptr, nullptr, 0, false, true, true, false)->data1, 1u);
    Cell t = logic_cell(true), i2 = int_cell(3);
    path(&b, &i2, &t, nullptr, nullptr, nullptr, 0, false, false, true, false);
    EXPECT_TRUE(pick(b, int_cell(3)));
    Cell w = not_word();
    EXPECT_EQ(raised([&] { path(&b, &w, nullptr, nullptr, nullptr, nullptr, 0, false, true, true, false); }),
              err::INVALID_TYPE);

    Cell copy{};
    actions::slot<slot_fn::Copy>(&b, datatype::COPY)(&b, &copy, nullptr, false, nullptr);
    EXPECT_NE(copy.data2, b.data2);
    EXPECT_EQ(compared(copy, b, 0), 0);
    Cell n = b;
    actions::slot<slot_fn::Negate>(&n, datatype::NEGATE)(&n);
    EXPECT_TRUE(complement_flag(n));
    EXPECT_FALSE(complement_flag(b));
}

}  // namespace
}  // namespace qel
