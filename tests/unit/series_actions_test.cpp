// The series! actions where a script cannot look: the index a length
// query pulls back into a shrunk buffer, the unit width a poke brings in,
// and the new-line flag a copy keeps. What a script sees of the series
// actions and their owner reports is tested in
// tests/lang/series/series_actions_cases.qel.
#include <gtest/gtest.h>

#include "datatypes/series.hpp"
#include "evaluator/action_entries.hpp"
#include "runtime/actions.hpp"
#include "startup_support.hpp"
#include "value_builders.hpp"

namespace {

using namespace qel;
using namespace qel::testutil;

class SeriesActions : public StartedRuntime {
protected:
    // [a b c d e] by words.
    Cell abcde() {
        return block_of({word_cell("a"), word_cell("b"), word_cell("c"), word_cell("d"), word_cell("e")});
    }
};

TEST_F(SeriesActions, ALengthPastTheTailIsZeroAndPullsTheIndexBack) {
    Cell* b = arg(at_index(abcde(), 4));
    series::set_tail_at(series_node(b), 3);  // the buffer shrank under the cell
    EXPECT_EQ(show(actions::length(b)), "0");
    EXPECT_EQ(series_index(b), 2u);
    EXPECT_EQ(series::length_from(b, true), 2u);
}


TEST_F(SeriesActions, PokingAWideCharWidensTheString) {
    Cell* s = arg(string_of("abc"));
    Cell* two = arg(int_cell(2));
    Cell* wide = arg(character(0x263A));
    actions::poke(s, two, wide);
    EXPECT_EQ(series::unit(series::buffer_of(series_node(s))), 2u);
    EXPECT_EQ(show(*s), "\"a<9786>c\"");
}

TEST_F(SeriesActions, CopyKeepsTheNewLineFlagButNotOwnership) {
    Cell b = abcde();
    b.header |= cell_flag::NEW_LINE;
    Cell* src = arg(b);
    Cell* result = arg(none_cell());
    series_type::copy(src, result, nullptr, false, nullptr);
    EXPECT_TRUE(result->header & cell_flag::NEW_LINE);
}


}  // namespace
