// bitset!: the stored bytes of a complement and the mold budget. What a
// script sees (the spec language of make, membership, changes, bitwise
// operations, order, text) is tested in tests/lang/sets/bitset_cases.qel.
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
    static Cell not_word() { return word::make_from_symbol(words::sym_not); }
    static Cell make(const Cell& spec) { return make_value(TYPE_BITSET, spec); }
    static bool complement_flag(const Cell& bits) { return bitset::is_complement(series_node(bits)); }
};

TEST_F(BitsetTest, AComplementStoresTheInvertedBytes) {
    const Cell nb = make(block_cell({not_word(), binary_cell({0xF0})}));
    EXPECT_TRUE(complement_flag(nb));
    EXPECT_EQ(bitset::data_ptr(&nb)[0], 0x0F);
}

TEST_F(BitsetTest, MoldStopsAfterTheByteThatCrossesTheLimit) {
    const Cell a = make(string_cell("a"));
    const node_t out = text::make_buffer(16);
    EXPECT_EQ(actions::mold(&a, out, datatype::MoldOptions{.part = true}, 18, 0), -1);
    EXPECT_EQ(text::to_utf8(out), "make bitset! #{0000");
}

}  // namespace
}  // namespace qel
