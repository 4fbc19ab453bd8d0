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
    EXPECT_EQ(series::buffer_of(empty->data2)->size, sizeof(Cell));
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
    Cell* blk = arg(block_of({a()}));
    block::insert_at_head(blk, arg(b()), false, true);
    block::insert_at_head(blk, arg(c()), true, false);
    EXPECT_EQ(show(at_index(*blk, 0)), "[c b a]");
    EXPECT_EQ(blk->data1, 1u);
    block::append_all(blk, blk);
    EXPECT_EQ(show(at_index(*blk, 0)), "[c b a b a]");
    block::insert_each_at_head(blk, arg(block_of({t(), f()})));
    EXPECT_EQ(show(at_index(*blk, 0)), "[c true false b a b a]");
    EXPECT_EQ(blk->data1, 3u);
    block::remove_last(blk);
    block::cut_at_index(blk);
    EXPECT_EQ(show(at_index(*blk, 0)), "[c true false]");
    EXPECT_TRUE(block::is_tail(blk));

    const Cell* parentless = block::make_in(nullptr, 0);
    EXPECT_EQ(show(*parentless), "[]");
    EXPECT_TRUE(in_root_block(parentless));
    Cell* parent = arg(block_of({}));
    block::new_in(parent, 2);
    block::make_in(parent, 2);
    EXPECT_EQ(show(*parent), "[[] []]");
    EXPECT_TRUE(series::flags_of(cells_of(*parent)[0].data2) & series_flag::FIXED);

    stack::Saved saved;
    stack::arg_base = arg(block_of({a()}));
    arg(b());
    block::append_arg_to_top();
    EXPECT_EQ(show(*stack::arg_base), "[a b]");
}

}  // namespace
