// find, select, sort and the set operations on blocks, through the block
// routines themselves (there is no evaluator yet to call the actions).
#include <cmath>
#include <optional>

#include "block_values.hpp"
#include "runtime/cycles.hpp"
#include "runtime/hashtab.hpp"

namespace qel {
namespace {

using testutil::BlockValues;
using testutil::integer_value;
using testutil::molded;
using testutil::read_values;
using testutil::word_value;

class BlockSearch : public BlockValues {};

struct Options {
    std::optional<Cell> part, skip;
    bool only = false, case_sensitive = false, same = false, last = false, reverse = false, tail = false,
         match = false;
};

// The index found, -1 for none.
int64_t find_index(Cell series, Cell value, Options o = {}) {
    Cell* part = o.part ? &*o.part : nullptr;
    Cell* skip = o.skip ? &*o.skip : nullptr;
    const Cell* r = block::find(&series, &value, part, o.only, o.case_sensitive, o.same, false, nullptr, skip,
                                o.last, o.reverse, o.tail, o.match);
    if (cell::type_of(r) == TYPE_NONE) return -1;
    EXPECT_EQ(cell::type_of(r), cell::type_of(&series));
    EXPECT_EQ(r->data2, series.data2);
    return r->data1;
}

std::string select_text(Cell series, Cell value, Options o = {}) {
    Cell* part = o.part ? &*o.part : nullptr;
    Cell* skip = o.skip ? &*o.skip : nullptr;
    const Cell* r = block::select(&series, &value, part, o.only, o.case_sensitive, o.same, false, nullptr, skip,
                                  o.last, o.reverse);
    return molded(*r);
}

Options with_skip(int32_t n) {
    Options o;
    o.skip = integer_value(n);
    return o;
}
Options with_part(Cell part) {
    Options o;
    o.part = part;
    return o;
}

TEST_F(BlockSearch, Find) {
    const Cell b = read_values("a 1 b 2 a 3 [b 2]");
    const Cell ab = read_values("b 2");
    Cell typeset_of_integer{TYPE_TYPESET, 0, 0, 0};
    typeset_of_integer.data1 = 0x10u << 8;  // byte 1, bit 0x80 >> 3: type 11
    Options only;
    only.only = true;
    Options last;
    last.last = true;
    Options reverse;
    reverse.reverse = true;
    Options tail;
    tail.tail = true;
    Options match;
    match.match = true;
    Options skip_tail = with_skip(2);
    skip_tail.tail = true;
    Options skip_last = with_skip(2);
    skip_last.last = true;
    struct Case {
        const char* what;
        Cell series, value;
        Options options;
        int64_t expected;
    } cases[] = {
        {"a word", b, word_value("b"), {}, 2},
        {"case-insensitive by default", b, word_value("B"), {}, 2},
        {"a datatype matches by type", b, testutil::datatype_value(TYPE_INTEGER), {}, 1},
        {"a datatype in a short block", read_values("a 1 b 2"), testutil::datatype_value(TYPE_INTEGER), {}, 1},
        {"a typeset matches by type", b, typeset_of_integer, {}, 1},
        {"a block is a sequence", b, ab, {}, 2},
        {"only: a block equal to it", b, ab, only, 6},
        {"only: no block equal to it", b, read_values("a 1"), only, -1},
        {"absent", b, word_value("zz"), {}, -1},
        {"from the index", testutil::at_index(b, 3), word_value("a"), {}, 4},
        {"last", b, word_value("a"), last, 4},
        {"last sequence", b, read_values("a 3"), last, 4},
        {"reverse from the index", testutil::at_index(b, 4), word_value("a"), reverse, 0},
        {"reverse at the head", b, word_value("a"), reverse, -1},
        {"tail past a cell", b, word_value("b"), tail, 3},
        {"tail past a sequence", b, ab, tail, 4},
        {"match at the index", b, word_value("a"), match, 0},
        {"match elsewhere", b, word_value("b"), match, -1},
        {"skip 2 on record starts", b, word_value("b"), with_skip(2), 2},
        {"skip 2 misses the second cells", b, integer_value(2), with_skip(2), -1},
        {"skip tail moves a whole record", b, word_value("b"), skip_tail, 4},
        {"skip last keeps to records", b, integer_value(3), skip_last, -1},
        {"part 2 stops before b", b, word_value("b"), with_part(integer_value(2)), -1},
        {"part 3 reaches b", b, word_value("b"), with_part(integer_value(3)), 2},
        {"part 0", b, word_value("a"), with_part(integer_value(0)), -1},
        {"part position includes its cell", b, word_value("b"), with_part(testutil::at_index(b, 2)), 2},
        {"part near the integer limit", testutil::at_index(b, 3), word_value("a"),
         with_part(integer_value(0x7FFFFFFF)), 4},
        {"at the tail", testutil::at_index(b, 7), word_value("a"), {}, -1},
        {"past the tail", testutil::at_index(b, 9), word_value("a"), {}, -1},
        {"empty", read_values(""), word_value("a"), {}, -1},
        {"empty sequence", b, read_values(""), {}, -1},
        {"nested block by datatype", b, testutil::datatype_value(TYPE_BLOCK), {}, 6},
    };
    for (const Case& c : cases) EXPECT_EQ(find_index(c.series, c.value, c.options), c.expected) << c.what;
}

TEST_F(BlockSearch, FindCaseAndSame) {
    const Cell b = read_values("a A 1");
    Options strict;
    strict.case_sensitive = true;
    EXPECT_EQ(find_index(b, word_value("A"), strict), 1);
    EXPECT_EQ(find_index(b, word_value("A")), 0);
    Options same;
    same.same = true;
    EXPECT_EQ(find_index(b, integer_value(1), same), 2);
    // With only a datatype is a value like any other.
    const Cell types = read_values("a integer! 1");
    Options only;
    only.only = true;
    EXPECT_EQ(find_index(types, testutil::datatype_value(TYPE_INTEGER), only), 1);
}

TEST_F(BlockSearch, FindRefinementErrors) {
    const Cell b = read_values("a b");
    const Cell other = read_values("a b");
    struct Case {
        const char* what;
        Options options;
        int code;
    } cases[] = {
        {"skip 0", with_skip(0), err::OUT_OF_RANGE},
        {"skip -1", with_skip(-1), err::OUT_OF_RANGE},
        {"skip of a word", [] { Options o; o.skip = word_value("x"); return o; }(), err::INVALID_REFINE_ARG},
        {"part in another series", with_part(other), err::INVALID_REFINE_ARG},
        {"part of a word", with_part(word_value("x")), err::INVALID_REFINE_ARG},
    };
    for (const Case& c : cases)
        EXPECT_EQ(testutil::raised([&] { find_index(b, word_value("a"), c.options); }), c.code) << c.what;
}

TEST_F(BlockSearch, Select) {
    const Cell b = read_values("a 1 b 2 a 3");
    Options last;
    last.last = true;
    struct Case {
        const char* what;
        Cell value;
        Options options;
        const char* expected;
    } cases[] = {
        {"the value after", word_value("b"), {}, "2"},
        {"the first match", word_value("a"), {}, "1"},
        {"last", word_value("a"), last, "3"},
        {"after a sequence", read_values("a 1"), {}, "b"},
        {"after the last cell", integer_value(3), {}, "none"},
        {"absent", word_value("zz"), {}, "none"},
    };
    for (const Case& c : cases) EXPECT_EQ(select_text(b, c.value, c.options), c.expected) << c.what;
}

// ---- sort ----------------------------------------------------------------------

struct SortOptions {
    bool case_sensitive = false, all = false, reverse = false, stable = false;
    std::optional<Cell> skip, compare, part;
};

Cell sorted(Cell b, SortOptions o = {}) {
    Cell* skip = o.skip ? &*o.skip : nullptr;
    Cell* compare = o.compare ? &*o.compare : nullptr;
    Cell* part = o.part ? &*o.part : nullptr;
    return *block::sort(&b, o.case_sensitive, skip, compare, part, o.all, o.reverse, o.stable);
}

std::string sorted_text(const char* source, SortOptions o = {}) {
    const Cell b = read_values(source);
    const Cell r = sorted(b, o);
    EXPECT_EQ(r.data2, b.data2);
    return molded(testutil::at_index(r, 0));
}

TEST_F(BlockSearch, Sort) {
    auto opts = [](auto f) {
        SortOptions o;
        f(o);
        return o;
    };
    struct Case {
        const char* what;
        const char* source;
        SortOptions options;
        const char* expected;
    } cases[] = {
        {"integers", "3 1 2", {}, "[1 2 3]"},
        {"reverse", "3 1 2", opts([](SortOptions& o) { o.reverse = true; }), "[3 2 1]"},
        {"stable", "3 1 2 1", opts([](SortOptions& o) { o.stable = true; }), "[1 1 2 3]"},
        {"words ignore case, stable", "b A a B", opts([](SortOptions& o) { o.stable = true; }), "[A a b B]"},
        {"words with case", "b A a B", opts([](SortOptions& o) { o.case_sensitive = true; }), "[A B a b]"},
        {"other types group by type", "b 2 a 1", {}, "[1 2 a b]"},
        {"records", "b 2 a 1", opts([](SortOptions& o) { o.skip = integer_value(2); }), "[a 1 b 2]"},
        {"records by their second cell", "a 2 b 1", opts([](SortOptions& o) {
             o.skip = integer_value(2);
             o.compare = integer_value(2);
         }),
         "[b 1 a 2]"},
        {"whole records", "a 2 a 1", opts([](SortOptions& o) {
             o.skip = integer_value(2);
             o.all = true;
             o.stable = true;
         }),
         "[a 1 a 2]"},
        {"first cells only", "a 2 a 1", opts([](SortOptions& o) {
             o.skip = integer_value(2);
             o.stable = true;
         }),
         "[a 2 a 1]"},
        {"part", "3 2 1 0", opts([](SortOptions& o) { o.part = integer_value(2); }), "[2 3 1 0]"},
        {"part 0", "3 2 1 0", opts([](SortOptions& o) { o.part = integer_value(0); }), "[3 2 1 0]"},
        {"part beyond the tail", "3 2 1", opts([](SortOptions& o) { o.part = integer_value(99); }), "[1 2 3]"},
        {"empty", "", {}, "[]"},
    };
    for (const Case& c : cases) EXPECT_EQ(sorted_text(c.source, c.options), c.expected) << c.what;
}

TEST_F(BlockSearch, SortPartByPositionAndBackwards) {
    const Cell b = read_values("4 3 2 1");
    SortOptions to_position;
    to_position.part = testutil::at_index(b, 3);
    sorted(b, to_position);
    EXPECT_EQ(molded(b), "[2 3 4 1]");

    // A negative count sorts the cells before the index and moves the
    // index back to the first of them.
    const Cell c = read_values("4 3 2 1");
    SortOptions back;
    back.part = integer_value(-2);
    const Cell r = sorted(testutil::at_index(c, 3), back);
    EXPECT_EQ(r.data1, 1u);
    EXPECT_EQ(molded(c), "[4 2 3 1]");
    // Past the head: the index goes to the head and nothing is sorted.
    back.part = integer_value(-5);
    const Cell h = sorted(testutil::at_index(c, 2), back);
    EXPECT_EQ(h.data1, 0u);
    EXPECT_EQ(molded(c), "[4 2 3 1]");
}

TEST_F(BlockSearch, SortRefinementErrors) {
    auto opts = [](auto f) {
        SortOptions o;
        f(o);
        return o;
    };
    struct Case {
        const char* what;
        SortOptions options;
        int code;
    } cases[] = {
        {"all without skip", opts([](SortOptions& o) { o.all = true; }), err::BAD_REFINES},
        {"skip not dividing the count", opts([](SortOptions& o) { o.skip = integer_value(3); }),
         err::INVALID_REFINE_ARG},
        {"skip 0", opts([](SortOptions& o) { o.skip = integer_value(0); }), err::INVALID_REFINE_ARG},
        {"skip above the count", opts([](SortOptions& o) { o.skip = integer_value(8); }), err::INVALID_REFINE_ARG},
        {"skip of a word", opts([](SortOptions& o) { o.skip = word_value("x"); }), err::INVALID_REFINE_ARG},
        {"compare offset without skip", opts([](SortOptions& o) { o.compare = integer_value(1); }),
         err::BAD_REFINES},
        {"compare offset with all", opts([](SortOptions& o) {
             o.skip = integer_value(2);
             o.all = true;
             o.compare = integer_value(1);
         }),
         err::BAD_REFINES},
        {"compare offset outside the record", opts([](SortOptions& o) {
             o.skip = integer_value(2);
             o.compare = integer_value(3);
         }),
         err::OUT_OF_RANGE},
        {"compare of a word", opts([](SortOptions& o) { o.compare = word_value("x"); }), err::INVALID_REFINE_ARG},
        {"part in another series", opts([](SortOptions& o) { o.part = read_values("1 2"); }),
         err::INVALID_REFINE_ARG},
    };
    for (const Case& c : cases) {
        const Cell b = read_values("2 1 4 3");
        EXPECT_EQ(testutil::raised([&] { sorted(b, c.options); }), c.code) << c.what;
        EXPECT_EQ(molded(b), "[2 1 4 3]") << c.what << ": unchanged after the error";
    }
}

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

// Stands in for function values: the cells' integer order, answered as
// a logic (x < y) or as a three-way integer (x - y).
bool answer_integer = false;
int calls = 0;
Cell test_comparator(const Cell*, const Cell* x, const Cell* y, uint32_t cells) {
    calls++;
    EXPECT_EQ(cells, 0u);
    const int32_t a = static_cast<int32_t>(x->data2), b = static_cast<int32_t>(y->data2);
    if (answer_integer) return integer_value((a > b) - (a < b));
    return Cell{TYPE_LOGIC, a < b ? 1u : 0u, 0, 0};
}

TEST_F(BlockSearch, SortWithAFunctionOrdersLikeItsAnswer) {
    const block::ComparatorCall saved = block::call_comparator;
    block::call_comparator = &test_comparator;
    struct Case {
        bool integer, reverse, stable;
        const char* expected;
    } cases[] = {
        {false, false, false, "[1 2 3 4 5]"}, {false, false, true, "[1 2 3 4 5]"},
        {true, false, false, "[1 2 3 4 5]"},  {true, false, true, "[1 2 3 4 5]"},
        {false, true, true, "[5 4 3 2 1]"},   {true, true, false, "[5 4 3 2 1]"},
    };
    for (const Case& c : cases) {
        answer_integer = c.integer;
        calls = 0;
        SortOptions o;
        o.compare = Cell{TYPE_FUNCTION, 0, 0, 0};
        o.reverse = c.reverse;
        o.stable = c.stable;
        EXPECT_EQ(sorted_text("3 5 1 4 2", o), c.expected) << c.integer << c.reverse << c.stable;
        EXPECT_GT(calls, 0);
    }
    block::call_comparator = saved;
}

// ---- set operations ------------------------------------------------------------------

TEST_F(BlockSearch, SetOperations) {
    struct Case {
        const char* what;
        int32_t code;
        const char* a;
        const char* b;
        int32_t skip;  // 0: none
        bool case_sensitive;
        const char* expected;
    } cases[] = {
        {"unique keeps first occurrences", block::UNIQUE, "1 2 1 3 2", "", 0, false, "[1 2 3]"},
        {"unique ignores case", block::UNIQUE, "a A b", "", 0, false, "[a b]"},
        {"unique with case", block::UNIQUE, "a A b", "", 0, true, "[a A b]"},
        {"unique of records", block::UNIQUE, "a 1 a 2 b 3", "", 2, false, "[a 1 b 3]"},
        {"unique of an empty block", block::UNIQUE, "", "", 0, false, "[]"},
        {"union", block::UNION, "1 2 2", "3 2 4", 0, false, "[1 2 3 4]"},
        {"intersect", block::INTERSECT, "1 2 3 2", "2 3 4", 0, false, "[2 3]"},
        {"intersect of records", block::INTERSECT, "a 1 b 2", "b 9 c 1", 2, false, "[b 2]"},
        {"exclude", block::EXCLUDE, "1 2 3 1", "2", 0, false, "[1 3]"},
        {"difference", block::DIFFERENCE, "1 2 3", "2 3 4", 0, false, "[1 4]"},
        {"difference with case", block::DIFFERENCE, "a b", "A b", 0, true, "[a A]"},
        {"mixed types stay apart", block::UNIQUE, "1 a integer! 1 a integer!", "", 0, false, "[1 a integer!]"},
    };
    for (const Case& c : cases) {
        Cell args[2] = {read_values(c.a), read_values(c.b)};
        const Cell skip = integer_value(c.skip);
        Cell* r = block::set_op(c.code, &args[0], &args[1], c.case_sensitive, c.skip ? &skip : nullptr);
        EXPECT_EQ(r, &args[0]);
        EXPECT_EQ(cell::type_of(r), TYPE_BLOCK) << c.what;
        EXPECT_EQ(r->data1, 0u) << c.what;
        EXPECT_EQ(r->data3, 0u) << c.what;
        EXPECT_EQ(molded(*r), c.expected) << c.what;
    }
}

TEST_F(BlockSearch, SetOperationsStartAtTheIndexAndKeepTheType) {
    Cell a = testutil::at_index(read_values("1 1 2 1", TYPE_PAREN), 1);
    block::set_op(block::UNIQUE, &a, nullptr, false, nullptr);
    EXPECT_EQ(molded(a), "(1 2)");

    // An index past the tail counts as the tail.
    Cell args[2] = {testutil::at_index(read_values("1"), 5), read_values("2")};
    block::set_op(block::UNION, &args[0], &args[1], false, nullptr);
    EXPECT_EQ(molded(args[0]), "[2]");

    Cell bad[2] = {read_values("1"), read_values("2")};
    for (int32_t skip : {0, -3}) {
        const Cell s = integer_value(skip);
        EXPECT_EQ(testutil::raised([&] { block::set_op(block::UNIQUE, &bad[0], nullptr, false, &s); }),
                  err::INVALID_REFINE_ARG);
    }
}

}  // namespace
}  // namespace qel

namespace qel {
namespace {

// A hash! over the cells of a block: the same buffer, with an index.
Cell hashed(const Cell& b) {
    const node_t index = hashtab::make(series::buffer_length(b.data2), &b, hashtab::HASH, 0);
    return Cell{TYPE_HASH, b.data1, b.data2, index};
}

TEST_F(BlockSearch, HashIndexAnswersAsTheScanDoes) {
    const Cell b = read_values("a 1 b 2 a 3 B 4");
    const Cell h = hashed(b);
    Options last;
    last.last = true;
    Options reverse;
    reverse.reverse = true;
    Options skip_reverse = with_skip(2);
    skip_reverse.reverse = true;
    Options strict;
    strict.case_sensitive = true;
    Options tail;
    tail.tail = true;
    struct Case {
        const char* what;
        uint32_t index;
        Cell value;
        Options options;
    } cases[] = {
        {"first", 0, word_value("a"), {}},           {"from the index", 1, word_value("a"), {}},
        {"last", 0, word_value("b"), last},          {"reverse", 6, word_value("a"), reverse},
        {"reverse at the head", 0, word_value("a"), reverse},
        {"skip", 0, integer_value(2), with_skip(2)}, {"skip on records", 0, word_value("b"), with_skip(2)},
        {"skip reverse", 7, word_value("a"), skip_reverse},
        {"skip reverse on records", 6, word_value("a"), skip_reverse},
        {"last before the index", 5, word_value("b"), last},
        {"case", 0, word_value("B"), strict},        {"no case", 0, word_value("B"), {}},
        {"tail", 0, word_value("b"), tail},          {"absent", 0, word_value("z"), {}},
    };
    for (const Case& c : cases) {
        const int64_t scanned = find_index(testutil::at_index(b, c.index), c.value, c.options);
        EXPECT_EQ(find_index(testutil::at_index(h, c.index), c.value, c.options), scanned) << c.what;
    }
}

TEST_F(BlockSearch, SetOperationsOnHashesAnswerHashes) {
    Cell args[2] = {read_values("1 2 3"), hashed(read_values("3 4 3"))};
    block::set_op(block::UNION, &args[0], &args[1], false, nullptr);
    EXPECT_EQ(cell::type_of(&args[0]), TYPE_HASH);
    ASSERT_NE(args[0].data3, 0u);
    // The index covers every cell of the result.
    EXPECT_EQ(hashtab::count(args[0].data3), 4u);
    EXPECT_EQ(molded(Cell{TYPE_BLOCK, 0, args[0].data2, 0}), "[1 2 3 4]");

    // unique looks at its one series only.
    Cell one[2] = {read_values("1 1"), hashed(read_values("2"))};
    block::set_op(block::UNIQUE, &one[0], &one[1], false, nullptr);
    EXPECT_EQ(cell::type_of(&one[0]), TYPE_BLOCK);
    EXPECT_EQ(molded(one[0]), "[1]");
}

}  // namespace
}  // namespace qel
