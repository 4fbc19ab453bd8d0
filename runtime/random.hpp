// The process-wide pseudo-random generator behind every datatype's `random`
// action, and the secure source behind `random/secure`.
//
// The generator is a Mersenne twister whose arithmetic is signed 32-bit:
// right shifts copy the sign bit. Its sequence is therefore not the
// reference MT19937 sequence (a seed gives different numbers than
// std::mt19937 would), and every output lies in 0 to 2^31 - 1. Scripts rely
// on a seed giving the same numbers everywhere, so this arithmetic is kept
// exactly. After a seed the read position is 0, not 624: the first 624
// outputs are the tempered seeding words, and the first regeneration comes
// with the 625th.
//
// The secure source is the kernel's (getrandom); it is never seeded and
// never reproducible.
#pragma once
#include <cstddef>
#include <cstdint>

namespace qel::random {

constexpr int32_t START_SEED = 19650218;

// Start-up: seeds the generator with START_SEED and fixes the hash seed of
// the runtime's MurmurHash3 string hashing.
void init();
// Restarts the sequence.
void seed(int32_t s);
// Next value of the generator, 0 to 2^31 - 1.
int32_t next();

// Fills a buffer from the kernel's random source. Raises the internal error
// not-here when the kernel has none to give.
void secure_bytes(void* buffer, size_t length);
// A 31-bit value from the kernel's random source.
int32_t secure_next();

// Draws for n from a source of 31-bit values: 1 to n for n > 0, n to -1 for
// n < 0, 0 for n = 0. Values at or above the largest multiple of |n| that
// fits 31 bits are drawn again, so every result is equally likely.
template <class Source>
int32_t int_from(Source&& source, int32_t n) {
    if (n == 0) return 0;
    // |n| does not fit; 31-bit draws already cover -2^31 to -1 exactly.
    if (n == INT32_MIN) return -1 - source();
    const int32_t m = n < 0 ? -n : n;
    const int32_t limit = m * (INT32_MAX / m);
    int32_t r;
    do r = source();
    while (r >= limit);
    const int32_t v = r % m + 1;
    return n < 0 ? -v : v;
}

// `random/int`: int_from over the generator, or over the secure source.
int32_t integer(bool secure, int32_t n);

}  // namespace qel::random
