// Hash tables: the hash functions against published answers, table sizing,
// growth and same-size rehashes that must keep every key, duplicates
// chained in hash! indexes, positions kept in step with the indexed block,
// text keys that ignore case and unit width, the key hashes kept beside the
// buckets, node-stamped tables after node compaction, and the collector's
// raw table; map! tables whose removed pairs are compacted away.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "runtime/buckets.hpp"
#include "runtime/collector.hpp"
#include "runtime/context.hpp"
#include "runtime/hashtab.hpp"
#include "runtime/memory.hpp"
#include "runtime/rawtab.hpp"
#include "runtime/symbols.hpp"
#include "runtime/system.hpp"
#include "runtime/unicode.hpp"
#include "tests/unit/startup_support.hpp"

namespace {

using namespace qel;
using hashtab::Record;

// A started runtime as far as tables need it: frames, the root block, the
// symbol table and the global context.
using HashFixture = testutil::SymbolTables;

using HashSizing = HashFixture;
using HashGrowth = HashFixture;
using HashText = HashFixture;
using HashChains = HashFixture;
using HashPositions = HashFixture;
using HashStamps = HashFixture;
using HashStored = HashFixture;
using HashCompaction = HashFixture;
using RawTable = HashFixture;

Cell integer(int32_t v) { return Cell{TYPE_INTEGER, 0, static_cast<uint32_t>(v), 0}; }

Cell text(const std::u32string& s, uint32_t unit, uint32_t type = TYPE_STRING) {
    const node_t n = memory::alloc_codepoints(static_cast<uint32_t>(s.size()), unit);
    SeriesBuffer* b = series::buffer_of(n);
    uint8_t* p = series::data(b);
    for (size_t i = 0; i < s.size(); i++) {
        const uint32_t cp = s[i];
        if (unit == 1) p[i] = static_cast<uint8_t>(cp);
        if (unit == 2) reinterpret_cast<uint16_t*>(p)[i] = static_cast<uint16_t>(cp);
        if (unit == 4) reinterpret_cast<uint32_t*>(p)[i] = cp;
    }
    b->tail = static_cast<uint32_t>(s.size()) * unit;
    return Cell{type, 0, n, 0};
}

Cell block_of(const std::vector<Cell>& cells) {
    const node_t n = memory::alloc_cells(static_cast<uint32_t>(cells.size()) + 1);
    for (const Cell& c : cells) *series::reserve_cell(series::buffer_of(n)) = c;
    return Cell{TYPE_BLOCK, 0, n, 0};
}

Cell* cells(const Cell& block) { return series::head_cell(series::buffer_of(series_node(block))); }

int32_t position_of(const Cell& block, const Cell* c) { return c ? static_cast<int32_t>(c - cells(block)) : -1; }

const uint32_t* words_of(node_t n) {
    return reinterpret_cast<const uint32_t*>(series::head_ptr(series::buffer_of(n)));
}

// Empty when every live bucket of a HASH or MAP table holds the hash of the
// key it names (HASH: of its first position), else the first bucket that
// does not.
std::string stale_hash(node_t rec) {
    const Record* r = hashtab::record(rec);
    if (!r->hashes) return "no hash array";
    const SeriesBuffer* h = series::buffer_of(r->hashes);
    if (h->tail - h->head < r->buckets * 4) return "hash array shorter than the buckets";
    const Cell* base = series::cells_of(r->series);
    for (uint32_t b = 0; b < r->buckets; b++) {
        if (!buckets::is_live(words_of(r->flags), b)) continue;
        auto k = static_cast<int32_t>(words_of(r->keys)[b]);
        if (k < 0) k = static_cast<int32_t>(words_of(words_of(r->chains)[-k - 1])[0]);
        if (words_of(r->hashes)[b] != hashtab::hash_value(base + k, false))
            return "bucket " + std::to_string(b) + " (position " + std::to_string(k) + ")";
    }
    return "";
}

// Every position of a HASH table's block that a lookup finds a value at,
// asking from each position past the last one found.
std::vector<int32_t> all_matches(node_t rec, const Cell& block, const Cell& value) {
    std::vector<int32_t> found;
    uint32_t from = 0;
    while (Cell* c = hashtab::get(rec, &value, from, 1, CompareOp::Equal, false, false)) {
        found.push_back(position_of(block, c));
        from = static_cast<uint32_t>(found.back()) + 1;
    }
    return found;
}

// ---- hash functions -------------------------------------------------------------

TEST(HashMurmur3, PublishedAnswers) {
    // The verification value of the reference test suite: keys of 0..255
    // bytes (key i holds the bytes 0..i-1) hashed with seed 256 - i, the
    // 256 hashes written out little-endian and hashed with seed 0.
    uint8_t key[256];
    uint8_t hashes[256 * 4];
    for (uint32_t i = 0; i < 256; i++) {
        key[i] = static_cast<uint8_t>(i);
        const uint32_t h = hashtab::murmur3(key, i, 256 - i);
        for (uint32_t b = 0; b < 4; b++) hashes[i * 4 + b] = static_cast<uint8_t>(h >> (8 * b));
    }
    EXPECT_EQ(hashtab::murmur3(hashes, sizeof hashes, 0), 0xB0F57EE3u);

    struct Case {
        const char* key;
        uint32_t seed, hash;
    } cases[] = {
        {"", 0, 0},
        {"", 1, 0x514E28B7},
        {"", 0xFFFFFFFF, 0x81F16F39},
        {"hello", 0, 0x248BFA47},
        {"The quick brown fox jumps over the lazy dog", 0, 0x2E4FF723},
        {"Hello, world!", 1234, 0xFAF6CDB3},
    };
    for (const Case& c : cases)
        EXPECT_EQ(hashtab::murmur3(c.key, std::strlen(c.key), c.seed), c.hash) << '"' << c.key << '"';
}

TEST(HashMurmur3, BlockFormMatchesTheByteForm) {
    // String hashes feed code points one block at a time; they must agree
    // with hashing the same blocks laid out as bytes.
    const uint32_t blocks[] = {0x41, 0x1F600, 0xFFFFFFFF, 0};
    uint8_t bytes[sizeof blocks];
    hashtab::Murmur3Blocks m(77);
    for (size_t i = 0; i < 4; i++) {
        m.add(blocks[i]);
        for (uint32_t b = 0; b < 4; b++) bytes[i * 4 + b] = static_cast<uint8_t>(blocks[i] >> (8 * b));
    }
    EXPECT_EQ(m.finish(), hashtab::murmur3(bytes, sizeof bytes, 77));
}

// ---- sizing -------------------------------------------------------------------------

TEST_F(HashSizing, NewTablesBucketsAndBounds) {
    struct Case {
        uint32_t n;
        hashtab::Kind kind;
        int d;
        uint32_t buckets, upper;
    } cases[] = {
        {0, hashtab::Kind::HASH, 0, 8, 6},      {1, hashtab::Kind::MAP, 0, 8, 6},
        {4, hashtab::Kind::SCRATCH, 1, 8, 6},   {6, hashtab::Kind::HASH, 0, 8, 6},
        {7, hashtab::Kind::OWNERS, 3, 16, 12},  {13, hashtab::Kind::HASH, 0, 16, 12},
        {100, hashtab::Kind::WORDS, 0, 256, 197},
        // Word indexes made for 4,000 or more are made for twice as many.
        {4000, hashtab::Kind::WORDS, 0, 16384, 12615},
    };
    for (const Case& c : cases) {
        const Record* r = hashtab::record(hashtab::make(c.n, nullptr, c.kind, c.d));
        EXPECT_EQ(r->buckets, c.buckets) << "n " << c.n << " kind " << static_cast<int>(c.kind);
        EXPECT_EQ(r->upper, c.upper) << "n " << c.n << " kind " << static_cast<int>(c.kind);
        EXPECT_EQ(r->size, 0u);
    }
}

// ---- growth and rehashing ------------------------------------------------------------

TEST_F(HashGrowth, EveryKindKeepsItsKeysThroughGrowth) {
    constexpr int32_t N = 3000;
    std::vector<Cell> values;
    for (int32_t i = 0; i < N; i++) values.push_back(integer(i * 7919));
    const Cell block = block_of(values);
    const node_t hash = hashtab::make(0, &block, hashtab::Kind::HASH, 0);
    for (int32_t i = 0; i < N; i++) {
        const Cell key = integer(i * 7919);
        ASSERT_EQ(position_of(block, hashtab::get(hash, &key, 0, 1, CompareOp::Equal, false, false)), i);
    }
    EXPECT_EQ(hashtab::count(hash), static_cast<uint32_t>(N));
    EXPECT_GE(hashtab::record(hash)->buckets, 4096u);
    EXPECT_EQ(stale_hash(hash), "");

    // A map! indexes its keys (every second cell) and finds their values.
    std::vector<Cell> pairs;
    for (int32_t i = 0; i < N; i++) {
        pairs.push_back(text(U"key" + std::u32string(1, U'a' + i % 26) + std::u32string(i / 26 + 1, U'x'), 1));
        pairs.push_back(integer(i));
    }
    const Cell map_block = block_of(pairs);
    const node_t map = hashtab::make(0, &map_block, hashtab::Kind::MAP, 0);
    for (int32_t i = 0; i < N; i++) {
        const Cell key = cells(map_block)[2 * i];
        const Cell* found = hashtab::get(map, &key, 0, 1, CompareOp::StrictEqual, false, false);
        ASSERT_EQ(position_of(map_block, found), 2 * i);
        EXPECT_EQ(integer_value(found[1]), i);
    }
    EXPECT_EQ(stale_hash(map), "");

    // Scratch entries keep their values through the entry series rebuilds.
    const node_t scratch = hashtab::make(4, nullptr, hashtab::Kind::SCRATCH, 1);
    for (uint32_t k = 1; k <= N; k++) *hashtab::put_key(scratch, k * 16) = integer(static_cast<int32_t>(k));
    for (uint32_t k = 1; k <= N; k++) {
        const Cell* v = hashtab::get_key(scratch, k * 16);
        ASSERT_NE(v, nullptr) << k;
        EXPECT_EQ(integer_value(v), static_cast<int32_t>(k));
    }
    EXPECT_EQ(hashtab::get_key(scratch, 8), nullptr);
}

TEST_F(HashGrowth, RemovingAndAddingWithFewKeysRehashesAtTheSameCount) {
    // Each round leaves a deleted bucket behind; once those reach the load
    // limit the table must drop them without growing, whatever the kind.
    const node_t scratch = hashtab::make(4, nullptr, hashtab::Kind::SCRATCH, 1);
    const Cell block = block_of({integer(-1), integer(-2)});
    const node_t hash = hashtab::make(4, &block, hashtab::Kind::HASH, 0);
    *hashtab::put_key(scratch, 1) = integer(1);
    for (uint32_t round = 2; round < 500; round++) {
        hashtab::put_key(scratch, round);
        hashtab::remove_key(scratch, round);
        cells(block)[1] = integer(static_cast<int32_t>(round));
        hashtab::put_at(hash, 1);  // a changed cell: its old entry goes
        ASSERT_EQ(hashtab::record(scratch)->buckets, 8u) << round;
        ASSERT_EQ(hashtab::record(hash)->buckets, 8u) << round;
    }
    EXPECT_EQ(integer_value(hashtab::get_key(scratch, 1)), 1);
    const Cell first = integer(-1), last = integer(499), old = integer(498);
    EXPECT_EQ(position_of(block, hashtab::get(hash, &first, 0, 1, CompareOp::Equal, false, false)), 0);
    EXPECT_EQ(position_of(block, hashtab::get(hash, &last, 0, 1, CompareOp::Equal, false, false)), 1);
    EXPECT_EQ(hashtab::get(hash, &old, 0, 1, CompareOp::Equal, false, false), nullptr);
    EXPECT_EQ(hashtab::count(hash), 2u);
    EXPECT_EQ(stale_hash(hash), "");
}

// ---- text keys ---------------------------------------------------------------------------

TEST_F(HashText, StringsHashAlikeInEveryWidthAndCase) {
    const std::u32string samples[] = {U"aBC", U"Abc", U"ABC"};
    const Cell plain = text(U"abc", 1);
    const uint32_t wanted = hashtab::hash_string(&plain, false);
    for (const auto& s : samples) {
        for (uint32_t unit : {1u, 2u, 4u}) {
            const Cell c = text(s, unit);
            EXPECT_EQ(hashtab::hash_value(&c, false), wanted) << unit;
        }
    }
    const Cell lower = text(U"abc", 2), upper = text(U"ABC", 2);
    EXPECT_NE(hashtab::hash_value(&lower, true), hashtab::hash_value(&upper, true));
    // Upper-casing is Unicode's, not ASCII's.
    const Cell small = text(U"\u00e9t\u00e9", 1), capital = text(U"\u00c9T\u00c9", 4);
    EXPECT_EQ(hashtab::hash_value(&small, false), hashtab::hash_value(&capital, false));
    // Folding a code point while hashing is hashing its capital as it is,
    // in every width, ASCII or not.
    for (char32_t cp = 1; cp < 0x250; cp++) {
        const char32_t upper = unicode::to_upper(cp);
        for (uint32_t unit : {1u, 2u, 4u}) {
            if ((unit == 1 && (cp > 0xFF || upper > 0xFF)) || (unit == 2 && upper > 0xFFFF)) continue;
            const Cell folded = text({cp, U'x'}, unit), capital = text({upper, U'X'}, 4);
            ASSERT_EQ(hashtab::hash_value(&folded, false), hashtab::hash_value(&capital, true))
                << std::hex << static_cast<uint32_t>(cp) << " width " << unit;
        }
    }
}

TEST_F(HashText, LookupsIgnoreCaseAndWidthUnlessStrict) {
    const Cell block = block_of({text(U"x", 1), text(U"aBC", 2), text(U"abc", 4, TYPE_FILE)});
    const node_t rec = hashtab::make(0, &block, hashtab::Kind::HASH, 0);
    struct Case {
        Cell key;
        CompareOp op;
        int32_t position;
    } cases[] = {
        {text(U"Abc", 1), CompareOp::Equal, 1},
        {text(U"aBC", 1), CompareOp::StrictEqual, 1},
        {text(U"Abc", 1), CompareOp::StrictEqual, -1},
        {text(U"ABC", 4, TYPE_FILE), CompareOp::Equal, 2},  // a file! is another key
        {text(U"ab", 1), CompareOp::Equal, -1},
    };
    for (const Case& c : cases)
        EXPECT_EQ(position_of(block, hashtab::get(rec, &c.key, 0, 1, c.op, false, false)), c.position)
            << "op " << to_code(c.op);
}

// ---- duplicates --------------------------------------------------------------------------

TEST_F(HashChains, EqualValuesShareABucketAndAreAllFound) {
    const Cell block = block_of({integer(1), text(U"a", 1), integer(1), text(U"A", 2), integer(2), integer(1)});
    const node_t rec = hashtab::make(0, &block, hashtab::Kind::HASH, 0);
    EXPECT_EQ(hashtab::count(rec), 6u);
    EXPECT_EQ(hashtab::record(rec)->occupied, 3u);  // 1, "a", 2
    const Cell one = integer(1), a = text(U"a", 1);
    EXPECT_EQ(all_matches(rec, block, one), (std::vector<int32_t>{0, 2, 5}));
    EXPECT_EQ(all_matches(rec, block, a), (std::vector<int32_t>{1, 3}));

    struct Case {
        Cell key;
        uint32_t position, skip;
        CompareOp op;
        bool reverse, last;
        int32_t found;
    } cases[] = {
        {one, 0, 1, CompareOp::Equal, false, false, 0},  {one, 1, 1, CompareOp::Equal, false, false, 2},
        {one, 1, 3, CompareOp::Equal, false, false, -1}, {one, 1, 4, CompareOp::Equal, false, false, 5},
        {one, 4, 1, CompareOp::Equal, true, false, 2},   {one, 1, 1, CompareOp::Equal, true, false, 0},
        {one, 0, 1, CompareOp::Equal, false, true, 5},   {one, 0, 2, CompareOp::Equal, false, true, 2},
        {text(U"A", 1), 0, 1, CompareOp::StrictEqual, false, false, 3},
    };
    for (const Case& c : cases)
        EXPECT_EQ(position_of(block, hashtab::get(rec, &c.key, c.position, c.skip, c.op, c.reverse, c.last)),
                  c.found)
            << "from " << c.position << " skip " << c.skip << (c.reverse ? " reverse" : "")
            << (c.last ? " last" : "");

    // Removing chain members one by one: the bucket stays until its chain
    // is empty.
    hashtab::remove_at(rec, 2);
    EXPECT_EQ(all_matches(rec, block, one), (std::vector<int32_t>{0, 5}));
    hashtab::remove_at(rec, 0);
    hashtab::remove_at(rec, 5);
    EXPECT_EQ(all_matches(rec, block, one), std::vector<int32_t>{});
    EXPECT_EQ(hashtab::count(rec), 3u);
    EXPECT_EQ(stale_hash(rec), "");
    hashtab::put_at(rec, 5);
    EXPECT_EQ(all_matches(rec, block, one), std::vector<int32_t>{5});
    EXPECT_EQ(stale_hash(rec), "");
}

TEST_F(HashChains, CopiesAreIndependent) {
    const Cell block = block_of({integer(1), integer(1), integer(3)});
    const node_t rec = hashtab::make(0, &block, hashtab::Kind::HASH, 0);
    const Cell twin = block_of({integer(1), integer(1), integer(3)});
    const node_t copied = hashtab::copy(rec, series_node(twin));
    hashtab::remove_at(rec, 1);
    const Cell one = integer(1);
    EXPECT_EQ(all_matches(rec, block, one), std::vector<int32_t>{0});
    EXPECT_EQ(all_matches(copied, twin, one), (std::vector<int32_t>{0, 1}));
    EXPECT_EQ(stale_hash(copied), "");
    EXPECT_NE(hashtab::record(copied)->hashes, hashtab::record(rec)->hashes);
}

// ---- positions --------------------------------------------------------------------------

// The block's cells as values, each expected at the first position that
// holds it.
void expect_indexed(node_t rec, const Cell& block) {
    const uint32_t n = series::buffer_length(series_node(block));
    for (uint32_t p = 0; p < n; p++) {
        const Cell key = cells(block)[p];
        uint32_t first = p;
        for (uint32_t q = 0; q < p; q++)
            if (integer_value(cells(block)[q]) == integer_value(key)) first = std::min(first, q);
        EXPECT_EQ(position_of(block, hashtab::get(rec, &key, 0, 1, CompareOp::Equal, false, false)),
                  static_cast<int32_t>(first))
            << "value " << integer_value(key);
        EXPECT_EQ(position_of(block, hashtab::get(rec, &key, p, 1, CompareOp::Equal, false, false)),
                  static_cast<int32_t>(p));
    }
    EXPECT_EQ(hashtab::count(rec), n);
    EXPECT_EQ(stale_hash(rec), "");
}

std::vector<int32_t> values_of(const Cell& block) {
    std::vector<int32_t> v;
    for (uint32_t p = 0; p < series::buffer_length(series_node(block)); p++)
        v.push_back(integer_value(cells(block)[p]));
    return v;
}

void set_values(const Cell& block, const std::vector<int32_t>& v) {
    SeriesBuffer* s = series::buffer_of(series_node(block));
    while (s->size < v.size() * sizeof(Cell)) s = memory::expand_series(s, 0);
    s->tail = s->head + static_cast<uint32_t>(v.size() * sizeof(Cell));
    for (size_t i = 0; i < v.size(); i++) cells(block)[i] = integer(v[i]);
}

TEST_F(HashPositions, ShiftsFollowInsertionAndRemoval) {
    const Cell block = block_of({integer(10), integer(20), integer(10), integer(30), integer(40)});
    const node_t rec = hashtab::make(0, &block, hashtab::Kind::HASH, 0);

    // Two cells inserted at 1: the old cells from 1 move up by two.
    std::vector<int32_t> v = values_of(block);
    v.insert(v.begin() + 1, {50, 10});
    set_values(block, v);
    ASSERT_EQ(hashtab::shift_positions(rec, 2, 1, 4, false), 0);
    hashtab::put_at(rec, 1);
    hashtab::put_at(rec, 2);
    expect_indexed(rec, block);  // 10 50 10 20 10 30 40

    // Three cells removed at 2: the cells after them move down by three.
    v.erase(v.begin() + 2, v.begin() + 5);
    set_values(block, v);
    ASSERT_EQ(hashtab::shift_positions(rec, -3, 5, 2, true), 0);
    expect_indexed(rec, block);  // 10 50 30 40

    EXPECT_EQ(hashtab::shift_positions(rec, 1, 0, hashtab::SHIFT_LIMIT + 1, false), 1);
}

TEST_F(HashPositions, MovesWithinTheBlockRotatePositions) {
    struct Case {
        uint32_t from, count, to;
    } cases[] = {{0, 2, 5}, {4, 2, 1}, {1, 1, 6}, {5, 1, 0}};
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.from << "+" << c.count << " -> " << c.to);
        const Cell block = block_of({integer(1), integer(2), integer(1), integer(3), integer(4), integer(2)});
        const node_t rec = hashtab::make(0, &block, hashtab::Kind::HASH, 0);
        std::vector<int32_t> v = values_of(block);
        std::vector<int32_t> moved(v.begin() + c.from, v.begin() + c.from + c.count);
        v.erase(v.begin() + c.from, v.begin() + c.from + c.count);
        const uint32_t at = c.to > c.from ? c.to - c.count : c.to;
        v.insert(v.begin() + at, moved.begin(), moved.end());
        set_values(block, v);
        ASSERT_EQ(hashtab::move_range(rec, c.from, c.count, c.to), 0);
        expect_indexed(rec, block);
    }
}

TEST_F(HashPositions, RemovingEveryCellEmptiesTheIndex) {
    const Cell block = block_of({integer(1), integer(1), integer(2)});
    const node_t rec = hashtab::make(0, &block, hashtab::Kind::HASH, 0);
    hashtab::remove_range(rec, 0, 100);
    const Record* r = hashtab::record(rec);
    EXPECT_EQ(r->size, 0u);
    EXPECT_EQ(r->occupied, 0u);
    hashtab::index_block(rec, 0, 1);
    expect_indexed(rec, block);
}

// ---- stored hashes -----------------------------------------------------------------------

TEST_F(HashStored, OnlyHashAndMapTablesKeepHashes) {
    struct Case {
        hashtab::Kind kind;
        int d;
        bool kept;
    } cases[] = {
        {hashtab::Kind::HASH, 0, true},     {hashtab::Kind::MAP, 0, true},      {hashtab::Kind::WORDS, 0, false},
        {hashtab::Kind::SCRATCH, 1, false}, {hashtab::Kind::OWNERS, 3, false},
    };
    for (const Case& c : cases) {
        const Record* r = hashtab::record(hashtab::make(0, nullptr, c.kind, c.d));
        EXPECT_EQ(r->hashes != 0, c.kept) << "kind " << static_cast<int>(c.kind);
    }
}

// Appends cells to a table's series and answers the position of the first.
uint32_t append_cells(node_t rec, std::initializer_list<Cell> values) {
    const node_t s = hashtab::record(rec)->series;
    const uint32_t at = series::cell_count(s);
    for (const Cell& c : values) *series::reserve_cell(series::buffer_of(s)) = c;
    return at;
}

TEST_F(HashStored, MapsThatGrowCarryTheirHashesAlong) {
    // Keys put one by one, as map! does: the table grows several times,
    // moving keys and hashes together, and an equal key put again takes
    // the bucket over with its hash.
    const Cell empty = block_of({});
    const node_t map = hashtab::make(0, &empty, hashtab::Kind::MAP, 0);
    constexpr uint32_t N = 500;
    for (uint32_t i = 0; i < N; i++) {
        const std::u32string name =
            U"k" + std::u32string(i % 7 + 1, U'a' + i % 26) + std::u32string(1, U'0' + i / 26);
        hashtab::put_at(map, append_cells(map, {text(name, 1 + i % 2), integer(static_cast<int32_t>(i))}));
    }
    EXPECT_EQ(hashtab::record(map)->aux, 0u);
    EXPECT_GE(hashtab::record(map)->buckets, 1024u);
    EXPECT_EQ(stale_hash(map), "");
    const Cell holder{TYPE_BLOCK, 0, hashtab::record(map)->series, 0};
    for (uint32_t i = 0; i < N; i++) {
        const Cell key = cells(holder)[2 * i];
        ASSERT_EQ(position_of(holder, hashtab::get(map, &key, 0, 1, CompareOp::StrictEqual, false, false)),
                  static_cast<int32_t>(2 * i));
    }
    const auto sym = static_cast<uint32_t>(symbol::intern_cstr("stored-hash-key"));
    hashtab::put_at(map, append_cells(map, {Cell{TYPE_SET_WORD, 0, sym, 0}, integer(1)}));
    const uint32_t again = append_cells(map, {Cell{TYPE_WORD, 0, sym, 0}, integer(2)});
    hashtab::put_at(map, again);
    const Cell word{TYPE_GET_WORD, 0, sym, 0};
    EXPECT_EQ(position_of(holder, hashtab::get(map, &word, 0, 1, CompareOp::StrictEqual, false, false)),
              static_cast<int32_t>(again));
    EXPECT_EQ(stale_hash(map), "");
}

TEST_F(HashStored, MapKeysLookedUpThenPutHashOnceAndLandWhereAProbeFindsThem) {
    // map! insertion: the look-up that misses hands its hash to the
    // insertion, which places the key without comparing it again. Keys of
    // two widths and both cases, over several growths: each is found
    // afterwards by a key equal but for case (and not under StrictEqual),
    // and each bucket keeps the hash of the key it names.
    const Cell empty = block_of({});
    const node_t map = hashtab::make(0, &empty, hashtab::Kind::MAP, 0);
    constexpr uint32_t N = 600;
    auto name_of = [](uint32_t i, bool upper) {
        std::u32string n = upper ? U"KEY" : U"key";
        for (uint32_t v = i; v; v /= 10) n += static_cast<char32_t>(U'0' + v % 10);
        return n;
    };
    for (uint32_t i = 0; i < N; i++) {
        const Cell probe = text(name_of(i, i % 3 == 0), 1 + i % 2 * 3);
        uint32_t hash = 0;
        ASSERT_EQ(hashtab::find_map_key(map, &probe, CompareOp::Equal, &hash), nullptr) << i;
        EXPECT_EQ(hash, hashtab::hash_value(&probe, false)) << i;
        const uint32_t at = append_cells(map, {probe, integer(static_cast<int32_t>(i))});
        hashtab::put_new_at(map, at, hash);
        ASSERT_EQ(hashtab::count(map), i + 1);
    }
    EXPECT_EQ(hashtab::record(map)->occupied, N);
    EXPECT_GE(hashtab::record(map)->buckets, 1024u);
    EXPECT_EQ(stale_hash(map), "");
    const Cell holder{TYPE_BLOCK, 0, hashtab::record(map)->series, 0};
    for (uint32_t i = 0; i < N; i++) {
        const Cell other_case = text(name_of(i, i % 3 != 0), 2);
        uint32_t hash = 0;
        const Cell* found = hashtab::find_map_key(map, &other_case, CompareOp::Equal, &hash);
        ASSERT_EQ(position_of(holder, found), static_cast<int32_t>(2 * i)) << i;
        EXPECT_EQ(hash, hashtab::hash_value(&other_case, false));
        EXPECT_EQ(hashtab::find_map_key(map, &other_case, CompareOp::StrictEqual, &hash), nullptr) << i;
    }
}

TEST_F(HashStored, TextChangedUnderTheIndexIsComparedWhereItCanBeShared) {
    // A text key changed in place keeps the hash of its old text. A hash!
    // (whose strings belong to its users) and a map! whose keys were
    // indexed where they stood still compare it, so a probe that meets it
    // finds the new text; a map! whose keys it copied in itself trusts the
    // hashes and passes it by.
    auto start_of = [](const Cell& c) { return hashtab::hash_value(&c, false) & 7; };
    const Cell old_key = text(U"k1", 1);
    // A new text for the key whose first bucket of eight is the old one's.
    std::u32string changed;
    for (char32_t c = U'a'; c <= U'z' && changed.empty(); c++)
        for (char32_t d = U'a'; d <= U'z' && changed.empty(); d++)
            if (start_of(text({U'k', U'1', c, d}, 1)) == start_of(old_key)) changed = {U'k', U'1', c, d};
    ASSERT_FALSE(changed.empty());

    struct Case {
        const char* name;
        hashtab::Kind kind;
        bool indexed_in_place, found;
    } cases[] = {
        {"hash!", hashtab::Kind::HASH, true, true},
        {"map! of shared keys", hashtab::Kind::MAP, true, true},
        {"map! of its own keys", hashtab::Kind::MAP, false, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const Cell key = text(U"k1", 1);
        node_t rec;
        if (c.indexed_in_place) {
            const Cell block = block_of({key, integer(1)});
            rec = hashtab::make(0, &block, c.kind, 0);
        } else {
            const Cell empty = block_of({});
            rec = hashtab::make(0, &empty, c.kind, 0);
            hashtab::put_at(rec, append_cells(rec, {key, integer(1)}));
        }
        EXPECT_EQ(hashtab::record(rec)->aux == hashtab::SHARED_KEYS,
                  c.kind == hashtab::Kind::MAP && c.indexed_in_place);
        ASSERT_EQ(hashtab::record(rec)->buckets, 8u);
        series::reserve_bytes(series::buffer_of(series_node(key)), 2);
        uint8_t* p = series::head_ptr(series::buffer_of(series_node(key)));
        for (size_t i = 0; i < changed.size(); i++) p[i] = static_cast<uint8_t>(changed[i]);

        const Cell now = text(changed, 2);
        EXPECT_EQ(hashtab::get(rec, &now, 0, 1, CompareOp::Equal, false, false) != nullptr, c.found);
        EXPECT_EQ(hashtab::get(rec, &old_key, 0, 1, CompareOp::Equal, false, false), nullptr);
        // Keys of other types are found by their hashes alone.
        const Cell one = integer(1);
        const Cell* hit = hashtab::get(rec, &one, 0, 1, CompareOp::Equal, false, false);
        EXPECT_EQ(hit != nullptr, c.kind == hashtab::Kind::HASH);
    }
}

TEST_F(HashStored, SharedKeysAreHashedAgainWhenTheMapGrows) {
    // Growing a map! of shared keys places a changed key by its new text,
    // where putting it anew would place it.
    const Cell key = text(U"old", 1);
    const Cell block = block_of({key, integer(1)});
    const node_t map = hashtab::make(0, &block, hashtab::Kind::MAP, 0);
    uint8_t* p = series::head_ptr(series::buffer_of(series_node(key)));
    p[0] = 'n', p[1] = 'e', p[2] = 'w';
    for (int32_t i = 0; i < 40; i++) hashtab::put_at(map, append_cells(map, {integer(100 + i), integer(i)}));
    EXPECT_GE(hashtab::record(map)->buckets, 64u);
    EXPECT_EQ(stale_hash(map), "");
    const Cell now = text(U"NEW", 1);
    EXPECT_EQ(position_of(block, hashtab::get(map, &now, 0, 1, CompareOp::Equal, false, false)), 0);
}

// ---- map! compaction ------------------------------------------------------------------------

// Live buckets of a table, and whether every one of them names a distinct
// key cell of a pair (an even position before the series tail).
uint32_t live_buckets(node_t rec, bool* well_placed) {
    const Record* r = hashtab::record(rec);
    const uint32_t length = series::cell_count(r->series);
    std::vector<bool> named(length, false);
    uint32_t live = 0;
    *well_placed = true;
    for (uint32_t b = 0; b < r->buckets; b++) {
        if (!buckets::is_live(words_of(r->flags), b)) continue;
        live++;
        const uint32_t k = words_of(r->keys)[b];
        if (k % 2 || k >= length || named[k]) *well_placed = false;
        else named[k] = true;
    }
    return live;
}

TEST_F(HashCompaction, LivePairsCloseUpInOrderAndTheIndexFollows) {
    // Pairs of text and integer keys, two of every three then removed as
    // map! removes them (value header 0, bucket kept). Compaction leaves
    // the live pairs alone in the block, in order; each is found at its new
    // place by its stored hash, the removed keys are not found at all, and
    // no bucket is left behind for them. Both a map that copied its keys in
    // and one whose keys were indexed where they stood (hashed again on
    // rehash) are compacted alike.
    constexpr int32_t N = 300;
    auto key_of = [](int32_t i) {
        return i % 2 ? integer(i * 7919) : text(U"Key" + std::u32string(i / 26 + 1, U'a' + i % 26), 1 + i % 2);
    };
    for (const bool shared : {false, true}) {
        SCOPED_TRACE(shared ? "keys indexed in place" : "keys put one by one");
        node_t map;
        if (shared) {
            std::vector<Cell> pairs;
            for (int32_t i = 0; i < N; i++) pairs.push_back(key_of(i)), pairs.push_back(integer(i));
            const Cell block = block_of(pairs);
            map = hashtab::make(0, &block, hashtab::Kind::MAP, 0);
        } else {
            const Cell empty = block_of({});
            map = hashtab::make(0, &empty, hashtab::Kind::MAP, 0);
            for (int32_t i = 0; i < N; i++) hashtab::put_at(map, append_cells(map, {key_of(i), integer(i)}));
        }
        EXPECT_EQ(hashtab::record(map)->aux == hashtab::SHARED_KEYS, shared);
        for (int32_t i = 0; i < N; i++)
            if (i % 3) hashtab::remove_at(map, 2 * static_cast<uint32_t>(i));
        constexpr uint32_t live = N / 3;
        const uint32_t before = hashtab::record(map)->buckets;
        ASSERT_EQ(hashtab::count(map), live);

        hashtab::compact_pairs(map, 2 * live + 2);
        const Record* r = hashtab::record(map);
        const Cell holder{TYPE_BLOCK, 0, r->series, 0};
        ASSERT_EQ(series::cell_count(r->series), 2 * live);
        EXPECT_EQ(r->size, live);
        EXPECT_EQ(r->occupied, live);
        EXPECT_EQ(r->buckets, std::min(before, buckets::count_for(2 * live + 2)));
        bool well_placed = false;
        EXPECT_EQ(live_buckets(map, &well_placed), live);
        EXPECT_TRUE(well_placed);
        EXPECT_EQ(stale_hash(map), "");
        for (int32_t i = 0; i < N; i++) {
            const Cell key = key_of(i);
            const Cell* found = hashtab::get(map, &key, 0, 1, CompareOp::StrictEqual, false, false);
            if (i % 3) {
                EXPECT_EQ(found, nullptr) << i;
                continue;
            }
            ASSERT_EQ(position_of(holder, found), 2 * (i / 3)) << i;
            EXPECT_EQ(integer_value(found[1]), i);
        }
        // A removed key comes back as a new pair, at the end.
        const Cell again = key_of(4);
        hashtab::put_at(map, append_cells(map, {again, integer(-4)}));
        EXPECT_EQ(position_of(holder, hashtab::get(map, &again, 0, 1, CompareOp::StrictEqual, false, false)),
                  static_cast<int32_t>(2 * live));
        EXPECT_EQ(hashtab::count(map), live + 1);
    }
}

TEST_F(HashCompaction, BuffersFarLargerThanTheRoomShrink) {
    // A map of thousands of pairs with all but two removed: the bucket
    // arrays and the pair block come down to the room asked for, and
    // a later growth takes the table up again from there.
    constexpr uint32_t N = 4000, room = 18;
    const Cell empty = block_of({});
    const node_t map = hashtab::make(0, &empty, hashtab::Kind::MAP, 0);
    for (uint32_t i = 0; i < N; i++)
        hashtab::put_at(map, append_cells(map, {integer(static_cast<int32_t>(i)), integer(1)}));
    for (uint32_t i = 1; i + 1 < N; i++) hashtab::remove_at(map, 2 * i);
    ASSERT_GE(hashtab::record(map)->buckets, 4096u);

    hashtab::compact_pairs(map, room);
    const Record* r = hashtab::record(map);
    EXPECT_EQ(r->buckets, buckets::count_for(room));
    for (const node_t words : {r->keys, r->hashes}) {
        const SeriesBuffer* w = series::buffer_of(words);
        EXPECT_EQ(w->tail - w->head, r->buckets * 4);
        EXPECT_LE(w->size, 2 * r->buckets * 4);
    }
    EXPECT_LE(series::buffer_of(r->series)->size, 2 * room * 2 * sizeof(Cell));
    EXPECT_EQ(series::cell_count(r->series), 4u);
    const Cell last = integer(static_cast<int32_t>(N - 1));
    const Cell holder{TYPE_BLOCK, 0, r->series, 0};
    EXPECT_EQ(position_of(holder, hashtab::get(map, &last, 0, 1, CompareOp::StrictEqual, false, false)), 2);

    for (int32_t i = 1; i <= 100; i++) hashtab::put_at(map, append_cells(map, {integer(-i), integer(2)}));
    EXPECT_EQ(hashtab::count(map), 102u);
    EXPECT_EQ(stale_hash(map), "");
    bool well_placed = false;
    EXPECT_EQ(live_buckets(map, &well_placed), 102u);
    EXPECT_TRUE(well_placed);
}

// ---- node stamps -------------------------------------------------------------------------

TEST_F(HashStamps, StampedTablesRebuildBeforeTheirNextLookup) {
    // Node compaction renumbers nodes and rewrites every reference the
    // collector marks, stored keys included; the tables' buckets still sit
    // where the old numbers hashed.
    const node_t owners = hashtab::make(4, nullptr, hashtab::Kind::OWNERS, 3);
    for (uint32_t k = 1; k <= 200; k++) hashtab::put_key(owners, k)[1] = integer(static_cast<int32_t>(k));
    std::vector<Cell> blocks;
    for (uint32_t k = 1; k <= 50; k++) blocks.push_back(Cell{TYPE_BLOCK, 0, k, 0});
    const Cell block = block_of(blocks);
    const node_t hash = hashtab::make(0, &block, hashtab::Kind::HASH, 0);
    EXPECT_EQ(hashtab::record(hash)->stamp, collector::node_compactions + 1);

    const Record* r = hashtab::record(owners);
    Cell* e = series::head_cell(series::buffer_of(r->series));
    for (uint32_t i = 0; i < 200; i++) hashtab::entry_key(&e[i * 4]) += 100000;
    for (uint32_t i = 0; i < 50; i++) series_node(cells(block)[i]) += 100000;
    collector::node_compactions++;

    for (uint32_t k = 1; k <= 200; k++) {
        const Cell* v = hashtab::get_key(owners, k + 100000);
        ASSERT_NE(v, nullptr) << k;
        EXPECT_EQ(integer_value(v[1]), static_cast<int32_t>(k));
        EXPECT_EQ(hashtab::get_key(owners, k), nullptr);
    }
    for (uint32_t k = 1; k <= 50; k++) {
        const Cell key{TYPE_BLOCK, 0, k + 100000, 0};
        EXPECT_EQ(position_of(block, hashtab::get(hash, &key, 0, 1, CompareOp::Equal, false, false)),
                  static_cast<int32_t>(k - 1));
    }
    EXPECT_EQ(hashtab::record(hash)->stamp, collector::node_compactions + 1);
    EXPECT_EQ(stale_hash(hash), "");
    collector::node_compactions--;
}

TEST_F(HashStamps, TablesOfOtherKeysAreNotStamped) {
    const Cell block = block_of({integer(1), text(U"x", 1)});
    EXPECT_EQ(hashtab::record(hashtab::make(0, &block, hashtab::Kind::HASH, 0))->stamp, 0u);
}

// ---- raw table ----------------------------------------------------------------------------

TEST_F(RawTable, PutGetAndGrowth) {
    rawtab::Table* t = rawtab::make(0);
    EXPECT_EQ(t->buckets, 8u);
    EXPECT_EQ(t->upper, 6u);
    constexpr uint32_t N = 20000;
    for (uint32_t k = 0; k < N; k++) ASSERT_EQ(rawtab::put(t, k * 3, k), 1);
    EXPECT_EQ(rawtab::put(t, 3, 42), 0);
    EXPECT_EQ(*rawtab::get(t, 3), 42u);
    EXPECT_EQ(t->size, N);
    EXPECT_EQ(t->buckets, 32768u) << "doubled until the keys fit under the load limit";
    for (uint32_t k = 2; k < N; k++) ASSERT_EQ(*rawtab::get(t, k * 3), k) << k;
    EXPECT_EQ(rawtab::get(t, 1), nullptr);
    EXPECT_EQ(rawtab::get(t, N * 3), nullptr);
    rawtab::free(t);
}

}  // namespace
