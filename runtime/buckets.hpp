// Bucket flags, sizing and the in-place rehash shared by every hash table.
//
// Two bits per bucket, sixteen buckets per 32-bit word: the low bit says
// deleted, the high bit empty; an occupied bucket has both clear. Bucket
// counts are powers of two, so a hash picks its first bucket by masking,
// and the probe moves 1, 2, 3 ... buckets on, which visits every bucket of
// a power-of-two table before it comes back to the start.
#pragma once
#include <cstdint>
#include <utility>

namespace qel::buckets {

constexpr double LOAD = 0.77;
constexpr uint8_t ALL_EMPTY_BYTE = 0xAA;

inline uint32_t shift_of(uint32_t i) { return (i & 15) << 1; }
inline bool is_empty(const uint32_t* f, uint32_t i) { return (f[i >> 4] >> shift_of(i)) & 2; }
inline bool is_deleted(const uint32_t* f, uint32_t i) { return (f[i >> 4] >> shift_of(i)) & 1; }
inline bool is_free(const uint32_t* f, uint32_t i) { return (f[i >> 4] >> shift_of(i)) & 3; }
inline bool is_live(const uint32_t* f, uint32_t i) { return !is_free(f, i); }
inline void set_live(uint32_t* f, uint32_t i) { f[i >> 4] &= ~(3u << shift_of(i)); }
inline void set_deleted(uint32_t* f, uint32_t i) {
    f[i >> 4] = (f[i >> 4] & ~(3u << shift_of(i))) | (1u << shift_of(i));
}

// Bytes of the flag array of n buckets; never less than one word.
inline uint32_t flag_bytes(uint32_t n) { return n < 16 ? 4 : n / 4; }

inline uint32_t power_of_two_at_least(uint64_t n) {
    uint64_t p = 4;
    while (p < n) p <<= 1;
    if (p > 0x80000000u) p = 0x80000000u;
    return static_cast<uint32_t>(p);
}

// A new table for n keys: at least 4 keys' room, and enough buckets that n
// keys stay under the load limit (so 0, 1 or 4 keys give 8 buckets).
inline uint32_t count_for(uint32_t n) {
    const uint32_t keys = n < 4 ? 4 : n;
    return power_of_two_at_least(static_cast<uint64_t>(keys / LOAD));
}
inline uint32_t upper_for(uint32_t count) { return static_cast<uint32_t>(count * LOAD); }
// After a rehash the bound is rounded rather than cut.
inline uint32_t upper_after_rehash(uint32_t count) { return static_cast<uint32_t>(count * LOAD + 0.5); }

// The bucket count a full table moves to: the same count when tombstones
// fill it (more than half the buckets are not live keys), else twice it.
inline uint32_t resize_target(uint32_t count, uint32_t size) {
    return count > 2 * static_cast<uint64_t>(size) ? count : power_of_two_at_least(uint64_t{count} + 1);
}

// Moves every live key of a table of old_count buckets to its place in a
// table of new_count buckets without a second key array: each key taken out
// marks its old bucket deleted, and a key that lands on a bucket whose old
// key has not moved yet displaces it, which is then placed in turn. keys
// must hold max(old, new) entries; new_flags must be all empty. hash(key)
// answers the key's hash.
template <class Key, class Hash>
void rehash_in_place(uint32_t* old_flags, uint32_t* new_flags, Key* keys, uint32_t old_count,
                     uint32_t new_count, Hash&& hash) {
    const uint32_t mask = new_count - 1;
    for (uint32_t j = 0; j < old_count; j++) {
        if (is_free(old_flags, j)) continue;
        Key key = keys[j];
        set_deleted(old_flags, j);
        for (;;) {
            uint32_t i = hash(key) & mask;
            uint32_t step = 0;
            while (!is_empty(new_flags, i)) i = (i + ++step) & mask;
            set_live(new_flags, i);
            if (i < old_count && is_live(old_flags, i)) {
                std::swap(keys[i], key);
                set_deleted(old_flags, i);
            } else {
                keys[i] = key;
                break;
            }
        }
    }
}

// The same for a table that keeps each key's hash in a parallel array
// (hashes, also max(old, new) entries): the stored hashes place the keys
// and move with them, so no key is read.
template <class Key>
void rehash_in_place_hashed(uint32_t* old_flags, uint32_t* new_flags, Key* keys, uint32_t* hashes,
                            uint32_t old_count, uint32_t new_count) {
    const uint32_t mask = new_count - 1;
    for (uint32_t j = 0; j < old_count; j++) {
        if (is_free(old_flags, j)) continue;
        Key key = keys[j];
        uint32_t hash = hashes[j];
        set_deleted(old_flags, j);
        for (;;) {
            uint32_t i = hash & mask;
            uint32_t step = 0;
            while (!is_empty(new_flags, i)) i = (i + ++step) & mask;
            set_live(new_flags, i);
            if (i < old_count && is_live(old_flags, i)) {
                std::swap(keys[i], key);
                std::swap(hashes[i], hash);
                set_deleted(old_flags, i);
            } else {
                keys[i] = key;
                hashes[i] = hash;
                break;
            }
        }
    }
}

}  // namespace qel::buckets
