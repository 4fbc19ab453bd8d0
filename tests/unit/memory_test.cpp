// Memory manager: buffer shapes, the big-buffer threshold, series-frame sizes
// and order, node frames and node reuse, releasing frames, buffer
// replacement and copies, and how refused or impossible sizes fail.
// Every test starts from an empty memory record and leaves one behind, so
// frames made by other suites are neither seen nor kept.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <functional>
#include <set>
#include <string>
#include <vector>

#include "platform/os.hpp"
#include "runtime/errors.hpp"
#include "runtime/exits.hpp"
#include "runtime/heap.hpp"
#include "runtime/memory.hpp"
#include "runtime/system.hpp"
#include "tests/unit/test_support.hpp"

namespace {

using namespace qel;
using memory::SERIES_FRAME_CAP;

class MemoryFixture : public testutil::FreshMemory {
protected:
    void TearDown() override {
        memory::page_source = os_source_;
        FreshMemory::TearDown();
    }

private:
    void* (*os_source_)(size_t) = memory::page_source;
};

using MemoryAlloc = MemoryFixture;
using MemoryFrames = MemoryFixture;
using MemoryNodes = MemoryFixture;
using MemoryFailure = MemoryFixture;
using MemoryReplace = MemoryFixture;

using testutil::raised;

// Bytes of the page region that holds a frame of the given size.
size_t region(size_t frame_size) { return (frame_size + 16 + 4095) & ~size_t{4095}; }

size_t data_size(const SeriesFrame* f) { return static_cast<size_t>(f->end - const_cast<SeriesFrame*>(f)->data()); }

std::vector<SeriesFrame*> series_frames() {
    std::vector<SeriesFrame*> forward, backward;
    for (SeriesFrame* f = memory_record.s_head; f; f = f->next) forward.push_back(f);
    for (SeriesFrame* f = memory_record.s_tail; f; f = f->prev) backward.insert(backward.begin(), f);
    EXPECT_EQ(forward, backward) << "prev and next links disagree";
    return forward;
}

size_t big_frame_count() {
    size_t n = 0;
    for (BigFrame* f = memory_record.b_head; f; f = f->next) n++;
    return n;
}

void put_bytes(node_t n, const std::string& text) {
    SeriesBuffer* s = series::buffer_of(n);
    std::memcpy(series::tail_ptr(s), text.data(), text.size());
    s->tail += static_cast<uint32_t>(text.size());
}

std::string used_bytes(node_t n) {
    SeriesBuffer* s = series::buffer_of(n);
    return std::string(reinterpret_cast<char*>(series::head_ptr(s)), s->tail - s->head);
}

TEST_F(MemoryAlloc, ShapesOfNewBuffers) {
    struct Case {
        const char* what;
        std::function<node_t()> make;
        uint32_t size, head, unit;
        bool middle;
    };
    const Case cases[] = {
        {"bytes of 0", [] { return memory::alloc_bytes(0); }, 16, 0, 1, false},
        {"bytes of 17", [] { return memory::alloc_bytes(17); }, 32, 0, 1, false},
        {"codepoints 0 x 4", [] { return memory::alloc_codepoints(0, 4); }, 16, 0, 4, false},
        {"codepoints 0 x 2", [] { return memory::alloc_codepoints(0, 2); }, 16, 0, 2, false},
        {"cells 3", [] { return memory::alloc_cells(3); }, 48, 0, 16, false},
        {"cells 3, middle", [] { return memory::alloc_series(3, 16, -1); }, 48, 24, 16, true},
        {"bytes 5, middle", [] { return memory::alloc_series(5, 1, -1); }, 16, 8, 1, true},
        {"bytes 10 at 4", [] { return memory::alloc_series(10, 1, 4); }, 16, 4, 1, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const node_t n = c.make();
        SeriesBuffer* s = series::buffer_of(n);
        EXPECT_EQ(s->size, c.size);
        EXPECT_EQ(s->head, c.head);
        EXPECT_EQ(s->tail, c.head);
        EXPECT_EQ(s->node, n);
        const uint32_t flags = c.unit | series_flag::IN_USE | series_flag::NORMAL |
                               (c.middle ? series_flag::MIDDLE : 0);
        EXPECT_EQ(s->flags, flags);
        EXPECT_EQ(reinterpret_cast<uintptr_t>(series::data(s)) % 8, 0u);
        EXPECT_NE(memory::series_frame_of(s), nullptr);
    }
}

// A buffer's total is its size + 24 with the size a multiple of 16, so no
// total is exactly the cap: the test walks the sizes on both sides of it.
TEST_F(MemoryAlloc, TotalsReachingTheCapGoToBigFrames) {
    struct Case {
        uint32_t bytes;
        bool big;
    };
    const Case cases[] = {
        {SERIES_FRAME_CAP - 32, false},  // total = cap - 8
        {SERIES_FRAME_CAP - 31, true},   // rounds up to cap - 16: total = cap + 8
        {SERIES_FRAME_CAP, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.bytes);
        const size_t total_before = memory_record.total;
        const size_t bigs_before = big_frame_count();
        const node_t n = memory::alloc_bytes(c.bytes);
        SeriesBuffer* s = series::buffer_of(n);
        EXPECT_EQ((s->flags & series_flag::BIG) != 0, c.big);
        EXPECT_EQ(big_frame_count(), bigs_before + (c.big ? 1 : 0));
        if (c.big) {
            EXPECT_EQ(memory::series_frame_of(s), nullptr);
            EXPECT_EQ(memory_record.total - total_before, region(sizeof(BigFrame) + s->size + 24));
        } else {
            // Too large for the 1 MB first frame: a frame of the cap's size is made for it.
            SeriesFrame* f = memory::series_frame_of(s);
            ASSERT_NE(f, nullptr);
            EXPECT_EQ(data_size(f), SERIES_FRAME_CAP);
            EXPECT_EQ(memory_record.s_active, f);
        }
    }
}

TEST_F(MemoryAlloc, UnsetCellsAndFilledBytesCoverTheWholeCapacity) {
    SeriesBuffer* cells = series::buffer_of(memory::alloc_unset_cells(3));
    ASSERT_EQ(cells->size, 48u);
    for (uint32_t i = 0; i < 3; i++) {
        const Cell* c = reinterpret_cast<Cell*>(series::data(cells)) + i;
        EXPECT_EQ(c->header, TYPE_UNSET);
        EXPECT_EQ(payload_word(c, 0) | payload_word(c, 1) | payload_word(c, 2), 0u);
    }
    EXPECT_EQ(cells->tail, 0u);

    SeriesBuffer* bytes = series::buffer_of(memory::alloc_bytes_filled(5, 0xAB));
    ASSERT_EQ(bytes->size, 16u);
    for (uint32_t i = 0; i < 16; i++) EXPECT_EQ(series::data(bytes)[i], 0xAB) << i;
}

TEST_F(MemoryAlloc, FixedSeriesLiveOutsideTheFrames) {
    const size_t total_before = memory_record.total;
    const node_t n = memory::alloc_fixed_series(3, 16, 16);
    SeriesBuffer* s = series::buffer_of(n);
    EXPECT_EQ(s->flags, 0xA0100000u | 16u);
    EXPECT_EQ(s->size, 48u);
    EXPECT_EQ(s->head, 16u);
    EXPECT_EQ(s->tail, 16u);
    EXPECT_EQ(s->node, n);
    EXPECT_EQ(memory::series_frame_of(s), nullptr);
    EXPECT_EQ(memory_record.total - total_before, region(sizeof(NodeFrame) + 8 * memory::NODES_PER_FRAME))
        << "only the node frame made on demand is paged";
    heap::free(s);
}

TEST_F(MemoryFrames, SecondAndLaterSeriesFramesAre2MB) {
    const size_t expected[] = {0x100000, 0x200000, 0x200000, 0x200000};
    size_t total = memory_record.total;
    for (size_t size : expected) {
        SeriesFrame* f = memory::new_series_frame();
        EXPECT_EQ(data_size(f), size);
        EXPECT_EQ(f->free, f->data());
        total += region(SeriesFrame::header_size() + size);
    }
    EXPECT_EQ(memory_record.total, total);
    const std::vector<SeriesFrame*> frames = series_frames();
    ASSERT_EQ(frames.size(), 4u);
    for (size_t i = 1; i < frames.size(); i++)
        EXPECT_LT(reinterpret_cast<uintptr_t>(frames[i - 1]), reinterpret_cast<uintptr_t>(frames[i]));
}

TEST_F(MemoryFrames, FullCurrentFrameFallsBackToTheFirstFrameWithRoom) {
    memory::new_series_frame();
    memory::new_series_frame();
    SeriesFrame* low = memory_record.s_head;
    SeriesFrame* high = memory_record.s_tail;
    high->free = high->end - 100;
    memory_record.s_active = high;

    SeriesBuffer* s = series::buffer_of(memory::alloc_bytes(100));
    EXPECT_EQ(memory::series_frame_of(s), low);
    EXPECT_EQ(memory_record.s_active, low);

    // With every frame full, a new one is made and becomes current.
    low->free = low->end - 100;
    s = series::buffer_of(memory::alloc_bytes(100));
    ASSERT_EQ(series_frames().size(), 3u);
    EXPECT_EQ(memory::series_frame_of(s), memory_record.s_active);
    EXPECT_NE(memory_record.s_active, low);
    EXPECT_NE(memory_record.s_active, high);
}

TEST_F(MemoryFrames, FreeingTheCurrentSeriesFrameMakesTheLastCurrent) {
    const size_t before = memory_record.total;
    memory::new_series_frame();
    memory::new_series_frame();
    memory::new_series_frame();
    std::vector<SeriesFrame*> frames = series_frames();
    SeriesFrame* middle = frames[1];
    memory_record.s_active = middle;
    memory::free_series_frame(middle);
    EXPECT_EQ(series_frames(), (std::vector<SeriesFrame*>{frames[0], frames[2]}));
    EXPECT_EQ(memory_record.s_active, frames[2]);

    memory::free_series_frame(frames[2]);
    EXPECT_EQ(memory_record.s_tail, frames[0]);
    memory::free_series_frame(frames[0]);
    EXPECT_EQ(memory_record.s_head, nullptr);
    EXPECT_EQ(memory_record.total, before);
}

TEST_F(MemoryFrames, NodeSweepReleasesUnusedAndEmptiedFramesAndKeepsHistory) {
    NodeFrame* kept = memory::new_node_frame(100);
    NodeFrame* unused = memory::new_node_frame(100);
    NodeFrame* emptied = memory::new_node_frame(100);
    const uint32_t unused_number = unused->number;
    memory_record.n_active = kept;
    memory::alloc_node();
    memory_record.n_active = emptied;
    memory::alloc_node();
    emptied->emptied = 1;
    const size_t total = memory_record.total;

    memory::sweep_node_frames();
    EXPECT_EQ(memory_record.n_head, kept);
    EXPECT_EQ(memory_record.n_tail, kept);
    EXPECT_EQ(memory_record.node_frames, 1u);
    EXPECT_EQ(memory_record.n_active, kept);
    EXPECT_EQ(node_table::directory[unused_number], nullptr);
    EXPECT_EQ(memory_record.total, total - 2 * region(sizeof(NodeFrame) + 8 * 100));
    EXPECT_EQ(kept->history, 0u) << "used count went from 0 to 1";
    memory::sweep_node_frames();
    EXPECT_EQ(kept->history, 1u) << "used count stayed at 1";

    // The lowest released number is handed out again.
    EXPECT_EQ(memory::new_node_frame(10)->number, unused_number);
}

TEST_F(MemoryFrames, BigSweepReleasesUnmarkedFramesAndTheirNodes) {
    const node_t kept = memory::alloc_bytes(SERIES_FRAME_CAP);
    const node_t dropped = memory::alloc_bytes(SERIES_FRAME_CAP);
    SeriesBuffer* kept_buffer = series::buffer_of(kept);
    kept_buffer->flags |= series_flag::MARK;
    NodeFrame* nodes = memory::frame_of_node(dropped);
    const uint32_t used = nodes->used;
    const size_t total = memory_record.total;

    memory::sweep_big_frames();
    EXPECT_EQ(big_frame_count(), 1u);
    EXPECT_EQ(memory_record.b_head->buffer(), kept_buffer);
    EXPECT_EQ(kept_buffer->flags & series_flag::MARK, 0u);
    EXPECT_EQ(nodes->used, used - 1);
    EXPECT_EQ(memory::alloc_node(), dropped) << "the freed node is the next one handed out";
    EXPECT_EQ(memory_record.total, total - region(sizeof(BigFrame) + SERIES_FRAME_CAP + 24));
}

TEST_F(MemoryFrames, FreeAllFramesReleasesEverythingAndAllocationStillWorks) {
    memory::alloc_bytes(100);
    memory::alloc_bytes(SERIES_FRAME_CAP);
    memory::new_node_frame(10);
    ASSERT_GT(memory_record.total, 0u);
    memory::free_all_frames();
    EXPECT_EQ(memory_record.total, 0u);
    EXPECT_EQ(memory_record.node_frames, 0u);
    EXPECT_EQ(memory_record.n_head, nullptr);
    EXPECT_EQ(memory_record.s_head, nullptr);
    EXPECT_EQ(memory_record.b_head, nullptr);
    EXPECT_EQ(node_table::directory[1], nullptr);

    // Frames are made on demand when none were made ahead.
    const node_t n = memory::alloc_cells(1);
    EXPECT_NE(n, 0u);
    EXPECT_EQ(memory::series_frame_of(series::buffer_of(n)), memory_record.s_head);
}

TEST_F(MemoryNodes, MoreThanOneFrameOfNodesMakesASecondFrame) {
    std::set<node_t> seen;
    std::vector<node_t> nodes;
    for (uint32_t i = 0; i <= memory::NODES_PER_FRAME; i++) {
        const node_t n = memory::alloc_node();
        EXPECT_NE(n, 0u);
        seen.insert(n);
        nodes.push_back(n);
    }
    EXPECT_EQ(seen.size(), nodes.size());
    EXPECT_EQ(memory_record.node_frames, 2u);
    NodeFrame* first = memory::frame_of_node(nodes.front());
    NodeFrame* second = memory::frame_of_node(nodes.back());
    EXPECT_NE(first, second);
    EXPECT_EQ(first->used, memory::NODES_PER_FRAME);
    EXPECT_EQ(first->free_head, 0u);
    EXPECT_EQ(second->used, 1u);
    EXPECT_EQ(memory_record.n_active, second);
    EXPECT_EQ(memory::frame_of_node(nodes[memory::NODES_PER_FRAME - 1]), first);
    // Fresh nodes come out in address order.
    EXPECT_TRUE(std::is_sorted(nodes.begin(), nodes.end() - 1));
}

TEST_F(MemoryNodes, FreedNodesAreReusedLastFreedFirst) {
    const node_t a = memory::alloc_node();
    const node_t b = memory::alloc_node();
    memory::alloc_node();
    NodeFrame* f = memory::frame_of_node(a);
    memory::free_node(f, b);
    memory::free_node(f, a);
    EXPECT_EQ(f->used, 1u);
    EXPECT_EQ(memory::alloc_node(), a);
    EXPECT_EQ(memory::alloc_node(), b);
    EXPECT_EQ(f->used, 3u);
}

TEST_F(MemoryNodes, NodeSlotsArePointedAtTheirBuffers) {
    const node_t n = memory::alloc_bytes(10);
    SeriesBuffer* s = series::buffer_of(n);
    EXPECT_EQ(node_table::directory[n >> node_table::SLOT_BITS][n & node_table::SLOT_MASK],
              reinterpret_cast<uintptr_t>(s));
    EXPECT_EQ(s->node, n);
}

TEST_F(MemoryFailure, RefusedPagesRaiseNoMemoryAndChangeNothing) {
    struct Case {
        const char* what;
        std::function<void()> run;
    };
    const Case cases[] = {
        {"series frame", [] { memory::new_series_frame(); }},
        {"node frame", [] { memory::new_node_frame(10); }},
        {"big buffer", [] { memory::alloc_bytes(SERIES_FRAME_CAP); }},
        {"buffer with no frame yet", [] { memory::alloc_bytes(10); }},
    };
    memory::page_source = [](size_t) -> void* { return nullptr; };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(raised(c.run), err::NO_MEMORY);
        EXPECT_EQ(memory_record.total, 0u);
        EXPECT_EQ(memory_record.s_head, nullptr);
        EXPECT_EQ(memory_record.n_head, nullptr);
        EXPECT_EQ(memory_record.b_head, nullptr);
        EXPECT_EQ(memory_record.s_size, memory::FIRST_SERIES_FRAME);
    }
}

TEST_F(MemoryFailure, SizesBeyondTheHeaderFieldsRaiseNoMemory) {
    const node_t empty = memory::alloc_series(0, 1, 0);
    struct Case {
        const char* what;
        std::function<void()> run;
    };
    const Case cases[] = {
        {"count x unit past 32 bits", [] { memory::alloc_series(0x80000000u, 2, 0); }},
        {"size fits, total does not", [] { memory::alloc_series(0xFFFFFFF0u, 1, 0); }},
        {"fixed series past 32 bits", [] { memory::alloc_fixed_series(0xFFFFFFF8u, 1, 0); }},
        {"replacement doubling nothing", [&] { memory::replace_series_buffer(series::buffer_of(empty), 0); }},
        {"replacement past 32 bits", [&] { memory::expand_series(series::buffer_of(empty), 0xFFFFFFFFu); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(raised(c.run), err::NO_MEMORY);
    }
    EXPECT_EQ(series::buffer_of(empty)->node, empty);
}

TEST_F(MemoryReplace, ExpandMovesTheHeadToTheDataStartWithTheSameBytes) {
    const node_t n = memory::alloc_series(32, 1, 8);
    put_bytes(n, "hello");
    SeriesBuffer* old = series::buffer_of(n);
    const uint32_t flags = old->flags;

    SeriesBuffer* fresh = memory::expand_series(old, 0);
    EXPECT_EQ(series::buffer_of(n), fresh);
    EXPECT_EQ(fresh->node, n);
    EXPECT_EQ(fresh->size, 64u);
    EXPECT_EQ(fresh->head, 0u);
    EXPECT_EQ(used_bytes(n), "hello");
    EXPECT_EQ(fresh->flags, flags);
    EXPECT_EQ(old->node, 0u);
    EXPECT_EQ(old->flags, flags & ~series_flag::IN_USE);
}

// The buffer carved last grows where it stands while its frame has room;
// one with a buffer after it, or a head past the data start, moves.
TEST_F(MemoryReplace, ExpandGrowsTheLastBufferInPlace) {
    const node_t last = memory::alloc_bytes(32);
    put_bytes(last, "grown");
    SeriesBuffer* at = series::buffer_of(last);
    SeriesBuffer* s = memory::expand_series(at, 100);
    EXPECT_EQ(s, at);
    EXPECT_EQ(series::buffer_of(last), s);
    EXPECT_EQ(s->node, last);
    EXPECT_EQ(s->size, 112u);
    EXPECT_EQ(used_bytes(last), "grown");
    s = memory::expand_series(s, 0x400);
    EXPECT_EQ(s, at) << "still the last one";

    const node_t after = memory::alloc_bytes(16);
    SeriesBuffer* moved = memory::expand_series(s, 0x800);
    EXPECT_NE(moved, at) << "a buffer lies after it";
    EXPECT_EQ(used_bytes(last), "grown");
    EXPECT_EQ(series::buffer_of(after)->size, 16u);

    const node_t offset = memory::alloc_series(32, 1, 8);
    put_bytes(offset, "head");
    SeriesBuffer* o = series::buffer_of(offset);
    EXPECT_NE(memory::expand_series(o, 64), o) << "a head past the data start";
    EXPECT_EQ(used_bytes(offset), "head");
}

TEST_F(MemoryReplace, NewCapacities) {
    struct Case {
        uint32_t count, unit, request, capacity;
    };
    const Case cases[] = {
        {2, 16, 0, 64},   // 0 doubles
        {32, 1, 0, 64},
        {4, 4, 34, 48},   // 34 bytes of 4-byte units: 9 units, never fewer than asked
        {16, 1, 5, 16},   // smaller sizes still round up to 16
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.count << " x " << c.unit << " -> " << c.request);
        const node_t n = memory::alloc_series(c.count, c.unit, 0);
        SeriesBuffer* fresh = memory::replace_series_buffer(series::buffer_of(n), c.request);
        EXPECT_EQ(fresh->size, c.capacity);
        EXPECT_EQ(series::unit(fresh), c.unit);
    }
}

TEST_F(MemoryReplace, BigFlagFollowsWhereTheNewBufferLives) {
    const node_t n = memory::alloc_bytes(64);
    SeriesBuffer* s = memory::expand_series(series::buffer_of(n), SERIES_FRAME_CAP);
    EXPECT_NE(s->flags & series_flag::BIG, 0u);
    s = memory::expand_series(s, 64);
    EXPECT_EQ(s->flags & series_flag::BIG, 0u);
    EXPECT_NE(memory::series_frame_of(s), nullptr);

    const node_t fixed = memory::alloc_fixed_series(16, 1, 0);
    SeriesBuffer* fixed_buffer = series::buffer_of(fixed);
    s = memory::expand_series(fixed_buffer, 64);
    EXPECT_EQ(s->flags & series_flag::FIXED, 0u) << "the new buffer lives in a frame";
    heap::free(fixed_buffer);
}

TEST_F(MemoryReplace, GrowingABigBufferKeepsItsBytesNodeAndOneBigFrame) {
    // Bytes from an offset head, so the grown buffer must bring them to
    // the data start as a copy would.
    const node_t n = memory::alloc_series(SERIES_FRAME_CAP, 1, 4096);
    put_bytes(n, "big text");
    SeriesBuffer* s = series::buffer_of(n);
    ASSERT_NE(s->flags & series_flag::BIG, 0u);
    const uint32_t flags = s->flags;
    const size_t before = memory_record.total;
    const size_t frames = big_frame_count();

    s = memory::expand_series(s, 0);
    EXPECT_EQ(series::buffer_of(n), s);
    EXPECT_EQ(s->node, n);
    EXPECT_EQ(s->size, 2 * SERIES_FRAME_CAP);
    EXPECT_EQ(s->head, 0u);
    EXPECT_EQ(s->flags, flags);
    EXPECT_EQ(used_bytes(n), "big text");
    EXPECT_EQ(big_frame_count(), frames) << "the region grew rather than a second one coming";
    EXPECT_EQ(memory_record.total, before + SERIES_FRAME_CAP);
    // The grown pages are writable to the end of the new capacity.
    std::memset(series::tail_ptr(s), 'y', s->size - s->tail);
    EXPECT_EQ(series::data(s)[s->size - 1], 'y');

    // With pages from a stand-in source the buffer is copied instead.
    memory::page_source = [](size_t size) { return os::virtual_alloc(size); };
    SeriesBuffer* copied = memory::expand_series(s, 0);
    EXPECT_NE(copied, s);
    EXPECT_EQ(copied->size, 4 * SERIES_FRAME_CAP);
    EXPECT_EQ(used_bytes(n), "big text");
    EXPECT_EQ(big_frame_count(), frames + 1);
}

TEST_F(MemoryReplace, ShrinkingBelowTheUsedBytesKeepsWhatFits) {
    const node_t n = memory::alloc_bytes(64);
    put_bytes(n, std::string(40, 'x'));
    SeriesBuffer* s = memory::expand_series(series::buffer_of(n), 16);
    EXPECT_EQ(s->size, 16u);
    EXPECT_EQ(used_bytes(n), std::string(16, 'x'));
}

TEST_F(MemoryReplace, CopySeriesKeepsFlagsBytesAndLength) {
    const node_t n = memory::alloc_series(16, 2, 6);
    put_bytes(n, "abcdef");
    memory::set_series_flag(n, series_flag::OWNED);
    SeriesBuffer* source = series::buffer_of(n);

    const node_t c = memory::copy_series(source);
    SeriesBuffer* copy = series::buffer_of(c);
    EXPECT_NE(c, n);
    EXPECT_EQ(copy->node, c);
    EXPECT_EQ(copy->flags, source->flags);
    EXPECT_EQ(copy->size, source->size);
    EXPECT_EQ(copy->head, 0u);
    EXPECT_EQ(used_bytes(c), "abcdef");
    EXPECT_EQ(series::buffer_length(c), 3u);
}

}  // namespace
