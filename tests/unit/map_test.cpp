// map! and hash! in QELBIN: exact records of a map (removed pairs left
// out), round trips in both encodings that keep the index working, shared
// and self-containing maps, and the records the reader must refuse. Also
// the entry-block invariants behind removal and revival.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "codecs/qelbin.hpp"
#include "datatypes/map.hpp"
#include "evaluator/interp.hpp"
#include "lexer/scanner.hpp"
#include "library/boot.hpp"
#include "library/boot_image.hpp"
#include "runtime/hashtab.hpp"
#include "library_support.hpp"
#include "qelbin_support.hpp"
#include "startup_support.hpp"
#include "value_builders.hpp"

namespace qel {
namespace {

using testutil::Bytes;
using testutil::encoded;

class MapCodec : public testutil::LibraryRuntime {
protected:
    // Decoded and kept in a cell of the root block.
    static Cell decoded(const Bytes& img) {
        const Cell v = qelbin::decode(img.data(), img.size());
        Cell* kept = block::reserve_cell(&root_cell);
        *kept = v;
        return v;
    }
    static Cell lookup(const Cell& m, const Cell& key) {
        const Cell* k = map::find_pair(&m, &key, CompareOp::Equal);
        return k && k[1].header ? k[1] : shared::none;
    }
};

TEST_F(MapCodec, RemovedPairsAreLeftOutOfTheRecord) {
    const Cell m = eval("m: #[a: 1 b: 2] remove/key m 'a m");
    const Bytes img = encoded(m, true);
    // Header "QELBIN", version 2, flags 5 (compact, symbols), 1 root, then
    // the symbol table of "b" and the records: map! with 2 cells.
    const Bytes records(img.end() - 5, img.end());
    EXPECT_EQ(records, (Bytes{TYPE_MAP, 2, TYPE_SET_WORD, 0, 0x82}));
    const Cell back = decoded(img);
    EXPECT_EQ(map::count(&back), 1);
    EXPECT_EQ(series::cell_count(series_node(back)), 2u);
}

TEST_F(MapCodec, RoundTripsKeepKeysLookupsAndCount) {
    for (bool compact : {true, false}) {
        SCOPED_TRACE(compact ? "compact" : "fixed");
        const Cell m = eval("#[a: 1 \"Key\" [x y] 3 three #\"c\" 2.5]");
        const Cell back = decoded(encoded(m, compact));
        ASSERT_EQ(cell::type_of(&back), TYPE_MAP);
        EXPECT_EQ(map::count(&back), 4);
        EXPECT_EQ(testutil::show(lookup(back, testutil::string_of("KEY"))), "[x y]");
        EXPECT_EQ(testutil::show(lookup(back, testutil::word_cell("A"))), "1");
        EXPECT_EQ(testutil::show(lookup(back, testutil::int_cell(3))), "three");
        EXPECT_EQ(cell::type_of(series::cells_of(series_node(back))), TYPE_SET_WORD);
        // The decoded map takes new keys like any other.
        Cell* held = stack::push(&back);
        const Cell k = testutil::word_cell("new");
        const Cell v = testutil::int_cell(9);
        map::set(held, &k, &v, false, nullptr);
        EXPECT_EQ(map::count(held), 5);
    }
}

TEST_F(MapCodec, SharedAndSelfContainingMapsStayShared) {
    for (bool compact : {true, false}) {
        SCOPED_TRACE(compact ? "compact" : "fixed");
        const Cell b = decoded(encoded(eval("m: #[a: 1] reduce [m m]"), compact));
        const Cell* two = series::cells_of(series_node(b));
        ASSERT_EQ(cell::type_of(two + 1), TYPE_MAP);
        EXPECT_EQ(series_node(two[0]), series_node(two[1]));
        EXPECT_EQ(hash_index_node(two[0]), hash_index_node(two[1]));

        const Cell self = decoded(encoded(eval("m: #[a: 1] m/self: m m"), compact));
        const Cell inner = lookup(self, testutil::word_cell("self"));
        ASSERT_EQ(cell::type_of(&inner), TYPE_MAP);
        EXPECT_EQ(series_node(inner), series_node(self));
    }
}

TEST_F(MapCodec, HashRoundTripsWithAWorkingIndexAndItsHead) {
    for (bool compact : {true, false}) {
        SCOPED_TRACE(compact ? "compact" : "fixed");
        const Cell h = decoded(encoded(eval("next make hash! [a \"Bc\" 3]"), compact));
        ASSERT_EQ(cell::type_of(&h), TYPE_HASH);
        EXPECT_EQ(series_index(h), 1u);
        ASSERT_NE(hash_index_node(h), 0u);
        EXPECT_EQ(hashtab::count(hash_index_node(h)), 3u);
        const Cell key = testutil::string_of("bC");
        const Cell* hit = hashtab::get(hash_index_node(h), &key, 0, 1, CompareOp::Equal, false, false);
        EXPECT_EQ(hit, series::cells_of(series_node(h)) + 1);
        const Cell first = testutil::word_cell("a");
        EXPECT_EQ(hashtab::get(hash_index_node(h), &first, 0, 1, CompareOp::Equal, false, false), series::cells_of(series_node(h)));
    }
}

TEST_F(MapCodec, ReaderRefusesMapsThatCannotBe) {
    // Compact images without symbols: header, then one record.
    auto image = [](const Bytes& rec) {
        Bytes img = {'Q', 'E', 'L', 'B', 'I', 'N', 2, 1, 1, static_cast<uint8_t>(rec.size())};
        img.insert(img.end(), rec.begin(), rec.end());
        return img;
    };
    const struct {
        const char* name;
        Bytes rec;
    } cases[] = {
        {"odd count", {TYPE_MAP, 3, 0x81, 0x82, 0x83}},
        {"block key", {TYPE_MAP, 2, TYPE_BLOCK, 0, 0x81}},
        {"same key twice", {TYPE_MAP, 4, 0x81, 0x82, 0x81, 0x83}},
        {"reference to a block", {TYPE_BLOCK, 1, 0x81, 0xC1, TYPE_MAP, 1, 0}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const Bytes img = image(c.rec);
        EXPECT_EQ(testutil::raised([&] { qelbin::decode(img.data(), img.size()); }), err::QB_INVALID_RECORD);
    }
    // A well-formed record of the same shape is read.
    const Bytes good = image({TYPE_MAP, 4, 0x81, 0x82, 0x83, 0x84});
    EXPECT_EQ(testutil::raised([&] { decoded(good); }), 0);
}

TEST_F(MapCodec, OnlyDecodedMapsMayShareTheirKeys) {
    // A decoded map's text keys may be values found elsewhere in the same
    // image, so its index compares them even when their hashes differ; the
    // maps the language makes copy their keys in and trust the hashes.
    const char* made[] = {"#[\"k\" 1 a: 2]", "make map! [\"k\" 1]", "copy #[\"k\" 1]", "m: #[] m/(\"k\"): 1 m"};
    for (const char* src : made) {
        SCOPED_TRACE(src);
        const Cell m = eval(src);
        EXPECT_EQ(hashtab::record(hash_index_node(m))->aux, 0u);
    }
    const Cell back = decoded(encoded(eval("s: \"k\" reduce [s make map! reduce [s 1]]"), true));
    const Cell m = series::cells_of(series_node(back))[1];
    ASSERT_EQ(cell::type_of(&m), TYPE_MAP);
    EXPECT_EQ(hashtab::record(hash_index_node(m))->aux, hashtab::SHARED_KEYS);
    EXPECT_EQ(testutil::show(lookup(m, testutil::string_of("K"))), "1");
}

TEST_F(MapCodec, CountFollowsActivePairsOnly) {
    // Removal keeps the pair in the entry block; only active pairs count,
    // and removing a removed pair changes nothing.
    const Cell m = eval("m: #[a: 1 b: 2 c: 3] remove/key m 'b remove/key m 'b m/b: 5 remove/key m 'c m");
    EXPECT_EQ(map::count(&m), 2);
    EXPECT_EQ(hashtab::count(hash_index_node(m)), 2u);
    EXPECT_EQ(series::cell_count(series_node(m)), 6u);
    EXPECT_EQ(series::cells_of(series_node(m))[5].header, 0u);
    EXPECT_EQ(testutil::show(series::cells_of(series_node(m))[3]), "5");
}

}  // namespace
}  // namespace qel
