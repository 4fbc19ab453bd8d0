// Tracked system heap: list links after frees from the middle and the ends,
// realloc's special cases and failure answers, foreign addresses, free_all.
// Each test runs on a list of its own, so blocks other subsystems took
// before it (start-up tables, hook arrays) are neither seen nor freed.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "runtime/heap.hpp"
#include "runtime/system.hpp"

namespace {

using namespace qel;

TrackedHeader* header(void* p) { return reinterpret_cast<TrackedHeader*>(static_cast<uint8_t*>(p) - 32); }

// The list read forwards must be the list read backwards, reversed.
std::vector<TrackedHeader*> walk() {
    std::vector<TrackedHeader*> forward, backward;
    for (TrackedHeader* h = sys.tracked_first; h; h = h->next) forward.push_back(h);
    for (TrackedHeader* h = sys.tracked_last; h; h = h->prev) backward.insert(backward.begin(), h);
    EXPECT_EQ(forward, backward) << "prev and next links disagree";
    return forward;
}

class Heap : public ::testing::Test {
protected:
    void SetUp() override {
        saved_first_ = sys.tracked_first;
        saved_last_ = sys.tracked_last;
        sys.tracked_first = sys.tracked_last = nullptr;
    }
    void TearDown() override {
        heap::free_all();
        sys.tracked_first = saved_first_;
        sys.tracked_last = saved_last_;
    }

private:
    TrackedHeader* saved_first_ = nullptr;
    TrackedHeader* saved_last_ = nullptr;
};

TEST_F(Heap, FreeingFromTheMiddleAndTheFrontKeepsTheListLinked) {
    void* a = heap::alloc(10);
    void* b = heap::alloc(20);
    void* c = heap::alloc(30);
    for (void* p : {a, b, c}) EXPECT_EQ(reinterpret_cast<uintptr_t>(p) % 16, 0u) << "caller bytes are 16-aligned";
    EXPECT_EQ(header(b)->size, 20u);
    EXPECT_EQ(walk(), (std::vector{header(a), header(b), header(c)}));

    heap::free(b);
    EXPECT_EQ(sys.tracked_first, header(a));
    EXPECT_EQ(sys.tracked_last, header(c));
    EXPECT_EQ(walk(), (std::vector{header(a), header(c)}));

    heap::free(a);
    EXPECT_EQ(sys.tracked_first, header(c));
    EXPECT_EQ(header(c)->prev, nullptr);
    EXPECT_EQ(walk(), (std::vector{header(c)}));

    heap::free(c);
    EXPECT_EQ(sys.tracked_first, nullptr);
    EXPECT_EQ(sys.tracked_last, nullptr);
}

TEST_F(Heap, FreeingTheLastBlockMakesItsPredecessorLast) {
    void* a = heap::alloc(8);
    void* b = heap::alloc(8);
    heap::free(b);
    EXPECT_EQ(sys.tracked_last, header(a));
    EXPECT_EQ(header(a)->next, nullptr);
}

TEST_F(Heap, ReallocOfNullAllocatesAndOfZeroFrees) {
    void* p = heap::realloc(nullptr, 24);
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(heap::count(), 1u);
    EXPECT_EQ(header(p)->size, 24u);
    EXPECT_EQ(heap::realloc(p, 0), nullptr);
    EXPECT_EQ(heap::count(), 0u);
}

TEST_F(Heap, ReallocKeepsContentsAndThePlaceInTheList) {
    void* a = heap::alloc(16);
    auto* b = static_cast<char*>(heap::alloc(16));
    void* c = heap::alloc(16);
    std::memcpy(b, "fifteen bytes..", 16);
    // Large enough that the system has to move the block.
    auto* grown = static_cast<char*>(heap::realloc(b, 1 << 20));
    ASSERT_NE(grown, nullptr);
    EXPECT_STREQ(grown, "fifteen bytes..");
    EXPECT_EQ(header(grown)->size, size_t{1} << 20);
    EXPECT_EQ(walk(), (std::vector{header(a), header(grown), header(c)}));

    // The ends of the list follow a moved first or last block too.
    void* first = heap::realloc(a, 1 << 20);
    void* last = heap::realloc(c, 1 << 20);
    EXPECT_EQ(walk(), (std::vector{header(first), header(grown), header(last)}));
}

TEST_F(Heap, SizesThatOverflowWithTheHeaderFailCleanly) {
    void* p = heap::alloc(8);
    for (size_t huge : {SIZE_MAX, SIZE_MAX - 31}) {
        EXPECT_EQ(heap::realloc(p, huge), nullptr);
        EXPECT_EQ(heap::realloc(nullptr, huge), nullptr);
    }
    EXPECT_EQ(walk(), (std::vector{header(p)})) << "a failed realloc leaves the block listed";
    EXPECT_EXIT(heap::alloc(SIZE_MAX), ::testing::ExitedWithCode(94), "");
}

TEST_F(Heap, AddressesThatAreNotTrackedAreLeftAlone) {
    void* a = heap::alloc(8);
    void* foreign = std::malloc(64);
    char local[64];
    heap::free(foreign);
    heap::free(local + 32);
    heap::free(nullptr);
    EXPECT_EQ(heap::realloc(foreign, 128), nullptr);
    EXPECT_EQ(walk(), (std::vector{header(a)}));
    std::free(foreign);
}

TEST_F(Heap, AllocZeroedClearsTheBytes) {
    // Dirty a block first so that the reused memory is not zero by chance.
    void* dirty = heap::alloc(256);
    std::memset(dirty, 0xAB, 256);
    heap::free(dirty);
    auto* p = static_cast<uint8_t*>(heap::alloc_zeroed(256));
    for (int i = 0; i < 256; ++i) ASSERT_EQ(p[i], 0) << "byte " << i;
}

TEST_F(Heap, FreeAllEmptiesTheList) {
    for (int i = 0; i < 5; ++i) heap::alloc(100);
    heap::free_all();
    EXPECT_EQ(sys.tracked_first, nullptr);
    EXPECT_EQ(sys.tracked_last, nullptr);
    EXPECT_EQ(heap::count(), 0u);
    // The list is usable again afterwards.
    void* p = heap::alloc(4);
    EXPECT_EQ(walk(), (std::vector{header(p)}));
}

}  // namespace
