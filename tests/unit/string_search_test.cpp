// Searching, sorting and the set operations of string!: every find
// refinement and its limits, select, sort with records and parts, and the
// case folding that sort must share with compare.
#include <gtest/gtest.h>

#include <functional>

#include "datatypes/string.hpp"
#include "datatypes/block_search.hpp"
#include "datatypes/string_search.hpp"
#include "runtime/runtime_words.hpp"
#include "runtime/symbols.hpp"
#include "string_test_support.hpp"

namespace qel {
namespace {

using testutil::TextTest;
using StringFind = TextTest;
using StringSort = TextTest;
using StringSetOp = TextTest;

struct Refinements {
    int32_t part = -1;
    int32_t skip = 0;
    bool case_sensitive = false, last = false, reverse = false, tail = false, match = false;
};

class Finder : public TextTest {
protected:
    // The index found, -1 for none.
    int64_t find_at(Cell* series, Cell* value, const Refinements& r) {
        Cell* part = r.part >= 0 ? integer(r.part) : nullptr;
        Cell* skip = r.skip ? integer(r.skip) : nullptr;
        Cell* found = string::find(series, value, part, false, r.case_sensitive, false, false, nullptr, skip, r.last,
                                   r.reverse, r.tail, r.match);
        if (cell::type_of(found) == TYPE_NONE) return -1;
        EXPECT_EQ(found->data2, series->data2);
        return found->data1;
    }
};
using StringFindRefinements = Finder;

TEST_F(StringFindRefinements, Table) {
    struct Case {
        const char* what;
        const char* series;
        uint32_t index;
        const char* pattern;  // one character: a char! value
        Refinements r;
        int64_t expect;
    } cases[] = {
        {"pattern", "abcabc", 0, "bc", {}, 1},
        {"/last", "abcabc", 0, "bc", {.last = true}, 4},
        {"/tail", "abcabc", 0, "bc", {.tail = true}, 3},
        {"/match at the index", "abc", 0, "ab", {.match = true}, 0},
        {"/match elsewhere", "abc", 0, "b", {.match = true}, -1},
        {"/reverse at the head", "abc", 0, "a", {.reverse = true}, -1},
        {"/reverse from the tail", "abcabc", 6, "bc", {.reverse = true}, 4},
        {"/reverse ends before the index", "abcabc", 5, "bc", {.reverse = true}, 1},
        {"/reverse /tail char", "abcabc", 6, "b", {.reverse = true, .tail = true}, 5},
        {"/reverse /part", "abcabc", 6, "a", {.part = 2, .reverse = true}, -1},
        {"/reverse /match", "abc", 2, "b", {.reverse = true, .match = true}, -1},
        {"folds by default", "ABC", 0, "b", {}, 1},
        {"/case", "ABC", 0, "b", {.case_sensitive = true}, -1},
        {"/skip finds on the step", "abcdef", 0, "c", {.skip = 2}, 2},
        {"/skip skips between", "abcdef", 0, "d", {.skip = 2}, -1},
        {"/part cuts a pattern", "abcabc", 0, "bc", {.part = 2}, -1},
        {"/part just enough", "abcabc", 0, "bc", {.part = 3}, 1},
        {"/part beyond the tail", "abc", 1, "c", {.part = 99}, 2},
        {"/last char", "abcabc", 0, "a", {.last = true}, 3},
        {"/last /part", "abcabc", 0, "a", {.part = 3, .last = true}, 0},
        {"/tail char", "abc", 0, "b", {.tail = true}, 2},
        {"at the tail", "abc", 3, "c", {}, -1},
        {"pattern longer than the text", "ab", 0, "abc", {}, -1},
        {"pattern at the very end", "xxab", 1, "ab", {}, 2},
        {"empty pattern", "abc", 0, "", {}, -1},
        {"folds across widths", "xÀBC", 0, "àb", {}, 1},
        {"empty series", "", 0, "a", {.reverse = true}, -1},
    };
    for (const Case& c : cases) {
        Cell* s = text(c.series);
        s->data1 = c.index;
        const std::string p = c.pattern;
        Cell* v = string::length(text(p)) == 1 ? chr(string::char_at(text(p), 0)) : text(p);
        EXPECT_EQ(find_at(s, v, c.r), c.expect) << c.what;
    }
}

TEST_F(StringFindRefinements, OtherNeedles) {
    // A bitset of "c" only: bit 7 of byte 0 is code point 0, so 99 is bit
    // 0x10 of byte 12.
    Cell* bits = binary(std::string(12, '\0') + "\x10");
    cell::set_type(bits, TYPE_BITSET);
    EXPECT_EQ(find_at(text("abcd"), bits, {}), 2);
    EXPECT_EQ(find_at(text("ABCD"), bits, {}), -1) << "bitsets do not fold";
    // Code points past the stored bits take the complement flag.
    EXPECT_EQ(find_at(text("ab\u0100"), bits, {}), -1);
    series::buffer_of(bits->data2)->flags |= series_flag::NOT;
    EXPECT_EQ(find_at(text("ab\u0100"), bits, {}), 2);

    const int32_t sym = symbol::intern_cstr("bc");
    Cell word{TYPE_WORD, 0, static_cast<uint32_t>(sym), 0xFFFFFFFF};
    EXPECT_EQ(find_at(text("abcd"), stack::push(&word), {}), 1);
    EXPECT_EQ(find_at(binary("ab\x07z"), integer(7), {}), 2);
    EXPECT_EQ(find_at(binary("abcd"), binary("cd"), {}), 2);
}

TEST_F(StringFindRefinements, Errors) {
    Cell* s = text("abc");
    struct Case {
        const char* what;
        std::function<void()> run;
        int code;
    } cases[] = {
        {"binary in text", [&] { find_at(s, binary("b"), {}); }, err::INVALID_ARG},
        {"skip below 1", [&] { find_at(s, chr('b'), {.skip = -1}); }, err::OUT_OF_RANGE},
        {"/any", [&] { string::find(s, chr('b'), nullptr, false, false, false, true, nullptr, nullptr, false, false, false, false); },
         err::NOT_DONE},
        {"foreign /part", [&] { string::find(s, chr('b'), text("abc"), false, false, false, false, nullptr, nullptr, false, false, false, false); },
         err::INVALID_REFINE_ARG},
    };
    for (const Case& c : cases) EXPECT_EQ(code(caught(c.run)), c.code) << c.what;
    // A position in the same series is a valid /part.
    Cell* end = stack::push(s);
    end->data1 = 2;
    EXPECT_EQ(cell::type_of(string::find(s, chr('c'), end, false, false, false, false, nullptr, nullptr, false, false,
                                         false, false)),
              TYPE_NONE);
    end->data1 = 3;
    EXPECT_EQ(string::find(s, chr('c'), end, false, false, false, false, nullptr, nullptr, false, false, false, false)->data1,
              2u);
}

TEST_F(StringFind, Select) {
    auto select = [&](Cell* s, Cell* v) {
        return string::select(s, v, nullptr, false, false, false, false, nullptr, nullptr, false, false);
    };
    Cell* r = select(text("a=b"), chr('='));
    EXPECT_EQ(cell::type_of(r), TYPE_CHAR);
    EXPECT_EQ(r->data2, 'b');
    EXPECT_EQ(cell::type_of(select(text("abc"), chr('c'))), TYPE_NONE);
    EXPECT_EQ(select(text("xaby"), text("AB"))->data2, 'y');
    EXPECT_EQ(cell::type_of(select(text("xab"), text("ab"))), TYPE_NONE);
    r = select(binary("a\x05\x09"), integer(5));
    EXPECT_EQ(cell::type_of(r), TYPE_INTEGER);
    EXPECT_EQ(r->data2, 9u);
}

TEST_F(StringFind, ParseHelpers) {
    EXPECT_TRUE(string::match_value(text("Abc"), chr('a'), 0));
    EXPECT_FALSE(string::match_value(text("Abc"), chr('a'), 2));
    EXPECT_TRUE(string::match_value(text("abc"), text("AB"), 0));
    EXPECT_FALSE(string::match_value(text("abc"), text("AB"), 2));
    EXPECT_FALSE(string::match_value(text("a"), text("ab"), 0));
    EXPECT_TRUE(string::match_value(text("<b>x"), text("b", TYPE_TAG), 0));
    EXPECT_FALSE(string::match_value(text("<b"), text("b", TYPE_TAG), 0));
    EXPECT_FALSE(string::match_value(text(""), chr('a'), 0));
    EXPECT_FALSE(string::match_value(text("a"), integer(1), 0));
}

// ---- sort --------------------------------------------------------------------------

class Sorter : public TextTest {
protected:
    std::string sort(Cell* s, bool case_sensitive = false, int32_t skip = 0, Cell* comparator = nullptr,
                     Cell* part = nullptr, bool all = false, bool reverse = false, bool stable = false) {
        string::sort(s, case_sensitive, skip ? integer(skip) : nullptr, comparator, part, all, reverse, stable);
        Cell whole = *s;
        whole.data1 = 0;
        return utf8(&whole);
    }
};
using StringSortOrders = Sorter;

TEST_F(StringSortOrders, Table) {
    EXPECT_EQ(sort(text("cBa")), "aBc");
    EXPECT_EQ(sort(text("cBa"), true), "Bac");
    EXPECT_EQ(sort(text("abc"), false, 0, nullptr, nullptr, false, true), "cba");
    EXPECT_EQ(sort(text("dcba"), false, 2), "badc");
    EXPECT_EQ(sort(text("dcba"), false, 2, integer(2)), "badc");
    EXPECT_EQ(sort(text("dbca"), false, 2, integer(2)), "cadb");
    EXPECT_EQ(sort(text("bbab"), false, 2, nullptr, nullptr, true), "abbb");
    EXPECT_EQ(sort(text("bAaB"), false, 0, nullptr, nullptr, false, false, true), "AabB") << "stable keeps equal order";
    EXPECT_EQ(sort(text("")), "");
    EXPECT_EQ(sort(text("ba"), false, 0, nullptr, integer(1)), "ba") << "an integer /part counts from the index";
}

TEST_F(StringSortOrders, Parts) {
    Cell* s = text("cba");
    EXPECT_EQ(sort(s, false, 0, nullptr, integer(2)), "bca");
    Cell* t = text("fedcba");
    t->data1 = 3;
    EXPECT_EQ(sort(t, false, 0, nullptr, integer(-2)), "fdecba");
    EXPECT_EQ(t->data1, 1u) << "a backward part moves the index to its start";
    Cell* u = text("fedcba");
    u->data1 = 2;
    EXPECT_EQ(sort(u, false, 0, nullptr, integer(-5)), "fedcba");
    EXPECT_EQ(u->data1, 0u);
    Cell* v = text("dcba");
    Cell* end = stack::push(v);
    end->data1 = 3;
    EXPECT_EQ(sort(v, false, 0, nullptr, end), "bcda");
}

TEST_F(StringSortOrders, Errors) {
    struct Case {
        const char* what;
        std::function<void()> run;
        int code;
    } cases[] = {
        {"skip not dividing", [&] { sort(text("badc"), false, 3); }, err::INVALID_REFINE_ARG},
        {"skip beyond", [&] { sort(text("ba"), false, 3); }, err::INVALID_REFINE_ARG},
        {"/all without /skip", [&] { sort(text("ba"), false, 0, nullptr, nullptr, true); }, err::BAD_REFINES},
        {"offset without /skip", [&] { sort(text("ba"), false, 0, integer(1)); }, err::BAD_REFINES},
        {"offset with /all", [&] { sort(text("badc"), false, 2, integer(1), nullptr, true); }, err::BAD_REFINES},
        {"offset outside", [&] { sort(text("badc"), false, 2, integer(3)); }, err::OUT_OF_RANGE},
        {"bad comparator", [&] { sort(text("badc"), false, 0, text("x")); }, err::INVALID_REFINE_ARG},
        {"foreign /part", [&] { sort(text("badc"), false, 0, nullptr, text("badc")); }, err::INVALID_REFINE_ARG},
    };
    for (const Case& c : cases) EXPECT_EQ(code(caught(c.run)), c.code) << c.what;
}

// Blocks order their strings through compare, which folds to upper case; a
// string sorted on its own must put "_" on the same side of the letters, in
// every unit width.
TEST_F(StringSortOrders, FoldsLikeCompareInEveryWidth) {
    ASSERT_EQ(string::compare(text("a"), text("_"), 3), -1) << "compare puts a before _";
    EXPECT_EQ(sort(text("_a")), "a_");
    EXPECT_EQ(sort(text_in("_a", 2)), "a_");
    EXPECT_EQ(sort(text_in("_a", 4)), "a_");
    EXPECT_EQ(sort(text("_éa")), sort(text_in("_éa", 2)));
}

// Function values do not exist here: a stand-in for the call answers the
// truth of x < y, which must sort ascending as it does for blocks.
Cell less_than(const Cell*, const Cell* x, const Cell* y, uint32_t) {
    const bool less = cell::type_of(x) == TYPE_CHAR ? x->data2 < y->data2 : string::compare(x, y, 3) < 0;
    return less ? shared::true_value : shared::false_value;
}

TEST_F(StringSortOrders, CompareFunctionReadLikeBlocks) {
    Cell fn{TYPE_FUNCTION, 0, 0, 0};
    Cell* f = stack::push(&fn);
    const block::ComparatorCall saved = block::call_comparator;
    block::call_comparator = nullptr;
    EXPECT_EQ(code(caught([&] { sort(text("ba"), false, 0, f); })), err::NOT_DONE);
    block::call_comparator = &less_than;
    EXPECT_EQ(sort(text("cab"), false, 0, f), "abc");
    EXPECT_EQ(sort(text("cab"), false, 0, f, nullptr, false, true), "cba");
    EXPECT_EQ(sort(text_in("c😀a", 4), false, 0, f, nullptr, false, false, true), "ac😀");
    EXPECT_EQ(sort(text("dcbaba"), false, 2, f, nullptr, true), "babadc") << "whole records as strings";
    EXPECT_EQ(sort(text("dbca"), false, 2, f), "cadb") << "records by their first unit";
    block::call_comparator = saved;
}

// ---- set operations ----------------------------------------------------------------------

TEST_F(StringSetOp, Table) {
    struct Case {
        int32_t code;
        const char* a;
        const char* b;
        bool case_sensitive;
        int32_t skip;
        const char* result;
    } cases[] = {
        {string::UNIQUE, "abcabc", "", false, 0, "abc"},
        {string::UNIQUE, "aA", "", false, 0, "a"},
        {string::UNIQUE, "aA", "", true, 0, "aA"},
        {string::UNION, "ab", "bc", false, 0, "abc"},
        {string::INTERSECT, "abc", "cbx", false, 0, "bc"},
        {string::EXCLUDE, "abc", "b", false, 0, "ac"},
        {string::EXCLUDE, "abc", "B", true, 0, "abc"},
        {string::DIFFERENCE, "abc", "bcd", false, 0, "ad"},
        {string::UNIQUE, "abacab", "", false, 2, "ab"},
        {string::UNION, "ab", "cdab", false, 2, "abcd"},
        {string::EXCLUDE, "abcde", "cx", false, 2, "abe"},
        {string::UNION, "a", "Ā😀", false, 0, "aĀ😀"},
        {string::UNIQUE, "", "", false, 0, ""},
    };
    for (const Case& c : cases) {
        Cell* a = text(c.a, TYPE_FILE);
        Cell* b = text(c.b);
        Cell* r = string::set_op(c.code, a, b, c.case_sensitive, c.skip ? integer(c.skip) : nullptr);
        EXPECT_EQ(r, a);
        EXPECT_EQ(cell::type_of(r), TYPE_FILE);
        EXPECT_EQ(utf8(r), c.result) << c.code << " " << c.a << " " << c.b;
    }
    Cell* from_index = text("xab");
    from_index->data1 = 1;
    EXPECT_EQ(utf8(string::set_op(string::UNIQUE, from_index, text(""), false, nullptr)), "ab");
    EXPECT_EQ(code(caught([&] { string::set_op(string::UNIQUE, text("a"), text(""), false, integer(0)); })),
              err::INVALID_REFINE_ARG);
}

}  // namespace
}  // namespace qel
