// Mold and form of blocks: brackets and blanks, new-line flags and their
// indentation, /only /all /flat, the /part budget, cycles and the nesting
// limit of the cycle stack.
#include "block_values.hpp"
#include "runtime/cycles.hpp"

namespace qel {
namespace {

using testutil::BlockValues;
using testutil::read_values;

class BlockMold : public BlockValues {};

struct MoldCase {
    const char* source;
    bool only, all, flat;
    const char* expected;
};

TEST_F(BlockMold, TextOfValuesAndFlags) {
    const MoldCase cases[] = {
        {"1 2 3", false, false, false, "[1 2 3]"},
        {"1 2 3", true, false, false, "1 2 3"},
        {"", false, false, false, "[]"},
        {"", true, false, false, ""},
        {"a [b [c]] (d e)", false, false, false, "[a [b [c]] (d e)]"},
        {"integer! #none", false, true, false, "[#(integer!) #(none)]"},
        // A flag on a later value only breaks the line there.
        {"1 ~2", false, false, false, "[1\n2]"},
        // A flag on the first value puts every value on its own line,
        // one level in, and the closing bracket on a line of its own.
        {"~1 ~2", false, false, false, "[\n    1\n    2\n]"},
        {"~1 2 ~3", false, false, false, "[\n    1 2\n    3\n]"},
        {"~1 ~[~2 ~[~3]]", false, false, false,
         "[\n    1\n    [\n        2\n        [\n            3\n        ]\n    ]\n]"},
        // With /only the first line break is left out.
        {"~1 ~2", true, false, false, "1\n2"},
        {"~1 ~[~2]", false, false, true, "[1 [2]]"},
        {"a ~(~b c)", false, false, false, "[a\n(\n    b c\n)]"},
    };
    for (const MoldCase& c : cases) {
        const Cell b = read_values(c.source);
        const testutil::Text t = testutil::mold_text(b, c.only, c.all, c.flat);
        EXPECT_EQ(t.text, c.expected) << c.source;
        // The budget counts every character appended, line breaks and
        // indentation included.
        EXPECT_EQ(t.used, static_cast<int32_t>(t.text.size())) << c.source;
    }
}

TEST_F(BlockMold, StartsAtTheIndex) {
    const Cell b = read_values("1 2 3");
    EXPECT_EQ(testutil::molded(testutil::at_index(b, 1)), "[2 3]");
    EXPECT_EQ(testutil::molded(testutil::at_index(b, 3)), "[]");
    EXPECT_EQ(testutil::form_text(testutil::at_index(b, 2)).text, "3");
}

TEST_F(BlockMold, FormJoinsNestedValues) {
    struct Case {
        const char* source;
        const char* expected;
    } cases[] = {
        {"1 2 3", "1 2 3"},
        {"1 [2 [3]] 4", "1 2 3 4"},
        {"a (b c)", "a b c"},
        {"", ""},
    };
    for (const Case& c : cases) {
        const testutil::Text t = testutil::form_text(read_values(c.source));
        EXPECT_EQ(t.text, c.expected) << c.source;
        EXPECT_EQ(t.used, static_cast<int32_t>(t.text.size())) << c.source;
    }
}

TEST_F(BlockMold, FormWritesNoBlankAfterALineBreak) {
    const Cell b = read_values("a b");
    const Cell tab{TYPE_CHAR, 0, '\t', 0}, lf{TYPE_CHAR, 0, '\n', 0};
    const Cell with_breaks = read_values("");
    for (const Cell& c : {lf, testutil::word_value("a"), tab, testutil::word_value("b")})
        testutil::append_cell(with_breaks, c);
    EXPECT_EQ(testutil::form_text(with_breaks).text, "\na \tb");
    EXPECT_EQ(testutil::form_text(b).text, "a b");
}

TEST_F(BlockMold, PartStopsTheWalkEarly) {
    const Cell b = read_values("");
    for (int i = 1; i <= 200; i++) testutil::append_cell(b, testutil::integer_value(i));
    // The walk stops once the budget is spent; the action cuts the text to
    // the limit afterwards, so only a few values past it may be written.
    const testutil::Text m = testutil::mold_text(b, false, false, false, 5);
    EXPECT_EQ(m.text.substr(0, 5), "[1 2 ");
    EXPECT_LT(m.text.size(), 12u);
    const testutil::Text f = testutil::form_text(b, 5);
    EXPECT_EQ(f.text.substr(0, 5), "1 2 3");
    EXPECT_LT(f.text.size(), 10u);
    // A budget of 0 writes only what mold always writes around the values.
    EXPECT_EQ(testutil::mold_text(b, false, false, false, 0).text, "[]");
}

TEST_F(BlockMold, SelfContainingBlocksWriteMarkers) {
    const Cell b = read_values("1");
    testutil::append_cell(b, b);
    EXPECT_EQ(testutil::molded(b), "[1 [...]]");
    EXPECT_EQ(testutil::form_text(b).text, "1 ...");

    // Through a paren and back: each kind writes its own marker.
    const Cell outer = read_values("a");
    const Cell p = read_values("b", TYPE_PAREN);
    testutil::append_cell(outer, p);
    testutil::append_cell(p, outer);
    testutil::append_cell(p, p);
    EXPECT_EQ(testutil::molded(outer), "[a (b [...] (...))]");
    EXPECT_EQ(testutil::form_text(outer).text, "a b ... ...");
    EXPECT_EQ(cycles::depth(), 0u);

    // The same block twice side by side is no cycle.
    const Cell inner = read_values("x");
    const Cell twice = read_values("");
    testutil::append_cell(twice, inner);
    testutil::append_cell(twice, inner);
    EXPECT_EQ(testutil::molded(twice), "[[x] [x]]");
}

// A chain of blocks, each holding the next; the innermost holds 1.
Cell nested(int levels) {
    Cell inner = read_values("1");
    for (int i = 1; i < levels; i++) {
        const Cell outer = read_values("");
        testutil::append_cell(outer, inner);
        inner = outer;
    }
    return inner;
}

TEST_F(BlockMold, NestingLimit) {
    const std::string text = testutil::molded(nested(999));
    EXPECT_EQ(text.size(), 2u * 999 + 1);
    EXPECT_EQ(testutil::raised([&] { testutil::molded(nested(1000)); }), err::TOO_DEEP);
    EXPECT_EQ(testutil::raised([&] { testutil::form_text(nested(1000)); }), err::TOO_DEEP);
    // The failed walk left nothing behind.
    EXPECT_EQ(cycles::depth(), 0u);
    EXPECT_EQ(testutil::molded(read_values("[a]")), "[[a]]");
}

TEST_F(BlockMold, AnErrorInsideAWalkLeavesNoCycleEntries) {
    // symbol! has no mold: molding it raises expect-arg halfway through
    // the nested walk.
    const Cell b = read_values("[1]");
    const Cell inner = series::head_cell(series::buffer_of(b.data2))[0];
    testutil::append_cell(inner, Cell{TYPE_SYMBOL, 0, 0, 0});
    EXPECT_EQ(testutil::raised([&] { testutil::molded(b); }), err::EXPECT_ARG);
    // Had an entry stayed, a later walk would take the block for one it
    // is inside and print a marker.
    EXPECT_EQ(cycles::depth(), 0u);
}

}  // namespace
}  // namespace qel
