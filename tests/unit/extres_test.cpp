// External-resource table: growth before the last free slot is taken, the
// used list after frees from its middle, and release exactly once through
// mark and sweep. Every test starts from a fresh table.
#include <gtest/gtest.h>

#include <cstdint>
#include <map>
#include <vector>

#include "runtime/extres.hpp"

namespace {

using namespace qel;

std::map<void*, int> released;
void count_release(void* object) { ++released[object]; }

void* object(uintptr_t n) { return reinterpret_cast<void*>(n * 16 + 16); }

// The used list from its head.
std::vector<int32_t> used_list() {
    std::vector<int32_t> out;
    for (int32_t i = extres::used_head(); i != extres::END; i = extres::slot(i).link) out.push_back(i);
    return out;
}

class Extres : public ::testing::Test {
protected:
    void SetUp() override {
        extres::init();
        released.clear();
        kind_ = extres::register_kind(0, count_release);
    }
    uint32_t kind_ = 0;
};

TEST_F(Extres, KindsAreNumberedFromOne) {
    EXPECT_EQ(kind_, 1u);
    EXPECT_EQ(extres::register_kind(0, nullptr), 2u);
}

TEST_F(Extres, ArrayDoublesBeforeTheLastFreeSlotIsTaken) {
    for (uintptr_t i = 0; i < 999; ++i) ASSERT_EQ(extres::alloc_slot(object(i), kind_), static_cast<int32_t>(i));
    EXPECT_EQ(extres::capacity(), 1000u);
    EXPECT_EQ(extres::free_head(), 999);

    EXPECT_EQ(extres::alloc_slot(object(999), kind_), 999);
    EXPECT_EQ(extres::capacity(), 2000u);
    EXPECT_EQ(extres::free_head(), 1000);
    for (uintptr_t i = 0; i < 1000; ++i) {
        ASSERT_EQ(extres::slot(static_cast<int32_t>(i)).object, object(i)) << "slot " << i;
        ASSERT_EQ(extres::slot(static_cast<int32_t>(i)).kind, kind_);
    }
    // The new half is threaded in index order.
    for (int32_t i = 1000; i < 1010; ++i) EXPECT_EQ(extres::alloc_slot(object(i), kind_), i);
}

TEST_F(Extres, FreeingAnySlotKeepsTheRestOfTheUsedList) {
    for (uintptr_t i = 0; i < 4; ++i) extres::alloc_slot(object(i), kind_);
    ASSERT_EQ(used_list(), (std::vector<int32_t>{3, 2, 1, 0}));

    extres::free_slot(2, true);  // from the middle
    EXPECT_EQ(used_list(), (std::vector<int32_t>{3, 1, 0}));
    extres::free_slot(0, false);  // the end, without release
    EXPECT_EQ(used_list(), (std::vector<int32_t>{3, 1}));
    extres::free_slot(3, true);  // the head
    EXPECT_EQ(used_list(), (std::vector<int32_t>{1}));

    EXPECT_EQ(released, (std::map<void*, int>{{object(2), 1}, {object(3), 1}}));
    EXPECT_EQ(extres::slot(2).kind, extres::FREE);
    EXPECT_EQ(extres::slot(2).object, nullptr);
    EXPECT_EQ(extres::free_head(), 3) << "the freed slot is handed out next";
    EXPECT_EQ(extres::alloc_slot(object(9), kind_), 3);
}

TEST_F(Extres, FreeingTwiceOrOutOfRangeChangesNothing) {
    extres::alloc_slot(object(0), kind_);
    extres::alloc_slot(object(1), kind_);
    extres::free_slot(0, true);
    const int32_t head = extres::free_head();
    extres::free_slot(0, true);
    extres::free_slot(-1, true);
    extres::free_slot(5000, true);
    EXPECT_EQ(extres::free_head(), head);
    EXPECT_EQ(used_list(), (std::vector<int32_t>{1}));
    EXPECT_EQ(released[object(0)], 1);
    // Two allocations after a double free must not share a slot.
    EXPECT_NE(extres::alloc_slot(object(2), kind_), extres::alloc_slot(object(3), kind_));
}

TEST_F(Extres, SweepReleasesUnmarkedSlotsExactlyOnce) {
    for (uintptr_t i = 0; i < 5; ++i) extres::alloc_slot(object(i), kind_);
    // Slot 3 stays reachable over several collections.
    for (int round = 0; round < 3; ++round) {
        EXPECT_TRUE(extres::mark_slot(3, nullptr));
        EXPECT_FALSE(extres::mark_slot(3, nullptr)) << "a second mark finds it marked";
        extres::sweep();
        EXPECT_EQ(used_list(), (std::vector<int32_t>{3}));
        EXPECT_EQ(extres::slot(3).kind, kind_) << "the mark is cleared by the sweep";
    }
    EXPECT_EQ(released.size(), 4u);
    for (uintptr_t i : {0, 1, 2, 4}) EXPECT_EQ(released[object(i)], 1) << "slot " << i;
    EXPECT_EQ(released.count(object(3)), 0u);

    extres::sweep();
    extres::sweep();
    EXPECT_EQ(released[object(3)], 1);
    EXPECT_EQ(extres::used_head(), extres::END);
}

TEST_F(Extres, MarkingCanReplaceTheObject) {
    int32_t s = extres::alloc_slot(object(0), kind_);
    extres::mark_slot(s, object(7));
    extres::sweep();
    extres::sweep();
    EXPECT_EQ(released, (std::map<void*, int>{{object(7), 1}}));
}

TEST_F(Extres, SlotsWithoutAHandlerAreFreedSilently) {
    const uint32_t no_handler = extres::register_kind(0, nullptr);
    extres::alloc_slot(object(0), 0);
    extres::alloc_slot(object(1), no_handler);
    extres::alloc_slot(object(2), 200);  // never registered
    extres::sweep();
    EXPECT_TRUE(released.empty());
    EXPECT_EQ(extres::used_head(), extres::END);
}

}  // namespace
