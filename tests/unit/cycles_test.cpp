// Cycle stack: the depth limit and the empty stack it leaves behind, lookup,
// and the moves of the top that must never pass the bottom.
#include <gtest/gtest.h>

#include "runtime/cycles.hpp"
#include "runtime/errors.hpp"
#include "runtime/exits.hpp"
#include "runtime/system.hpp"

namespace {

using namespace qel;

class Cycles : public ::testing::Test {
protected:
    void SetUp() override { cycles::init(); }
    void TearDown() override { cycles::reset(); }
};

TEST_F(Cycles, TheThousandthPushRaisesTooDeepAndEmptiesTheStack) {
    for (node_t n = 1; n <= 999; ++n) cycles::push(n);
    EXPECT_EQ(cycles::depth(), 999u);
    sys.pending_error = 0;
    try {
        cycles::push(1000);
        FAIL() << "no error raised";
    } catch (const NonLocalExit& e) {
        EXPECT_EQ(e.code, catch_code::ERROR);
    }
    EXPECT_EQ(sys.pending_error, err::TOO_DEEP);
    EXPECT_EQ(cycles::depth(), 0u);
    EXPECT_FALSE(cycles::find(1));
    // The limit is whole again for the next walk.
    for (node_t n = 1; n <= 999; ++n) cycles::push(n);
    EXPECT_EQ(cycles::depth(), 999u);
}

TEST_F(Cycles, FindSeesEveryEntryAndNothingPopped) {
    for (node_t n : {10u, 20u, 30u}) cycles::push(n);
    EXPECT_TRUE(cycles::find(10));
    EXPECT_TRUE(cycles::find(30));
    EXPECT_FALSE(cycles::find(40));
    cycles::pop();
    EXPECT_FALSE(cycles::find(30)) << "a popped entry is gone";
    EXPECT_TRUE(cycles::find(20));
}

TEST_F(Cycles, TopNeverMovesBelowTheBottom) {
    cycles::pop();
    EXPECT_EQ(cycles::depth(), 0u);
    for (node_t n : {1u, 2u, 3u}) cycles::push(n);
    cycles::drop(2);
    EXPECT_EQ(cycles::depth(), 1u);
    cycles::drop(5);
    EXPECT_EQ(cycles::depth(), 0u);
    cycles::push(7);
    EXPECT_TRUE(cycles::find(7));
}

TEST_F(Cycles, RemapRewritesTheHeldEntries) {
    for (node_t n : {1u, 2u}) cycles::push(n);
    cycles::remap([](node_t n) { return n + 100; });
    EXPECT_TRUE(cycles::find(101));
    EXPECT_TRUE(cycles::find(102));
    EXPECT_FALSE(cycles::find(1));
}

}  // namespace
