// The generic record sorts: agreement with the standard library over many
// widths, sizes and input shapes (exact agreement with std::stable_sort for
// the merge sort, which is its stability), the calls the callback receives,
// callbacks that throw, contradict themselves or answer only 0 and 1, the
// merge buffer's limits, and the partition sort's bound on bad pivots.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstring>
#include <numeric>
#include <random>
#include <string>
#include <vector>

#include "runtime/errors.hpp"
#include "runtime/exits.hpp"
#include "runtime/heap.hpp"
#include "runtime/sort.hpp"
#include "runtime/system.hpp"

#if defined(__SANITIZE_ADDRESS__)
#define SORT_TEST_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define SORT_TEST_ASAN 1
#endif
#endif

namespace {

using namespace qel;

using Sort = void (*)(void*, size_t, size_t, void*, uint32_t, sort::Compare);

struct Algorithm {
    const char* name;
    Sort run;
    bool stable;
};
const Algorithm algorithms[] = {
    {"merge", sort::merge_sort, true},
    {"partition", sort::partition_sort, false},
};

// Records of width w: a big-endian key in the first op bytes, then tag bytes
// that tell records with equal keys apart and show a record torn in a move.
struct Counter {
    size_t calls = 0;
};

int by_key(const void* a, const void* b, void* context, uint32_t key_len) {
    ++static_cast<Counter*>(context)->calls;
    int c = std::memcmp(a, b, key_len);
    return c > 0 ? 1 : c < 0 ? -1 : 0;
}

// Narrow records keep a short key so that 3-byte records still carry a tag.
uint32_t key_len_of(size_t width) { return width >= 8 ? 4 : static_cast<uint32_t>(std::min<size_t>(width, 2)); }

std::vector<uint8_t> make_records(const std::vector<uint32_t>& keys, size_t width) {
    const size_t kl = key_len_of(width);
    std::vector<uint8_t> bytes(keys.size() * width);
    for (size_t i = 0; i < keys.size(); ++i) {
        uint8_t* r = &bytes[i * width];
        for (size_t b = 0; b < kl; ++b) r[b] = static_cast<uint8_t>(keys[i] >> (8 * (kl - 1 - b)));
        uint32_t tag = static_cast<uint32_t>(i) * 2654435761u + 12345;
        for (size_t b = kl; b < width; ++b) r[b] = static_cast<uint8_t>(tag >> (8 * ((b - kl) % 4)) ^ (b * 31));
    }
    return bytes;
}

std::vector<std::string> split(const std::vector<uint8_t>& bytes, size_t width) {
    std::vector<std::string> out;
    for (size_t i = 0; i + width <= bytes.size(); i += width)
        out.emplace_back(reinterpret_cast<const char*>(&bytes[i]), width);
    return out;
}

std::vector<uint8_t> join(const std::vector<std::string>& records) {
    std::vector<uint8_t> out;
    for (const std::string& r : records) out.insert(out.end(), r.begin(), r.end());
    return out;
}

std::vector<uint8_t> stable_expected(const std::vector<uint8_t>& bytes, size_t width) {
    auto records = split(bytes, width);
    const size_t kl = key_len_of(width);
    std::stable_sort(records.begin(), records.end(),
                     [&](const std::string& a, const std::string& b) { return std::memcmp(a.data(), b.data(), kl) < 0; });
    return join(records);
}

bool same_records(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b, size_t width) {
    auto ra = split(a, width), rb = split(b, width);
    std::sort(ra.begin(), ra.end());
    std::sort(rb.begin(), rb.end());
    return ra == rb;
}

bool sorted_by_key(const std::vector<uint8_t>& bytes, size_t width) {
    const size_t kl = key_len_of(width);
    for (size_t i = width; i < bytes.size(); i += width)
        if (std::memcmp(&bytes[i - width], &bytes[i], kl) > 0) return false;
    return true;
}

enum class Shape { Random, FewKeys, Sorted, Reversed, AllEqual, Runs, FallingRuns, OrganPipe, NearlySorted, NearlyReversed };

struct ShapeInfo {
    Shape shape;
    const char* name;
};
const ShapeInfo shapes[] = {
    {Shape::Random, "random"},         {Shape::FewKeys, "few keys"},
    {Shape::Sorted, "sorted"},         {Shape::Reversed, "reversed"},
    {Shape::AllEqual, "all equal"},    {Shape::Runs, "rising runs"},
    {Shape::FallingRuns, "falling runs"}, {Shape::OrganPipe, "organ pipe"},
    {Shape::NearlySorted, "nearly sorted"}, {Shape::NearlyReversed, "nearly reversed"},
};

std::vector<uint32_t> make_keys(Shape shape, size_t n, uint32_t seed) {
    std::mt19937 rng(seed);
    std::vector<uint32_t> k(n);
    switch (shape) {
        case Shape::Random:
            for (auto& x : k) x = rng();
            break;
        case Shape::FewKeys:
            for (auto& x : k) x = rng() % 4;
            break;
        case Shape::Sorted:
            std::iota(k.begin(), k.end(), 0u);
            break;
        case Shape::Reversed:
            for (size_t i = 0; i < n; ++i) k[i] = static_cast<uint32_t>(n - i);
            break;
        case Shape::AllEqual:
            std::fill(k.begin(), k.end(), 7u);
            break;
        case Shape::Runs:
        case Shape::FallingRuns:
            for (size_t i = 0; i < n;) {
                size_t len = 1 + rng() % 200;
                uint32_t start = rng() % 60000;
                for (size_t j = 0; j < len && i < n; ++j, ++i)
                    k[i] = shape == Shape::Runs ? start + static_cast<uint32_t>(j) : start - static_cast<uint32_t>(j);
            }
            break;
        case Shape::OrganPipe:
            for (size_t i = 0; i < n; ++i) k[i] = static_cast<uint32_t>(std::min(i, n - i));
            break;
        case Shape::NearlySorted:
        case Shape::NearlyReversed:
            for (size_t i = 0; i < n; ++i) k[i] = static_cast<uint32_t>(shape == Shape::NearlySorted ? i : n - i);
            for (size_t s = 0; s < n / 50 + 1 && n > 1; ++s) std::swap(k[rng() % n], k[rng() % n]);
            break;
    }
    return k;
}

// Exact agreement with std::stable_sort covers the merge sort's stability:
// the tags make equal-keyed records distinguishable, and the few-keys and
// all-equal shapes are nearly all ties.
TEST(Sort, AgreesWithStandardSortAcrossWidthsSizesAndShapes) {
    const size_t widths[] = {1, 3, 4, 8, 16, 24};
    const size_t sizes[] = {0, 1, 2, 3, 7, 8, 9, 23, 24, 25, 48, 100, 511, 512, 1000, 4000, 20000};
    uint32_t seed = 1;
    for (size_t width : widths)
        for (const ShapeInfo& shape : shapes)
            for (size_t n : sizes) {
                // The largest size only for the record widths the runtime
                // uses most, to keep the sanitizer run short.
                if (n == 20000 && width != 16 && width != 1) continue;
                auto input = make_records(make_keys(shape.shape, n, ++seed), width);
                auto expected = stable_expected(input, width);
                for (const Algorithm& alg : algorithms) {
                    SCOPED_TRACE(std::string(alg.name) + " w=" + std::to_string(width) + " n=" + std::to_string(n) +
                                 " " + shape.name);
                    auto data = input;
                    Counter counter;
                    alg.run(data.data(), n, width, &counter, key_len_of(width), by_key);
                    if (alg.stable) {
                        ASSERT_EQ(data, expected);
                    } else {
                        ASSERT_TRUE(sorted_by_key(data, width));
                        ASSERT_TRUE(same_records(data, input, width));
                    }
                }
            }
}

// A sorted or reversed input is one run and costs one call per pair; so
// does input that the callback finds all equal. Nothing at all is called,
// or allocated, for fewer than two records.
TEST(Sort, CallsForTrivialInputs) {
    struct Case {
        Shape shape;
        size_t n;
        size_t calls;
    } cases[] = {
        {Shape::Sorted, 0, 0},       {Shape::Sorted, 1, 0},       {Shape::Sorted, 2, 1},
        {Shape::Reversed, 2, 1},     {Shape::Sorted, 1000, 999},  {Shape::Reversed, 1000, 999},
        {Shape::AllEqual, 1000, 999}, {Shape::Sorted, 100000, 99999}, {Shape::Reversed, 100000, 99999},
    };
    for (const Algorithm& alg : algorithms)
        for (const Case& c : cases) {
            SCOPED_TRACE(std::string(alg.name) + " n=" + std::to_string(c.n));
            auto input = make_records(make_keys(c.shape, c.n, 5), 16);
            auto data = input;
            Counter counter;
            size_t blocks = heap::count();
            alg.run(c.n ? data.data() : nullptr, c.n, 16, &counter, key_len_of(16), by_key);
            EXPECT_EQ(counter.calls, c.calls);
            EXPECT_TRUE(sorted_by_key(data, 16));
            EXPECT_TRUE(same_records(data, input, 16));
            EXPECT_EQ(heap::count(), blocks);
        }
}

struct Probe {
    void* context;
    uint32_t op;
    size_t calls = 0, wrong = 0;
};

int check_arguments(const void* a, const void* b, void* context, uint32_t op) {
    auto* p = static_cast<Probe*>(context);
    ++p->calls;
    if (p->context != context || p->op != op) ++p->wrong;
    int32_t x, y;
    std::memcpy(&x, a, 4);
    std::memcpy(&y, b, 4);
    return (x > y) - (x < y);
}

TEST(Sort, ContextAndOpReachTheCallback) {
    for (const Algorithm& alg : algorithms) {
        std::vector<int32_t> data(500);
        std::mt19937 rng(3);
        for (auto& x : data) x = static_cast<int32_t>(rng());
        Probe probe;
        probe.context = &probe;
        probe.op = 0xDEADBEEF;
        alg.run(data.data(), data.size(), 4, &probe, probe.op, check_arguments);
        EXPECT_GT(probe.calls, 0u) << alg.name;
        EXPECT_EQ(probe.wrong, 0u) << alg.name;
        EXPECT_TRUE(std::is_sorted(data.begin(), data.end())) << alg.name;
    }
}

// Callbacks that are not a plain three-way comparison. The sorts must stay
// inside the records and keep them a permutation whatever the answers; those
// that are a consistent order must also sort.
struct Oddity {
    uint64_t state;
    int mode;
};

int odd_compare(const void* a, const void* b, void* context, uint32_t) {
    auto* o = static_cast<Oddity*>(context);
    int32_t x, y;
    std::memcpy(&x, a, 4);
    std::memcpy(&y, b, 4);
    switch (o->mode) {
        case 0:  // only 1 or 0, as a plain "greater than" test answers
            return x > y;
        case 1:  // extreme magnitudes, which must never be negated
            return x > y ? INT_MAX : x < y ? INT_MIN : 0;
        case 2:  // random answers
            o->state ^= o->state << 13;
            o->state ^= o->state >> 7;
            o->state ^= o->state << 17;
            return static_cast<int>(o->state % 3) - 1;
        case 3:
            return 1;
        case 4:
            return -1;
        default:
            return 0;
    }
}

TEST(Sort, UnusualCallbacks) {
    struct Case {
        int mode;
        const char* name;
        bool orders;
    } cases[] = {
        {0, "greater-than", true}, {1, "extreme", true}, {2, "random", false},
        {3, "always after", false}, {4, "always before", false}, {5, "always equal", false},
    };
    // Inputs include rising stretches that a callback answering 0 for
    // "before" makes look level ahead of a falling pair.
    std::vector<std::vector<int32_t>> inputs = {
        {1, 2, 3, 2, 1, 0}, {1, 2, 3, 1}, {5, 5, 6, 4, 3}, {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 3},
    };
    for (size_t n : {50, 700, 5000}) {
        std::mt19937 rng(static_cast<uint32_t>(n));
        std::vector<int32_t> v(n);
        for (auto& x : v) x = static_cast<int32_t>(rng() % 100);
        inputs.push_back(v);
        std::sort(v.begin(), v.end());
        inputs.push_back(v);
        std::reverse(v.begin(), v.end());
        inputs.push_back(v);
    }
    for (const Algorithm& alg : algorithms)
        for (const Case& c : cases)
            for (const auto& input : inputs) {
                SCOPED_TRACE(std::string(alg.name) + " " + c.name + " n=" + std::to_string(input.size()));
                // An exact-size copy, so a step past either end is a sanitizer error.
                std::vector<int32_t> data(input);
                data.shrink_to_fit();
                Oddity oddity{88172645463325252ull, c.mode};
                alg.run(data.data(), data.size(), 4, &oddity, 0, odd_compare);
                auto a = data, b = input;
                std::sort(a.begin(), a.end());
                std::sort(b.begin(), b.end());
                EXPECT_EQ(a, b);
                if (c.orders) {
                    EXPECT_TRUE(std::is_sorted(data.begin(), data.end()));
                }
            }
}

// A compare function that leaves through a non-local exit: the exit reaches
// the caller, the merge buffer is released and, even when the exit comes in
// the middle of a merge, no record is lost or doubled.
struct Thrower {
    size_t calls_left;
    uint32_t key_len;
};

int throwing_compare(const void* a, const void* b, void* context, uint32_t key_len) {
    auto* t = static_cast<Thrower*>(context);
    if (t->calls_left-- == 0) throw NonLocalExit{catch_code::THROW};
    int c = std::memcmp(a, b, key_len);
    return (c > 0) - (c < 0);
}

TEST(Sort, ExitFromCallbackReleasesAndKeepsRecords) {
    const size_t throw_after[] = {0, 1, 5, 30, 100, 700, 3000, 9000};
    for (size_t width : {3, 16})
        for (const Algorithm& alg : algorithms)
            for (size_t k : throw_after) {
                SCOPED_TRACE(std::string(alg.name) + " w=" + std::to_string(width) + " after " + std::to_string(k));
                auto input = make_records(make_keys(Shape::Random, 2000, 11), width);
                auto data = input;
                Thrower thrower{k, key_len_of(width)};
                size_t blocks = heap::count();
                uint32_t code = 0;
                try {
                    alg.run(data.data(), 2000, width, &thrower, key_len_of(width), throwing_compare);
                } catch (const NonLocalExit& e) {
                    code = e.code;
                }
                EXPECT_EQ(code, catch_code::THROW);
                EXPECT_EQ(heap::count(), blocks);
                EXPECT_TRUE(same_records(data, input, width));
            }
}

int never_called(const void*, const void*, void* context, uint32_t) {
    ++static_cast<Counter*>(context)->calls;
    return 0;
}

// Buffers beyond 31 bits are refused before the records are touched, so the
// records here need not exist; a product that would wrap round is refused
// too rather than taken for a small one.
TEST(Sort, MergeBufferBeyond31BitsRaises) {
    struct Case {
        size_t n, width;
    } cases[] = {
        {size_t{1} << 32, 1},
        {(size_t{1} << 31) + 2, 2},
        {size_t{0x10000000} * 2 + 2, 16},
        {SIZE_MAX, 16},
    };
    for (const Case& c : cases) {
        Counter counter;
        int raised = 0;
        size_t blocks = heap::count();
        catch_region(catch_code::ERROR,
                     [&] { sort::merge_sort(reinterpret_cast<void*>(16), c.n, c.width, &counter, 0, never_called); },
                     [&](uint32_t) { raised = sys.pending_error; });
        EXPECT_EQ(raised, err::LIMIT_HIT) << c.n << " x " << c.width;
        EXPECT_EQ(counter.calls, 0u);
        EXPECT_EQ(heap::count(), blocks);
    }
}

// A refused buffer is the internal no-memory error. The refusal is forced by
// an address-space limit in a child process; the sanitizer's allocator
// reserves far more than that limit allows, so that build skips the test.
[[noreturn]] void sort_under_address_limit() {
    rlimit lim{size_t{1} << 30, size_t{1} << 30};
    setrlimit(RLIMIT_AS, &lim);
    Counter counter;
    int raised = 0;
    // Half of n, the buffer, is 2^31 - 1 bytes: within the limit on its size
    // but beyond the address space left.
    catch_region(catch_code::ERROR,
                 [&] { sort::merge_sort(reinterpret_cast<void*>(16), 0xFFFFFFFE, 1, &counter, 0, never_called); },
                 [&](uint32_t) { raised = sys.pending_error; });
    _exit(raised == err::NO_MEMORY && counter.calls == 0 ? 0 : 1);
}

TEST(Sort, MergeBufferRefusedRaisesNoMemory) {
#ifdef SORT_TEST_ASAN
    GTEST_SKIP() << "address-space limits do not apply under AddressSanitizer";
#else
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(sort_under_address_limit(), ::testing::ExitedWithCode(0), "");
#endif
}

// McIlroy's adversary: a consistent order that it decides only as the sort
// asks, always so as to make the pivot as bad as possible. Records are the
// ids of the items. Once the sort is done, the order it settled on is fixed
// (items never decided come last, in id order) and the same input is sorted
// again under that fixed order: the sort takes the same path, and this time
// every item has a distinct value, so a range the sort left unsorted shows.
struct Adversary {
    std::vector<int> value;
    int gas, solid = 0;
    int candidate = -1;
    bool fixed = false;
    size_t calls = 0;
    explicit Adversary(size_t n) : value(n, static_cast<int>(n)), gas(static_cast<int>(n)) {}
    void fix() {
        for (size_t i = 0; i < value.size(); ++i)
            if (value[i] == gas) value[i] = gas + static_cast<int>(i);
        fixed = true;
        calls = 0;
    }
};

int adversary_compare(const void* a, const void* b, void* context, uint32_t) {
    auto* adv = static_cast<Adversary*>(context);
    ++adv->calls;
    int32_t x, y;
    std::memcpy(&x, a, 4);
    std::memcpy(&y, b, 4);
    if (!adv->fixed) {
        if (adv->value[x] == adv->gas && adv->value[y] == adv->gas)
            adv->value[x == adv->candidate ? x : y] = adv->solid++;
        if (adv->value[x] == adv->gas)
            adv->candidate = x;
        else if (adv->value[y] == adv->gas)
            adv->candidate = y;
    }
    return (adv->value[x] > adv->value[y]) - (adv->value[x] < adv->value[y]);
}

TEST(Sort, PartitionSortBoundedAgainstAdversary) {
    for (size_t n : {1000, 100000}) {
        std::vector<int32_t> ids(n);
        std::iota(ids.begin(), ids.end(), 0);
        Adversary adv(n);
        sort::partition_sort(ids.data(), n, 4, &adv, 0, adversary_compare);
        // Without the fall-back to heap sort the calls here grow faster than
        // n log n: past four times n log2 n at the larger size.
        EXPECT_LT(static_cast<double>(adv.calls), 3.0 * n * std::log2(n)) << n;
        size_t adversary_calls = adv.calls;

        adv.fix();
        std::iota(ids.begin(), ids.end(), 0);
        sort::partition_sort(ids.data(), n, 4, &adv, 0, adversary_compare);
        EXPECT_EQ(adv.calls, adversary_calls) << n;
        for (size_t i = 1; i < n; ++i) ASSERT_LT(adv.value[ids[i - 1]], adv.value[ids[i]]) << n << " at " << i;
    }
}

}  // namespace
