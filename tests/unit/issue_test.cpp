// issue!: the cell of a made issue and the issues the C++ code makes.
// What a script sees is tested in tests/lang/words/issue_cases.qel.
#include <gtest/gtest.h>

#include "datatypes/word.hpp"
#include "runtime/context.hpp"
#include "runtime/errors.hpp"
#include "runtime/symbols.hpp"
#include "runtime/words.hpp"
#include "slot_support.hpp"
#include "startup_support.hpp"

namespace qel {
namespace {

using namespace testutil;

class IssueTest : public StartedRuntime {};

TEST_F(IssueTest, MadeIssuesAreGlobalWordsOfTheirName) {
    const Cell r = make_value(TYPE_ISSUE, string_cell("a b"), true);
    EXPECT_EQ(r.header, TYPE_ISSUE);
    EXPECT_STREQ(symbol::name(word_symbol(r)), "a b");
    EXPECT_EQ(word_context(r), context::global);
    EXPECT_EQ(word_index(r), -1);
    const Cell w = word::make_from_symbol(symbol::intern_cstr("abc"));
    const Cell from_word = make_value(TYPE_ISSUE, w);
    EXPECT_EQ(from_word.header, TYPE_ISSUE);
    EXPECT_EQ(word_symbol(from_word), word_symbol(w));
}

TEST_F(IssueTest, CStringIssuesGoToTheRootWhileWordsAreKept) {
    stack::Saved saved;
    const uint32_t saved_keep = keep_words;
    keep_words = 1;
    const Cell* kept = issue::push_from_cstr("kept");
    EXPECT_TRUE(in_root_block(kept));
    const Cell kept_value = *kept;
    keep_words = 0;
    const Cell* pushed = issue::push_from_cstr("pushed");
    EXPECT_FALSE(in_root_block(pushed));
    EXPECT_EQ(pushed->header, TYPE_ISSUE);
    keep_words = saved_keep;
    EXPECT_EQ(molded(kept_value), "#kept");
}

}  // namespace
}  // namespace qel
