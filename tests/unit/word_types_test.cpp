// The word types: mold prefixes, make/to from every kind of spec, the
// comparison codes, index? and reading and setting values through words.
#include <gtest/gtest.h>

#include "datatypes/word.hpp"
#include "runtime/context.hpp"
#include "runtime/errors.hpp"
#include "runtime/runtime_words.hpp"
#include "runtime/symbols.hpp"
#include "runtime/words.hpp"
#include "slot_support.hpp"
#include "startup_support.hpp"

namespace qel {
namespace {

using namespace testutil;

class WordTypeTest : public StartedRuntime {
protected:
    static Cell word_of(const char* name, uint32_t type = TYPE_WORD) {
        Cell w = word::make_from_symbol(symbol::intern_cstr(name));
        w.header = type;
        return w;
    }
    static std::string name_of(const Cell& w) { return symbol::name(static_cast<int32_t>(w.data2)); }
};

TEST_F(WordTypeTest, MoldPrefixesAndForm) {
    const struct {
        uint32_t type;
        const char* mold;
    } cases[] = {
        {TYPE_WORD, "abc"},       {TYPE_SET_WORD, "abc:"},    {TYPE_LIT_WORD, "'abc"},
        {TYPE_GET_WORD, ":abc"},  {TYPE_REFINEMENT, "/abc"},
    };
    for (const auto& c : cases) {
        const Cell w = word_of("abc", c.type);
        EXPECT_EQ(molded(w), c.mold);
        EXPECT_EQ(formed(w), "abc");
    }
    // Budgets: the prefix counts once.
    const node_t out = text::make_buffer(16);
    const Cell sw = word_of("abc", TYPE_SET_WORD);
    EXPECT_EQ(actions::mold(&sw, out, false, false, false, false, 10, 0), 6);
    const Cell lw = word_of("abc", TYPE_LIT_WORD);
    EXPECT_EQ(actions::mold(&lw, out, false, false, false, false, 10, 0), 6);
}

TEST_F(WordTypeTest, MakeFromStringsAndChars) {
    const struct {
        const char* text;
        uint32_t target;
        const char* name;  // nullptr: raises invalid-chars
    } cases[] = {
        {"abc", TYPE_WORD, "abc"},      {"abc:", TYPE_WORD, "abc"},     {"  'x y", TYPE_SET_WORD, "x"},
        {":get", TYPE_WORD, "get"},     {"/ref", TYPE_LIT_WORD, "ref"}, {"#iss", TYPE_WORD, "iss"},
        {"<=", TYPE_WORD, "<="},        {"/", TYPE_WORD, "/"},          {"-", TYPE_WORD, "-"},
        {"123", TYPE_WORD, nullptr},    {"-1", TYPE_WORD, nullptr},     {"", TYPE_WORD, nullptr},
        {"a@b", TYPE_WORD, nullptr},    {"<tag>", TYPE_WORD, nullptr},  {"%file", TYPE_WORD, nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        Cell r{};
        const int code = raised([&] { r = make_value(c.target, string_cell(c.text), true); });
        if (!c.name) {
            EXPECT_EQ(code, err::INVALID_CHARS);
            continue;
        }
        ASSERT_EQ(code, 0);
        EXPECT_EQ(r.header, c.target);
        EXPECT_EQ(name_of(r), c.name);
        EXPECT_EQ(r.data1, context::global);
    }
    const Cell r = make_value(TYPE_WORD, char_cell('q'));
    EXPECT_EQ(name_of(r), "q");
    EXPECT_EQ(make_error(TYPE_WORD, char_cell('1')), err::INVALID_CHARS);
}

TEST_F(WordTypeTest, MakeFromWordsIssuesRefinementsDatatypesAndLogic) {
    Cell w = word_of("abc", TYPE_GET_WORD);
    w.header |= cell_flag::NEW_LINE;
    const Cell r = make_value(TYPE_SET_WORD, w);
    // The type is replaced outright: the new-line flag goes too.
    EXPECT_EQ(r.header, TYPE_SET_WORD);
    EXPECT_EQ(r.data1, w.data1);
    EXPECT_EQ(r.data2, w.data2);
    EXPECT_EQ(r.data3, w.data3);

    const Cell refinement{TYPE_REFINEMENT, 0, static_cast<uint32_t>(symbol::intern_cstr("1")), 0xFFFFFFFF};
    EXPECT_EQ(make_error(TYPE_WORD, refinement), err::BAD_TO_ARG);
    const Cell issue{TYPE_ISSUE, 0, static_cast<uint32_t>(symbol::intern_cstr("abc")), 0xFFFFFFFF};
    const Cell from_issue = make_value(TYPE_WORD, issue);
    EXPECT_EQ(from_issue.data1, context::global);  // abc is a global word by now
    EXPECT_EQ(make_error(TYPE_WORD, Cell{TYPE_ISSUE, 0, static_cast<uint32_t>(symbol::intern_cstr("a b")), 0}),
              err::BAD_TO_ARG);

    EXPECT_EQ(name_of(make_value(TYPE_WORD, type_cell(TYPE_INTEGER))), "integer!");
    const Cell t = make_value(TYPE_WORD, logic_cell(true));
    EXPECT_EQ(name_of(t), "true");
    EXPECT_EQ(t.data1, context::global);
    EXPECT_EQ(name_of(make_value(TYPE_LIT_WORD, logic_cell(false))), "false");
    EXPECT_EQ(make_error(TYPE_WORD, int_cell(1)), err::BAD_TO_ARG);
}

TEST_F(WordTypeTest, ComparisonCodes) {
    const Cell abc = word_of("abc");
    const Cell ABC = word_of("ABC");
    const Cell lit = word_of("abc", TYPE_LIT_WORD);
    const Cell lit_upper = word_of("ABC", TYPE_LIT_WORD);
    const Cell set = word_of("abc", TYPE_SET_WORD);
    const Cell other = word_of("abd");
    const Cell unbound{TYPE_WORD, 0, abc.data2, 0xFFFFFFFF};
    const Cell issue{TYPE_ISSUE, 0, abc.data2, 0xFFFFFFFF};
    const struct {
        Cell a, b;
        int32_t op, expect;
    } cases[] = {
        {abc, ABC, 0, 0},       {abc, ABC, 2, 1},       {abc, set, 0, 0},      {abc, set, 2, 1},
        {abc, abc, 2, 0},       {abc, unbound, 9, 1},   {abc, abc, 9, 0},      {abc, lit, 10, 0},
        {lit, abc, 10, 0},      {abc, lit_upper, 10, 1}, {abc, lit_upper, 11, 0}, {set, lit, 10, 1},
        {abc, other, 3, -1},    {other, ABC, 3, 1},     {abc, ABC, 8, 1},      {abc, issue, 0, -2},
        {abc, int_cell(1), 0, -2}, {abc, other, 1, 1},
    };
    for (size_t i = 0; i < std::size(cases); i++)
        EXPECT_EQ(compared(cases[i].a, cases[i].b, cases[i].op), cases[i].expect) << i;
}

TEST_F(WordTypeTest, IndexOfWords) {
    const Cell w = word_of("abc");
    const Cell r = run_direct(datatype::INDEX_Q, w);
    ASSERT_EQ(cell::type_of(&r), TYPE_INTEGER);
    EXPECT_EQ(r.data2, w.data3 + 1);
    const Cell unresolved{TYPE_WORD, context::global, w.data2, 0xFFFFFFFF};
    const Cell n = run_direct(datatype::INDEX_Q, unresolved);
    EXPECT_EQ(cell::type_of(&n), TYPE_NONE);
    const Cell ref = word_of("abc", TYPE_REFINEMENT);
    EXPECT_EQ(actions::lookup(&ref, datatype::INDEX_Q), nullptr);
}

TEST_F(WordTypeTest, GetAndSetThroughWords) {
    stack::Saved saved;
    stack::arg_base = stack::arg_top;
    const Cell counter = word_of("counter");
    stack::push(&counter);
    const Cell five = int_cell(5);
    stack::push(&five);
    word_type::set_checked();
    EXPECT_EQ(stack::arg_base->data2, 5u);

    // A set-word made from the word shares its variable.
    Cell sw = make_value(TYPE_SET_WORD, word_of("counter"));
    const Cell six = int_cell(6);
    word::set(&sw, &six);
    Cell again = word_of("counter");
    EXPECT_EQ(word_type::get_and_push(&again)->data2, 6u);

    Cell fresh = word_of("never-set");
    EXPECT_EQ(raised([&] { word_type::get_and_push(&fresh); }), err::NO_VALUE);
    EXPECT_EQ(cell::type_of(word_type::push_value(&fresh)), TYPE_UNSET);

    // raised() pushes a frame of its own, which moves the argument base.
    EXPECT_EQ(raised([&] {
                  stack::arg_base = stack::arg_top;
                  stack::push(&counter);
                  stack::push(&shared::unset);
                  word_type::set_checked();
              }),
              err::NEED_VALUE);
}

TEST_F(WordTypeTest, PushersRetypeAndKeepBinding) {
    stack::Saved saved;
    const Cell w = word_of("abc");
    const Cell* g = word_type::push_retyped(&w, TYPE_GET_WORD);
    EXPECT_EQ(g->header, TYPE_GET_WORD);
    EXPECT_EQ(g->data3, w.data3);
    const Cell* k = word_type::push_from_slot(context::global, w.data3, TYPE_REFINEMENT);
    EXPECT_EQ(k->data2, w.data2);
    const Cell* s = word_type::push_symbol_string(&w);
    EXPECT_EQ(cell::type_of(s), TYPE_STRING);
    EXPECT_EQ(text::to_utf8(s->data2), "abc");
    const Cell* ref = word_type::refinement_from_cstr("part");
    EXPECT_TRUE(in_root_block(ref));
    EXPECT_EQ(ref->data1, 0u);
}

}  // namespace
}  // namespace qel
