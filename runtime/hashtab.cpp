// Hash index records: making, hashing, probing, resizing, and keeping the
// stored positions in step with the indexed series.
//
// Every routine that allocates re-reads the record and its arrays through
// their nodes afterwards, and each new array is stored in the record right
// after it is made, so a collection in between always sees a record whose
// nodes are all alive. Probing and rehashing loops allocate nothing.
#include "runtime/hashtab.hpp"

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "runtime/buckets.hpp"
#include "runtime/collector.hpp"
#include "runtime/memory.hpp"
#include "runtime/symbols.hpp"
#include "runtime/system.hpp"
#include "runtime/unicode.hpp"

namespace qel::hashtab {

int32_t (*compare_cells)(const Cell* a, const Cell* b, CompareOp op) = nullptr;
uint32_t rebuilding = 0;
uint32_t collector_running = 0;

namespace {

using buckets::is_deleted;
using buckets::is_empty;
using buckets::is_live;
using buckets::set_deleted;
using buckets::set_live;

constexpr uint32_t ENTRY_IN_USE = TYPE_UNSET;  // header word 0 of a live entry

// ---- buffers ------------------------------------------------------------------

SeriesBuffer* buf(node_t n) { return series::buffer_of(n); }
int32_t* ints_of(node_t n) { return reinterpret_cast<int32_t*>(series::head_ptr(buf(n))); }
uint32_t* words_of(node_t n) { return reinterpret_cast<uint32_t*>(series::head_ptr(buf(n))); }
using series::cells_of;
using series::cell_count;
uint32_t word_count(node_t n) {
    const SeriesBuffer* s = buf(n);
    return (s->tail - s->head) / 4;
}

// A raw array of count 32-bit words, every byte set to fill.
node_t new_words(uint32_t count, uint8_t fill) {
    const node_t n = series::alloc_with_unit(count ? count : 1, 4);
    SeriesBuffer* s = buf(n);
    memory::fill_range(series::data(s), series::end_ptr(s), fill);
    s->tail = s->head + count * 4;
    return n;
}

node_t new_flags(uint32_t count) { return new_words(buckets::flag_bytes(count) / 4, buckets::ALL_EMPTY_BYTE); }

void fill_flags(node_t flags, uint32_t count) {
    std::memset(words_of(flags), buckets::ALL_EMPTY_BYTE, buckets::flag_bytes(count));
}

struct RebuildGuard {
    RebuildGuard() { ++rebuilding; }
    ~RebuildGuard() { --rebuilding; }
};

// ---- types --------------------------------------------------------------------

// Types whose hash reads a node id: node compaction renumbers those.
bool node_hashed(uint32_t t) {
    switch (t) {
        case TYPE_BLOCK: case TYPE_PAREN: case TYPE_OBJECT: case TYPE_ERROR: case TYPE_HASH:
        case TYPE_MAP: case TYPE_PORT: case TYPE_IMAGE: case TYPE_EVENT:
            return true;
        default:
            return t >= TYPE_NATIVE && t <= TYPE_GET_PATH;
    }
}

uint32_t blocks_hash(std::initializer_list<uint32_t> words) {
    Murmur3Blocks m(seed);
    for (uint32_t w : words) m.add(w);
    return m.finish();
}

// ---- text -----------------------------------------------------------------------

struct Text {
    const uint8_t* data = nullptr;
    uint32_t width = 1;
    uint32_t count = 0;
    uint32_t at(uint32_t i) const { return unicode::unit_at(data, i, width); }
};

Text text_of(const Cell* v) {
    Text t;
    if (!series_node(v)) return t;
    SeriesBuffer* s = buf(series_node(v));
    const uint32_t shift = series::log2_unit(s);
    const uint32_t units = (s->tail - s->head) >> shift;
    t.width = series::unit(s);
    t.count = series_index(v) < units ? units - series_index(v) : 0;
    t.data = series::head_ptr(s) + (static_cast<size_t>(series_index(v)) << shift);
    return t;
}

bool text_equal(const Cell* a, const Cell* b, bool case_sensitive) {
    const Text x = text_of(a), y = text_of(b);
    if (x.count != y.count) return false;
    // Equal units are equal code points: the common case of a key met
    // again in the width it was stored in needs no decoding.
    if (x.width == y.width && (x.count == 0 || std::memcmp(x.data, y.data, size_t{x.count} * x.width) == 0))
        return true;
    for (uint32_t i = 0; i < x.count; i++) {
        uint32_t p = x.at(i), q = y.at(i);
        if (p != q && (case_sensitive || unicode::to_upper(p) != unicode::to_upper(q))) return false;
    }
    return true;
}

bool same_units(const Cell* a, const Cell* b) {
    const Text x = text_of(a), y = text_of(b);
    return x.count == y.count && x.width == y.width &&
           (x.count == 0 || std::memcmp(x.data, y.data, size_t{x.count} * x.width) == 0);
}

bool bytes_equal(const Cell* a, const Cell* b) {
    const Text x = text_of(a), y = text_of(b);
    return x.count == y.count && (x.count == 0 || std::memcmp(x.data, y.data, x.count) == 0);
}

struct Name {
    const uint8_t* bytes;
    uint32_t length;
};

Name name_of_symbol(const Cell* symbol_cell) {
    SeriesBuffer* s = buf(symbol_name_node(symbol_cell));
    return {series::head_ptr(s), s->tail - s->head};
}

uint8_t fold(uint8_t b) { return b >= 'A' && b <= 'Z' ? static_cast<uint8_t>(b | 0x20) : b; }

bool names_equal_folded(const uint8_t* a, const uint8_t* b, uint32_t n) {
    for (uint32_t i = 0; i < n; i++)
        if (fold(a[i]) != fold(b[i])) return false;
    return true;
}

// ---- key equality ---------------------------------------------------------------

// The payload words a type's identity lives in, as bits 1-3 (word n = bit
// n); the hash reads the same words, so equal keys always hash alike.
uint32_t payload_words(uint32_t t) {
    switch (t) {
        case TYPE_UNSET: case TYPE_NONE: return 0;
        case TYPE_DATATYPE: case TYPE_LOGIC: case TYPE_OBJECT: case TYPE_ERROR: case TYPE_PORT: return 2;
        case TYPE_CHAR: case TYPE_INTEGER: case TYPE_MAP: case TYPE_HANDLE: case TYPE_EVENT: return 4;
        case TYPE_FLOAT: case TYPE_PAIR: case TYPE_PERCENT: case TYPE_TIME: return 4 | 8;
        case TYPE_NATIVE: case TYPE_ACTION: return 8;
        default: return 2 | 4 | 8;
    }
}

bool payload_equal(const Cell* a, const Cell* b, uint32_t mask) {
    for (uint32_t i = 0; i < 3; i++)
        if ((mask & (2u << i)) && payload_word(a, i) != payload_word(b, i)) return false;
    return true;
}

// Two cells of one type, while no datatype compare is plugged in.
bool fallback_equal(const Cell* a, const Cell* b, CompareOp op) {
    const uint32_t t = cell::type_of(a);
    if (is_any_string(t)) {
        if (op == CompareOp::Same) return payload_equal(a, b, 2 | 4);
        return text_equal(a, b, is_case_sensitive(op));
    }
    if (is_all_word(t)) {
        if (op == CompareOp::Same) return payload_equal(a, b, 2 | 4);
        return is_case_sensitive(op) ? word_symbol(a) == word_symbol(b)
                                     : symbol::canonical(word_symbol(a)) == symbol::canonical(word_symbol(b));
    }
    switch (t) {
        case TYPE_BINARY:
            return op == CompareOp::Same ? payload_equal(a, b, 2 | 4) : bytes_equal(a, b);
        case TYPE_SYMBOL: {
            const Name x = name_of_symbol(a), y = name_of_symbol(b);
            if (x.length != y.length) return false;
            return is_case_sensitive(op) ? std::memcmp(x.bytes, y.bytes, x.length) == 0
                                 : names_equal_folded(x.bytes, y.bytes, x.length);
        }
        case TYPE_BLOCK: case TYPE_PAREN: case TYPE_PATH: case TYPE_LIT_PATH: case TYPE_SET_PATH:
        case TYPE_GET_PATH: case TYPE_HASH: case TYPE_IMAGE: case TYPE_POINT2D:
            return payload_equal(a, b, 2 | 4);
        case TYPE_TUPLE:
            return tuple_length(a) == tuple_length(b) && payload_equal(a, b, 2 | 4 | 8);
        default:
            return payload_equal(a, b, payload_words(t));
    }
}

// Does a stored key match a lookup key under op? kind adjusts the types:
// map! word keys (any-word!, one key in the set-word! form) are set-words.
bool keys_equal(const Cell* stored, const Cell* key, CompareOp op, Kind kind) {
    // Texts of one type with the same units hold the same code points, and
    // are equal under every comparison but identity: the usual outcome of
    // a probe whose stored hash matched, found without the general compare.
    if (const uint32_t t = cell::type_of(stored);
        t == cell::type_of(key) && is_any_string(t) && op != CompareOp::Same && same_units(stored, key))
        return true;
    Cell a = *stored, b = *key;
    uint32_t ta = cell::type_of(&a), tb = cell::type_of(&b);
    if (kind == Kind::MAP) {
        if (is_any_word(ta)) cell::set_type(&a, ta = TYPE_SET_WORD);
        if (is_any_word(tb)) cell::set_type(&b, tb = TYPE_SET_WORD);
    }
    if (ta != tb) return false;
    if (compare_cells) return compare_cells(&a, &b, op) == 0;
    return fallback_equal(&a, &b, op);
}

// WORDS keys: words by exact symbol, symbols by exact name. Kept apart from
// the datatype compare, whose word equality may ignore case.
bool word_keys_equal(const Cell* a, const Cell* b) {
    const uint32_t ta = cell::type_of(a);
    if (ta != cell::type_of(b)) return false;
    if (is_all_word(ta)) return word_symbol(a) == word_symbol(b);
    if (ta == TYPE_SYMBOL) {
        const Name x = name_of_symbol(a), y = name_of_symbol(b);
        return x.length == y.length && std::memcmp(x.bytes, y.bytes, x.length) == 0;
    }
    return fallback_equal(a, b, CompareOp::StrictEqual);
}

// The equality a table uses to place its own keys.
bool table_equal(Kind kind, const Cell* stored, const Cell* key) {
    switch (kind) {
        case Kind::HASH: return keys_equal(stored, key, CompareOp::Equal, Kind::HASH);
        case Kind::MAP: return keys_equal(stored, key, CompareOp::StrictEqual, Kind::MAP);
        default: return word_keys_equal(stored, key);
    }
}

// ---- stored hashes (HASH, MAP) ----------------------------------------------------

// Types whose hash reads a buffer rather than the cell alone.
bool content_hashed(uint32_t t) { return is_any_string(t) || t == TYPE_BINARY; }

// Does a stored hash that differs from the hash of a lookup key of type t
// rule out a match? Not for text in a hash!, whose strings may be changed
// in place by whoever else holds them, nor for text in a map! marked
// SHARED_KEYS; and not for node-hashed keys while the stamp is behind the
// last node compaction. In those cases the keys are compared as they are.
bool hashes_decide(const Record* r, uint32_t t) {
    if (r->kind == Kind::MAP) return r->aux != SHARED_KEYS || !content_hashed(t);
    if (r->kind != Kind::HASH || content_hashed(t)) return false;
    return !node_hashed(t) || !r->stamp || r->stamp == collector::node_compactions + 1;
}

// ---- chains and the position map (HASH) ------------------------------------------

node_t chain_node(const Record* r, int32_t key) {
    return static_cast<node_t>(ints_of(r->chains)[-key - 1]);
}

// The position stored for a bucket whose key word is k (the first of a chain).
uint32_t first_position(const Record* r, int32_t k) {
    return static_cast<uint32_t>(k >= 0 ? k : ints_of(chain_node(r, k))[0]);
}

int64_t mapped_bucket(const Record* r, uint32_t pos) {
    if (pos >= word_count(r->aux)) return -1;
    const int32_t b = ints_of(r->aux)[pos];
    return b > 0 ? b - 1 : -1;
}

void ensure_map(node_t rn, uint32_t length) {
    const node_t map = record(rn)->aux;
    const uint32_t have = word_count(map);
    if (have >= length) return;
    const uint32_t add = length - have;
    std::memset(series::reserve_bytes(buf(map), add * 4), 0xFF, add * 4);
}

// Takes one position out of a HASH index. Allocates nothing.
void remove_position(node_t rn, uint32_t pos) {
    Record* r = record(rn);
    const int64_t b = mapped_bucket(r, pos);
    if (b < 0) return;
    const auto bucket = static_cast<uint32_t>(b);
    const int32_t k = ints_of(r->keys)[bucket];
    if (k < 0) {
        const node_t chain = chain_node(r, k);
        series::remove_int(chain, static_cast<int32_t>(pos));
        if (series::buffer_length(chain) == 0) {
            ints_of(r->chains)[-k - 1] = 0;
            set_deleted(words_of(r->flags), bucket);
        }
    } else {
        set_deleted(words_of(r->flags), bucket);
    }
    ints_of(r->aux)[pos] = -1;
    r->size--;
}

// ---- HASH, MAP, WORDS: insertion and resizing --------------------------------------

Cell* insert(node_t rn, uint32_t pos, bool may_grow);

// HASH: new arrays of count buckets and every cell indexed again.
void rebuild_buckets(node_t rn, uint32_t count) {
    RebuildGuard guard;
    const uint32_t length = cell_count(record(rn)->series);
    const uint32_t fits = buckets::count_for(length);
    if (count < fits) count = fits;
    node_t n = new_flags(count);
    record(rn)->flags = n;
    n = new_words(count, 0);
    record(rn)->keys = n;
    n = new_words(count, 0);
    record(rn)->hashes = n;
    n = new_words(length, 0xFF);
    record(rn)->aux = n;
    n = new_words(0, 0);
    Record* r = record(rn);
    r->chains = n;
    r->buckets = count;
    r->upper = buckets::upper_for(count);
    r->size = 0;
    r->occupied = 0;
    r->stamp = 0;
    for (uint32_t pos = 0; pos < length; pos++) insert(rn, pos, false);
}

// An array of one word per bucket made long enough for count buckets.
void widen_words(node_t n, uint32_t count) {
    SeriesBuffer* k = buf(n);
    if (k->head + count * 4 > k->size) k = memory::expand_series(k, count * 4);
    k->tail = k->head + count * 4;
}

// MAP and WORDS: the keys (MAP: and their hashes) move within their own
// arrays.
void rehash_cells(node_t rn, uint32_t count) {
    Record* r = record(rn);
    if (r->size >= buckets::upper_after_rehash(count)) return;
    const uint32_t old_count = r->buckets;
    if (count > old_count) {
        widen_words(r->keys, count);
        if (record(rn)->kind == Kind::MAP) widen_words(record(rn)->hashes, count);
    }
    const node_t fresh = new_flags(count);
    r = record(rn);
    uint32_t* old_flags = words_of(r->flags);
    uint32_t live = 0;
    for (uint32_t i = 0; i < old_count; i++) live += is_live(old_flags, i);
    const Cell* base = cells_of(r->series);
    if (r->kind == Kind::MAP) {
        uint32_t* hashes = words_of(r->hashes);
        const int32_t* keys = ints_of(r->keys);
        // Shared text keys may have changed since they were hashed.
        if (r->aux == SHARED_KEYS)
            for (uint32_t i = 0; i < old_count; i++)
                if (is_live(old_flags, i)) hashes[i] = hash_value(base + keys[i], false);
        buckets::rehash_in_place_hashed(old_flags, words_of(fresh), ints_of(r->keys), hashes, old_count, count);
    } else {
        buckets::rehash_in_place(old_flags, words_of(fresh), ints_of(r->keys), old_count, count,
                                 [base](int32_t pos) { return hash_value(base + pos, false); });
    }
    r->flags = fresh;
    r->buckets = count;
    r->upper = buckets::upper_after_rehash(count);
    // Removed map! pairs keep their buckets, so live buckets can outnumber keys.
    r->occupied = live;
}

void rehash_entries(node_t rn);
void rebuild_entries(node_t rn, uint32_t count);

void grow(node_t rn) {
    Record* r = record(rn);
    // map! tables always grow: their removed pairs keep their buckets, so
    // a rehash at the same count would free nothing.
    const uint32_t target = r->kind == Kind::MAP ? buckets::power_of_two_at_least(uint64_t{r->buckets} + 1)
                                           : buckets::resize_target(r->buckets, r->size);
    switch (r->kind) {
        case Kind::HASH: rebuild_buckets(rn, target); break;
        case Kind::MAP: case Kind::WORDS: rehash_cells(rn, target); break;
        default: rebuild_entries(rn, target); break;
    }
}

// Makes pos a chain member of bucket b (HASH), turning a single position
// into a chain first.
void chain_position(node_t rn, uint32_t b, uint32_t pos) {
    const int32_t k = ints_of(record(rn)->keys)[b];
    if (k >= 0) {
        // The list slot comes first, so the new chain is reachable as soon
        // as it exists.
        series::append_int(record(rn)->chains, 0);
        const uint32_t number = word_count(record(rn)->chains);
        const node_t chain = series::alloc_with_unit(4, 4);
        series::append_int(chain, k);
        series::append_int(chain, static_cast<int32_t>(pos));
        Record* r = record(rn);
        ints_of(r->chains)[number - 1] = static_cast<int32_t>(chain);
        ints_of(r->keys)[b] = -static_cast<int32_t>(number);
    } else {
        series::append_int(chain_node(record(rn), k), static_cast<int32_t>(pos));
    }
}

Cell* insert(node_t rn, uint32_t pos, bool may_grow) {
    Record* r = record(rn);
    if (r->kind == Kind::HASH) {
        remove_position(rn, pos);  // a changed cell is indexed anew
        ensure_map(rn, pos + 1);
        r = record(rn);
    }
    if (may_grow && r->occupied >= r->upper) {
        grow(rn);
        r = record(rn);
        if (r->kind == Kind::HASH && mapped_bucket(r, pos) >= 0) return cells_of(r->series) + pos;
    }
    const Kind kind = r->kind;
    const Cell key = cells_of(r->series)[pos];
    if (kind == Kind::HASH && !r->stamp && node_hashed(cell::type_of(&key)))
        r->stamp = collector::node_compactions + 1;
    const uint32_t mask = r->buckets - 1;
    const uint32_t hash = hash_value(&key, false);
    const uint32_t start = hash & mask;
    const uint32_t* flags = words_of(r->flags);
    const int32_t* keys = ints_of(r->keys);
    const Cell* base = cells_of(r->series);
    const uint32_t* hashes = hashes_decide(r, cell::type_of(&key)) ? words_of(r->hashes) : nullptr;
    uint32_t i = start, step = 0;
    int64_t site = -1, found = -1;
    bool wrapped = false;
    for (;;) {
        if (is_empty(flags, i)) break;
        if (is_deleted(flags, i)) {
            if (site < 0) site = i;
        } else if ((!hashes || hashes[i] == hash) && table_equal(kind, base + first_position(r, keys[i]), &key)) {
            found = i;
            break;
        }
        i = (i + ++step) & mask;
        if (i == start) {
            wrapped = true;
            break;
        }
    }
    if (found >= 0) {
        const auto b = static_cast<uint32_t>(found);
        if (kind == Kind::HASH) {
            chain_position(rn, b, pos);
            r = record(rn);
            ints_of(r->aux)[pos] = static_cast<int32_t>(b + 1);
            r->size++;
        } else {
            ints_of(r->keys)[b] = static_cast<int32_t>(pos);
            if (kind == Kind::MAP) words_of(r->hashes)[b] = hash;
        }
        return cells_of(r->series) + pos;
    }
    if (site < 0 && wrapped) {
        // No free bucket at all, which the load limit rules out unless a
        // caller filled the table without letting it grow.
        grow(rn);
        return insert(rn, pos, false);
    }
    const uint32_t b = site >= 0 ? static_cast<uint32_t>(site) : i;
    if (site < 0) r->occupied++;
    set_live(words_of(r->flags), b);
    ints_of(r->keys)[b] = static_cast<int32_t>(pos);
    if (keeps_hashes(kind)) words_of(r->hashes)[b] = hash;
    r->size++;
    if (kind == Kind::HASH) ints_of(r->aux)[pos] = static_cast<int32_t>(b + 1);
    return cells_of(r->series) + pos;
}

// Bucket whose key word is pos, for tables without a position map.
int64_t bucket_of_position(const Record* r, uint32_t pos) {
    const uint32_t mask = r->buckets - 1;
    const uint32_t start = hash_value(cells_of(r->series) + pos, false) & mask;
    const uint32_t* flags = words_of(r->flags);
    const int32_t* keys = ints_of(r->keys);
    uint32_t i = start, step = 0;
    while (!is_empty(flags, i)) {
        if (!is_deleted(flags, i) && keys[i] == static_cast<int32_t>(pos)) return i;
        i = (i + ++step) & mask;
        if (i == start) break;
    }
    return -1;
}

// ---- SCRATCH, OWNERS: entries ----------------------------------------------------------

Cell* entry_at(const Record* r, uint32_t offset) {
    return reinterpret_cast<Cell*>(series::head_ptr(buf(r->series)) + offset);
}

uint32_t entry_bytes(const Record* r) { return buf(r->series)->tail - buf(r->series)->head; }

// Every in-use entry placed again by its key, at the same bucket count.
// Allocates nothing, so it may run while the collector works.
void rehash_entries(node_t rn) {
    Record* r = record(rn);
    fill_flags(r->flags, r->buckets);
    uint32_t* flags = words_of(r->flags);
    int32_t* keys = ints_of(r->keys);
    const uint32_t mask = r->buckets - 1;
    const uint32_t used = entry_bytes(r);
    r->size = 0;
    for (uint32_t off = 0; off < used; off += r->aux) {
        const Cell* e = entry_at(r, off);
        if (e->header != ENTRY_IN_USE) continue;
        uint32_t i = mix32(entry_key(e)) & mask, step = 0;
        while (!is_empty(flags, i)) i = (i + ++step) & mask;
        set_live(flags, i);
        keys[i] = static_cast<int32_t>(off);
        r->size++;
    }
    r->occupied = r->size;
    r->stamp = collector::node_compactions + 1;
}

// New arrays of count buckets and an entry series without removed entries.
void rebuild_entries(node_t rn, uint32_t count) {
    RebuildGuard guard;
    node_t n = new_flags(count);
    record(rn)->flags = n;
    n = new_words(count, 0);
    record(rn)->keys = n;
    Record* r = record(rn);
    r->buckets = count;
    r->upper = buckets::upper_for(count);
    const uint32_t width = r->aux;
    uint32_t live = 0;
    for (uint32_t off = 0; off < entry_bytes(r); off += width) live += entry_at(r, off)->header == ENTRY_IN_USE;
    const uint32_t cells = std::max<uint32_t>(live * (width / sizeof(Cell)), 4);
    // The old series stays in the record until the copy is done, so a
    // collection during this allocation keeps it.
    const node_t fresh = memory::alloc_cells(cells);
    r = record(rn);
    uint8_t* to = series::head_ptr(buf(fresh));
    uint32_t copied = 0;
    for (uint32_t off = 0; off < entry_bytes(r); off += width) {
        const Cell* e = entry_at(r, off);
        if (e->header != ENTRY_IN_USE) continue;
        std::memcpy(to + copied, e, width);
        copied += width;
    }
    buf(fresh)->tail = buf(fresh)->head + copied;
    r->series = fresh;
    rehash_entries(rn);
}

void check_stamp(node_t rn) {
    const Record* r = record(rn);
    if (!r->stamp || collector_running || r->stamp == collector::node_compactions + 1) return;
    if (r->kind == Kind::HASH)
        rebuild_buckets(rn, r->buckets);
    else if (has_entries(r->kind))
        rehash_entries(rn);
}

// Bucket of an entry by key, or -1.
int64_t find_entry(const Record* r, uint32_t key) {
    const uint32_t mask = r->buckets - 1;
    const uint32_t start = mix32(key) & mask;
    const uint32_t* flags = words_of(r->flags);
    const int32_t* keys = ints_of(r->keys);
    uint32_t i = start, step = 0;
    while (!is_empty(flags, i)) {
        if (!is_deleted(flags, i) && entry_key(entry_at(r, static_cast<uint32_t>(keys[i]))) == key) return i;
        i = (i + ++step) & mask;
        if (i == start) break;
    }
    return -1;
}

// ---- holding new buffers ---------------------------------------------------------------

constexpr uint32_t HOLD_CELLS = 64;
constexpr uint32_t HOLD_MAGIC = 0x484F4C44;  // word 3 of the root-block cell of the hold block
uint32_t hold_mark(const Cell& c) { return c.data3; }

node_t hold_root = 0;
uint32_t hold_position = 0;
node_t hold_block = 0;
int32_t hold_depth = 0;

// The hold block of the current root block, made on first need. A root
// block made anew (a fresh start-up, as the tests do) is recognised by the
// marked cell no longer being where it was.
Cell* hold_cells() {
    const node_t root = series_node(root_cell);
    if (!root) return nullptr;
    if (hold_root == root && hold_position < cell_count(root)) {
        const Cell& c = cells_of(root)[hold_position];
        if (cell::type_of(&c) == TYPE_BLOCK && hold_mark(c) == HOLD_MAGIC) return cells_of(series_node(c));
    }
    hold_root = root;
    hold_depth = 0;
    Cell* slot = series::reserve_cell(&root_cell);
    hold_position = static_cast<uint32_t>(slot - cells_of(root));
    hold_block = memory::alloc_unset_cells(HOLD_CELLS);
    SeriesBuffer* s = buf(hold_block);
    s->tail = s->head + HOLD_CELLS * sizeof(Cell);
    cells_of(series_node(root_cell))[hold_position] = Cell{TYPE_BLOCK, 0, hold_block, HOLD_MAGIC};
    return cells_of(hold_block);
}

}  // namespace

Hold::Hold(const Cell& c) : slot_(-1) {
    Cell* cells = hold_cells();
    if (!cells || hold_depth >= static_cast<int32_t>(HOLD_CELLS)) return;
    slot_ = hold_depth++;
    cells[slot_] = c;
}

void Hold::set(const Cell& c) {
    if (slot_ < 0) return;
    if (Cell* cells = hold_cells()) cells[slot_] = c;
}

Hold::~Hold() {
    if (slot_ < 0) return;
    if (Cell* cells = hold_cells()) cells[slot_] = Cell{TYPE_UNSET, 0, 0, 0};
    hold_depth = slot_;
}

void init() { hold_cells(); }

// ---- hashing ------------------------------------------------------------------

namespace {

// The case choice is a template argument: keys are hashed in every look-up,
// and the loop over their units stays free of the test.
template <class Unit, bool CaseSensitive>
void add_units(Murmur3Blocks& m, const uint8_t* data, uint32_t count) {
    const auto* units = reinterpret_cast<const Unit*>(data);
    for (uint32_t i = 0; i < count; i++) {
        const uint32_t cp = units[i];
        if (CaseSensitive) m.add(cp);
        else if (cp < 0x80) m.add(cp - 'a' < 26 ? cp - 0x20 : cp);
        else m.add(unicode::to_upper(cp));
    }
}

template <bool CaseSensitive>
void add_text(Murmur3Blocks& m, const Text& t) {
    switch (t.width) {
        case 1: add_units<uint8_t, CaseSensitive>(m, t.data, t.count); break;
        case 2: add_units<uint16_t, CaseSensitive>(m, t.data, t.count); break;
        default: add_units<uint32_t, CaseSensitive>(m, t.data, t.count); break;
    }
}

}  // namespace

uint32_t hash_string(const Cell* value, bool case_sensitive) {
    const Text t = text_of(value);
    Murmur3Blocks m(seed);
    if (case_sensitive) add_text<true>(m, t);
    else add_text<false>(m, t);
    return m.finish();
}

// murmur3 of the folded name, folding each byte as it is read.
uint32_t hash_name(const uint8_t* name, uint32_t length) {
    return murmur3_mapped(name, length, seed, [](uint8_t b) { return fold(b); });
}

uint32_t hash_value(const Cell* v, bool case_sensitive) {
    const uint32_t t = cell::type_of(v);
    if (is_any_string(t)) return hash_string(v, case_sensitive);
    if (is_all_word(t)) return mix32(static_cast<uint32_t>(symbol::canonical(word_symbol(v))));
    switch (t) {
        case TYPE_UNSET: return static_cast<uint32_t>(-2);
        case TYPE_NONE: return static_cast<uint32_t>(-1);
        case TYPE_DATATYPE: case TYPE_LOGIC: case TYPE_OBJECT: case TYPE_ERROR: case TYPE_PORT:
            return mix32(payload_word(v, 0));
        case TYPE_BLOCK: case TYPE_PAREN: case TYPE_PATH: case TYPE_LIT_PATH: case TYPE_SET_PATH:
        case TYPE_GET_PATH: case TYPE_HASH: case TYPE_IMAGE: case TYPE_POINT2D:
            return blocks_hash({payload_word(v, 0), payload_word(v, 1)});
        case TYPE_CHAR: case TYPE_INTEGER: case TYPE_MAP: case TYPE_HANDLE: case TYPE_EVENT:
            return mix32(payload_word(v, 1));
        case TYPE_FLOAT: case TYPE_PAIR: case TYPE_PERCENT: case TYPE_TIME:
            return blocks_hash({payload_word(v, 1), payload_word(v, 2)});
        case TYPE_SYMBOL: {
            const Name n = name_of_symbol(v);
            return hash_name(n.bytes, n.length);
        }
        case TYPE_NATIVE: case TYPE_ACTION: return mix32(payload_word(v, 2));
        case TYPE_OP: case TYPE_FUNCTION: case TYPE_TRIPLE: case TYPE_TYPESET: case TYPE_DATE:
        case TYPE_POINT3D:
            return blocks_hash({payload_word(v, 0), payload_word(v, 1), payload_word(v, 2)});
        case TYPE_TUPLE: {
            uint8_t bytes[12];
            const uint32_t length = std::min<uint32_t>(tuple_length(v), sizeof bytes);
            for (uint32_t i = 0; i < length; i++) bytes[i] = tuple_byte(v, i);
            return murmur3(bytes, length, seed);
        }
        case TYPE_BINARY: {
            const Text b = text_of(v);
            return murmur3(b.data, b.count, seed);
        }
        case TYPE_MONEY: {
            // Only the digits: the header flags (the sign among them) and
            // the currency index (payload byte 0) are left out, because
            // equal? takes USD$1 and $1, and -$0 and $0, for the same.
            Cell c = *v;
            c.header = t;
            payload_word(c, 0) &= ~0xFFu;
            return murmur3(&c, sizeof c, seed);
        }
        default: return 0;
    }
}

// ---- making -------------------------------------------------------------------

namespace {

node_t new_record(Kind kind) {
    const node_t rn = memory::alloc_bytes_filled(sizeof(Record), 0);
    SeriesBuffer* s = buf(rn);
    s->tail = s->head + sizeof(Record);
    record(rn)->kind = kind;
    return rn;
}

// copy_series: also copy the indexed series (WORDS copies of contexts).
node_t copy_record(node_t rn, node_t new_series, bool copy_series) {
    const node_t cn = new_record(record(rn)->kind);
    Hold hold(Cell{TYPE_HASH, 0, 0, cn});
    *record(cn) = *record(rn);
    Record* c = record(cn);
    c->flags = c->keys = c->series = c->chains = c->hashes = 0;
    if (c->kind == Kind::HASH) c->aux = 0;
    node_t n = series::copy_node_buffer(record(rn)->flags);
    record(cn)->flags = n;
    n = series::copy_node_buffer(record(rn)->keys);
    record(cn)->keys = n;
    const Kind kind = record(rn)->kind;
    if (record(rn)->hashes) {
        n = series::copy_node_buffer(record(rn)->hashes);
        record(cn)->hashes = n;
    }
    if (kind == Kind::HASH) {
        n = series::copy_node_buffer(record(rn)->aux);
        record(cn)->aux = n;
        n = series::copy_node_buffer(record(rn)->chains);
        record(cn)->chains = n;
        // The list copy still names the source's chains until each is
        // replaced by its own copy.
        for (uint32_t k = 0; k < word_count(record(cn)->chains); k++) {
            const node_t chain = static_cast<node_t>(ints_of(record(rn)->chains)[k]);
            if (!chain) continue;
            ints_of(record(cn)->chains)[k] = 0;
            n = series::copy_node_buffer(chain);
            ints_of(record(cn)->chains)[k] = static_cast<int32_t>(n);
        }
    }
    if (has_entries(kind) || copy_series) {
        n = series::copy_node_buffer(record(rn)->series);
        record(cn)->series = n;
    } else {
        record(cn)->series = new_series;
    }
    return cn;
}

}  // namespace

node_t make(uint32_t n, const Cell* source, Kind kind, int d) {
    const Cell src = source ? *source : Cell{TYPE_NONE, 0, 0, 0};
    if (kind == Kind::WORDS && d && source) return copy_record(context_words(src), 0, true);
    if (kind == Kind::WORDS && n >= 4000) n *= 2;
    const node_t rn = new_record(kind);
    Hold hold(Cell{TYPE_HASH, 0, 0, rn});
    if (has_entries(kind)) {
        record(rn)->aux = 16 * static_cast<uint32_t>(d) + 16;
        record(rn)->stamp = collector::node_compactions + 1;
    }
    if (n < 4) n = 4;
    const uint32_t count = buckets::count_for(n);
    {
        Record* r = record(rn);
        r->buckets = count;
        r->upper = buckets::upper_for(count);
    }
    node_t a = new_flags(count);
    record(rn)->flags = a;
    a = new_words(count, 0);
    record(rn)->keys = a;
    if (keeps_hashes(kind)) {
        a = new_words(count, 0);
        record(rn)->hashes = a;
    }
    if (kind == Kind::HASH) {
        a = new_words(n, 0xFF);
        record(rn)->aux = a;
        a = new_words(0, 0);
        record(rn)->chains = a;
    }
    if (has_entries(kind) || !source) {
        a = memory::alloc_cells(n);
        record(rn)->series = a;
        return rn;
    }
    record(rn)->series = series_node(src);
    hold.set(Cell{TYPE_HASH, 0, series_node(src), rn});
    index_block(rn, series_index(src), kind == Kind::MAP ? 2 : 1);
    return rn;
}

void rebuild(node_t rec, uint32_t n) {
    const uint32_t length = cell_count(record(rec)->series);
    if (n < length) n = length;
    rebuild_buckets(rec, buckets::power_of_two_at_least((3 * uint64_t{n} + 1) / 2));
}

node_t copy(node_t rec, node_t new_series) { return copy_record(rec, new_series, false); }

void clear(node_t rec) {
    Record* r = record(rec);
    fill_flags(r->flags, r->buckets);
    r->size = 0;
    r->occupied = 0;
    if (r->kind == Kind::HASH) {
        SeriesBuffer* m = buf(r->aux);
        memory::fill_range(series::head_ptr(m), series::tail_ptr(m), 0xFF);
        series::clear(r->chains);
        r->stamp = 0;
    } else if (has_entries(r->kind)) {
        series::clear(r->series);
        r->stamp = collector::node_compactions + 1;
    }
}

// ---- cells of the indexed series ------------------------------------------------

void index_block(node_t rec, uint32_t first, uint32_t step) {
    if (step == 0) step = 1;
    if (record(rec)->kind == Kind::MAP && first < cell_count(record(rec)->series)) record(rec)->aux = SHARED_KEYS;
    for (uint32_t pos = first; pos < cell_count(record(rec)->series); pos += step) insert(rec, pos, true);
}

Cell* put_at(node_t rec, uint32_t position) { return insert(rec, position, true); }

namespace {

// get's probe, for a key whose hash is known.
Cell* find_hashed(node_t rec, const Cell& key, uint32_t hash, uint32_t position, uint32_t skip, CompareOp op,
                  bool reverse, bool last) {
    const Record* r = record(rec);
    // A map! whose pairs are all removed still finds their keys, so that
    // setting one again revives it in its place.
    if (r->size == 0 && r->kind != Kind::MAP) return nullptr;
    if (skip == 0) skip = 1;
    const Kind kind = r->kind;
    const uint32_t mask = r->buckets - 1;
    const uint32_t start = hash & mask;
    const uint32_t* flags = words_of(r->flags);
    const int32_t* keys = ints_of(r->keys);
    const uint32_t* hashes = hashes_decide(r, cell::type_of(&key)) ? words_of(r->hashes) : nullptr;
    Cell* base = cells_of(r->series);
    int64_t best = -1;
    // Is p a better HASH match than the best so far?
    auto better = [&](uint32_t p) {
        if (reverse) {
            if (p > position || (position - p) % skip) return false;
            return best < 0 || p > best;
        }
        if (p < position || (p - position) % skip) return false;
        return best < 0 || (last ? p > best : p < best);
    };
    uint32_t i = start, step = 0;
    while (!is_empty(flags, i)) {
        if (!is_deleted(flags, i) && (!hashes || hashes[i] == hash)) {
            const int32_t k = keys[i];
            if (kind != Kind::HASH) {
                if (keys_equal(base + k, &key, op, kind)) return base + k;
            } else if (keys_equal(base + first_position(r, k), &key, CompareOp::Equal, Kind::HASH)) {
                // Chain members are all equal to each other, so one test
                // under the table's own equality passes or skips them all.
                if (k >= 0) {
                    if (better(k) && keys_equal(base + k, &key, op, Kind::HASH)) best = k;
                } else {
                    const node_t chain = chain_node(r, k);
                    const int32_t* members = ints_of(chain);
                    const uint32_t n = word_count(chain);
                    for (uint32_t m = 0; m < n; m++)
                        if (better(members[m]) && keys_equal(base + members[m], &key, op, Kind::HASH))
                            best = members[m];
                }
            }
        }
        i = (i + ++step) & mask;
        if (i == start) break;
    }
    return best < 0 ? nullptr : base + best;
}

}  // namespace

Cell* get(node_t rec, const Cell* key_in, uint32_t position, uint32_t skip, CompareOp op, bool reverse,
          bool last) {
    const Cell key = *key_in;
    if (record(rec)->kind == Kind::HASH) check_stamp(rec);
    return find_hashed(rec, key, hash_value(&key, false), position, skip, op, reverse, last);
}

Cell* find_map_key(node_t rec, const Cell* key_in, CompareOp op, uint32_t* hash) {
    const Cell key = *key_in;
    *hash = hash_value(&key, false);
    return find_hashed(rec, key, *hash, 0, 1, op, false, false);
}

Cell* put_new_at(node_t rec, uint32_t position, uint32_t hash) {
    if (record(rec)->occupied >= record(rec)->upper) grow(rec);
    Record* r = record(rec);
    const uint32_t mask = r->buckets - 1;
    uint32_t* flags = words_of(r->flags);
    // The first bucket on the key's probe path that holds no live key: no
    // stored key equals this one, so nothing further along can be its own.
    uint32_t i = hash & mask, step = 0;
    while (is_live(flags, i)) i = (i + ++step) & mask;
    if (is_empty(flags, i)) r->occupied++;
    set_live(flags, i);
    ints_of(r->keys)[i] = static_cast<int32_t>(position);
    words_of(r->hashes)[i] = hash;
    r->size++;
    return cells_of(r->series) + position;
}

void remove_at(node_t rec, uint32_t pos) {
    Record* r = record(rec);
    if (r->kind == Kind::HASH) {
        remove_position(rec, pos);
        return;
    }
    const int64_t b = bucket_of_position(r, pos);
    if (b < 0) return;
    if (r->kind == Kind::MAP) {
        // The pair keeps its bucket and its place in the block; a removed
        // pair is one whose value cell has header 0, and setting its key
        // again revives it where it was.
        cells_of(r->series)[pos + 1].header = 0;
    } else {
        set_deleted(words_of(r->flags), static_cast<uint32_t>(b));
    }
    r->size--;
}

void remove_cell(node_t rec, const Cell* cell) {
    remove_at(rec, static_cast<uint32_t>(cell - cells_of(record(rec)->series)));
}

namespace {

// A buffer that holds more than SLACK x SLACK times the bytes it must is
// cut down to SLACK times them. The gap between the two keeps a map that
// shrinks and grows by a little from copying its buffers over and over.
constexpr uint32_t SLACK = 2;

// Cuts a buffer down as above; its used bytes stay.
void fit_buffer(node_t n, uint32_t bytes) {
    if (bytes == 0) return;
    SeriesBuffer* s = buf(n);
    const uint64_t most = uint64_t{SLACK} * SLACK * bytes;
    if (s->size - s->head > most) memory::expand_series(s, SLACK * bytes);
}

}  // namespace

void compact_pairs(node_t rn, uint32_t room) {
    Record* r = record(rn);
    const node_t series = r->series;
    Cell* cells = cells_of(series);
    const uint32_t n = cell_count(series) & ~1u;
    // The new position of each pair by its number, -1 for a removed one.
    std::vector<int32_t> to(n / 2);
    uint32_t kept = 0;
    for (uint32_t p = 0; p < n; p += 2)
        to[p / 2] = cells[p + 1].header == 0 ? -1 : static_cast<int32_t>(2 * kept++);
    uint32_t* flags = words_of(r->flags);
    int32_t* keys = ints_of(r->keys);
    for (uint32_t i = 0; i < r->buckets; i++) {
        if (!is_live(flags, i)) continue;
        const auto k = static_cast<uint32_t>(keys[i]);
        const int32_t at = k < n ? to[k / 2] : -1;
        if (at < 0) set_deleted(flags, i);
        else keys[i] = at;
    }
    for (uint32_t p = 0; p < n; p += 2) {
        const int32_t at = to[p / 2];
        if (at < 0 || static_cast<uint32_t>(at) == p) continue;
        cells[at] = cells[p];
        cells[at + 1] = cells[p + 1];
    }
    series::set_tail_at(series, 2 * kept + 1);
    // The rehash drops the deleted buckets just made, at a smaller count
    // when room needs far fewer buckets than the table has.
    const uint32_t count = std::min(buckets::count_for(room), r->buckets);
    rehash_cells(rn, count);
    r = record(rn);
    for (const node_t words : {r->keys, r->hashes}) {
        SeriesBuffer* w = buf(words);
        if (w->tail - w->head > r->buckets * 4) w->tail = w->head + r->buckets * 4;
        fit_buffer(words, r->buckets * 4);
        r = record(rn);
    }
    fit_buffer(r->series, std::max(room, kept) * 2 * static_cast<uint32_t>(sizeof(Cell)));
}

void remove_range(node_t rec, uint32_t position, uint32_t n) {
    Record* r = record(rec);
    const uint32_t length = cell_count(r->series);
    if (position >= length) return;
    if (n > length - position) n = length - position;
    if (r->kind == Kind::HASH) {
        if (position == 0 && n == length) {
            clear(rec);
            return;
        }
        for (uint32_t p = position; p < position + n; p++) remove_position(rec, p);
        return;
    }
    uint32_t* flags = words_of(r->flags);
    const int32_t* keys = ints_of(r->keys);
    const Cell* cells = cells_of(r->series);
    for (uint32_t i = 0; i < r->buckets; i++) {
        if (!is_live(flags, i)) continue;
        const auto k = static_cast<uint32_t>(keys[i]);
        if (k < position || k >= position + n) continue;
        set_deleted(flags, i);
        // A removed map! pair was already taken off the count.
        if (r->kind != Kind::MAP || (k + 1 < length && cells[k + 1].header != 0)) r->size--;
    }
}

namespace {

// Applies a position change to every stored position in [lo, hi) of a HASH
// table, visiting each chain once. Allocates nothing; the map is moved by
// the caller.
template <class NewPosition>
void renumber_hash(node_t rec, uint32_t lo, uint32_t hi, NewPosition&& moved) {
    Record* r = record(rec);
    int32_t* keys = ints_of(r->keys);
    const int32_t* map = ints_of(r->aux);
    const uint32_t mapped = std::min(hi, word_count(r->aux));
    std::vector<uint8_t> seen(word_count(r->chains), 0);
    for (uint32_t p = lo; p < mapped; p++) {
        if (map[p] <= 0) continue;
        const uint32_t b = static_cast<uint32_t>(map[p]) - 1;
        const int32_t k = keys[b];
        if (k >= 0) {
            keys[b] = static_cast<int32_t>(moved(p));
        } else if (!seen[-k - 1]) {
            seen[-k - 1] = 1;
            const node_t chain = chain_node(r, k);
            int32_t* members = ints_of(chain);
            for (uint32_t m = 0; m < word_count(chain); m++) {
                const auto q = static_cast<uint32_t>(members[m]);
                if (q >= lo && q < hi) members[m] = static_cast<int32_t>(moved(q));
            }
        }
    }
}

template <class NewPosition>
void renumber_cells(node_t rec, uint32_t lo, uint32_t hi, NewPosition&& moved) {
    Record* r = record(rec);
    const uint32_t* flags = words_of(r->flags);
    int32_t* keys = ints_of(r->keys);
    for (uint32_t i = 0; i < r->buckets; i++) {
        if (!is_live(flags, i)) continue;
        const auto k = static_cast<uint32_t>(keys[i]);
        if (k >= lo && k < hi) keys[i] = static_cast<int32_t>(moved(k));
    }
}

}  // namespace

int shift_positions(node_t rec, int32_t offset, uint32_t position, uint32_t count, bool removed) {
    if (count > SHIFT_LIMIT) return 1;
    if (offset == 0) return 0;
    // Positions cannot go below the head: a caller asking for that has
    // its own count wrong, and a rebuild sets everything right.
    if (offset < 0 && static_cast<uint32_t>(-offset) > position) return 1;
    const Kind kind = record(rec)->kind;
    if (removed && offset < 0) {
        const uint32_t gone = std::min<uint32_t>(static_cast<uint32_t>(-offset), position);
        if (kind == Kind::HASH) {
            for (uint32_t p = position - gone; p < position; p++) remove_position(rec, p);
        } else {
            remove_range(rec, position - gone, gone);
        }
    }
    auto moved = [offset](uint32_t p) { return static_cast<uint32_t>(static_cast<int64_t>(p) + offset); };
    if (kind != Kind::HASH) {
        renumber_cells(rec, position, position + count, moved);
        return 0;
    }
    if (offset > 0) ensure_map(rec, position + count + static_cast<uint32_t>(offset));
    renumber_hash(rec, position, position + count, moved);
    Record* r = record(rec);
    int32_t* map = ints_of(r->aux);
    const uint32_t mapped = word_count(r->aux);
    if (position >= mapped) return 0;
    const uint32_t n = std::min(count, mapped - position);
    const uint32_t to = static_cast<uint32_t>(static_cast<int64_t>(position) + offset);
    std::memmove(map + to, map + position, n * sizeof(int32_t));
    // The places the moved positions left hold nothing now.
    const uint32_t vac_lo = offset > 0 ? position : to + n;
    const uint32_t vac_hi = offset > 0 ? std::min(to, position + n) : position + n;
    for (uint32_t p = vac_lo; p < vac_hi; p++) map[p] = -1;
    return 0;
}

int move_range(node_t rec, uint32_t from, uint32_t count, uint32_t to) {
    if (count == 0 || (to >= from && to <= from + count)) return 0;
    const uint32_t lo = std::min(from, to), hi = std::max(from + count, to);
    if (hi - lo > SHIFT_LIMIT) return 1;
    auto moved = [=](uint32_t p) -> uint32_t {
        if (p >= from && p < from + count) return to > from ? p + (to - from - count) : p - (from - to);
        return to > from ? p - count : p + count;
    };
    if (record(rec)->kind != Kind::HASH) {
        renumber_cells(rec, lo, hi, moved);
        return 0;
    }
    ensure_map(rec, hi);
    renumber_hash(rec, lo, hi, moved);
    int32_t* map = ints_of(record(rec)->aux);
    std::vector<int32_t> old(map + lo, map + hi);
    for (uint32_t p = lo; p < hi; p++) map[moved(p)] = old[p - lo];
    return 0;
}

// ---- entries ----------------------------------------------------------------------

Cell* put_key(node_t rec, uint32_t key) {
    check_stamp(rec);
    int64_t b = find_entry(record(rec), key);
    if (b >= 0) {
        const Record* r = record(rec);
        return entry_at(r, static_cast<uint32_t>(ints_of(r->keys)[b])) + 1;
    }
    if (record(rec)->occupied >= record(rec)->upper) {
        const Record* r = record(rec);
        rebuild_entries(rec, buckets::resize_target(r->buckets, r->size));
    }
    // The entry is reserved before a bucket is chosen: the reservation may
    // collect, and a collection may remove owner entries.
    const uint32_t width = record(rec)->aux;
    SeriesBuffer* s = buf(record(rec)->series);
    // A grown buffer keeps the used bytes from its head, so the offset
    // taken before holds after.
    const uint32_t offset = s->tail - s->head;
    series::reserve_bytes(s, width);
    Record* r = record(rec);
    Cell* e = entry_at(r, offset);
    for (uint32_t c = 0; c < width / sizeof(Cell); c++) e[c] = Cell{TYPE_UNSET, 0, 0, 0};
    entry_key(e) = key;
    const uint32_t mask = r->buckets - 1;
    uint32_t* flags = words_of(r->flags);
    uint32_t i = mix32(key) & mask, step = 0;
    while (is_live(flags, i)) i = (i + ++step) & mask;
    if (is_empty(flags, i)) r->occupied++;
    set_live(flags, i);
    ints_of(r->keys)[i] = static_cast<int32_t>(offset);
    r->size++;
    return e + 1;
}

Cell* get_key(node_t rec, uint32_t key) {
    check_stamp(rec);
    const Record* r = record(rec);
    const int64_t b = find_entry(r, key);
    return b < 0 ? nullptr : entry_at(r, static_cast<uint32_t>(ints_of(r->keys)[b])) + 1;
}

void remove_entries_if(node_t rec, bool (*dead)(Cell* values)) {
    Record* r = record(rec);
    uint32_t* flags = words_of(r->flags);
    const int32_t* keys = ints_of(r->keys);
    for (uint32_t b = 0; b < r->buckets; b++) {
        if (!is_live(flags, b)) continue;
        Cell* e = entry_at(r, static_cast<uint32_t>(keys[b]));
        if (e->header != ENTRY_IN_USE || !dead(e + 1)) continue;
        e->header = 0;
        set_deleted(flags, b);
        r->size--;
    }
}

void remove_key(node_t rec, uint32_t key) {
    check_stamp(rec);
    Record* r = record(rec);
    const int64_t b = find_entry(r, key);
    if (b < 0) return;
    entry_at(r, static_cast<uint32_t>(ints_of(r->keys)[b]))->header = 0;
    set_deleted(words_of(r->flags), static_cast<uint32_t>(b));
    r->size--;
}

// ---- symbols and context words ---------------------------------------------------

namespace {

// Position of the first symbol on the probe chain of the name (whose
// hash_name is hash) whose name matches (exactly, or ignoring ASCII case),
// or -1.
// The name's probe chain, walked once: the position of the exact spelling
// (or -1) and, when want_variant, of the first spelling met that matches
// in any letter case (or -1). The walk stops at the exact spelling.
struct Walked {
    int64_t exact = -1;
    int64_t variant = -1;
};

Walked walk_symbols(const Record* r, const uint8_t* name, uint32_t length, uint32_t hash, bool want_exact,
                    bool want_variant) {
    const uint32_t mask = r->buckets - 1;
    const uint32_t start = hash & mask;
    const uint32_t* flags = words_of(r->flags);
    const int32_t* keys = ints_of(r->keys);
    const Cell* symbols = cells_of(r->series);
    Walked w;
    uint32_t i = start, step = 0;
    while (!is_empty(flags, i)) {
        if (!is_deleted(flags, i)) {
            const Name n = name_of_symbol(symbols + keys[i]);
            if (n.length == length) {
                if (want_exact && std::memcmp(n.bytes, name, length) == 0) {
                    w.exact = keys[i];
                    if (w.variant < 0) w.variant = keys[i];
                    return w;
                }
                if (want_variant && w.variant < 0 && names_equal_folded(n.bytes, name, length)) {
                    w.variant = keys[i];
                    if (!want_exact) return w;
                }
            }
        }
        i = (i + ++step) & mask;
        if (i == start) break;
    }
    return w;
}

}  // namespace

int32_t find_symbol(node_t rec, const uint8_t* name, uint32_t length) {
    return static_cast<int32_t>(walk_symbols(record(rec), name, length, hash_name(name, length), true, false).exact + 1);
}

int32_t lookup_symbol(node_t rec, const uint8_t* name, uint32_t length, int case_flag) {
    if (record(rec)->occupied >= record(rec)->upper) grow(rec);
    // Both passes walk the same probe chain and end at the same empty
    // bucket, where a new spelling goes: the name is hashed once.
    const uint32_t hash = hash_name(name, length);
    const Walked walked = walk_symbols(record(rec), name, length, hash, case_flag == 0, true);
    if (walked.exact >= 0) return static_cast<int32_t>(walked.exact) + 1;
    const int64_t variant = walked.variant;
    int32_t alias = -1;
    if (variant >= 0) {
        // The spelling met first need not be the canonical one: a rehash
        // reorders a probe chain, so a later variant can come before the
        // spelling it was aliased to. Its own alias names the canonical.
        const int32_t canonical = symbol::canonical(static_cast<int32_t>(variant) + 1);
        if (case_flag != 0) return canonical;
        alias = canonical;
    }
    // The name may lie in a series buffer that the append moves.
    const std::string copy(reinterpret_cast<const char*>(name), length);
    const uint32_t pos = symbol::append(reinterpret_cast<const uint8_t*>(copy.data()), length, alias);
    Record* w = record(rec);
    uint32_t* f = words_of(w->flags);
    uint32_t i = hash & (w->buckets - 1), step = 0;
    while (is_live(f, i)) i = (i + ++step) & (w->buckets - 1);
    if (is_empty(f, i)) w->occupied++;
    set_live(f, i);
    ints_of(w->keys)[i] = static_cast<int32_t>(pos);
    w->size++;
    return static_cast<int32_t>(pos) + 1;
}

int32_t find_word(node_t rec, int32_t sym, bool case_insensitive, node_t context, int32_t* key_position) {
    if (!context) {
        const int32_t at = find_key(rec, sym, case_insensitive);
        if (at < 0) return -1;
        if (key_position) *key_position = at;
        return word_index(cells_of(record(rec)->series)[at]);
    }
    if (record(rec)->occupied >= record(rec)->upper) grow(rec);
    const Record* r = record(rec);
    const int32_t canonical = symbol::canonical(sym);
    const uint32_t mask = r->buckets - 1;
    const uint32_t start = mix32(static_cast<uint32_t>(canonical)) & mask;
    const uint32_t* flags = words_of(r->flags);
    const int32_t* keys = ints_of(r->keys);
    const Cell* words = cells_of(r->series);
    uint32_t i = start, step = 0;
    int64_t site = -1;
    while (!is_empty(flags, i)) {
        if (is_deleted(flags, i)) {
            if (site < 0) site = i;
        } else {
            const Cell& w = words[keys[i]];
            const int32_t s = word_symbol(w);
            if (s == sym || (case_insensitive && symbol::canonical(s) == canonical)) {
                if (key_position) *key_position = keys[i];
                return word_index(w);
            }
        }
        i = (i + ++step) & mask;
        if (i == start) break;
    }
    if (!context) return -1;
    if (site < 0 && !is_empty(flags, i)) {
        // Every bucket passed holds a word: only a table kept from growing
        // gets here.
        rehash_cells(rec, buckets::power_of_two_at_least(uint64_t{r->buckets} + 1));
        return find_word(rec, sym, case_insensitive, context, key_position);
    }
    const uint32_t b = site >= 0 ? static_cast<uint32_t>(site) : i;
    // Context words are never removed, so the bucket found stays free
    // across the allocation.
    Cell* key = series::reserve_cell(buf(r->series));
    const auto index = static_cast<uint32_t>(key - cells_of(record(rec)->series));
    *key = Cell{TYPE_WORD, context, static_cast<uint32_t>(sym), index};
    Record* w = record(rec);
    if (is_empty(words_of(w->flags), b)) w->occupied++;
    set_live(words_of(w->flags), b);
    ints_of(w->keys)[b] = static_cast<int32_t>(index);
    w->size++;
    if (key_position) *key_position = static_cast<int32_t>(index);
    return -1;
}

}  // namespace qel::hashtab
