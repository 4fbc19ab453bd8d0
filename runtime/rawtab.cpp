// The raw table: the collector's node remap table, in tracked-heap memory.
#include "runtime/rawtab.hpp"

#include <cstring>

#include "runtime/buckets.hpp"
#include "runtime/heap.hpp"
#include "runtime/murmur3.hpp"

namespace qel::rawtab {

namespace {

struct Pair {
    uint32_t key;
    uint32_t value;
};
static_assert(sizeof(Pair) == 8);

Pair* pairs_of(Table* t) { return reinterpret_cast<Pair*>(t->pairs); }

void fill_empty(uint32_t* flags, uint32_t count) {
    std::memset(flags, buckets::ALL_EMPTY_BYTE, buckets::flag_bytes(count));
}

// Grows in place (with no deleted buckets a full table always doubles). A
// resize runs while the collector is moving nodes, so running out of memory
// must not end the process: the table stays as it was and the caller hears
// -1.
bool grow(Table* t) {
    const uint32_t new_count = buckets::resize_target(t->buckets, t->size);
    if (t->size >= buckets::upper_after_rehash(new_count)) return true;
    auto* new_flags = static_cast<uint32_t*>(heap::realloc(nullptr, buckets::flag_bytes(new_count)));
    if (!new_flags) return false;
    auto* grown = static_cast<uint32_t*>(heap::realloc(t->pairs, sizeof(Pair) * size_t{new_count}));
    if (!grown) {
        heap::free(new_flags);
        return false;
    }
    t->pairs = grown;
    fill_empty(new_flags, new_count);
    buckets::rehash_in_place(t->flags, new_flags, pairs_of(t), t->buckets, new_count,
                             [](const Pair& p) { return hashtab::mix32(p.key); });
    heap::free(t->flags);
    t->flags = new_flags;
    t->buckets = new_count;
    t->upper = buckets::upper_after_rehash(new_count);
    return true;
}

// Bucket of the key, or -1.
int64_t find(const Table* t, uint32_t key) {
    const uint32_t mask = t->buckets - 1;
    const uint32_t start = hashtab::mix32(key) & mask;
    uint32_t i = start, step = 0;
    const auto* pairs = reinterpret_cast<const Pair*>(t->pairs);
    while (!buckets::is_empty(t->flags, i)) {
        if (pairs[i].key == key) return i;
        i = (i + ++step) & mask;
        if (i == start) break;
    }
    return -1;
}

}  // namespace

Table* make(uint32_t n) {
    auto* t = static_cast<Table*>(heap::alloc(sizeof(Table)));
    t->buckets = buckets::count_for(n);
    t->upper = buckets::upper_for(t->buckets);
    t->size = 0;
    t->flags = static_cast<uint32_t*>(heap::alloc(buckets::flag_bytes(t->buckets)));
    t->pairs = static_cast<uint32_t*>(heap::alloc(sizeof(Pair) * size_t{t->buckets}));
    fill_empty(t->flags, t->buckets);
    return t;
}

int put(Table* t, uint32_t key, uint32_t value) {
    if (t->size >= t->upper && !grow(t)) return -1;
    const uint32_t mask = t->buckets - 1;
    const uint32_t start = hashtab::mix32(key) & mask;
    uint32_t i = start, step = 0;
    Pair* pairs = pairs_of(t);
    while (!buckets::is_empty(t->flags, i)) {
        if (pairs[i].key == key) {
            pairs[i].value = value;
            return 0;
        }
        i = (i + ++step) & mask;
        if (i == start) return -1;  // no free bucket at all; the load limit rules this out
    }
    buckets::set_live(t->flags, i);
    pairs[i] = Pair{key, value};
    t->size++;
    return 1;
}

uint32_t* get(Table* t, uint32_t key) {
    const int64_t i = find(t, key);
    return i < 0 ? nullptr : &pairs_of(t)[i].value;
}

void free(Table* t) {
    if (!t) return;
    heap::free(t->flags);
    heap::free(t->pairs);
    heap::free(t);
}

}  // namespace qel::rawtab
