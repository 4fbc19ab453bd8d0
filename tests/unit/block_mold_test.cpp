// Mold and form of blocks where a script cannot look: the budget that
// counts every character appended, what a spent budget still writes, and
// the cycle stack after a walk that ended in an error. The text itself is
// tested in tests/lang/blocks/block_mold_cases.qel.
#include "block_values.hpp"
#include "runtime/cycles.hpp"

namespace qel {
namespace {

using testutil::BlockValues;
using testutil::read_values;

class BlockMold : public BlockValues {};

TEST_F(BlockMold, TheBudgetCountsEveryCharacterAppended) {
    struct Case {
        const char* source;
        bool only, all, flat;
    } cases[] = {
        {"1 2 3", false, false, false}, {"1 2 3", true, false, false}, {"", false, false, false},
        {"integer! #none", false, true, false}, {"1 ~2", false, false, false}, {"~1 2 ~3", false, false, false},
        {"~1 ~[~2 ~[~3]]", false, false, false}, {"~1 ~2", true, false, false}, {"~1 ~[~2]", false, false, true},
        {"a ~(~b c)", false, false, false},
    };
    for (const auto& c : cases) {
        const testutil::Text t = testutil::mold_text(read_values(c.source), c.only, c.all, c.flat);
        EXPECT_EQ(t.used, static_cast<int32_t>(t.text.size())) << c.source;
    }
    for (const char* source : {"1 2 3", "1 [2 [3]] 4", "a (b c)", ""}) {
        const testutil::Text t = testutil::form_text(read_values(source));
        EXPECT_EQ(t.used, static_cast<int32_t>(t.text.size())) << source;
    }
}

TEST_F(BlockMold, ASpentBudgetStillWritesTheBrackets) {
    const Cell b = read_values("");
    for (int i = 1; i <= 200; i++) testutil::append_cell(b, testutil::integer_value(i));
    EXPECT_LT(testutil::mold_text(b, false, false, false, 5).text.size(), 12u);
    EXPECT_LT(testutil::form_text(b, 5).text.size(), 10u);
    EXPECT_EQ(testutil::mold_text(b, false, false, false, 0).text, "[]");
}

TEST_F(BlockMold, WalksLeaveNoCycleEntries) {
    const Cell outer = read_values("a");
    const Cell p = read_values("b", TYPE_PAREN);
    testutil::append_cell(outer, p);
    testutil::append_cell(p, outer);
    testutil::append_cell(p, p);
    testutil::molded(outer);
    testutil::form_text(outer);
    EXPECT_EQ(cycles::depth(), 0u);
    Cell inner = read_values("1");
    for (int i = 1; i < 1000; i++) {
        const Cell next = read_values("");
        testutil::append_cell(next, inner);
        inner = next;
    }
    EXPECT_EQ(testutil::raised([&] { testutil::molded(inner); }), err::TOO_DEEP);
    EXPECT_EQ(cycles::depth(), 0u);
}

TEST_F(BlockMold, AnErrorInsideAWalkLeavesNoCycleEntries) {
    // symbol! has no mold: molding it raises expect-arg halfway through
    // the nested walk.
    const Cell b = read_values("[1]");
    const Cell inner = series::cells_of(series_node(b))[0];
    testutil::append_cell(inner, Cell{TYPE_SYMBOL, 0, 0, 0});
    EXPECT_EQ(testutil::raised([&] { testutil::molded(b); }), err::EXPECT_ARG);
    // Had an entry stayed, a later walk would take the block for one it
    // is inside and print a marker.
    EXPECT_EQ(cycles::depth(), 0u);
}

}  // namespace
}  // namespace qel
