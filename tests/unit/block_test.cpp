// block!: what the language cannot see of it: the cycle stack after a
// copy or a compare of blocks that hold themselves, the size an empty
// make reserves, and the routines the rest of the runtime builds and edits
// blocks with. What a script sees of the block actions is tested in
// tests/lang/blocks/block_cases.qel.
#include <gtest/gtest.h>

#include "datatypes/block.hpp"
#include "datatypes/series.hpp"
#include "evaluator/action_entries.hpp"
#include "runtime/actions.hpp"
#include "runtime/cycles.hpp"
#include "startup_support.hpp"
#include "value_builders.hpp"

namespace {

using namespace qel;
using namespace qel::testutil;
using Block = StartedRuntime;

Cell a() { return word_cell("a"); }
Cell b() { return word_cell("b"); }
Cell c() { return word_cell("c"); }
Cell t() { return logic_cell(true); }
Cell f() { return logic_cell(false); }
Cell n() { return none_cell(); }

TEST_F(Block, CopyOfABlockHoldingItselfRaisesAndLeavesNoCycleEntries) {
    Cell* self = arg(block_of({t()}));
    Cell* v = arg(*self);
    actions::append(self, v, nullptr, true, nullptr);
    Cell* result = arg(n());
    EXPECT_EQ(raised([&] { block::copy(self, result, nullptr, true, nullptr); }), err::NO_CYCLE);
    EXPECT_EQ(cycles::depth(), 0u);
    EXPECT_EQ(raised([&] { block::copy_cells(self, true, false); }), err::NO_CYCLE);
    EXPECT_EQ(cycles::depth(), 0u);
}

TEST_F(Block, MakeOfNoCellsReservesOne) {
    Cell* zero = arg(int_cell(0));
    const Cell* empty = block::make(zero, zero, TYPE_BLOCK);
    EXPECT_EQ(series::buffer_of(series_node(empty))->size, sizeof(Cell));
}

TEST_F(Block, CompareOfBlocksHoldingThemselvesEnds) {
    Cell* x = arg(block_of({t()}));
    Cell* y = arg(block_of({t()}));
    actions::append(x, arg(*x), nullptr, true, nullptr);
    actions::append(y, arg(*y), nullptr, true, nullptr);
    EXPECT_EQ(block::compare(x, y, CompareOp::Equal), 0);
    EXPECT_EQ(cycles::depth(), 0u);
}


TEST_F(Block, RemoveValueReportsWhetherTheIndexMustStepBack) {
    struct Case {
        uint32_t index;
        bool from_head;
        Cell value;
        bool removed_before, changed;
    };
    const Case cases[] = {
        {1, true, t(), true, true},  {1, false, t(), false, true}, {0, false, f(), false, true},
        {2, false, n(), true, true}, {0, true, datatype_of(TYPE_BLOCK), false, false},
    };
    for (const Case& k : cases) {
        Cell* blk = arg(at_index(block_of({t(), f(), n(), t()}), k.index));
        const bool before = block::remove_value(blk, &k.value, k.from_head);
        EXPECT_EQ(before, k.removed_before) << k.index << " " << show(k.value);
        EXPECT_EQ(series::total_length(blk), k.changed ? 3u : 4u);
    }
}


TEST_F(Block, BuildingRoutines) {
    Cell* blk = arg(at_index(block_of({c(), b(), a()}), 1));
    block::append_all(blk, blk);
    EXPECT_EQ(show(at_index(*blk, 0)), "[c b a b a]");

    Cell* parent = arg(block_of({a()}));
    block::make_in(parent, 2);
    block::make_in(parent, 2);
    EXPECT_EQ(show(*parent), "[a [] []]");
}

}  // namespace
