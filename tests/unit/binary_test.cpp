// binary!: its QELBIN records (exact bytes, round trips, shared buffers,
// damaged records) and the byte routines other parts build on. Comparison
// and matching are tested in tests/lang/binary/compare_cases.qel.
#include <gtest/gtest.h>

#include <vector>

#include "codecs/qelbin.hpp"
#include "datatypes/binary.hpp"
#include "startup_support.hpp"
#include "value_builders.hpp"

namespace qel {
namespace {

using Bytes = std::vector<uint8_t>;

class BinaryTest : public testutil::StartedRuntime {};

Cell bin(const Bytes& b, uint32_t index = 0) {
    Cell c{};
    binary::load(b.data(), b.size(), &c);
    series_index(c) = index;
    return c;
}

Bytes bytes_of(const Cell& c) {
    const uint8_t* p = binary::head_ptr(&c);
    return Bytes(p, p + binary::length(&c));
}

Bytes image(const Cell& v, bool compact) {
    const node_t n = qelbin::encode(&v, compact);
    SeriesBuffer* s = series::buffer_of(n);
    return Bytes(series::head_ptr(s), series::tail_ptr(s));
}

TEST_F(BinaryTest, QelbinRecordBytes) {
    struct Case {
        const char* name;
        Cell v;
        bool compact;
        size_t header;  // bytes before the records
        Bytes records;
    } cases[] = {
        {"compact at head", bin({1, 2}), true, 10, {0x29, 0x02, 0x01, 0x02}},
        {"compact past head", bin({1, 2}, 1), true, 10, {0x69, 0x01, 0x02, 0x01, 0x02}},
        {"compact empty", bin({}), true, 10, {0x29, 0x00}},
        {"fixed", bin({1, 2, 3}, 2), false, 16,
         {0x29, 0x01, 0, 0, 2, 0, 0, 0, 3, 0, 0, 0, 1, 2, 3, 0}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const Bytes img = image(c.v, c.compact);
        ASSERT_GE(img.size(), c.header);
        EXPECT_EQ(Bytes(img.begin() + static_cast<ptrdiff_t>(c.header), img.end()), c.records);
        const Cell back = qelbin::decode(img.data(), img.size());
        EXPECT_EQ(cell::type_of(&back), TYPE_BINARY);
        EXPECT_EQ(series_index(back), series_index(c.v));
        EXPECT_EQ(bytes_of(back), bytes_of(c.v));
    }
}

TEST_F(BinaryTest, QelbinKeepsOneBufferSharedAndRefusesOtherWidths) {
    const Cell b = bin({7, 8, 9});
    const Cell block = testutil::block_of({b, testutil::at_index(b, 1)});
    for (bool compact : {true, false}) {
        SCOPED_TRACE(compact ? "compact" : "fixed");
        const Bytes img = image(block, compact);
        const Cell back = qelbin::decode(img.data(), img.size());
        const Cell* cells = series::cells_of(series_node(back));
        EXPECT_EQ(cell::type_of(&cells[1]), TYPE_BINARY);
        EXPECT_EQ(series_node(cells[0]), series_node(cells[1]));
        EXPECT_EQ(series_index(cells[1]), 1u);
        EXPECT_EQ(bytes_of(cells[1]), (Bytes{8, 9}));
    }
    // A fixed binary record claiming 2-byte units, and a compact one whose
    // count runs past the data.
    Bytes fixed = image(bin({1, 2}), false);
    fixed[16 + 1] = 2;
    EXPECT_EQ(testutil::raised([&] { qelbin::decode(fixed.data(), fixed.size()); }), err::QB_INVALID_RECORD);
    Bytes compact = image(bin({1, 2}), true);
    compact[10 + 1] = 9;
    EXPECT_EQ(testutil::raised([&] { qelbin::decode(compact.data(), compact.size()); }), err::QB_INVALID_RECORD);
}

TEST_F(BinaryTest, ByteRoutinesGrowTheBuffer) {
    Cell b{};
    binary::make_at(&b, 2);
    const uint8_t quad[] = {1, 2, 3, 4};
    for (int i = 0; i < 40; i++) binary::insert_bytes(series_node(b), binary::length(&b), quad, 4);
    EXPECT_EQ(binary::length(&b), 160u);
    EXPECT_EQ(bytes_of(testutil::at_index(b, 156)), (Bytes{1, 2, 3, 4}));
    const uint8_t mid[] = {0xAA, 0xBB};
    binary::insert_bytes(series_node(b), 2, mid, 2);
    const Bytes all = bytes_of(b);
    ASSERT_EQ(all.size(), 162u);
    EXPECT_EQ(Bytes(all.begin(), all.begin() + 6), (Bytes{1, 2, 0xAA, 0xBB, 3, 4}));
}

}  // namespace
}  // namespace qel
