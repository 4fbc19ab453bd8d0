// Contexts and binding: key words kept in the order they were added, values
// read and written through words, the global context's shared slot for
// every spelling of a name, binding that leaves unknown words alone and
// survives a block that holds itself, and words kept in the root block
// during start-up.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "runtime/context.hpp"
#include "runtime/cycles.hpp"
#include "runtime/hashtab.hpp"
#include "runtime/memory.hpp"
#include "runtime/symbols.hpp"
#include "runtime/system.hpp"
#include "runtime/words.hpp"
#include "tests/unit/startup_support.hpp"

namespace {

using namespace qel;
using testutil::raised;

using ContextFixture = testutil::SymbolTables;

using ContextWords = ContextFixture;
using ContextValues = ContextFixture;
using ContextGlobal = ContextFixture;
using ContextBind = ContextFixture;
using ContextMake = ContextFixture;

int32_t sym(const char* name) { return symbol::intern_cstr(name); }

Cell word(const char* name, uint32_t type = TYPE_WORD) { return Cell{type, 0, static_cast<uint32_t>(sym(name)), 0}; }

Cell integer(int32_t v) { return Cell{TYPE_INTEGER, 0, static_cast<uint32_t>(v), 0}; }

Cell block_of(const std::vector<Cell>& cells) {
    const node_t n = memory::alloc_cells(static_cast<uint32_t>(cells.size()) + 1);
    for (const Cell& c : cells) *series::reserve_cell(series::buffer_of(n)) = c;
    return Cell{TYPE_BLOCK, 0, n, 0};
}

Cell* cells(const Cell& block) { return series::head_cell(series::buffer_of(series_node(block))); }

std::vector<std::string> key_names(node_t ctx) {
    std::vector<std::string> names;
    for (uint32_t i = 0; i < context::word_count(ctx); i++) {
        const Cell* w = context::word_at(ctx, i);
        EXPECT_EQ(word_context(w), ctx);
        EXPECT_EQ(word_index(w), static_cast<int32_t>(i));
        names.emplace_back(symbol::name(word_symbol(w)));
    }
    return names;
}

TEST_F(ContextWords, FindOrAddKeepsTheOrderOfFirstAddition) {
    const node_t ctx = context::make(2, false, false, 0, context::OBJECT);
    int32_t added = -7;
    const char* names[] = {"alpha", "beta", "gamma", "beta", "ALPHA", "delta"};
    std::vector<int32_t> answers;
    for (const char* n : names) {
        added = -7;
        const int32_t found = context::find_or_add(ctx, sym(n), true, &added);
        answers.push_back(found >= 0 ? found : 100 + added);
    }
    // New words answer -1 with their index out (shown here as 100 + index).
    EXPECT_EQ(answers, (std::vector<int32_t>{100, 101, 102, 1, 0, 103}));
    EXPECT_EQ(key_names(ctx), (std::vector<std::string>{"alpha", "beta", "gamma", "delta"}));
    EXPECT_EQ(context::find_symbol(ctx, sym("Gamma"), true), 2);
    EXPECT_EQ(context::find_symbol(ctx, sym("Gamma"), false), -1);
}

// find_field scans small contexts and uses the index of larger ones: at
// every size around the limit it finds each field in any letter case, in
// the exact spelling first, and answers -1 for a name that is not there.
TEST_F(ContextWords, FindFieldAnswersEveryFieldInAnyCaseAtEverySize) {
    for (uint32_t size = 1; size <= context::FIELD_SCAN_LIMIT + 3; size++) {
        const node_t ctx = context::make(size, false, true, 0, context::OBJECT);
        for (uint32_t i = 0; i < size; i++) {
            Cell w = word(("Field" + std::to_string(i)).c_str());
            ASSERT_EQ(context::add_symbol(ctx, &w), static_cast<int32_t>(i));
        }
        for (uint32_t i = 0; i < size; i++) {
            const std::string n = std::to_string(i);
            for (const std::string& spelling : {"Field" + n, "field" + n, "FIELD" + n})
                EXPECT_EQ(context::find_field(ctx, sym(spelling.c_str())), static_cast<int32_t>(i))
                    << spelling << " in " << size;
        }
        EXPECT_EQ(context::find_field(ctx, sym("absent")), -1) << size;
        EXPECT_EQ(context::find_field(ctx, sym(("field" + std::to_string(size)).c_str())), -1) << size;
    }
}

TEST_F(ContextWords, ManyWordsSurviveTheIndexGrowing) {
    const node_t ctx = context::make(0, false, false, 0, context::OBJECT);
    constexpr int N = 5000;
    for (int i = 0; i < N; i++) {
        Cell w = word(("w" + std::to_string(i)).c_str());
        ASSERT_EQ(context::add_symbol(ctx, &w), i);
    }
    for (int i = 0; i < N; i++) ASSERT_EQ(context::find_symbol(ctx, sym(("W" + std::to_string(i)).c_str()), true), i);
    EXPECT_EQ(series::buffer_length(context_values(context::cell_of(ctx))), static_cast<uint32_t>(N));
}

TEST_F(ContextValues, WordsReadAndWriteTheirSlots) {
    const node_t ctx = context::make(0, false, false, 0, context::OBJECT);
    // A word bound to the context before it has a slot there.
    Cell w{TYPE_SET_WORD, ctx, static_cast<uint32_t>(sym("count")), static_cast<uint32_t>(-1)};
    const Cell one = integer(1), two = integer(2);
    Cell* slot = word::set(&w, &one);
    EXPECT_EQ(integer_value(slot), 1);
    EXPECT_EQ(context::word_count(ctx), 1u);
    Cell again{TYPE_WORD, ctx, static_cast<uint32_t>(sym("count")), static_cast<uint32_t>(-1)};
    word::set(&again, &two);
    EXPECT_EQ(context::word_count(ctx), 1u);  // the same slot
    EXPECT_EQ(integer_value(word::get(&w)), 2);
    EXPECT_EQ(word_index(w), 0);  // resolved by the read
    // Writing an object's field marks its key word changed.
    EXPECT_TRUE(context::word_at(ctx, 0)->header & context::CHANGED);
    EXPECT_EQ(cell::type_of(context::word_at(ctx, 0)), static_cast<uint32_t>(TYPE_WORD));
}

TEST_F(ContextValues, WordsWithoutAReachableSlotRaise) {
    const node_t object = context::make(1, false, false, 0, context::OBJECT);
    const node_t function = context::make(1, true, false, 0, context::FUNCTION);
    int32_t index;
    context::find_or_add(function, sym("arg"), true, &index);
    struct Case {
        Cell word;
        int code;
    } cases[] = {
        {Cell{TYPE_WORD, 0, static_cast<uint32_t>(sym("free")), static_cast<uint32_t>(-1)}, word::NOT_DEFINED},
        {Cell{TYPE_WORD, object, static_cast<uint32_t>(sym("absent")), static_cast<uint32_t>(-1)}, word::NO_VALUE},
        {Cell{TYPE_WORD, function, static_cast<uint32_t>(sym("arg")), 0}, word::NOT_IN_CONTEXT},
    };
    for (Case& c : cases) EXPECT_EQ(raised([&] { word::get(&c.word); }), c.code) << symbol::name(word_symbol(c.word));
    Cell arg = cases[2].word;
    const Cell v = integer(5);
    EXPECT_EQ(raised([&] { word::set(&arg, &v); }), word::NOT_DEFINED);
}

TEST_F(ContextGlobal, EverySpellingOfANameSharesOneValue) {
    const int32_t lower = sym("value"), upper = sym("VALUE");
    Cell* first = context::add_to_global(lower, false, false);
    const int32_t shared = word_index(first);
    Cell* second = context::add_to_global(upper, false, false);
    EXPECT_EQ(word_symbol(second), upper);  // its own key word
    EXPECT_EQ(word_index(second), shared);
    EXPECT_EQ(context::word_count(context::global), 2u);

    Cell a = *context::add_to_global(lower, false, false);
    Cell b = *context::add_to_global(upper, false, false);
    const Cell v = integer(42);
    word::set(&b, &v);
    EXPECT_EQ(integer_value(word::get(&a)), 42);

    // A spelling found through another gets a copy with its own symbol.
    const int32_t mixed = sym("Value");
    const uint32_t root_length = series::buffer_length(series_node(root_cell));
    Cell* copy = context::add_to_global(mixed, true, true);
    EXPECT_EQ(word_symbol(copy), mixed);
    EXPECT_EQ(word_index(copy), shared);
    EXPECT_EQ(series::buffer_length(series_node(root_cell)), root_length + 1);
    EXPECT_EQ(context::word_count(context::global), 2u);
}

TEST_F(ContextGlobal, WordsMadeDuringStartUpLiveInTheRootBlock) {
    keep_words = 1;
    Cell* w = word::make_from_cstr("start");
    SeriesBuffer* root = series::buffer_of(series_node(root_cell));
    EXPECT_GE(w, series::head_cell(root));
    EXPECT_LT(w, series::tail_cell(root));
    EXPECT_EQ(word_context(w), context::global);
    Cell* variant = word::make_from_cstr("START");
    EXPECT_EQ(word_symbol(variant), sym("START"));
    EXPECT_EQ(word_index(variant), word_index(w));
    EXPECT_EQ(context::word_count(context::global), 1u);
    // Later allocations leave the kept cells where they are.
    for (int i = 0; i < 3000; i++) word::make_from_cstr(("filler" + std::to_string(i)).c_str());
    EXPECT_EQ(symbol::name(word_symbol(w)), std::string("start"));
    keep_words = 0;
    Cell* later = word::make_from_cstr("later");
    EXPECT_EQ(later, context::word_at(context::global, static_cast<uint32_t>(word_index(later))));
}

TEST_F(ContextBind, DeepBindingMeetsEachSeriesOnce) {
    const node_t ctx = context::make(0, false, false, 0, context::OBJECT);
    for (const char* n : {"x", "y", "self"}) {
        Cell w = word(n);
        context::add_symbol(ctx, &w);
    }
    const node_t elsewhere = context::global;
    Cell stranger = word("stranger");
    word_context(stranger) = elsewhere;
    word_index(stranger) = 77;
    const Cell inner = block_of({word("y", TYPE_GET_WORD), word("x", TYPE_ISSUE)});
    const Cell outer = block_of({word("X", TYPE_SET_WORD), stranger, inner, Cell{}, word("self")});
    cells(outer)[3] = outer;  // the block holds itself
    context::bind(&outer, ctx, true, true);
    EXPECT_EQ(cycles::depth(), 0u);

    const Cell* o = cells(outer);
    EXPECT_EQ(word_context(o[0]), ctx);
    EXPECT_EQ(word_index(o[0]), 0);
    EXPECT_EQ(word_context(o[1]), elsewhere);  // not a word of ctx: left as it was
    EXPECT_EQ(word_index(o[1]), 77);
    EXPECT_EQ(word_context(o[4]), ctx);
    EXPECT_EQ(word_index(o[4]), -1);  // self reads the self cell
    const Cell* i = cells(inner);
    EXPECT_EQ(word_context(i[0]), ctx);
    EXPECT_EQ(word_index(i[0]), 1);
    EXPECT_EQ(word_context(i[1]), 0u);

    *context::self_of(ctx) = integer(9);
    Cell self_word = o[4];
    EXPECT_EQ(integer_value(word::get(&self_word)), 9);

    // Shallow binding leaves nested blocks alone.
    const node_t other = context::make(0, false, false, 0, context::OBJECT);
    Cell y = word("y");
    context::add_symbol(other, &y);
    context::bind(&outer, other, false, false);
    EXPECT_EQ(word_context(cells(inner)[0]), ctx);
}

TEST_F(ContextMake, SizesSpecsAndCopies) {
    const node_t tiny = context::make(0, false, false, 0, context::OBJECT);
    EXPECT_EQ(series::buffer_of(context_values(context::cell_of(tiny)))->size, sizeof(Cell));
    EXPECT_EQ(context::kind_of(tiny), context::OBJECT);

    const Cell spec = block_of({word("a"), word("b", TYPE_SET_WORD), word("c", TYPE_GET_WORD),
                                word("d", TYPE_LIT_WORD), word("e", TYPE_REFINEMENT), integer(3), word("A")});
    const node_t fn = context::make_from_spec(&spec, false, false, context::FUNCTION);
    EXPECT_EQ(key_names(fn), (std::vector<std::string>{"a", "c", "d", "e"}));
    EXPECT_EQ(series::buffer_length(context_values(context::cell_of(fn))), 4u);
    EXPECT_EQ(context::kind_of(fn), context::FUNCTION);

    const Cell v = integer(7);
    Cell a = word("a");
    word_context(a) = fn;
    word_index(a) = 0;
    word::set(&a, &v);
    const node_t copied = context::make(context::word_count(fn), false, true, fn, context::OBJECT);
    EXPECT_NE(copied, fn);
    EXPECT_EQ(key_names(copied), (std::vector<std::string>{"a", "c", "d", "e"}));
    EXPECT_EQ(series::buffer_length(context_values(context::cell_of(copied))), 4u);
    EXPECT_EQ(cell::type_of(context::value_by_index(copied, 0)), static_cast<uint32_t>(TYPE_UNSET));
    // The copy's words are its own.
    Cell z = word("z");
    context::add_symbol(copied, &z);
    EXPECT_EQ(context::word_count(fn), 4u);
    EXPECT_EQ(context::find_symbol(fn, sym("z"), true), -1);
}

}  // namespace
