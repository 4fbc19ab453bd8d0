// issue!: making issues from any text, their mold, and comparison only with
// other issues.
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

TEST_F(IssueTest, MadeFromTextWithoutSyntaxCheck) {
    const struct {
        Cell spec;
        const char* name;
    } cases[] = {
        {string_cell("a b"), "a b"},
        {string_cell("xxabc", 2), "abc"},
        {string_cell("123"), "123"},
        {char_cell(0xE9), "\xC3\xA9"},
    };
    for (const auto& c : cases) {
        const Cell r = make_value(TYPE_ISSUE, c.spec, true);
        EXPECT_EQ(r.header, TYPE_ISSUE);
        EXPECT_STREQ(symbol::name(static_cast<int32_t>(r.data2)), c.name);
        EXPECT_EQ(r.data1, context::global);
        EXPECT_EQ(r.data3, 0xFFFFFFFFu);
        EXPECT_EQ(molded(r), std::string("#") + c.name);
        EXPECT_EQ(formed(r), c.name);
    }
    const Cell w = word::make_from_symbol(symbol::intern_cstr("abc"));
    const Cell from_word = make_value(TYPE_ISSUE, w);
    EXPECT_EQ(from_word.header, TYPE_ISSUE);
    EXPECT_EQ(from_word.data2, w.data2);
    EXPECT_EQ(molded(make_value(TYPE_ISSUE, type_cell(TYPE_BLOCK))), "#block!");
    EXPECT_EQ(make_error(TYPE_ISSUE, int_cell(1)), err::BAD_TO_ARG);
}

TEST_F(IssueTest, ComparesOnlyWithIssues) {
    const Cell a = make_value(TYPE_ISSUE, string_cell("abc"));
    const Cell upper = make_value(TYPE_ISSUE, string_cell("ABC"));
    const Cell w = word::make_from_symbol(static_cast<int32_t>(a.data2));
    EXPECT_EQ(compared(a, upper, 0), 0);
    EXPECT_EQ(compared(a, upper, 2), 1);
    EXPECT_EQ(compared(a, w, 0), -2);
    EXPECT_EQ(compared(w, a, 0), -2);
}

TEST_F(IssueTest, CStringIssuesGoToTheRootWhileWordsAreKept) {
    Cell target{};
    issue::make_at_from_cstr(&target, "ooo");
    EXPECT_EQ(molded(target), "#ooo");
    stack::Saved saved;
    const uint32_t saved_keep = keep_words;
    keep_words = 1;
    EXPECT_TRUE(in_root_block(issue::push_from_cstr("kept")));
    keep_words = 0;
    EXPECT_FALSE(in_root_block(issue::push_from_cstr("pushed")));
    keep_words = saved_keep;
    const Cell* p = issue::push_from_word(&target);
    EXPECT_EQ(p->header, TYPE_ISSUE);
}

}  // namespace
}  // namespace qel
