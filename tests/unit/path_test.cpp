// The path types and paren!: their notation in form and mold, make and to,
// and which actions they take from block! or refuse.
#include "block_values.hpp"
#include "datatypes/block.hpp"
#include "datatypes/path.hpp"
#include "runtime/cycles.hpp"

namespace qel {
namespace {

using testutil::BlockValues;
using testutil::molded;
using testutil::read_values;

class Path : public BlockValues {};

TEST_F(Path, NotationOfEachType) {
    struct Case {
        uint32_t type;
        const char* source;
        const char* mold;
        const char* form;
    } cases[] = {
        {TYPE_PATH, "a b c", "a/b/c", "a/b/c"},
        {TYPE_LIT_PATH, "a b c", "'a/b/c", "a/b/c"},
        {TYPE_SET_PATH, "a b c", "a/b/c:", "a/b/c"},
        {TYPE_GET_PATH, "a b c", ":a/b/c", "a/b/c"},
        {TYPE_PATH, "a 1 (b c) [d]", "a/1/(b c)/[d]", "a/1/b c/d"},
        {TYPE_PATH, "~a ~b", "a/b", "a/b"},  // paths never break lines
        {TYPE_PATH, "", "", ""},
        {TYPE_PAREN, "1 2", "(1 2)", "1 2"},
        {TYPE_PAREN, "~1 ~2", "(\n    1\n    2\n)", "1 2"},
        {TYPE_PAREN, "", "()", ""},
    };
    for (const Case& c : cases) {
        const Cell v = read_values(c.source, c.type);
        const testutil::Text m = testutil::mold_text(v);
        EXPECT_EQ(m.text, c.mold) << c.source << " as type " << c.type;
        EXPECT_EQ(m.used, static_cast<int32_t>(m.text.size())) << c.source << " as type " << c.type;
        const testutil::Text f = testutil::form_text(v);
        EXPECT_EQ(f.text, c.form) << c.source << " as type " << c.type;
        EXPECT_EQ(f.used, static_cast<int32_t>(f.text.size())) << c.source << " as type " << c.type;
    }
    EXPECT_EQ(molded(testutil::at_index(read_values("a b c", TYPE_PATH), 1)), "b/c");
    EXPECT_EQ(molded(read_values("1 2", TYPE_PAREN), true), "1 2");
}

TEST_F(Path, SelfContainingValuesWriteMarkers) {
    const Cell paren = read_values("1", TYPE_PAREN);
    testutil::append_cell(paren, paren);
    EXPECT_EQ(molded(paren), "(1 (...))");
    EXPECT_EQ(testutil::form_text(paren).text, "1 ...");

    const Cell path = read_values("a", TYPE_PATH);
    testutil::append_cell(path, path);
    EXPECT_EQ(molded(path), "a/...");
    EXPECT_EQ(testutil::form_text(path).text, "a/...");

    const Cell set_path = read_values("a", TYPE_SET_PATH);
    testutil::append_cell(set_path, set_path);
    EXPECT_EQ(molded(set_path), "a/...:");
    const Cell get_path = read_values("a", TYPE_GET_PATH);
    testutil::append_cell(get_path, get_path);
    EXPECT_EQ(molded(get_path), ":a/...");
    EXPECT_EQ(cycles::depth(), 0u);
}

TEST_F(Path, DeeplyNestedParens) {
    Cell inner = read_values("1", TYPE_PAREN);
    for (int i = 1; i < 1000; i++) {
        const Cell outer = read_values("", TYPE_PAREN);
        testutil::append_cell(outer, inner);
        inner = outer;
    }
    EXPECT_EQ(testutil::raised([&] { molded(inner); }), err::TOO_DEEP);
    EXPECT_EQ(cycles::depth(), 0u);
}

TEST_F(Path, Make) {
    Cell pi{TYPE_FLOAT, 0, 0, 0};
    cell::put_double(&pi, 2.7);
    struct Case {
        uint32_t type;
        Cell spec;
        const char* expected;
    } cases[] = {
        {TYPE_PATH, testutil::integer_value(0), ""},
        {TYPE_PATH, testutil::integer_value(3), ""},
        {TYPE_PATH, testutil::integer_value(-5), ""},
        {TYPE_GET_PATH, pi, ":"},
        {TYPE_LIT_PATH, read_values("a b"), "'a/b"},
        {TYPE_SET_PATH, testutil::at_index(read_values("a b c"), 1), "b/c:"},
        {TYPE_PATH, read_values("x y", TYPE_PAREN), "x/y"},
    };
    for (const Case& c : cases) {
        Cell proto{c.type, 0, 0, 0};
        Cell spec = c.spec;
        const Cell* r = path::make(&proto, &spec, c.type);
        EXPECT_EQ(cell::type_of(r), c.type);
        EXPECT_EQ(molded(*r), c.expected);
    }
    // A copy, not the spec's buffer.
    Cell spec = read_values("a b");
    Cell proto{TYPE_PATH, 0, 0, 0};
    EXPECT_NE(path::make(&proto, &spec, TYPE_PATH)->data2, spec.data2);

    Cell huge{TYPE_FLOAT, 0, 0, 0};
    cell::put_double(&huge, 1e20);
    Cell none = shared::none;
    EXPECT_EQ(testutil::raised([&] { path::make(&proto, &huge, TYPE_PATH); }), err::OUT_OF_RANGE);
    EXPECT_EQ(testutil::raised([&] { path::make(&proto, &none, TYPE_PATH); }), err::BAD_MAKE_ARG);
}

TEST_F(Path, To) {
    Cell proto{TYPE_PATH, 0, 0, 0};
    Cell word = testutil::word_value("w");
    EXPECT_EQ(molded(*path::to(&proto, &word, TYPE_PATH)), "w");
    Cell block = read_values("a b");
    EXPECT_EQ(molded(*path::to(&proto, &block, TYPE_LIT_PATH)), "'a/b");
}

// A string goes to the lexer's hook, which answers a block; the path takes
// its values and the requested type. Without the hook it is not done.
Cell* scan_two_words(const Cell*) {
    const Cell b = read_values("x y");
    return stack::push(&b);
}

TEST_F(Path, ToStringThroughTheScanHook) {
    Cell proto{TYPE_PATH, 0, 0, 0};
    Cell text{TYPE_STRING, 0, 0, 0};
    const auto saved = block::scan_text;
    block::scan_text = &scan_two_words;
    EXPECT_EQ(molded(*path::to(&proto, &text, TYPE_LIT_PATH)), "'x/y");
    block::scan_text = nullptr;
    EXPECT_EQ(testutil::raised([&] { path::to(&proto, &text, TYPE_PATH); }), err::NOT_DONE);
    block::scan_text = saved;
}

TEST_F(Path, PushAndMakeAt) {
    Cell c = read_values("a b");
    const Cell* pushed = path::push_set_path(&c);
    EXPECT_EQ(cell::type_of(&c), TYPE_SET_PATH);
    EXPECT_EQ(cell::type_of(pushed), TYPE_SET_PATH);
    EXPECT_EQ(pushed->data2, c.data2);
    EXPECT_EQ(pushed, stack::top());

    Cell empty{};
    path::make_at(&empty, -1);
    EXPECT_EQ(cell::type_of(&empty), TYPE_PATH);
    EXPECT_EQ(series::length_of(&empty), 0);
}

TEST_F(Path, Registrations) {
    using namespace datatype;
    struct Case {
        uint32_t type, slot;
        ActionFn expected;
    } cases[] = {
        {TYPE_PATH, MOLD, as_action(&path::mold)},
        {TYPE_LIT_PATH, MOLD, as_action(&path::mold_lit_path)},
        {TYPE_SET_PATH, MOLD, as_action(&path::mold_set_path)},
        {TYPE_GET_PATH, MOLD, as_action(&path::mold_get_path)},
        {TYPE_PAREN, MOLD, as_action(&path::mold_paren)},
        // The family shares path!'s form, make and to.
        {TYPE_GET_PATH, FORM, as_action(&path::form)},
        {TYPE_SET_PATH, MAKE, as_action(&path::make)},
        {TYPE_LIT_PATH, TO, as_action(&path::to)},
        // Paths cannot be sorted, randomised or trimmed; parens cannot be
        // trimmed; none of them does arithmetic.
        {TYPE_PATH, SORT, nullptr},
        {TYPE_SET_PATH, SORT, nullptr},
        {TYPE_PATH, RANDOM, nullptr},
        {TYPE_GET_PATH, TRIM, nullptr},
        {TYPE_PAREN, TRIM, nullptr},
        {TYPE_PAREN, ADD, nullptr},
        {TYPE_PATH, OPEN, nullptr},
        // The rest is block!'s.
        {TYPE_PAREN, SORT, action(TYPE_BLOCK, SORT)},
        {TYPE_LIT_PATH, COPY, action(TYPE_BLOCK, COPY)},
        {TYPE_PATH, FIND, action(TYPE_BLOCK, FIND)},
    };
    for (const Case& c : cases) EXPECT_EQ(action(c.type, c.slot), c.expected) << c.type << " slot " << c.slot;
}

}  // namespace
}  // namespace qel
