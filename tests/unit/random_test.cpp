// The seeded generator against a Python model of its signed arithmetic
// (written from the algorithm, not from this code), the rejection draws of
// `random/int` at their boundaries and for ranges that do not divide 2^31,
// and the kernel-backed secure source.
#include <gtest/gtest.h>

#include <climits>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include "runtime/random.hpp"
#include "runtime/murmur3.hpp"
#include "tests/unit/test_support.hpp"

namespace {

using namespace qel;

// The first outputs after the start-up seed 19650218, and those around the
// first two regenerations (the 625th and 1249th draws), from the model.
TEST(RandomGenerator, StartUpSequence) {
    random::init();
    std::vector<int32_t> v;
    for (int i = 0; i < 1250; i++) v.push_back(random::next());
    EXPECT_EQ(std::vector<int32_t>(v.begin(), v.begin() + 5),
              (std::vector<int32_t>{1573102752, 2054623780, 1026451266, 162962650, 2096484112}));
    EXPECT_EQ(std::vector<int32_t>(v.begin() + 622, v.begin() + 627),
              (std::vector<int32_t>{1322292666, 779737127, 299300835, 1547650282, 584073194}));
    EXPECT_EQ(std::vector<int32_t>(v.begin() + 1246, v.end()),
              (std::vector<int32_t>{190600486, 864815447, 141349932, 1308001491}));

    // A second start-up restarts the sequence and keeps the hash seed:
    // tables built before it must keep finding their keys.
    const uint32_t hash_seed = hashtab::seed;
    EXPECT_NE(hash_seed, 0u);
    random::init();
    EXPECT_EQ(random::next(), 1573102752);
    EXPECT_EQ(hashtab::seed, hash_seed);
}

TEST(RandomGenerator, ReseedingRestartsMidSequence) {
    random::seed(42);
    std::vector<int32_t> first;
    for (int i = 0; i < 700; i++) first.push_back(random::next());
    random::seed(42);
    for (int i = 0; i < 700; i++) ASSERT_EQ(random::next(), first[i]) << i;
}

const char* const MODEL = R"PY(
import sys
M = 0xFFFFFFFF
def signed(x):
    x &= M
    return x - (1 << 32) if x & 0x80000000 else x
class Gen:
    def seed(self, s):
        w = [signed(s)]
        for k in range(1, 624):
            w.append(signed(1812433253 * (w[-1] ^ (w[-1] >> 30)) + k))
        self.w, self.i = w, 0
    def next(self):
        w = self.w
        if self.i == 624:
            for k in range(624):
                y = signed((w[k] & 0x80000000) | (w[(k + 1) % 624] & 0x7FFFFFFF))
                w[k] = signed(w[(k + 397) % 624] ^ (y >> 1) ^ (0x9908B0DF if y & 1 else 0))
            self.i = 0
        y = w[self.i]
        self.i += 1
        y = signed(y ^ (y >> 11))
        y = signed(y ^ ((y << 7) & 0x9D2C5680))
        y = signed(y ^ ((y << 15) & 0xEFC60000))
        return signed(y ^ (y >> 18))
g = Gen()
for s in sys.argv[2:]:
    g.seed(int(s))
    print(s, *[g.next() for _ in range(int(sys.argv[1]))])
)PY";

TEST(RandomGenerator, MatchesThePythonModel) {
    const std::filesystem::path script = std::filesystem::temp_directory_path() /
                                         ("qel-random-model-" + std::to_string(::getpid()) + ".py");
    std::ofstream(script) << MODEL;
    const int count = 2000;  // three regenerations
    // The sign-copying shifts make 0 and -1 open with the same values; only
    // the sign bit of the first word, read at regeneration, tells them apart.
    const std::vector<int32_t> seeds = {19650218, 0, -1, 1, 5489, INT32_MAX, INT32_MIN, 0x7FFF0000, -123456789};
    std::string cmd = "python3 '" + script.string() + "' " + std::to_string(count);
    for (int32_t s : seeds) cmd += " " + std::to_string(s);
    std::string out;
    const int status = testutil::run_command(cmd + " 2>&1", out);
    std::filesystem::remove(script);
    if (WIFEXITED(status) && WEXITSTATUS(status) == 127) GTEST_SKIP() << "python3 is not available";
    ASSERT_EQ(status, 0) << out;

    std::istringstream lines(out);
    size_t seen = 0;
    for (std::string line; std::getline(lines, line);) {
        std::istringstream fields(line);
        int32_t s;
        fields >> s;
        random::seed(s);
        int64_t want;
        int i = 0;
        for (; fields >> want; i++) {
            const int32_t v = random::next();
            ASSERT_EQ(v, want) << "seed " << s << " draw " << i;
            ASSERT_GE(v, 0);
        }
        EXPECT_EQ(i, count) << "seed " << s;
        seen++;
    }
    EXPECT_EQ(seen, seeds.size());
}

// Draws come from a script; the answer and the number of draws taken show
// where the rejection limit lies.
TEST(RandomInt, RejectionBoundaries) {
    struct Case {
        int32_t n;
        std::vector<int32_t> draws;
        int32_t result;
        size_t taken;
    };
    constexpr int32_t MAX = INT32_MAX;
    const Case cases[] = {
        {0, {5}, 0, 0},
        {1, {MAX, 0}, 1, 2},              // limit 2^31 - 1: only the top value is drawn again
        {1, {MAX - 1}, 1, 1},
        {-1, {MAX - 1}, -1, 1},
        {2, {MAX - 1, MAX - 2}, 2, 2},    // limit 2^31 - 2
        {-3, {MAX - 1, 4}, -2, 2},        // limit 3 x 715827882 = 2^31 - 2
        {1 << 30, {1 << 30, (1 << 30) - 1}, 1 << 30, 2},
        {(1 << 30) + 1, {(1 << 30) + 1, 1 << 30}, (1 << 30) + 1, 2},  // half of all draws rejected
        {(1 << 30) + 1, {0}, 1, 1},
        {MAX, {MAX, MAX - 1}, MAX, 2},
        {MAX, {0}, 1, 1},
        {-MAX, {MAX, MAX - 1}, -MAX, 2},
        {INT32_MIN, {0}, -1, 1},          // no rejection: 31-bit draws span the range exactly
        {INT32_MIN, {MAX}, INT32_MIN, 1},
    };
    for (const Case& c : cases) {
        size_t taken = 0;
        const int32_t r = random::int_from([&] { return c.draws.at(taken++); }, c.n);
        EXPECT_EQ(r, c.result) << "n " << c.n;
        EXPECT_EQ(taken, c.taken) << "n " << c.n;
    }
}

// 3 x 2^29 does not divide 2^31: reduced without rejection, the lowest
// 2^29 results would come up half of the time instead of a third.
void expect_unbiased(bool secure, int32_t n, int draws) {
    const int64_t m = n < 0 ? -static_cast<int64_t>(n) : n;
    const int64_t low_end = (int64_t{1} << 31) - m;
    int low = 0;
    for (int i = 0; i < draws; i++) {
        const int32_t r = random::integer(secure, n);
        const int64_t v = n < 0 ? -static_cast<int64_t>(r) : r;
        ASSERT_GE(v, 1) << "n " << n;
        ASSERT_LE(v, m) << "n " << n;
        if (v <= low_end) low++;
    }
    const double share = static_cast<double>(low) / draws;
    const double expected = static_cast<double>(low_end) / static_cast<double>(m);
    EXPECT_NEAR(share, expected, 0.02) << "n " << n << (secure ? " secure" : "");
}

TEST(RandomInt, UnbiasedWhenTheRangeDoesNotDivide) {
    random::seed(20240601);
    const int32_t n = 3 << 29;
    expect_unbiased(false, n, 200000);
    expect_unbiased(false, -n, 200000);
    // The kernel's numbers are not reproducible; the margin is some ten
    // standard deviations.
    expect_unbiased(true, n, 60000);
}

TEST(RandomInt, FixedAndExtremeRanges) {
    random::seed(1);
    for (bool secure : {false, true}) {
        for (int i = 0; i < 200; i++) {
            EXPECT_EQ(random::integer(secure, 0), 0);
            EXPECT_EQ(random::integer(secure, 1), 1);
            EXPECT_EQ(random::integer(secure, -1), -1);
            EXPECT_LE(random::integer(secure, INT32_MIN), -1);
            EXPECT_GE(random::integer(secure, INT32_MAX), 1);
            const int32_t two = random::integer(secure, -2);
            EXPECT_TRUE(two == -1 || two == -2) << two;
        }
    }
}

TEST(RandomInt, SeededDrawsRepeat) {
    std::vector<int32_t> first;
    random::seed(99);
    for (int i = 0; i < 1000; i++) first.push_back(random::integer(false, 1000 + i));
    random::seed(99);
    for (int i = 0; i < 1000; i++) ASSERT_EQ(random::integer(false, 1000 + i), first[i]);
}

// Every byte of every length is written, and none past it: a byte is
// written when it differs from its prefill in at least one of six fills
// (a written byte misses all six with odds of 2^-48).
TEST(RandomSecure, FillsEveryByteOfEveryLength) {
    constexpr size_t GUARD = 16;
    for (size_t length = 0; length <= 300; length++) {
        std::vector<bool> changed(length, false);
        for (int fill = 0; fill < 6; fill++) {
            const uint8_t pre = fill % 2 ? 0xFF : 0x00;
            std::vector<uint8_t> buf(length + GUARD, pre);
            random::secure_bytes(buf.data(), length);
            for (size_t i = 0; i < length; i++)
                if (buf[i] != pre) changed[i] = true;
            for (size_t i = length; i < buf.size(); i++) ASSERT_EQ(buf[i], pre) << "written past length " << length;
        }
        for (size_t i = 0; i < length; i++) ASSERT_TRUE(changed[i]) << "byte " << i << " of " << length;
    }
}

TEST(RandomSecure, CallsDiffer) {
    uint8_t a[32], b[32];
    random::secure_bytes(a, sizeof a);
    random::secure_bytes(b, sizeof b);
    EXPECT_NE(std::string(a, a + 32), std::string(b, b + 32));
    for (int i = 0; i < 1000; i++) ASSERT_GE(random::secure_next(), 0);
}

// The kernel hands out at most 32 MiB - 1 bytes per call, so this request
// is filled in two pieces; the tail must not stay as it was.
TEST(RandomSecure, RequestsBeyondOneKernelCallAreCompleted) {
    const size_t length = (size_t{1} << 25) + 8192;
    std::vector<uint8_t> buf(length, 0);
    random::secure_bytes(buf.data(), length);
    size_t nonzero = 0;
    for (size_t i = length - 4096; i < length; i++) nonzero += buf[i] != 0;
    EXPECT_GT(nonzero, 3900u);
}

}  // namespace
