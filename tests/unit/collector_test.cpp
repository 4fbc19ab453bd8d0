// The collector on a started runtime with the library: what survives,
// what is reclaimed, and that moved buffers and renumbered nodes leave
// every reachable value as it was.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "datatypes/block.hpp"
#include "datatypes/string.hpp"
#include "evaluator/interp.hpp"
#include "lexer/scanner.hpp"
#include "library/boot.hpp"
#include "library/boot_image.hpp"
#include "runtime/collector.hpp"
#include "runtime/memory.hpp"
#include "runtime/owner.hpp"
#include "runtime/unicode.hpp"
#include "runtime/words.hpp"
#include "library_support.hpp"

namespace qel {
namespace {

class Collector : public testutil::LibraryRuntime {
protected:
    void TearDown() override {
        collector::stress = false;
        LibraryRuntime::TearDown();
    }
    static Cell global(const char* name) { return *word::get(word::make_from_cstr(name)); }
    static uint32_t used_nodes() {
        uint32_t n = 0;
        for (NodeFrame* f = memory_record.n_head; f; f = f->next) n += f->used;
        return n;
    }
    // Whether the node still names a buffer that names it back.
    static bool live(node_t n) {
        const uintptr_t v = node_table::directory[n >> node_table::SLOT_BITS][n & node_table::SLOT_MASK];
        return v && names_buffer(v) && reinterpret_cast<const SeriesBuffer*>(v)->node == n;
    }
    static std::string molded(const char* name) {
        const std::string src = std::string("mold ") + name;
        const Cell s = run(src.c_str());
        return std::string(reinterpret_cast<const char*>(series::head_ptr(series::buffer_of(series_node(s)))),
                           series::buffer_length(series_node(s)));
    }
};

TEST_F(Collector, ReachableSurvivesAndUnreachableIsReclaimed) {
    run("kept: [1 2 3]");
    collector::collect();
    const uint32_t before = used_nodes();
    {
        const stack::Saved saved;
        for (int i = 0; i < 200; i++) memory::alloc_cells(4);  // reachable from nothing
    }
    EXPECT_GE(used_nodes(), before + 200 - collector::RECENT);
    collector::collect();
    EXPECT_LE(used_nodes(), before + collector::RECENT);
    EXPECT_EQ(molded("kept"), "[1 2 3]");
}

TEST_F(Collector, MovedSeriesKeepContentsAndIndex) {
    // Each run leaves its value on the stack: this one must not be the
    // junk block, which would keep every junk string alive.
    run("junk: copy [] loop 300 [append junk copy \"xxxxxxxxxxxxxxxxxxxxxxxx\"] none");
    run("s: next next \"abcdef\" b: skip [a b c d] 3 o: make object! [x: s y: b]");
    const node_t sn = series_node(global("s"));
    SeriesBuffer* was = series::buffer_of(sn);
    run("junk: none");
    collector::collect();
    EXPECT_NE(series::buffer_of(series_node(global("s"))), was);  // slid over the dead strings
    EXPECT_EQ(molded("s"), "\"cdef\"");
    EXPECT_EQ(molded("b"), "[d]");
    EXPECT_EQ(molded("o/x"), "\"cdef\"");
    EXPECT_EQ(molded("head o/y"), "[a b c d]");
}

TEST_F(Collector, EmptiedSeriesFramesAreReleasedButTheLast) {
    // Enough garbage to fill several frames, then nothing of it kept.
    run("loop 3000 [copy \"xxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxx\"]");
    collector_enabled = 0;
    {
        const stack::Saved saved;
        for (int i = 0; i < 40; i++) memory::alloc_bytes(100000);
        // The last allocations are kept alive for a while: make them small.
        for (uint32_t i = 0; i < collector::RECENT; i++) memory::alloc_bytes(16);
    }
    uint32_t frames = 0;
    for (SeriesFrame* f = memory_record.s_head; f; f = f->next) frames++;
    ASSERT_GT(frames, 2u);
    collector::collect();
    uint32_t after = 0;
    for (SeriesFrame* f = memory_record.s_head; f; f = f->next) {
        after++;
        if (f->next) {
            EXPECT_GT(f->free, f->data());
        }
    }
    EXPECT_LT(after, frames);
}

TEST_F(Collector, TheHeapLimitIsTheLargerOfGrowthAndHeadroom) {
    // Little live data leaves a fixed headroom for garbage; much of it a
    // multiple of itself.
    const uint64_t saved = memory::live_after_collection;
    constexpr uint64_t MB = 1 << 20;
    constexpr uint64_t G = memory::HEAP_GROWTH, H = memory::HEAP_HEADROOM;
    const struct {
        uint64_t live, limit;
    } cases[] = {
        {0, H},
        {1 * MB, 1 * MB + H},
        // Where the two meet.
        {H / (G - 1), G * H / (G - 1)},
        {100 * MB, G * 100 * MB},
    };
    for (const auto& c : cases) {
        memory::live_after_collection = c.live;
        EXPECT_EQ(memory::heap_limit(), c.limit) << c.live;
    }
    memory::live_after_collection = saved;
}

TEST_F(Collector, FullFramesCollectOnlyOnceTheHeapHasGrownEnough) {
    // Some megabytes kept alive, so that the heap's limit leaves room for
    // several frames of garbage.
    run("kept: copy [] loop 40000 [append kept copy {xxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxx}]");
    collector::collect();
    const uint64_t live = memory::live_after_collection;
    EXPECT_EQ(live, collector::memory_in_use());
    const uint32_t cycles = collector::cycles;
    const size_t regions = memory_record.total;
    const stack::Saved saved;
    // Garbage while the regions may still grow: new frames, no collection.
    for (int i = 0; i < 100000 && memory_record.total + memory_record.s_size <= memory::heap_limit(); i++)
        memory::alloc_bytes(1000);
    EXPECT_GT(memory_record.total, regions + memory::SERIES_FRAME_CAP);
    EXPECT_EQ(collector::cycles, cycles);
    // Past that, a full frame collects, and the garbage goes.
    for (int i = 0; i < 20000 && collector::cycles == cycles; i++) memory::alloc_bytes(1000);
    EXPECT_EQ(collector::cycles, cycles + 1);
    EXPECT_LT(collector::memory_in_use(), live + memory::SERIES_FRAME_CAP);
    // A big buffer is given its pages at once while the heap may grow by it.
    collector::collect();
    const uint32_t before_big = collector::cycles;
    memory::alloc_bytes(memory::SERIES_FRAME_CAP);
    EXPECT_EQ(collector::cycles, before_big);
}

TEST_F(Collector, RenumberingAtASafePointKeepsEveryReference) {
    run("keep: copy [] loop 12000 [append/only keep reduce [copy \"k\" 1]]"
        "h: make object! [a: keep/1 b: \"x\"]");
    run("drop: copy [] loop 30000 [append/only drop copy [1]] drop: none");
    run("keep: copy/part keep 5");
    collector::collect();
    const uint32_t compactions = collector::node_compactions;
    collector::collect();  // nodes keep their ids outside safe points
    EXPECT_EQ(collector::node_compactions, compactions);
    collector::stress = true;  // every node moves at a safe point
    collector::safe_point();
    collector::stress = false;
    EXPECT_GT(collector::node_compactions, compactions);
    EXPECT_EQ(molded("keep"), "[[\"k\" 1] [\"k\" 1] [\"k\" 1] [\"k\" 1] [\"k\" 1]]");
    EXPECT_EQ(molded("h/a"), "[\"k\" 1]");
    run("append keep/1 \"more\"");
    collector::collect();
    EXPECT_EQ(molded("keep/1"), "[\"k\" 1 \"more\"]");
}

// Without stress: a sparse node frame whose use has not changed over the
// window is emptied at the next safe point, and released.
TEST_F(Collector, SettledSparseNodeFramesAreEmptiedAtASafePoint) {
    run("filler: copy [] loop 25000 [append/only filler copy []] none");
    run("few: copy [] repeat i 25000 [if 0 = (i // 50) [append/only few pick filler i]] filler: none");
    for (uint32_t i = 0; i <= collector::window + 1; i++) collector::collect();
    const uint32_t frames = memory_record.node_frames;
    const uint32_t compactions = collector::node_compactions;
    collector::safe_point();
    EXPECT_GT(collector::node_compactions, compactions);
    EXPECT_LT(memory_record.node_frames, frames);
    EXPECT_EQ(molded("length? few"), "500");
    EXPECT_EQ(molded("few/500"), "[]");
}

// Blocks hash by their node: after renumbering, a hash! keyed by blocks
// rebuilds its index and still finds them.
TEST_F(Collector, AHashKeyedByBlocksFindsThemAfterRenumbering) {
    run("k1: [a] k2: [b] h: make hash! reduce [k1 1 k2 2]");
    EXPECT_EQ(molded("select/only/same h k2"), "2");
    const uint32_t compactions = collector::node_compactions;
    collector::stress = true;
    collector::safe_point();
    collector::stress = false;
    ASSERT_GT(collector::node_compactions, compactions);
    EXPECT_EQ(molded("select/only/same h k2"), "2");
    EXPECT_EQ(molded("select/only/same h k1"), "1");
    EXPECT_EQ(molded("index? find/only/same h k2"), "3");
}

// Owners are held weakly: an owner that dies loses its entries, also in a
// collection that renumbers the nodes the entries are keyed by.
TEST_F(Collector, DeadOwnersLoseTheirEntriesAcrossRenumbering) {
    run("o: make object! [b: [1 2] on-deep-change*: func [o w t a n i p] [none]] kept: o/b p: make object! "
        "[c: [3] on-deep-change*: func [o w t a n i p] [none]] also-kept: p/c none");
    ASSERT_NE(owner::find(word::get(word::make_from_cstr("kept"))), nullptr);
    run("o: none");
    collector::stress = true;
    collector::safe_point();
    collector::stress = false;
    EXPECT_EQ(owner::find(word::get(word::make_from_cstr("kept"))), nullptr);
    EXPECT_NE(owner::find(word::get(word::make_from_cstr("also-kept"))), nullptr);
    EXPECT_EQ(molded("kept"), "[1 2]");
}

// A call that ends, or an error that unwinds it, leaves its cells above the
// argument top, and push_slot hands such a cell out again to be filled
// after an allocation. The node the old cell names may have been freed
// meanwhile and taken by a buffer of another kind: a collection then must
// not mark that buffer as the old cell's type says (a block marked as a
// string keeps its buffer but loses what it holds).
TEST_F(Collector, ACellLeftAboveTheTopCannotMisleadALaterCollection) {
    Cell* const blocks = stack::push(&shared::none);
    block::make_at(blocks, 8);
    Cell* const slot = stack::push_slot();
    string::make_at(slot, 8);
    const node_t old = series_node(slot);
    stack::pop_n(1);
    for (uint32_t i = 0; i < collector::RECENT; i++) memory::alloc_bytes(16);  // no longer among the recent
    collector::collect();
    ASSERT_FALSE(live(old));
    // Blocks, all kept, until one takes the string's node over; it gets a
    // string that nothing else names.
    Cell taker{};
    for (int i = 0; i < 200000 && series_node(taker) != old; i++) {
        taker = Cell{TYPE_BLOCK, 0, memory::alloc_cells(2), 0};
        block::append_copy(blocks, &taker);
    }
    ASSERT_EQ(series_node(taker), old);
    Cell inner{};
    string::make_at(&inner, 8);
    unicode::append_latin1(series_node(inner), "held", 4);
    block::append_copy(&taker, &inner);
    for (uint32_t i = 0; i < collector::RECENT; i++) memory::alloc_bytes(16);
    ASSERT_EQ(stack::push_slot(), slot);  // handed out again, not yet filled
    collector::collect();
    stack::pop_n(1);
    EXPECT_TRUE(live(series_node(inner)));
    EXPECT_EQ(series_node(block::cell_at(&taker, 0)), series_node(inner));
}

// A mark callback keeps what it marks, sees its node renumbered, and is
// called once however often it is added. Callbacks stay for the process, so
// this one marks nothing once the test is over.
node_t callback_root = 0;
uint32_t callback_calls = 0;
void mark_callback_root(const stack::Marker& m) {
    callback_calls++;
    if (callback_root) m.series(&callback_root);
}

TEST_F(Collector, MarkCallbacksKeepTheirRootsOnceEach) {
    callback_root = memory::alloc_cells(4);
    *series::reserve_cell(series::buffer_of(callback_root)) = Cell{TYPE_INTEGER, 0, 7, 0};
    collector::add_mark_callback(&mark_callback_root);
    collector::add_mark_callback(&mark_callback_root);
    for (uint32_t i = 0; i < collector::RECENT; i++) memory::alloc_bytes(16);  // no longer among the recent
    callback_calls = 0;
    collector::collect();
    EXPECT_EQ(callback_calls, 1u);
    ASSERT_TRUE(live(callback_root));
    const node_t before = callback_root;
    collector::stress = true;  // every node moves at a safe point
    collector::safe_point();
    collector::stress = false;
    EXPECT_NE(callback_root, before) << "the callback's node word is rewritten";
    ASSERT_TRUE(live(callback_root));
    EXPECT_EQ(integer_value(series::head_cell(series::buffer_of(callback_root))), 7);
    callback_root = 0;
}

}  // namespace
}  // namespace qel
