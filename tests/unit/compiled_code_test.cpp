// Compiled block code as the table keeps it: when a block gets code, the
// blocks compiled in place into it, and what happens to code dropped by
// the table while it runs or while another code holds it.
#include <gtest/gtest.h>

#include "evaluator/compile.hpp"
#include "runtime/block_code.hpp"
#include "runtime/words.hpp"
#include "library_support.hpp"

namespace qel {
namespace {

using block_code::Code;
using compile::Kind;

class CompiledCode : public testutil::LibraryRuntime {
protected:
    void SetUp() override {
        LibraryRuntime::SetUp();
        block_code::drop_all();
    }
    void TearDown() override {
        block_code::drop_all();
        LibraryRuntime::TearDown();
    }
    static node_t block_of(const char* word) { return series_node(word::get(word::make_from_cstr(word))); }
};

TEST_F(CompiledCode, ABlockIsCompiledAtItsSecondEvaluation) {
    eval("b: [1 + 2]");
    const node_t n = block_of("b");
    EXPECT_EQ(block_code::find(n), nullptr);
    eval("do b");
    ASSERT_NE(block_code::find(n), nullptr);
    EXPECT_EQ(block_code::find(n)->kind, Kind::Seen);
    eval("do b");
    ASSERT_NE(block_code::find(n), nullptr);
    EXPECT_EQ(block_code::find(n)->kind, Kind::Compiled);
    EXPECT_EQ(integer_value(eval("do b")), 3);
}

TEST_F(CompiledCode, BlocksCompiledInPlaceAreHeldByTheirCode) {
    eval("inner: [10] outer: compose/only [either true (inner) [20]] do outer do outer");
    Code* outer = block_code::find(block_of("outer"));
    ASSERT_NE(outer, nullptr);
    EXPECT_EQ(outer->kind, Kind::Compiled);
    // The code's own block, then the two branches.
    ASSERT_EQ(outer->blocks.size(), 3u);
    // The branch keeps the code it got when it was walked, held by the
    // outer code.
    Code* inner = block_code::find(block_of("inner"));
    ASSERT_NE(inner, nullptr);
    EXPECT_EQ(inner->refs, 1u);
    EXPECT_EQ(outer->blocks[1].ref, inner);
    // Dropped by the table, the branch's code lives on while the outer
    // code (running here) holds it, marked dead so that the outer code no
    // longer trusts it; the end of the run frees both.
    outer->running++;
    block_code::drop_all();
    EXPECT_TRUE(outer->dead);
    EXPECT_TRUE(inner->dead);
    compile::end_run(outer);
}

TEST_F(CompiledCode, ACodeDroppedWhileItRunsIsFreedWhenTheRunEnds) {
    auto* code = new Code;
    code->running = 1;
    compile::free_code(code);
    EXPECT_TRUE(code->dead);
    compile::end_run(code);  // frees it; a leak or a double free shows under the sanitizers
}

TEST_F(CompiledCode, AFailedCheckMakesTheCodeAgain) {
    eval("w: 1 b: [w + 1] do b do b");
    Code* code = block_code::find(block_of("b"));
    ASSERT_NE(code, nullptr);
    EXPECT_EQ(code->kind, Kind::Compiled);
    eval("w: does [10]");
    EXPECT_EQ(integer_value(eval("do b")), 11);
    code = block_code::find(block_of("b"));
    ASSERT_NE(code, nullptr);
    EXPECT_TRUE(code->stale);
    EXPECT_EQ(integer_value(eval("do b")), 11);
    code = block_code::find(block_of("b"));
    EXPECT_FALSE(code->stale);
    EXPECT_EQ(code->remade, 1u);
}

}  // namespace
}  // namespace qel
