// MurmurHash3, x86 32-bit variant, and its finalizer.
//
// Every hash of the runtime comes from here: table buckets, the symbol
// table, `checksum/method 'hash`. Blocks are read as little-endian words
// whatever the machine, so hashes (and anything derived from them, such as
// the order of a table walk) are the same on every platform.
#pragma once
#include <cstddef>
#include <cstdint>

namespace qel::hashtab {

// The process-wide seed. A fixed nonzero value until the random generator's
// start-up sets it; never changed after that, since every table built with
// the old seed would lose its keys.
extern uint32_t seed;
constexpr uint32_t DEFAULT_SEED = 0x5BD1E995;

uint32_t murmur3(const void* key, size_t len, uint32_t seed);

// With the process seed.
inline uint32_t murmur3_bytes(const void* key, size_t len) { return murmur3(key, len, seed); }

// The final avalanche of MurmurHash3: spreads a 32-bit key (a node, a
// symbol id) over all bits, so masking the low bits picks a good bucket.
inline uint32_t mix32(uint32_t h) {
    h ^= h >> 16;
    h *= 0x85EBCA6Bu;
    h ^= h >> 13;
    h *= 0xC2B2AE35u;
    h ^= h >> 16;
    return h;
}

// Incremental form for keys made of whole 4-byte blocks, such as the code
// points of a string: the same result as murmur3 over the blocks written
// out little-endian one after the other.
struct Murmur3Blocks {
    uint32_t h;
    uint32_t count = 0;
    explicit Murmur3Blocks(uint32_t s) : h(s) {}
    void add(uint32_t k) {
        k *= 0xCC9E2D51u;
        k = (k << 15) | (k >> 17);
        k *= 0x1B873593u;
        h ^= k;
        h = (h << 13) | (h >> 19);
        h = h * 5 + 0xE6546B64u;
        count++;
    }
    uint32_t finish() const { return mix32(h ^ (count * 4)); }
};

// murmur3 over the bytes as map turns each of them, read as it goes (the
// symbol table hashes names folded to one letter case so).
template <class Map>
uint32_t murmur3_mapped(const uint8_t* p, size_t len, uint32_t seed_value, Map map) {
    Murmur3Blocks m(seed_value);
    for (size_t left = len / 4; left; left--, p += 4)
        m.add(uint32_t{map(p[0])} | uint32_t{map(p[1])} << 8 | uint32_t{map(p[2])} << 16 |
              uint32_t{map(p[3])} << 24);
    uint32_t k = 0;
    switch (len & 3) {
        case 3: k ^= uint32_t{map(p[2])} << 16; [[fallthrough]];
        case 2: k ^= uint32_t{map(p[1])} << 8; [[fallthrough]];
        case 1:
            k ^= map(p[0]);
            k *= 0xCC9E2D51u;
            k = (k << 15) | (k >> 17);
            k *= 0x1B873593u;
            m.h ^= k;
            break;
        default: break;
    }
    // The length is mixed in modulo 2^32, as the reference does.
    return mix32(m.h ^ static_cast<uint32_t>(len));
}

}  // namespace qel::hashtab
