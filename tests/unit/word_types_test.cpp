// The word types: the mold budget, the binding of made words and index? of
// an unresolved word.
// What a script sees (text, make and to, comparison, index?, get and set)
// is tested in tests/lang/words/word_cases.qel.
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
    static std::string name_of(const Cell& w) { return symbol::name(word_symbol(w)); }
};

TEST_F(WordTypeTest, MoldBudgetCountsThePrefixOnce) {
    const node_t out = text::make_buffer(16);
    const Cell sw = word_of("abc", TYPE_SET_WORD);
    EXPECT_EQ(actions::mold(&sw, out, datatype::MoldOptions{}, 10, 0), 6);
    const Cell lw = word_of("abc", TYPE_LIT_WORD);
    EXPECT_EQ(actions::mold(&lw, out, datatype::MoldOptions{}, 10, 0), 6);
}

TEST_F(WordTypeTest, MadeWordsAreGlobal) {
    const Cell r = make_value(TYPE_SET_WORD, string_cell("  'x y"), true);
    EXPECT_EQ(word_context(r), context::global);
    word_of("abc");  // now a global word
    const Cell issue{TYPE_ISSUE, 0, static_cast<uint32_t>(symbol::intern_cstr("abc")), 0xFFFFFFFF};
    EXPECT_EQ(word_context(make_value(TYPE_WORD, issue)), context::global);
    EXPECT_EQ(word_context(make_value(TYPE_WORD, logic_cell(true))), context::global);
    // Retyping keeps the word's binding.
    Cell w = word_of("abc", TYPE_GET_WORD);
    const Cell s = make_value(TYPE_SET_WORD, w);
    EXPECT_EQ(word_context(s), word_context(w));
    EXPECT_EQ(word_index(s), word_index(w));
}

TEST_F(WordTypeTest, IndexOfAnUnresolvedWordIsNone) {
    const Cell w = word_of("abc");
    const Cell r = run_direct<datatype::INDEX_Q>(w);
    ASSERT_EQ(cell::type_of(&r), TYPE_INTEGER);
    EXPECT_EQ(integer_value(r), word_index(w) + 1);
    const Cell unresolved{TYPE_WORD, context::global, static_cast<uint32_t>(word_symbol(w)), 0xFFFFFFFF};
    const Cell n = run_direct<datatype::INDEX_Q>(unresolved);
    EXPECT_EQ(cell::type_of(&n), TYPE_NONE);
}

}  // namespace
}  // namespace qel
