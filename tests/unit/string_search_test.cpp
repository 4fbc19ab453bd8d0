// string! sort in what a script cannot choose: the unit width of the
// text (folding must agree with compare in every width) and a compare
// function while the evaluator has not registered its caller. Searching,
// sorting and the set operations as a script sees them are tested in
// tests/lang/strings/string_search_cases.qel.
#include <gtest/gtest.h>

#include "datatypes/block_search.hpp"
#include "datatypes/string.hpp"
#include "datatypes/string_search.hpp"
#include "string_test_support.hpp"

namespace qel {
namespace {

using testutil::TextTest;

class Sorter : public TextTest {
protected:
    std::string sort(Cell* s, const datatype::SortOptions& options = {}) {
        string::sort(s, options);
        Cell whole = *s;
        series_index(whole) = 0;
        return utf8(&whole);
    }
};
using StringSortOrders = Sorter;

// Blocks order their strings through compare, which folds to upper case; a
// string sorted on its own must put "_" on the same side of the letters, in
// every unit width.
TEST_F(StringSortOrders, FoldsLikeCompareInEveryWidth) {
    ASSERT_EQ(string::compare(text("a"), text("_"), CompareOp::Lesser), -1) << "compare puts a before _";
    EXPECT_EQ(sort(text("_a")), "a_");
    EXPECT_EQ(sort(text_in("_a", 2)), "a_");
    EXPECT_EQ(sort(text_in("_a", 4)), "a_");
    EXPECT_EQ(sort(text("_éa")), sort(text_in("_éa", 2)));
}

TEST_F(StringSortOrders, CompareFunctionWithoutTheEvaluatorIsNotDone) {
    Cell fn{TYPE_FUNCTION, 0, 0, 0};
    Cell* f = stack::push(&fn);
    const block::ComparatorCall saved = block::call_comparator;
    block::call_comparator = nullptr;
    EXPECT_EQ(code(caught([&] { sort(text("ba"), {.comparator = f}); })), err::NOT_DONE);
    block::call_comparator = saved;
}

}  // namespace
}  // namespace qel
