// Hash index records: the one open-addressing table behind every keyed
// lookup of the language (hash!, map!, context words, the symbol table,
// the scratch and owner tables).
//
// A record is a 48-byte series of twelve words (Record below); its flag,
// key and other arrays are series of their own, so the collector moves and
// reclaims them like any buffer. HASH, MAP and WORDS tables index the cells
// of a series: a bucket holds the cell's 0-based position from the buffer
// head, never a copy of the value, so an index costs one word per bucket.
// HASH and MAP also keep the full 32-bit hash of each live bucket's key in
// a parallel array: a probe reads the key cell (and, for text, its buffer)
// only when the hashes agree, and a rehash places keys without reading
// them. SCRATCH and OWNERS tables hold entries of their own (a header cell
// with the 32-bit key, then value cells) in an entry series; a bucket holds
// the entry's byte offset. A
// removed map! pair keeps its cells and its bucket, so that its key can
// revive it in place, until the map has compact_pairs drop the removed
// pairs from its series and its buckets together.
//
// | kind    | use           | keys                          | duplicates    |
// | HASH    | hash!         | every cell, `equal?`          | chained       |
// | MAP     | map!          | every second cell, strict     | no            |
// | WORDS   | context words | words by symbol id            | no            |
// |         | symbol table  | symbols by name               |               |
// | SCRATCH | scratch table | 32-bit values (nodes)         | no            |
// | OWNERS  | owner table   | node of an owned series       | no            |
//
// Every function may allocate unless it says otherwise, and allocation may
// collect: a Cell* answered here points into a movable buffer and is valid
// only until the next allocation. Keys passed by address are copied on
// entry, so they may point anywhere.
//
// Collector contract. The collector marks a record (through a hash! or map!
// cell, a context, or a root) with its flag and key arrays and, for HASH
// and MAP, the hash array; for HASH also the position map, the chain list
// and every chain named in it (0 entries are cleared chains); for SCRATCH
// and OWNERS the entry series and the key node of every in-use entry
// (header word TYPE_UNSET); for HASH, MAP and WORDS the indexed series with
// its cells. Any node field may still be 0 while a record is
// being built. While it runs the collector sets `collector_running`, so
// stamped tables do not rebuild under it, and it skips node compaction
// while `rebuilding` is not 0.
#pragma once
#include <cstdint>

#include "runtime/buckets.hpp"
#include "runtime/cell.hpp"
#include "runtime/compare_op.hpp"
#include "runtime/murmur3.hpp"
#include "runtime/series.hpp"
#include "runtime/symbols.hpp"

namespace qel::hashtab {

enum class Kind : uint32_t { HASH, MAP, WORDS, SCRATCH, OWNERS };
// SCRATCH and OWNERS hold entries of their own; the others index the cells
// of a series.
constexpr bool has_entries(Kind k) { return k == Kind::SCRATCH || k == Kind::OWNERS; }
// HASH and MAP keep each bucket's key hash in a parallel array.
constexpr bool keeps_hashes(Kind k) { return k == Kind::HASH || k == Kind::MAP; }

// Entries of SCRATCH and OWNERS tables: a header cell whose header word is TYPE_UNSET
// while the entry is in use and whose word 1 is the 32-bit key, then the
// value cells.
inline uint32_t entry_key(const Cell* e) { return e->data1; }
inline uint32_t& entry_key(Cell* e) { return e->data1; }

struct Record {
    uint32_t size;      // live keys (HASH: live positions, duplicates counted)
    uint32_t aux;       // HASH: node of the position map; MAP: SHARED_KEYS or 0; entries: entry width in bytes
    node_t chains;      // HASH: node of the chain list (one chain node per word, 0 = cleared)
    node_t flags;       // 2 bits per bucket
    node_t keys;        // one word per bucket: a cell position, -k for chain k, or an entry offset
    node_t series;      // the indexed cell series, or the entry series
    uint32_t occupied;  // live + deleted buckets
    uint32_t buckets;   // a power of two
    uint32_t upper;     // occupied at which the next insertion resizes
    Kind kind;
    uint32_t stamp;     // 0, or node_compactions + 1 when node-dependent hashes were last computed
    node_t hashes;      // HASH, MAP: one word per bucket, the hash of its key (HASH: of its first position)
};
static_assert(sizeof(Record) == 48);

// MAP aux flag: keys were indexed where they stood (index_block) rather
// than copied in by the map, so a text key may share its buffer with a value
// outside and change under the index. Such keys are compared even when their
// stored hashes differ, and a rehash hashes them again.
constexpr uint32_t SHARED_KEYS = 1;
// Position shifts larger than this are declined: rebuilding is cheaper.
constexpr uint32_t SHIFT_LIMIT = 30000;
// Key equality hook: the compare action of the first value's datatype, as
// the registry dispatches it (-1, 0, 1, or -2 when not comparable; 0 means
// equal). The tables call it only for two values of the same type (map!
// keys of the word types are both made set-word! first). While it is null,
// a fallback compares the payload words the type's hash reads, strings by
// code point (ignoring case unless is_case_sensitive(op)), words by symbol
// (canonical symbol unless strict) and binary! by bytes. The hook must not
// allocate: lookups hold addresses into the indexed series while it runs.
// Values it calls equal must hash alike: HASH and MAP skip a bucket whose
// stored hash differs from the key's without calling it.
extern int32_t (*compare_cells)(const Cell* a, const Cell* b, CompareOp op);

// Not 0 while an index is rebuilt; the collector must not compact nodes
// then, since the rebuild is reading hashes of node ids.
extern uint32_t rebuilding;
// Set by the collector while a collection runs: stamped tables then keep
// their buckets (the collector only removes owner entries).
extern uint32_t collector_running;

// Start-up: the hold block in the root block (see Hold). Call right after
// the root block is made. (Without it the block is made by the first Hold,
// whose own allocation then comes while the structure to hold is still
// unheld.)
void init();

inline Record* record(node_t rec) { return reinterpret_cast<Record*>(series::head_ptr(series::buffer_of(rec))); }
inline uint32_t count(node_t rec) { return record(rec)->size; }

// ---- hashing ------------------------------------------------------------------

uint32_t hash_value(const Cell* value, bool case_sensitive);
// Code points from the value's index to its tail, each upper-cased unless
// case_sensitive and hashed as one 4-byte little-endian block, so a text
// hashes alike in 1-, 2- or 4-byte units.
uint32_t hash_string(const Cell* value, bool case_sensitive);
// A symbol name: its UTF-8 bytes with ASCII A-Z lowered, so every case
// variant of a name lands on one probe chain.
uint32_t hash_name(const uint8_t* name, uint32_t length);

// ---- making -------------------------------------------------------------------

// A new table for n keys. source: the series value to index (HASH, MAP,
// WORDS; its cells from its index, every second one for MAP), or nullptr for
// a new empty series. d: for SCRATCH and OWNERS the value cells per entry;
// for WORDS a copy flag, with which source must be a context! cell (its word
// 1 names the record) and the new table is a copy of that record and its key
// words.
node_t make(uint32_t n, const Cell* source, Kind kind, int d);
// HASH: new arrays for n keys (at least the series length) and every
// cell of the series indexed again.
void rebuild(node_t rec, uint32_t n);
// A copy of the record and its arrays over new_series (for SCRATCH and
// OWNERS the entry series is copied and new_series is ignored).
node_t copy(node_t rec, node_t new_series);
// Every bucket empty, no keys; the series itself is left alone (SCRATCH and
// OWNERS: their entries are dropped).
void clear(node_t rec);

// ---- cells of the indexed series (HASH, MAP, WORDS) ------------------------------

// Adds every step-th cell from position first. A MAP table that gets
// any key this way is marked SHARED_KEYS.
void index_block(node_t rec, uint32_t first, uint32_t step);
// Indexes the cell at a position, or re-indexes it after a change (HASH).
// Answers the cell.
Cell* put_at(node_t rec, uint32_t position);

// The cell matching key under op, or nullptr. HASH: the
// match nearest to position (a buffer position) whose distance from it is
// a multiple of skip, at or after it, or with reverse at or before it;
// with last the furthest one after it. MAP answers the key cell (the
// value follows it; header 0 there marks a removed pair, whose key is still
// found); word keys are looked up as set-word!.
Cell* get(node_t rec, const Cell* key, uint32_t position, uint32_t skip, CompareOp op, bool reverse,
          bool last);

// MAP look-up and insertion that hash a key once. find_map_key answers as
// get does and leaves the key's hash in *hash, found or not; after a miss,
// put_new_at indexes the key cell at position (a copy of the key looked
// up, or its set-word! form) under that hash without comparing it again:
// no stored key can equal it. Nothing between the two calls may change
// the table's keys (allocations may come between: a collection leaves
// map! tables alone).
Cell* find_map_key(node_t rec, const Cell* key, CompareOp op, uint32_t* hash);
Cell* put_new_at(node_t rec, uint32_t position, uint32_t hash);

void remove_cell(node_t rec, const Cell* cell);
void remove_at(node_t rec, uint32_t position);
// MAP: the removed pairs leave the indexed series, the live pairs
// closing up in their order, and their buckets leave the index. room is
// the number of pairs the index and the series should take without
// growing again: a bucket array or a series buffer far larger than that
// is made smaller, never larger. The series and the index agree before
// anything is allocated, so a collection (or a failed allocation) finds
// them consistent.
void compact_pairs(node_t rec, uint32_t room);
// Drops the entries of n cells from position (HASH empties the whole
// index when the range covers every cell).
void remove_range(node_t rec, uint32_t position, uint32_t n);
// The count cells at position moved by offset. With removed, the -offset
// cells just before position were removed and their entries go first.
// Answers 1, doing nothing, when count exceeds SHIFT_LIMIT: rebuild then.
int shift_positions(node_t rec, int32_t offset, uint32_t position, uint32_t count, bool removed);
// The count cells at from were moved to stand before the cell that was at
// position to (to outside from..from+count); the cells between close up.
// Answers 1, doing nothing, when the span exceeds SHIFT_LIMIT.
int move_range(node_t rec, uint32_t from, uint32_t count, uint32_t to);

// ---- entries keyed by 32-bit values (SCRATCH, OWNERS) -----------------------------

// Finds or adds the key's entry and answers its first value cell. A new
// entry's cells are unset!; an existing entry keeps its values.
Cell* put_key(node_t rec, uint32_t key);
Cell* get_key(node_t rec, uint32_t key);
void remove_key(node_t rec, uint32_t key);
// Removes every entry whose first value cell the predicate names, walking
// the buckets rather than hashing keys: the collector calls it while keys
// may have been renumbered. Allocates nothing.
void remove_entries_if(node_t rec, bool (*dead)(Cell* values));

// ---- symbols and context words (WORDS) ------------------------------------------

// The symbol id of a name in the symbol table's index, adding the name when
// it is new. case_flag 0: an exact match first, then a case variant (a new
// symbol aliased to the canonical spelling); 1: any case matches (the
// canonical id is answered).
int32_t lookup_symbol(node_t rec, const uint8_t* name, uint32_t length, int case_flag);
// The id of an exact spelling, 0 when absent. Allocates nothing.
int32_t find_symbol(node_t rec, const uint8_t* name, uint32_t length);
// The index of a symbol's word in a context's word index (by symbol id, or
// by canonical id when case_insensitive): word 3 of the key word found,
// which for a case variant in the global context is the index its first
// spelling has. -1 when absent; then, when context is not 0, a word! bound
// to the context is appended to the key series. *key_position (when given)
// receives the position of the key word found or added.
int32_t find_word(node_t rec, int32_t symbol, bool case_insensitive, node_t context, int32_t* key_position);
// The probe of find_word without the adding: the position in the key
// series of the key word found, or -1. Allocates nothing. Inline, as every
// field of a path and every word bound comes through here.
inline int32_t find_key(node_t rec, int32_t symbol, bool case_insensitive) {
    const Record* r = record(rec);
    const int32_t canonical = symbol::canonical(symbol);
    const uint32_t mask = r->buckets - 1;
    const uint32_t start = mix32(static_cast<uint32_t>(canonical)) & mask;
    const auto* flags = reinterpret_cast<const uint32_t*>(series::head_ptr(series::buffer_of(r->flags)));
    const auto* keys = reinterpret_cast<const int32_t*>(series::head_ptr(series::buffer_of(r->keys)));
    const Cell* words = series::cells_of(r->series);
    uint32_t i = start, step = 0;
    while (!buckets::is_empty(flags, i)) {
        if (!buckets::is_deleted(flags, i)) {
            const int32_t s = word_symbol(words[keys[i]]);
            if (s == symbol || (case_insensitive && symbol::canonical(s) == canonical)) return keys[i];
        }
        i = (i + ++step) & mask;
        if (i == start) break;
    }
    return -1;
}

// ---- holding new buffers --------------------------------------------------------

// Keeps a cell in the hold block of the root block for the lifetime of the
// guard: a structure being built (a record, a context) is referred to by
// nothing yet, and the next allocation might collect it. The cell is marked
// by its type (a hash! cell marks a record, an object! cell a context).
class Hold {
public:
    explicit Hold(const Cell& c);
    ~Hold();
    void set(const Cell& c);
    Hold(const Hold&) = delete;
    Hold& operator=(const Hold&) = delete;

private:
    int32_t slot_;
};

}  // namespace qel::hashtab
