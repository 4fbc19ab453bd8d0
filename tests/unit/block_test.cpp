// block!: append, insert and change with their counts, put, take, swap,
// trim, copy, make and to, comparison, path access and the routines the
// rest of the runtime builds blocks with.
#include <gtest/gtest.h>

#include <functional>

#include "datatypes/block.hpp"
#include "datatypes/series.hpp"
#include "evaluator/action_entries.hpp"
#include "evaluator/actions.hpp"
#include "datatypes/text.hpp"
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

// Arguments of append, insert and change through their action entries;
// none for an absent refinement.
struct Edit {
    Cell series;
    Cell value;
    Cell part;
    bool only;
    Cell dup;
    const char* result;  // the series from the answered index
    const char* whole;   // the series from its head
};

Cell* optional(const Cell& v) { return cell::type_of(&v) == TYPE_NONE ? nullptr : arg(v); }

void run(Cell* (*entry)(Cell*, Cell*, Cell*, bool, Cell*), const Edit& e) {
    Cell* s = arg(e.series);
    Cell* v = arg(e.value);
    Cell* part = optional(e.part);
    Cell* dup = optional(e.dup);
    const Cell* r = entry(s, v, part, e.only, dup);
    EXPECT_EQ(show(*r), e.result) << show(e.series) << " <- " << show(e.value);
    EXPECT_EQ(show(at_index(*r, 0)), e.whole) << show(e.series) << " <- " << show(e.value);
}

TEST_F(Block, AppendSplicesLimitsAndRepeats) {
    const Edit cases[] = {
        {block_of({t()}), block_of({f(), n()}), n(), true, n(), "[true [false none]]", "[true [false none]]"},
        {block_of({}), block_of({a(), b(), c(), t(), f()}), int_cell(2), false, n(), "[a b]", "[a b]"},
        {block_of({t()}), block_of({a(), b()}), n(), false, n(), "[true a b]", "[true a b]"},
        {block_of({t()}), at_index(block_of({a(), b(), c()}), 1), n(), false, n(), "[true b c]", "[true b c]"},
        {block_of({t()}), a(), n(), false, int_cell(3), "[true a a a]", "[true a a a]"},
        {block_of({t()}), block_of({a(), b()}), int_cell(1), false, int_cell(2), "[true a a]", "[true a a]"},
        {block_of({t()}), block_of({a(), b()}), int_cell(0), false, n(), "[true]", "[true]"},
        {block_of({t()}), block_of({a(), b()}), n(), false, int_cell(0), "[true]", "[true]"},
        {at_index(block_of({t(), f()}), 1), block_of({}), n(), false, n(), "[false]", "[true false]"},
        // A negative count takes the values before the value's index.
        {block_of({}), at_index(block_of({a(), b(), c()}), 2), int_cell(-1), false, n(), "[b]", "[b]"},
        {block_of({}), at_index(block_of({a(), b(), c()}), 1), int_cell(-5), false, n(), "[a]", "[a]"},
        {block_of({}), block_of({a(), b()}), int_cell(-1), false, n(), "[]", "[]"},
    };
    for (const Edit& e : cases) run(&actions::append, e);
}

TEST_F(Block, InsertAnswersThePositionAfterTheInsertedValues) {
    const Edit cases[] = {
        {block_of({}), block_of({a(), b()}), n(), false, int_cell(3), "[]", "[a b a b a b]"},
        {at_index(block_of({a(), b()}), 1), c(), n(), false, n(), "[b]", "[a c b]"},
        {block_of({a()}), block_of({b(), c()}), n(), true, n(), "[a]", "[[b c] a]"},
        {at_index(block_of({a(), b()}), 9), c(), n(), false, n(), "[]", "[a b c]"},
        {block_of({a()}), block_of({t(), f(), n()}), int_cell(2), false, int_cell(2), "[a]",
         "[true false true false a]"},
    };
    for (const Edit& e : cases) run(&actions::insert, e);
}

TEST_F(Block, PartAsAPositionInTheValue) {
    Cell* s = arg(block_of({}));
    Cell* v = arg(block_of({a(), b(), c()}));
    Cell* to = arg(at_index(*v, 2));
    actions::append(s, v, to, false, nullptr);
    EXPECT_EQ(show(*s), "[a b]");
    Cell* foreign = arg(block_of({a()}));
    EXPECT_EQ(raised([&] { actions::append(s, v, foreign, false, nullptr); }), err::INVALID_REFINE_ARG);
    Cell* single = arg(a());
    EXPECT_EQ(raised([&] { actions::insert(s, single, to, false, nullptr); }), err::INVALID_PART);
}

TEST_F(Block, InsertingABlockIntoItselfUsesItAsItWas) {
    struct Case {
        Cell* (*entry)(Cell*, Cell*, Cell*, bool, Cell*);
        uint32_t series_index, value_index;
        const char* whole;
    };
    const Case cases[] = {
        {&actions::insert, 0, 1, "[b c a b c]"},
        {&actions::insert, 2, 0, "[a b a b c c]"},
        {&actions::append, 0, 0, "[a b c a b c]"},
        {&actions::change, 0, 1, "[b c c]"},
        {&actions::change, 1, 0, "[a a b c]"},
    };
    for (const Case& k : cases) {
        const Cell blk = block_of({a(), b(), c()});
        Cell* s = arg(at_index(blk, k.series_index));
        Cell* v = arg(at_index(blk, k.value_index));
        k.entry(s, v, nullptr, false, nullptr);
        EXPECT_EQ(show(at_index(blk, 0)), k.whole) << k.series_index << " " << k.value_index;
    }
}

TEST_F(Block, ChangeReplacesAsManyAsItWrites) {
    const Edit cases[] = {
        {block_of({a(), b(), c()}), t(), n(), false, n(), "[b c]", "[true b c]"},
        {block_of({a(), b(), c()}), block_of({t(), f()}), n(), false, n(), "[c]", "[true false c]"},
        {block_of({a(), b()}), block_of({t(), f(), n(), t(), f()}), int_cell(2), false, n(), "[]",
         "[true false none true false]"},
        {block_of({a(), b(), c()}), block_of({t()}), int_cell(0), false, n(), "[a b c]", "[true a b c]"},
        {block_of({a(), b(), c()}), block_of({t()}), int_cell(2), false, n(), "[c]", "[true c]"},
        {block_of({a(), b(), c()}), block_of({}), int_cell(2), false, n(), "[c]", "[c]"},
        {block_of({a(), b(), c()}), block_of({t(), f()}), n(), true, n(), "[b c]", "[[true false] b c]"},
        {block_of({a(), b(), c()}), t(), n(), false, int_cell(2), "[c]", "[true true c]"},
        {at_index(block_of({a()}), 1), t(), n(), false, n(), "[]", "[a true]"},
        {at_index(block_of({a(), b(), c()}), 3), block_of({t()}), int_cell(-2), false, n(), "[]", "[a true]"},
    };
    for (const Edit& e : cases) run(&actions::change, e);
}

TEST_F(Block, CountsThatOverflowRaiseNoMemory) {
    Cell* s = arg(block_of({}));
    Cell* v = arg(block_of({a(), b()}));
    for (auto* entry : {&actions::append, &actions::insert, &actions::change}) {
        Cell* dup = arg(int_cell(INT32_MAX));
        EXPECT_EQ(raised([&] { entry(s, v, nullptr, false, dup); }), err::NO_MEMORY);
        EXPECT_EQ(show(*s), "[]");
    }
    // 2^27 cells are 2 GB: a buffer size of 32 bits cannot hold them.
    Cell* big = arg(int_cell(1 << 27));
    EXPECT_EQ(raised([&] { block::append(s, v, -1, false, 1 << 27); }), err::NO_MEMORY);
    (void)big;
}

TEST_F(Block, PutAppendsOrOverwrites) {
    Cell* blk = arg(block_of({datatype_of(TYPE_LOGIC), t(), datatype_of(TYPE_NONE)}));
    struct Case {
        Cell key, value;
        const char* whole;
    };
    const Case cases[] = {
        {datatype_of(TYPE_LOGIC), f(), "[logic! false none!]"},
        {datatype_of(TYPE_NONE), a(), "[logic! false none! a]"},
        {datatype_of(TYPE_BLOCK), b(), "[logic! false none! a block! b]"},
    };
    for (const Case& k : cases) {
        Cell* key = arg(k.key);
        Cell* value = arg(k.value);
        EXPECT_EQ(show(*block::put(blk, key, value, false)), show(k.value));
        EXPECT_EQ(show(*blk), k.whole);
    }
}

TEST_F(Block, PutStoresAValueThatDiffersOnlyInCase) {
    Cell* blk = arg(block_of({datatype_of(TYPE_STRING), string_of("abc")}));
    Cell* key = arg(datatype_of(TYPE_STRING));
    Cell* value = arg(string_of("ABC"));
    block::put(blk, key, value, false);
    EXPECT_EQ(cells_of(*blk)[1].data2, value->data2);
    EXPECT_EQ(show(*blk), "[string! \"ABC\"]");
}

TEST_F(Block, TakeAnswersTheElementOrABlock) {
    Cell* one = arg(block_of({a(), b(), c()}));
    EXPECT_EQ(show(*block::take(one, nullptr, false, false)), "a");
    Cell* two = arg(block_of({a(), b(), c()}));
    const Cell keep = *two;
    Cell* part = arg(int_cell(2));
    EXPECT_EQ(show(*block::take(two, part, false, false)), "[a b]");
    EXPECT_EQ(show(keep), "[c]");

    const Cell inner = block_of({t()});
    Cell* nested = arg(block_of({inner, inner}));
    const Cell* shallow = block::take(nested, nullptr, false, false);
    EXPECT_EQ(shallow->data2, inner.data2);
    const Cell* deep = block::take(nested, nullptr, true, false);
    EXPECT_NE(deep->data2, inner.data2);
    EXPECT_EQ(show(*deep), "[true]");

    Cell* many = arg(block_of({inner, a()}));
    Cell* all = arg(int_cell(2));
    const Cell* copied = block::take(many, all, true, false);
    EXPECT_NE(cells_of(*copied)[0].data2, inner.data2);
    EXPECT_EQ(show(*copied), "[[true] a]");
}

TEST_F(Block, TrimDropsNoneFromTheIndex) {
    struct Case {
        Cell blk;
        const char* whole;
    };
    const Case cases[] = {
        {block_of({t(), n(), f()}), "[true false]"},
        {at_index(block_of({n(), t(), n(), n(), f(), n()}), 1), "[none true false]"},
        {block_of({n(), n()}), "[]"},
        {block_of({}), "[]"},
    };
    for (const Case& k : cases) {
        Cell* s = arg(k.blk);
        block::trim(s, false, false, false, false, false, nullptr);
        EXPECT_EQ(show(at_index(*s, 0)), k.whole);
    }
}

TEST_F(Block, SwapExchangesTheCellsAtTheIndexes) {
    Cell* x = arg(at_index(block_of({a(), b()}), 1));
    Cell* y = arg(block_of({c()}));
    EXPECT_EQ(block::swap(x, y), x);
    EXPECT_EQ(show(at_index(*x, 0)), "[a c]");
    EXPECT_EQ(show(*y), "[b]");
    Cell* end = arg(at_index(*y, 1));
    block::swap(x, end);
    EXPECT_EQ(show(at_index(*x, 0)), "[a c]");
    Cell* text = arg(string_of("s"));
    EXPECT_EQ(raised([&] { block::swap(x, text); }), err::INVALID_ARG);
}

TEST_F(Block, CopyDeepAndTyped) {
    const Cell inner = block_of({t()});
    const Cell text = string_of("s");
    Cell* src = arg(block_of({inner, text, a()}));
    Cell* result = arg(n());
    block::copy(src, result, nullptr, false, nullptr);
    EXPECT_EQ(cells_of(*result)[0].data2, inner.data2);
    block::copy(src, result, nullptr, true, nullptr);
    EXPECT_NE(cells_of(*result)[0].data2, inner.data2);
    EXPECT_NE(cells_of(*result)[1].data2, text.data2);
    EXPECT_EQ(show(*result), "[[true] \"s\" a]");
    Cell* only_blocks = arg(datatype_of(TYPE_BLOCK));
    block::copy(src, result, nullptr, false, only_blocks);
    EXPECT_NE(cells_of(*result)[0].data2, inner.data2);
    EXPECT_EQ(cells_of(*result)[1].data2, text.data2);
}

TEST_F(Block, CopyOfABlockHoldingItselfRaisesAndLeavesNoCycleEntries) {
    Cell* self = arg(block_of({t()}));
    Cell* v = arg(*self);
    actions::append(self, v, nullptr, true, nullptr);
    Cell* result = arg(n());
    EXPECT_EQ(raised([&] { block::copy(self, result, nullptr, true, nullptr); }), err::NO_CYCLE);
    EXPECT_EQ(cycles::depth(), 0u);
    EXPECT_EQ(raised([&] { block::copy_cells(self, true, false); }), err::NO_CYCLE);
    // Shared but not circular: the same block twice is copied twice.
    const Cell inner = block_of({f()});
    Cell* twice = arg(block_of({inner, inner}));
    EXPECT_EQ(show(*block::copy_cells(twice, true, false)), "[[false] [false]]");
}

TEST_F(Block, MakeAndTo) {
    struct Case {
        Cell spec;
        bool make;
        uint32_t type;
        const char* result;
        int error;
    };
    Cell big{TYPE_FLOAT, 0, 0, 0};
    cell::put_double(&big, 3e10);
    Cell cap{TYPE_FLOAT, 0, 0, 0};
    cell::put_double(&cap, 4.5);
    Cell typeset{TYPE_TYPESET, 0, 0, 0};
    reinterpret_cast<uint8_t*>(&typeset.data1)[TYPE_NONE >> 3] |= 0x80 >> (TYPE_NONE & 7);
    reinterpret_cast<uint8_t*>(&typeset.data1)[TYPE_BLOCK >> 3] |= 0x80 >> (TYPE_BLOCK & 7);
    const Case cases[] = {
        {int_cell(0), true, TYPE_BLOCK, "[]", 0},
        {int_cell(-5), true, TYPE_BLOCK, "[]", 0},
        {cap, true, TYPE_BLOCK, "[]", 0},
        {big, true, TYPE_BLOCK, "", err::OUT_OF_RANGE},
        {at_index(block_of({a(), b()}), 1), true, TYPE_PAREN, "(b)", 0},
        {t(), true, TYPE_BLOCK, "", err::BAD_MAKE_ARG},
        {t(), false, TYPE_BLOCK, "[true]", 0},
        {block_of({a()}, TYPE_PATH), false, TYPE_BLOCK, "[a]", 0},
        {typeset, false, TYPE_BLOCK, "[none! block!]", 0},
    };
    for (const Case& k : cases) {
        Cell* spec = arg(k.spec);
        Cell* proto = arg(datatype_of(k.type));
        const Cell* r = nullptr;
        const int e = raised([&] { r = (k.make ? block::make : block::to)(proto, spec, k.type); });
        EXPECT_EQ(e, k.error) << show(k.spec);
        if (!e) {
            EXPECT_EQ(show(*r), k.result) << show(k.spec);
            EXPECT_EQ(cell::type_of(r), k.type);
            EXPECT_NE(r->data2, k.spec.data2);
        }
    }
    Cell* zero = arg(int_cell(0));
    const Cell* empty = block::make(zero, zero, TYPE_BLOCK);
    EXPECT_EQ(series::buffer_of(empty->data2)->size, sizeof(Cell));
}

TEST_F(Block, CompareByCellsThenByLength) {
    struct Case {
        Cell x, y;
        int32_t op, answer;
    };
    const Cell shared = block_of({t(), f()});
    const Case cases[] = {
        {block_of({t(), f()}), block_of({t(), f(), t()}), 3, -1},
        {block_of({t(), f()}), block_of({t(), f(), t()}), 0, 1},
        {block_of({}), block_of({t()}), 3, -1},
        {block_of({t()}), block_of({}), 5, 1},
        {block_of({t(), f()}), block_of({t(), t()}), 3, -1},
        {block_of({t(), f()}), block_of({t(), f()}), 0, 0},
        {block_of({t(), f()}), block_of({t(), f()}), 9, -1},
        {shared, shared, 9, 0},
        {at_index(shared, 1), block_of({f()}), 0, 0},
        {block_of({a()}), block_of({a()}, TYPE_PAREN), 0, -2},
        {block_of({a()}, TYPE_PATH), block_of({a()}, TYPE_LIT_PATH), 0, -2},
        {block_of({t()}, TYPE_PATH), block_of({t()}, TYPE_LIT_PATH), 10, 0},
        // Cells of unrelated types order by type id.
        {block_of({n()}), block_of({t()}), 3, -1},
        {block_of({block_of({t()})}), block_of({block_of({f()})}), 5, 1},
    };
    for (const Case& k : cases)
        EXPECT_EQ(block::compare(&k.x, &k.y, k.op), k.answer) << show(k.x) << " " << show(k.y) << " op " << k.op;
    EXPECT_TRUE(actions::compare(&cases[0].x, &cases[0].y, 3));
}

TEST_F(Block, CompareOfBlocksHoldingThemselvesEnds) {
    Cell* x = arg(block_of({t()}));
    Cell* y = arg(block_of({t()}));
    actions::append(x, arg(*x), nullptr, true, nullptr);
    actions::append(y, arg(*y), nullptr, true, nullptr);
    EXPECT_EQ(block::compare(x, y, 0), 0);
    EXPECT_EQ(cycles::depth(), 0u);
}

TEST_F(Block, LookupsForPaths) {
    Cell* blk = arg(block_of({word_cell("k", TYPE_SET_WORD), t(), datatype_of(TYPE_NONE), f(), word_cell("last")}));
    const Cell key = word_cell("K");
    EXPECT_EQ(show(*block::find_word_value(blk, &key, false)), "true");
    EXPECT_EQ(show(*block::find_word_value(blk, &key, true)), "none");
    const Cell last = word_cell("last");
    EXPECT_EQ(show(*block::find_word_value(blk, &last, false)), "none");
    const Cell dt = datatype_of(TYPE_NONE);
    EXPECT_EQ(show(*block::select_value(blk, &dt)), "false");
    const Cell missing = datatype_of(TYPE_BLOCK);
    EXPECT_EQ(show(*block::select_value(blk, &missing)), "none");

    Cell* w = arg(word_cell("k"));
    Cell* x = arg(word_cell("x"));
    EXPECT_EQ(show(*block::eval_path(blk, w, nullptr, nullptr, nullptr, nullptr, 0, false, true, true, false)), "true");
    block::eval_path(blk, w, x, nullptr, nullptr, nullptr, 0, false, false, true, false);
    EXPECT_EQ(show(*blk), "[k: x none! false last]");
    Cell* two = arg(int_cell(2));
    EXPECT_EQ(show(*block::eval_path(blk, two, nullptr, nullptr, nullptr, nullptr, 0, false, true, true, false)), "x");
    Cell* absent = arg(word_cell("absent"));
    EXPECT_EQ(raised([&] { block::eval_path(blk, absent, x, nullptr, nullptr, nullptr, 0, false, false, true, false); }),
              err::BAD_PATH_SET);
    Cell* lw = arg(word_cell("last"));
    EXPECT_EQ(raised([&] { block::eval_path(blk, lw, x, nullptr, nullptr, nullptr, 0, false, false, true, false); }),
              err::OUT_OF_RANGE);
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

std::string molded(const Cell& v) {
    const node_t out = text::make_buffer(16);
    actions::mold(&v, out, false, false, false, false, INT32_MAX, 0);
    return text::to_utf8(out);
}

TEST_F(Block, EverydayEditsMoldAsWritten) {
    auto ints = [](std::initializer_list<int32_t> v) {
        const Cell blk = block_of({});
        for (int32_t i : v) *block::reserve_cell(&blk) = int_cell(i);
        return blk;
    };
    struct Case {
        const char* source;
        std::function<Cell()> run;
        const char* mold;
    };
    const Case cases[] = {
        {"append/only [1] [2 3]", [&] { return *actions::append(arg(ints({1})), arg(ints({2, 3})), nullptr, true, nullptr); },
         "[1 [2 3]]"},
        {"append/part [] [1 2 3 4 5] 2",
         [&] { return *actions::append(arg(ints({})), arg(ints({1, 2, 3, 4, 5})), arg(int_cell(2)), false, nullptr); },
         "[1 2]"},
        {"head insert/dup [] [a b] 3",
         [&] { return at_index(*actions::insert(arg(ints({})), arg(block_of({a(), b()})), nullptr, false, arg(int_cell(3))), 0); },
         "[a b a b a b]"},
        {"take/part [a b c] 2", [&] { return *block::take(arg(block_of({a(), b(), c()})), arg(int_cell(2)), false, false); },
         "[a b]"},
        {"trim [1 none 2]",
         [&] {
             Cell* blk = arg(block_of({int_cell(1), n(), int_cell(2)}));
             return *block::trim(blk, false, false, false, false, false, nullptr);
         },
         "[1 2]"},
        {"[1 2] < [1 2 3]",
         [&] {
             const Cell x = ints({1, 2}), y = ints({1, 2, 3});
             return logic_cell(actions::compare(&x, &y, 3));
         },
         "true"},
        {"[1 2] = [1 2 3]",
         [&] {
             const Cell x = ints({1, 2}), y = ints({1, 2, 3});
             return logic_cell(actions::compare(&x, &y, 0));
         },
         "false"},
        {"pick [a b] 0", [&] { return *actions::pick(arg(block_of({a(), b()})), arg(int_cell(0))); }, "none"},
        {"copy/part [1 2 3] -1 at 3", [&] {
             Cell* r = arg(n());
             return *block::copy(arg(at_index(ints({1, 2, 3}), 2)), r, arg(int_cell(-1)), false, nullptr);
         }, "[2]"},
    };
    for (const Case& k : cases) EXPECT_EQ(molded(k.run()), k.mold) << k.source;
}

}  // namespace
