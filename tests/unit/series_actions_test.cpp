// The series! actions on blocks and strings: navigation, pick and poke,
// clear, remove, reverse, take, copy, move, random, reflect and the owner
// reports around changes.
#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "datatypes/series.hpp"
#include "evaluator/action_entries.hpp"
#include "evaluator/actions.hpp"
#include "runtime/context.hpp"
#include "runtime/cycles.hpp"
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
    // A direct slot on (series, argument); answers the argument base.
    Cell direct(datatype::Slot slot, const Cell& series, const Cell& argument = Cell{TYPE_NONE, 0, 0, 0}) {
        stack::Saved saved;
        stack::arg_base = arg(series);
        arg(argument);
        actions::slot<slot_fn::Direct>(stack::arg_base, slot)();
        return *stack::arg_base;
    }
};

TEST_F(SeriesActions, NavigationClampsToTheSeries) {
    struct Case {
        datatype::Slot slot;
        uint32_t from;
        int32_t offset;
        uint32_t to;
    };
    const Case cases[] = {
        {datatype::AT, 1, 1, 1},   {datatype::AT, 1, 0, 1},    {datatype::AT, 1, 2, 2},
        {datatype::AT, 2, -1, 1},  {datatype::AT, 0, -1, 0},   {datatype::AT, 0, 9, 5},
        {datatype::AT, 1, INT32_MAX, 5}, {datatype::AT, 4, INT32_MIN, 0},
        {datatype::SKIP, 0, -1, 0}, {datatype::SKIP, 1, 3, 4}, {datatype::SKIP, 1, 0, 1},
        {datatype::SKIP, 3, 9, 5}, {datatype::NEXT, 5, 0, 5},  {datatype::NEXT, 4, 0, 5},
        {datatype::BACK, 0, 0, 0}, {datatype::BACK, 5, 0, 4},  {datatype::HEAD, 3, 0, 0},
        {datatype::TAIL, 1, 0, 5},
    };
    for (const Case& c : cases) {
        const Cell r = direct(c.slot, at_index(abcde(), c.from), int_cell(c.offset));
        EXPECT_EQ(cell::type_of(&r), TYPE_BLOCK);
        EXPECT_EQ(r.data1, c.to) << "slot " << c.slot << " from " << c.from << " by " << c.offset;
    }
    const Cell blk = abcde();
    EXPECT_EQ(raised([&] { direct(datatype::AT, blk, logic_cell(true)); }), err::INVALID_ARG);
}

TEST_F(SeriesActions, QueriesTurnTheSeriesIntoTheirAnswer) {
    struct Case {
        datatype::Slot slot;
        uint32_t index;
        const char* answer;
    };
    const Case cases[] = {
        {datatype::HEAD_Q, 0, "true"},  {datatype::HEAD_Q, 1, "false"}, {datatype::TAIL_Q, 5, "true"},
        {datatype::TAIL_Q, 9, "true"},  {datatype::TAIL_Q, 4, "false"}, {datatype::INDEX_Q, 0, "1"},
        {datatype::INDEX_Q, 3, "4"},
    };
    for (const Case& c : cases) EXPECT_EQ(show(direct(c.slot, at_index(abcde(), c.index))), c.answer);
}

TEST_F(SeriesActions, ALengthPastTheTailIsZeroAndPullsTheIndexBack) {
    Cell* b = arg(at_index(abcde(), 4));
    series::set_tail_at(b->data2, 3);  // the buffer shrank under the cell
    EXPECT_EQ(show(actions::length(b)), "0");
    EXPECT_EQ(b->data1, 2u);
    EXPECT_EQ(series::length_from(b, true), 2u);
}

TEST_F(SeriesActions, PickCountsFromTheIndex) {
    struct Case {
        Cell index;
        const char* answer;
    };
    const Case cases[] = {
        {int_cell(1), "b"}, {int_cell(2), "c"},       {int_cell(0), "none"},         {int_cell(-1), "a"},
        {int_cell(-2), "none"}, {int_cell(4), "e"},   {int_cell(5), "none"},         {int_cell(INT32_MAX), "none"},
        {int_cell(INT32_MIN), "none"}, {logic_cell(true), "b"}, {logic_cell(false), "c"}, {none_cell(), "none"},
    };
    for (const Case& c : cases) {
        Cell* b = arg(at_index(abcde(), 1));
        Cell* i = arg(c.index);
        EXPECT_EQ(show(*actions::pick(b, i)), c.answer) << show(c.index);
    }
}

TEST_F(SeriesActions, PokeOutsideTheSeriesRaises) {
    for (int32_t i : {0, -2, 5, INT32_MIN, INT32_MAX}) {
        Cell* b = arg(at_index(abcde(), 1));
        Cell* at = arg(int_cell(i));
        Cell* v = arg(word_cell("x"));
        EXPECT_EQ(raised([&] { actions::poke(b, at, v); }), err::OUT_OF_RANGE) << i;
        EXPECT_EQ(show(at_index(*b, 0)), "[a b c d e]");
    }
    Cell* b = arg(at_index(abcde(), 1));
    Cell* at = arg(int_cell(-1));
    Cell* v = arg(word_cell("x", TYPE_LIT_WORD));
    EXPECT_EQ(show(*actions::poke(b, at, v)), "'x");
    EXPECT_EQ(show(at_index(*b, 0)), "['x b c d e]");
}

TEST_F(SeriesActions, StringsPickCharsAndPokeOnlyChars) {
    Cell* s = arg(string_of("abc"));
    Cell* two = arg(int_cell(2));
    EXPECT_EQ(show(*actions::pick(s, two)), "#'b'");
    Cell* wrong = arg(int_cell(66));
    EXPECT_EQ(raised([&] { actions::poke(s, two, wrong); }), err::INVALID_ARG);
    Cell* wide = arg(character(0x263A));
    actions::poke(s, two, wide);
    EXPECT_EQ(series::unit(series::buffer_of(s->data2)), 2u);
    EXPECT_EQ(show(*s), "\"a<9786>c\"");
}

TEST_F(SeriesActions, ClearCutsAtTheIndex) {
    Cell* b = arg(at_index(abcde(), 2));
    series_type::clear(b);
    EXPECT_EQ(show(at_index(*b, 0)), "[a b]");
    series_type::clear(b);  // nothing left after the index: unchanged
    EXPECT_EQ(show(at_index(*b, 0)), "[a b]");
    Cell* s = arg(at_index(string_of("hello"), 1));
    series_type::clear(s);
    EXPECT_EQ(show(at_index(*s, 0)), "\"h\"");
}

TEST_F(SeriesActions, RemoveWithPartCounts) {
    struct Case {
        int32_t part;  // INT32_MIN: no /part
        const char* left;
    };
    const Case cases[] = {
        {INT32_MIN, "[a c d e]"}, {2, "[a d e]"}, {0, "[a b c d e]"},
        {-1, "[a b c d e]"},      {9, "[a]"},     {INT32_MAX, "[a]"},
    };
    for (const Case& c : cases) {
        Cell* b = arg(at_index(abcde(), 1));
        Cell* part = c.part == INT32_MIN ? nullptr : arg(int_cell(c.part));
        const Cell* r = series_type::remove(b, part, nullptr);
        EXPECT_EQ(r->data1, 1u);
        EXPECT_EQ(show(at_index(*b, 0)), c.left) << c.part;
    }
    Cell* b = arg(at_index(abcde(), 1));
    Cell* to = arg(at_index(*b, 3));
    series_type::remove(b, to, nullptr);
    EXPECT_EQ(show(at_index(*b, 0)), "[a d e]");
    Cell* other = arg(abcde());
    EXPECT_EQ(raised([&] { series_type::remove(b, other, nullptr); }), err::INVALID_REFINE_ARG);
    Cell* tail = arg(at_index(abcde(), 5));
    EXPECT_EQ(show(at_index(*series_type::remove(tail, nullptr, nullptr), 0)), "[a b c d e]");
}

TEST_F(SeriesActions, RemoveByKeyTakesTheKeyAndItsValue) {
    Cell* b = arg(block_of({datatype_of(TYPE_BLOCK), logic_cell(true), datatype_of(TYPE_LOGIC), none_cell(),
                            datatype_of(TYPE_NONE)}));
    Cell* key = arg(datatype_of(TYPE_LOGIC));
    const Cell* r = series_type::remove(b, nullptr, key);
    EXPECT_EQ(r->data1, 2u);
    EXPECT_EQ(show(at_index(*b, 0)), "[block! true none!]");
    Cell* missing = arg(datatype_of(TYPE_STRING));
    EXPECT_EQ(show(*series_type::remove(b, nullptr, missing)), "none");
}

TEST_F(SeriesActions, ReverseWithPartAndRecords) {
    struct Case {
        Cell part, skip;  // none: refinement absent
        const char* result;
        int error;
    };
    const Cell absent = none_cell();
    const Case cases[] = {
        {absent, absent, "[e d c b a]", 0},
        {int_cell(2), absent, "[b a c d e]", 0},
        {int_cell(0), absent, "[a b c d e]", 0},
        {int_cell(99), absent, "[e d c b a]", 0},
        {int_cell(4), int_cell(2), "[c d a b e]", 0},
        {absent, int_cell(5), "[a b c d e]", 0},  // one record: nothing moves
        {absent, int_cell(2), "", err::INVALID_REFINE_ARG},
        {int_cell(2), int_cell(3), "", err::INVALID_REFINE_ARG},
        {absent, int_cell(0), "", err::OUT_OF_RANGE},
    };
    for (const Case& c : cases) {
        Cell* b = arg(abcde());
        Cell* part = cell::type_of(&c.part) == TYPE_NONE ? nullptr : arg(c.part);
        Cell* skip = cell::type_of(&c.skip) == TYPE_NONE ? nullptr : arg(c.skip);
        const int e = raised([&] { series_type::reverse(b, part, skip); });
        EXPECT_EQ(e, c.error) << show(c.part) << " " << show(c.skip);
        if (!c.error) {
            EXPECT_EQ(show(*b), c.result) << show(c.part) << " " << show(c.skip);
        }
    }
    Cell* s = arg(at_index(string_of("abcd"), 1));
    series_type::reverse(s, nullptr, nullptr);
    EXPECT_EQ(show(at_index(*s, 0)), "\"adcb\"");
}

TEST_F(SeriesActions, TakeFromTheIndexTheEndOrBefore) {
    struct Case {
        uint32_t index;
        Cell part;  // none: no /part
        bool last;
        const char* taken;
        const char* left;
    };
    const Case cases[] = {
        {0, none_cell(), false, "a", "[b c d e]"},
        {1, int_cell(2), false, "[b c]", "[a d e]"},
        {0, none_cell(), true, "e", "[a b c d]"},
        {0, int_cell(2), true, "[d e]", "[a b c]"},
        {3, int_cell(-2), false, "[b c]", "[a d e]"},
        {1, int_cell(-5), false, "[a]", "[b c d e]"},
        {1, int_cell(9), false, "[b c d e]", "[a]"},
        {5, none_cell(), false, "none", "[a b c d e]"},
        // A count of 0 takes nothing and changes nothing.
        {1, int_cell(0), false, "[]", "[a b c d e]"},
        {1, int_cell(0), true, "[]", "[a b c d e]"},
        {0, int_cell(-1), false, "[]", "[a b c d e]"},
    };
    for (const Case& c : cases) {
        Cell* b = arg(at_index(abcde(), c.index));
        const Cell keep = *b;
        Cell* part = cell::type_of(&c.part) == TYPE_NONE ? nullptr : arg(c.part);
        const Cell* r = actions::slot<slot_fn::Take>(b, datatype::TAKE)(b, part, false, c.last);
        EXPECT_EQ(show(*r), c.taken) << c.index << " " << show(c.part) << " " << c.last;
        EXPECT_EQ(show(at_index(keep, 0)), c.left) << c.index << " " << show(c.part) << " " << c.last;
    }
}

TEST_F(SeriesActions, TakeWithAPositionCountsToIt) {
    Cell* b = arg(at_index(abcde(), 1));
    Cell* to = arg(at_index(*b, 3));
    const Cell keep = *b;
    EXPECT_EQ(show(*actions::slot<slot_fn::Take>(b, datatype::TAKE)(b, to, false, false)), "[b c]");
    EXPECT_EQ(show(at_index(keep, 0)), "[a d e]");
    Cell* s = arg(string_of("xyz"));
    Cell* foreign = arg(abcde());
    EXPECT_EQ(raised([&] { series_type::take(s, foreign, false, false); }), err::INVALID_REFINE_ARG);
    const Cell* one = series_type::take(s, nullptr, false, true);
    EXPECT_EQ(cell::type_of(one), TYPE_STRING);
    EXPECT_EQ(show(*one), "\"z\"");
    EXPECT_EQ(show(*s), "\"xy\"");
}

TEST_F(SeriesActions, CopyPartForms) {
    struct Case {
        uint32_t index;
        Cell part;
        const char* copied;
    };
    Cell pair{TYPE_PAIR, 0, 2, 4};
    Cell backwards{TYPE_PAIR, 0, 3, 1};
    const Case cases[] = {
        {1, none_cell(), "[b c d e]"}, {1, int_cell(2), "[b c]"},  {1, int_cell(0), "[]"},
        {3, int_cell(-2), "[b c]"},    {2, int_cell(-9), "[a b]"}, {1, int_cell(99), "[b c d e]"},
        {0, pair, "[b c]"},            {0, backwards, "[]"},       {7, none_cell(), "[]"},
    };
    for (const Case& c : cases) {
        Cell* b = arg(at_index(abcde(), c.index));
        Cell* part = cell::type_of(&c.part) == TYPE_NONE ? nullptr : arg(c.part);
        Cell* result = arg(Cell{TYPE_UNSET, 0, 0, 0});
        const Cell* r = series_type::copy(b, result, part, false, nullptr);
        EXPECT_EQ(show(*r), c.copied) << c.index << " " << show(c.part);
        EXPECT_NE(r->data2, b->data2);
    }
    Cell* s = arg(at_index(string_of("hello"), 1));
    Cell* to = arg(at_index(*s, 3));
    EXPECT_EQ(show(*series_type::copy(s, s, to, false, nullptr)), "\"el\"");
    Cell* other = arg(string_of("x"));
    EXPECT_EQ(raised([&] { series_type::copy(other, other, arg(abcde()), false, nullptr); }),
              err::INVALID_REFINE_ARG);
}

TEST_F(SeriesActions, CopyKeepsTheNewLineFlagButNotOwnership) {
    Cell b = abcde();
    b.header |= cell_flag::NEW_LINE;
    Cell* src = arg(b);
    Cell* result = arg(none_cell());
    series_type::copy(src, result, nullptr, false, nullptr);
    EXPECT_TRUE(result->header & cell_flag::NEW_LINE);
}

TEST_F(SeriesActions, MoveWithinOneBuffer) {
    struct Case {
        uint32_t from, to;
        int32_t part;
        const char* result;
    };
    const Case cases[] = {
        {0, 3, 1, "[b c a d e]"}, {3, 1, 1, "[a d b c e]"}, {0, 5, 2, "[c d e a b]"},
        {4, 0, 1, "[e a b c d]"}, {1, 1, 1, "[a b c d e]"}, {1, 2, 3, "[a b c d e]"},
        {0, 9, 1, "[b c d e a]"}, {3, 0, 9, "[d e a b c]"},
    };
    for (const Case& c : cases) {
        Cell* origin = arg(at_index(abcde(), c.from));
        Cell* target = arg(at_index(*origin, c.to));
        Cell* part = arg(int_cell(c.part));
        series_type::move(origin, target, part);
        EXPECT_EQ(show(at_index(*origin, 0)), c.result) << c.from << " -> " << c.to << " /part " << c.part;
    }
}

TEST_F(SeriesActions, MoveBetweenSeries) {
    Cell* origin = arg(at_index(abcde(), 3));
    Cell* target = arg(at_index(block_of({word_cell("x"), word_cell("y")}), 1));
    Cell* part = arg(int_cell(5));
    const Cell* r = series_type::move(origin, target, part);
    EXPECT_EQ(r, target);
    EXPECT_EQ(show(at_index(*target, 0)), "[x d e y]");
    EXPECT_EQ(show(at_index(*origin, 0)), "[a b c]");

    Cell* narrow = arg(string_of("ab"));
    Cell* wide = arg(string_of("x"));
    Cell* smile = arg(character(0x263A));
    Cell* one = arg(int_cell(1));
    actions::poke(wide, one, smile);
    series_type::move(wide, narrow, nullptr);
    EXPECT_EQ(show(*narrow), "\"<9786>ab\"");
    EXPECT_EQ(show(*wide), "\"\"");

    origin->data1 = 0;
    Cell* text = arg(string_of("ab"));
    EXPECT_EQ(raised([&] { series_type::move(origin, text, nullptr); }), err::MOVE_BAD);
    Cell* number = arg(int_cell(3));
    EXPECT_EQ(raised([&] { series_type::move(origin, number, nullptr); }), err::EXPECT_ARG);
}

TEST_F(SeriesActions, RandomShufflesPicksAndSeeds) {
    Cell* b = arg(at_index(abcde(), 1));
    series_type::random(b, false, false, false);
    std::string shuffled = show(*b);
    std::vector<std::string> names;
    for (uint32_t i = 1; i < 5; i++) names.push_back(show(cells_of(*b)[i]));
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"b", "c", "d", "e"}));
    EXPECT_EQ(show(cells_of(*b)[0]), "a");

    Cell* tail = arg(at_index(abcde(), 5));
    EXPECT_EQ(show(*series_type::random(tail, false, false, true)), "none");
    const Cell* picked = series_type::random(b, false, true, true);
    EXPECT_EQ(cell::type_of(picked), TYPE_WORD);

    auto seeded_order = [&] {
        Cell* s = arg(string_of("seed"));
        series_type::random(s, true, false, false);
        EXPECT_EQ(cell::type_of(s), TYPE_UNSET);
        Cell* c = arg(abcde());
        series_type::random(c, false, false, false);
        return show(*c);
    };
    EXPECT_EQ(seeded_order(), seeded_order());
}

TEST_F(SeriesActions, ReflectAndModifyKnowOnlyOwned) {
    Cell* b = arg(abcde());
    EXPECT_EQ(show(*series_type::reflect(b, symbol::intern_cstr("owned"))), "none");
    EXPECT_EQ(raised([&] { series_type::reflect(b, symbol::intern_cstr("spec")); }), err::NOT_DONE);
    Cell* field = arg(word_cell("size"));
    Cell* value = arg(none_cell());
    EXPECT_EQ(series_type::modify(b, field, value, false), b);
}

// Owner reports: an object with change handlers owning the series.
struct Seen {
    std::string action;
    int32_t index, part;
};
std::vector<Seen> seen;

void record(const Cell*, const Cell*, const Cell*, const Cell* action, const Cell*, int32_t index, int32_t part) {
    seen.push_back({symbol::name(static_cast<int32_t>(action->data2)), index, part});
}

class SeriesReports : public SeriesActions {
protected:
    void SetUp() override {
        SeriesActions::SetUp();
        seen.clear();
        owner::deep_change_dispatch = &record;
    }
    void TearDown() override {
        owner::deep_change_dispatch = nullptr;
        SeriesActions::TearDown();
    }
    // The block owned by an object that has change handlers, through the
    // modify action, as a script would attach it.
    Cell* owned(const Cell& series) {
        const node_t ctx = context::make(1, false, true, 0, context::OBJECT);
        const Cell handlers = block_of({});
        const Cell obj{TYPE_OBJECT, ctx, 1000000, handlers.data2};
        *context::self_of(ctx) = obj;
        Cell* s = arg(series);
        Cell* field = arg(word_cell("owned"));
        Cell* spec = arg(block_of({obj, word_cell("items")}));
        series_type::modify(s, field, spec, false);
        return s;
    }
};

TEST_F(SeriesReports, ChangesReportBeforeAndAfter) {
    Cell* b = owned(at_index(abcde(), 1));
    EXPECT_EQ(cell::type_of(series_type::reflect(b, symbol::intern_cstr("owned"))), TYPE_OBJECT);
    Cell* part = arg(int_cell(2));
    series_type::remove(b, part, nullptr);
    Cell* one = arg(int_cell(1));
    Cell* x = arg(word_cell("x"));
    actions::poke(b, one, x);
    series_type::reverse(b, nullptr, nullptr);
    series_type::clear(b);
    const std::vector<std::string> expected = {"remove", "removed", "poke",  "poked",
                                               "reverse", "reversed", "clear", "cleared"};
    std::vector<std::string> got;
    for (const Seen& s : seen) got.push_back(s.action);
    EXPECT_EQ(got, expected);
    EXPECT_EQ(seen[0].index, 1);
    EXPECT_EQ(seen[0].part, 2);
    EXPECT_EQ(seen[1].part, 0);

    seen.clear();
    Cell* none_value = arg(none_cell());
    Cell* field = arg(word_cell("owned"));
    series_type::modify(b, field, none_value, false);
    Cell* c = arg(at_index(*b, 0));
    series_type::clear(c);
    EXPECT_TRUE(seen.empty());
}

TEST_F(SeriesReports, NothingIsReportedWhenNothingChanges) {
    Cell* b = owned(at_index(abcde(), 5));
    series_type::clear(b);
    series_type::remove(b, nullptr, nullptr);
    series_type::reverse(b, nullptr, nullptr);
    Cell* c = arg(at_index(*b, 1));
    Cell* zero = arg(int_cell(0));
    actions::slot<slot_fn::Take>(c, datatype::TAKE)(c, zero, false, false);
    EXPECT_TRUE(seen.empty());
}

}  // namespace
