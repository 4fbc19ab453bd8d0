// The raw table: 32-bit keys to 32-bit values in tracked-heap memory.
//
// The collector uses it while it moves nodes (old node -> new node), when
// no series may be allocated. It shares the bucket scheme of the series
// tables (two flag bits per bucket, probe step growing by one, load limit
// 0.77) but keeps its arrays outside the series frames, so it never moves
// and never triggers a collection. Keys are hashed with mix32. Keys are
// only ever added, so no bucket is ever marked deleted.
#pragma once
#include <cstdint>

namespace qel::rawtab {

struct Table {
    uint32_t size;     // keys
    uint32_t* flags;   // 2 bits per bucket, 0xAA bytes = all empty
    uint32_t* pairs;   // key, value per bucket
    uint32_t buckets;  // a power of two, at least 8
    uint32_t upper;    // size at which the next put resizes
};

// Room for n keys before the first resize.
Table* make(uint32_t n);
// 1 when the key was new, 0 when its value was replaced, -1 when a needed
// resize found no memory (the table is then left as it was and the key is
// not stored).
int put(Table* t, uint32_t key, uint32_t value);
// Address of the key's value, nullptr when absent.
uint32_t* get(Table* t, uint32_t key);
void free(Table* t);

}  // namespace qel::rawtab
