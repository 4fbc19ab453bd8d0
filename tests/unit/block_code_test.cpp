// The table of compiled block code: attaching and finding code, what
// clears a block's stamp, what the collector frees, and the stress-mode
// snapshot check. Code objects here are test tokens, freed into a list;
// the evaluator compiles nothing meanwhile, so that it never takes a
// token for code of its own.
#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "evaluator/vm.hpp"
#include "runtime/block_code.hpp"
#include "runtime/collector.hpp"
#include "runtime/memory.hpp"
#include "runtime/words.hpp"
#include "library_support.hpp"

namespace qel {
namespace {

using block_code::Code;

char tokens[16];
std::vector<Code*> freed;
block_code::FreeFn* evaluator_free = nullptr;

Code* token(int i) { return reinterpret_cast<Code*>(&tokens[i]); }

// Tokens go to the list; any other code is the evaluator's own.
void free_token(Code* code) {
    const auto* p = reinterpret_cast<const char*>(code);
    if (p >= tokens && p < tokens + sizeof tokens) freed.push_back(code);
    else if (evaluator_free) evaluator_free(code);
}

bool was_freed(Code* code) { return std::find(freed.begin(), freed.end(), code) != freed.end(); }

class BlockCode : public testutil::LibraryRuntime {
protected:
    void SetUp() override {
        LibraryRuntime::SetUp();
        block_code::drop_all();
        evaluator_free = block_code::set_free(&free_token);
        freed.clear();
        vm::enabled = false;
    }
    void TearDown() override {
        vm::enabled = true;
        collector::stress = false;
        block_code::drop_all();
        block_code::set_free(evaluator_free);
        LibraryRuntime::TearDown();
    }
    // A block of n integers, held on the argument stack.
    static node_t held_block(uint32_t n) {
        Cell* holder = stack::push(&shared::none);
        *holder = Cell{TYPE_BLOCK, 0, memory::alloc_cells(n), 0};
        for (uint32_t i = 0; i < n; i++) *series::reserve_cell(holder) = Cell{TYPE_INTEGER, 0, i, 0};
        return series_node(holder);
    }
    // Allocations enough to push a block out of the collector's recent ones.
    static void churn() {
        for (uint32_t i = 0; i < 2 * collector::RECENT; i++) memory::alloc_cells(1);
    }
};

TEST_F(BlockCode, AttachedCodeIsFoundUntilTheBlockChanges) {
    const node_t n = held_block(3);
    EXPECT_EQ(block_code::find(n), nullptr);
    block_code::attach(n, token(0));
    EXPECT_EQ(block_code::find(n), token(0));
    const node_t other = held_block(2);
    EXPECT_EQ(block_code::find(other), nullptr);
    block_code::changed(n);
    EXPECT_EQ(block_code::find(n), nullptr);
    EXPECT_FALSE(was_freed(token(0)));  // until the next collection
    collector::collect();
    EXPECT_TRUE(was_freed(token(0)));
}

TEST_F(BlockCode, AttachReplacesAndFreesTheCodeBefore) {
    const node_t n = held_block(3);
    block_code::attach(n, token(0));
    block_code::attach(n, token(1));
    EXPECT_TRUE(was_freed(token(0)));
    EXPECT_EQ(block_code::find(n), token(1));
    EXPECT_FALSE(was_freed(token(1)));
}

TEST_F(BlockCode, ACollectionFreesTheCodeOfDeadBlocksOnly) {
    const node_t kept = held_block(3);
    block_code::attach(kept, token(0));
    {
        const stack::Saved saved;
        block_code::attach(held_block(2), token(1));
    }
    churn();
    collector::collect();
    EXPECT_TRUE(was_freed(token(1)));
    EXPECT_FALSE(was_freed(token(0)));
    EXPECT_EQ(block_code::find(kept), token(0));
}

// Compaction slides the block down over a dead buffer: the header, and
// with it the code index, moves along.
TEST_F(BlockCode, MovingABufferKeepsItsCode) {
    {
        const stack::Saved saved;
        held_block(40);
    }
    const node_t n = held_block(3);
    block_code::attach(n, token(0));
    const SeriesBuffer* before = series::buffer_of(n);
    churn();
    collector::collect();
    ASSERT_NE(series::buffer_of(n), before);
    EXPECT_EQ(block_code::find(n), token(0));
}

// A block whose buffer is replaced by a larger one loses its code.
TEST_F(BlockCode, AnExpandedBufferHasNoCode) {
    const node_t n = held_block(2);
    block_code::attach(n, token(0));
    memory::expand_series(series::buffer_of(n), 1024);
    EXPECT_EQ(block_code::find(n), nullptr);
    collector::collect();
    EXPECT_TRUE(was_freed(token(0)));
}

TEST_F(BlockCode, DropAllFreesEveryCode) {
    const node_t a = held_block(1);
    const node_t b = held_block(2);
    block_code::attach(a, token(0));
    block_code::attach(b, token(1));
    block_code::drop_all();
    EXPECT_TRUE(was_freed(token(0)));
    EXPECT_TRUE(was_freed(token(1)));
    EXPECT_EQ(block_code::find(a), nullptr);
    EXPECT_EQ(block_code::find(b), nullptr);
    // Indexes are handed out again without confusing the blocks.
    block_code::attach(b, token(2));
    EXPECT_EQ(block_code::find(a), nullptr);
    EXPECT_EQ(block_code::find(b), token(2));
}

TEST_F(BlockCode, RenumberingNodesDropsEveryCode) {
    run("kept: [1 2 3]");
    const Cell* kept = word::get(word::make_from_cstr("kept"));
    block_code::attach(series_node(kept), token(0));
    collector::stress = true;
    collector::safe_point();
    collector::stress = false;
    EXPECT_TRUE(was_freed(token(0)));
    EXPECT_EQ(block_code::find(series_node(word::get(word::make_from_cstr("kept")))), nullptr);
}

// Every way the language changes a block's cells clears its stamp; reading
// it does not. Each row's setup makes b (with room to spare, so that no
// change replaces its buffer), its code is attached, and the action runs.
struct Mutation {
    const char* setup;  // null: the common setup
    const char* action;
    bool changes;
};

constexpr const char* COMMON =
    "o: make object! [x: 10 y: 20 z: 30] b: make block! 64 append b [x y z 3 1 2]";

const Mutation MUTATIONS[] = {
    {nullptr, "append b 4", true},
    {nullptr, "append/only b [4]", true},
    {nullptr, "insert b 0", true},
    {nullptr, "insert/dup next b 0 3", true},
    {nullptr, "change b 9", true},
    {nullptr, "change/part b [7 8] 2", true},
    {nullptr, "poke b 1 0", true},
    {nullptr, "b/1: 0", true},
    {nullptr, "b/x: 5", true},
    {nullptr, "put b 'y 5", true},
    {nullptr, "remove b", true},
    {nullptr, "remove/part next b 2", true},
    {nullptr, "take b", true},
    {nullptr, "take/last b", true},
    {nullptr, "take/part b 2", true},
    {nullptr, "clear next b", true},
    {nullptr, "reverse b", true},
    {nullptr, "sort skip b 3", true},
    {nullptr, "sort/compare skip b 3 func [a c] [a > c]", true},
    {nullptr, "random/seed 1 random b", true},
    {nullptr, "swap b next b", true},
    {nullptr, "move b tail b", true},
    {nullptr, "move b make block! 8", true},
    {nullptr, "remove-each v b [integer! = type? v]", true},
    {nullptr, "forall b [if integer! = type? b/1 [b/1: 0]]", true},
    {nullptr, "bind b o", true},
    {nullptr, "new-line next b true", true},
    {nullptr, "new-line/all b true", true},
    {nullptr, "parse b [to 'z change 'z 'w to end]", true},
    {nullptr, "parse b [insert 'q to end]", true},
    {nullptr, "parse b [remove 'x to end]", true},
    {nullptr, "reduce/into [1 + 1] b", true},
    {nullptr, "compose/into [(1 + 1)] b", true},
    {nullptr, "transcode/into \"a b\" b", true},
    {"b: make block! 16 append b [1 2] append b none", "trim b", true},
    {"b: make hash! [a 1 b 2]", "append b [c 3]", true},
    {"b: make hash! [a 1 b 2]", "b/a: 5", true},
    {"b: make hash! [a 1 b 2]", "remove b", true},
    {"b: to paren! [1 2]", "append b 3", true},
    {"b: to path! [a b]", "poke b 1 'z", true},
    // Reading, copying and running leave the cells as they were.
    {nullptr, "pick b 2", false},
    {nullptr, "copy b", false},
    {nullptr, "find b 'y", false},
    {nullptr, "select b 'x", false},
    {nullptr, "bind/copy b o", false},
    {nullptr, "mold b", false},
    {"b: make block! 8 append b [1 + 2]", "do b", false},
    {nullptr, "sort copy b", false},
    {nullptr, "parse b [some skip]", false},
};

TEST_F(BlockCode, EveryChangeToABlockClearsItsStamp) {
    for (const Mutation& m : MUTATIONS) {
        eval(m.setup ? m.setup : COMMON);
        const node_t n = series_node(word::get(word::make_from_cstr("b")));
        block_code::attach(n, token(0));
        eval(m.action);
        EXPECT_EQ(block_code::find(n) == nullptr, m.changes) << m.action;
        block_code::drop_all();
    }
}

// What moves the binding epoch: a word's value changing to or from a
// function, a re-bind in place, a new global word. Data stored over data
// does not, nor does calling a function. The setups name every word the
// actions use, since loading a word new to the global context is itself a
// change.
struct Rebinding {
    const char* setup;
    const char* action;
    bool bumps;
};

const Rebinding REBINDINGS[] = {
    {"f: 1", "f: does [2]", true},
    {"f: does [1]", "f: 2", true},
    {"f: does [1]", "f: does [2]", true},
    {"f: 1", "set 'f :print", true},
    {"f: does [1]", "unset 'f", true},
    {"o: make object! [m: 1]", "o/m: does [2]", true},
    {"o: make object! [m: does [1]]", "set in o 'm 2", true},
    {"o: make object! [m: 1] b: [m]", "bind b o", true},
    {"o: make object! [m: 1] w: 'm", "bind w o", true},
    {"g: func [x] [x]", "g: func [x] [x * 2]", true},
    {"x: 1", "set to word! \"fresh-global-word\" 1", true},
    {"n: 1", "n: 2", false},
    {"n: 1", "set 'n 3", false},
    {"o: make object! [m: 1]", "o/m: 2", false},
    {"o: make object! [m: 1]", "set in o 'm 5", false},
    {"f: func [x] [x: x + 1 x]", "f 5", false},
    {"n: 1 b: [n + 1]", "do b", false},
    {"o: make object! [m: 1] b: [m]", "bind/copy b o", false},
};

TEST_F(BlockCode, TheEpochMovesWhenWordsMayMeanOtherFunctions) {
    for (const Rebinding& r : REBINDINGS) {
        eval(r.setup);
        const uint32_t before = block_code::epoch;
        eval(r.action);
        EXPECT_EQ(block_code::epoch != before, r.bumps) << r.action;
    }
}

// Under stress, a block whose cells differ from the snapshot taken at
// attach while its stamp still says valid ends the process with a report.
using BlockCodeDeath = BlockCode;

TEST_F(BlockCodeDeath, ACellWrittenWithoutChangedIsReportedByFind) {
    const node_t n = held_block(3);
    collector::stress = true;
    block_code::attach(n, token(0));
    EXPECT_EQ(block_code::find(n), token(0));
    integer_value(&series::cells_of(n)[1]) = 7;
    EXPECT_DEATH(block_code::find(n), "Block code check: block node [0-9]+ changed .*cell 1 is");
}

TEST_F(BlockCodeDeath, ATailMovedWithoutChangedIsReportedByACollection) {
    const node_t n = held_block(3);
    collector::stress = true;
    block_code::attach(n, token(0));
    series::buffer_of(n)->tail -= sizeof(Cell);
    EXPECT_DEATH(collector::collect(), "Block code check: block node [0-9]+ changed .*head/tail");
}

TEST_F(BlockCodeDeath, AFlagSetWithoutChangedIsReported) {
    const node_t n = held_block(3);
    collector::stress = true;
    block_code::attach(n, token(0));
    series::cells_of(n)[2].header |= cell_flag::NEW_LINE;
    EXPECT_DEATH(block_code::find(n), "cell 2 is");
}

TEST_F(BlockCodeDeath, AChangeAnnouncedIsNotReported) {
    const node_t n = held_block(3);
    collector::stress = true;
    block_code::attach(n, token(0));
    block_code::changed(n);
    integer_value(&series::cells_of(n)[1]) = 7;
    EXPECT_EQ(block_code::find(n), nullptr);
    collector::collect();
    EXPECT_TRUE(was_freed(token(0)));
}

}  // namespace
}  // namespace qel
