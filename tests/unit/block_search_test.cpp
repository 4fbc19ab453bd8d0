// Block sorting and set operations where a script cannot reach: the order
// read from each kind of answer of a compare function, and unique on a
// paren!, which the natives refuse. What a script sees of find, select,
// sort and the set operations on blocks and hashes is tested in
// tests/lang/blocks/block_search_cases.qel.
#include <cmath>

#include "block_values.hpp"

namespace qel {
namespace {

using testutil::BlockValues;
using testutil::integer_value;
using testutil::molded;
using testutil::read_values;
using testutil::word_value;

class BlockSearch : public BlockValues {};

TEST_F(BlockSearch, ComparatorResultOrders) {
    Cell pi{TYPE_FLOAT, 0, 0, 0}, minus{TYPE_FLOAT, 0, 0, 0}, nan{TYPE_FLOAT, 0, 0, 0};
    cell::put_double(&pi, 3.14);
    cell::put_double(&minus, -0.5);
    cell::put_double(&nan, std::nan(""));
    struct Case {
        Cell result;
        int32_t order;
    } cases[] = {
        {shared::true_value, 1},       {Cell{TYPE_LOGIC, 0, 0, 0}, -1}, {integer_value(5), -1},
        {integer_value(-5), 1},        {integer_value(INT32_MIN), 1},   {integer_value(0), 0},
        {pi, -1},                      {minus, 1},                      {nan, 0},
        {shared::none, -1},            {word_value("w"), 1},
    };
    Cell t{TYPE_LOGIC, 1, 0, 0};
    cases[0].result = t;
    for (const Case& c : cases) EXPECT_EQ(block::comparator_order(&c.result), c.order) << molded(c.result);
}

TEST_F(BlockSearch, UniqueOfAParenFromItsIndexKeepsTheType) {
    Cell a = testutil::at_index(read_values("1 1 2 1", TYPE_PAREN), 1);
    block::set_op(SetOp::Unique, &a, nullptr, false, nullptr);
    EXPECT_EQ(molded(a), "(1 2)");
}

}  // namespace
}  // namespace qel
