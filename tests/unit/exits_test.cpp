// Non-local exits: what an exit thrown from deep in the machine stack
// leaves behind in the frames it unwinds.
#include <pthread.h>

#include <cstdint>

#include <gtest/gtest.h>

#include "runtime/entry.hpp"
#include "runtime/exits.hpp"
#include "runtime/system.hpp"

#if defined(__SANITIZE_ADDRESS__)
#define EXITS_TEST_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define EXITS_TEST_ASAN 1
#endif
#endif
#ifdef EXITS_TEST_ASAN
#include <sanitizer/asan_interface.h>
#endif

namespace {

using namespace qel;

#ifdef EXITS_TEST_ASAN

constexpr size_t THREAD_STACK = size_t{256} << 20;
constexpr size_t LEVEL_BYTES = size_t{64} << 10;
constexpr int LEVELS = 1500;  // about 96 MB: past what the sanitizer clears itself

struct Dive {
    char* marked = nullptr;
    bool poisoned_after = true;
};

#pragma GCC diagnostic ignored "-Winfinite-recursion"

// Each level takes its bytes from the machine stack itself (not from the
// sanitizer's heap-backed frames); the deepest one poisons a stretch of
// a frame above it, as the guard zone of a left frame would stay, and
// throws.
__attribute__((noinline)) void dive(int level, Dive* d) {
    volatile char* pad = static_cast<volatile char*>(__builtin_alloca(LEVEL_BYTES));
    pad[0] = static_cast<char>(level);
    if (level == 0) {
        d->marked = static_cast<char*>(__builtin_frame_address(0)) + LEVEL_BYTES * 8;
        __asan_poison_memory_region(d->marked, 64);
        throw_exit(catch_code::ERROR);
    }
    dive(level - 1, d);
    pad[0] = 0;
}

void* run_dive(void* arg) {
    auto* d = static_cast<Dive*>(arg);
    pthread_attr_t attr;
    void* low = nullptr;
    size_t size = 0;
    pthread_getattr_np(pthread_self(), &attr);
    pthread_attr_getstack(&attr, &low, &size);
    pthread_attr_destroy(&attr);
    const uintptr_t saved_low = sys.stack_low, saved_high = sys.stack_high;
    rt::set_stack_bounds(reinterpret_cast<uintptr_t>(low), reinterpret_cast<uintptr_t>(low) + size);
    try {
        dive(LEVELS, d);
    } catch (const NonLocalExit&) {
    }
    d->poisoned_after = __asan_address_is_poisoned(d->marked) != 0;
    rt::set_stack_bounds(saved_low, saved_high);
    return nullptr;
}

#endif

TEST(Exits, ExitFromDeepInTheStackLeavesNoPoisonBehind) {
#ifdef EXITS_TEST_ASAN
    pthread_attr_t attr;
    pthread_attr_init(&attr);
    ASSERT_EQ(pthread_attr_setstacksize(&attr, THREAD_STACK), 0);
    pthread_t thread;
    Dive d;
    ASSERT_EQ(pthread_create(&thread, &attr, run_dive, &d), 0);
    pthread_attr_destroy(&attr);
    pthread_join(thread, nullptr);
    ASSERT_NE(d.marked, nullptr);
    EXPECT_FALSE(d.poisoned_after);
#else
    GTEST_SKIP() << "only the AddressSanitizer build keeps poison in stack frames";
#endif
}

}  // namespace
