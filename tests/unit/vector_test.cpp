// vector!: the element codec (widths, sign and zero extension, single
// precision rounding, strict element types) and the QELBIN records (exact
// bytes, round trips of every layout, shared buffers, damaged records).
// The language-level behaviour is tested in tests/lang/vector/.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "codecs/qelbin.hpp"
#include "datatypes/vector.hpp"
#include "qelbin_support.hpp"
#include "startup_support.hpp"
#include "value_builders.hpp"

namespace qel {
namespace {

using testutil::Bytes;
using testutil::encoded;

class VectorTest : public testutil::StartedRuntime {};

Cell number(uint32_t type, double d) {
    Cell c{type, 0, 0, 0};
    cell::put_double(&c, d);
    return c;
}

// A vector of the layout holding the values, at index.
Cell vec(uint32_t type, uint32_t width, const std::vector<Cell>& values, uint32_t index = 0) {
    Cell v{};
    vector::make_at(&v, type, width, static_cast<uint32_t>(values.size()));
    for (const Cell& e : values) {
        std::vector<uint8_t> one(width);
        vector::check_element(one.data(), &e, width, type);
        series::append_bytes(series_node(v), one.data(), width);
    }
    series_index(v) = index;
    return v;
}

Bytes elements_of(const Cell& v) {
    SeriesBuffer* s = series::buffer_of(series_node(v));
    return Bytes(series::head_ptr(s), series::tail_ptr(s));
}

TEST_F(VectorTest, ElementsReadBackByWidth) {
    struct Case {
        const char* name;
        uint32_t type, width;
        Cell stored;
        Cell read;
    } cases[] = {
        {"8-bit integer keeps the low bits, signed", TYPE_INTEGER, 1, testutil::int_cell(200), testutil::int_cell(-56)},
        {"16-bit integer signed", TYPE_INTEGER, 2, testutil::int_cell(40000), testutil::int_cell(-25536)},
        {"32-bit integer", TYPE_INTEGER, 4, testutil::int_cell(-7), testutil::int_cell(-7)},
        {"8-bit char above 127 stays a code point", TYPE_CHAR, 1, testutil::character(0xE9), testutil::character(0xE9)},
        {"8-bit char keeps the low bits", TYPE_CHAR, 1, testutil::character(0x141), testutil::character(0x41)},
        {"16-bit char above 32767", TYPE_CHAR, 2, testutil::character(0xFFFD), testutil::character(0xFFFD)},
        {"32-bit char", TYPE_CHAR, 4, testutil::character(0x1F600), testutil::character(0x1F600)},
        {"32-bit float rounds to single", TYPE_FLOAT, 4, number(TYPE_FLOAT, 0.1), number(TYPE_FLOAT, 0.1f)},
        {"64-bit float exact", TYPE_FLOAT, 8, number(TYPE_FLOAT, 0.1), number(TYPE_FLOAT, 0.1)},
        {"percent holds the fraction", TYPE_PERCENT, 8, number(TYPE_PERCENT, 0.5), number(TYPE_PERCENT, 0.5)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        uint8_t bytes[8] = {};
        vector::check_element(bytes, &c.stored, c.width, c.type);
        const Cell back = vector::element_value(bytes, c.width, c.type);
        EXPECT_EQ(cell::type_of(&back), c.type);
        EXPECT_TRUE(same_payload(&back, &c.read));
    }
}

TEST_F(VectorTest, ElementStoreRefusesOtherTypes) {
    struct Case {
        const char* name;
        uint32_t type;
        Cell value;
    } cases[] = {
        {"float into integers", TYPE_INTEGER, number(TYPE_FLOAT, 1.5)},
        {"integer into floats", TYPE_FLOAT, testutil::int_cell(1)},
        {"percent into floats", TYPE_FLOAT, number(TYPE_PERCENT, 0.5)},
        {"char into integers", TYPE_INTEGER, testutil::character('a')},
        {"none into chars", TYPE_CHAR, testutil::none_cell()},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        uint8_t bytes[8] = {1, 2, 3, 4, 5, 6, 7, 8};
        const uint32_t width = vector::default_width(c.type);
        EXPECT_EQ(testutil::raised([&] { vector::check_element(bytes, &c.value, width, c.type); }), err::INVALID_ARG);
        EXPECT_EQ(bytes[0], 1);  // nothing written
    }
}

TEST_F(VectorTest, MakeAtRefusesSizesBeyondABuffer) {
    Cell v{};
    EXPECT_EQ(testutil::raised([&] { vector::make_at(&v, TYPE_FLOAT, 8, 0x20000000); }), err::NO_MEMORY);
    EXPECT_EQ(testutil::raised([&] { vector::make_at(&v, TYPE_INTEGER, 4, 0xFFFFFFFF); }), err::NO_MEMORY);
    vector::make_at(&v, TYPE_INTEGER, 2, 0);
    EXPECT_EQ(vector::total_length(&v), 0u);
    EXPECT_EQ(vector::width(&v), 2u);
}

TEST_F(VectorTest, QelbinRecordBytes) {
    struct Case {
        const char* name;
        Cell v;
        bool compact;
        size_t header;  // bytes before the records
        Bytes records;
    } cases[] = {
        // (11 << 2) | 0 = 0x2C: 8-bit integers; (12 << 2) | 3 = 0x33: 64-bit floats
        {"compact 8-bit integers", vec(TYPE_INTEGER, 1, {testutil::int_cell(1), testutil::int_cell(-1)}), true, 10,
         {0x23, 0x2C, 0x02, 0x01, 0xFF}},
        {"compact past head", vec(TYPE_INTEGER, 1, {testutil::int_cell(1), testutil::int_cell(2)}, 1), true, 10,
         {0x63, 0x01, 0x2C, 0x02, 0x01, 0x02}},
        {"compact 16-bit chars", vec(TYPE_CHAR, 2, {testutil::character('a')}), true, 10,
         {0x23, 0x29, 0x01, 0x61, 0x00}},
        {"compact empty 64-bit floats", vec(TYPE_FLOAT, 8, {}), true, 10, {0x23, 0x33, 0x00}},
        {"fixed 16-bit integers",
         vec(TYPE_INTEGER, 2, {testutil::int_cell(1), testutil::int_cell(2), testutil::int_cell(3)}, 2), false, 16,
         {0x23, 0x02, 0, 0, 2, 0, 0, 0, 3, 0, 0, 0, 11, 0, 0, 0, 1, 0, 2, 0, 3, 0, 0, 0}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const Bytes img = encoded(c.v, c.compact);
        ASSERT_GE(img.size(), c.header);
        EXPECT_EQ(Bytes(img.begin() + static_cast<ptrdiff_t>(c.header), img.end()), c.records);
    }
}

TEST_F(VectorTest, QelbinRoundTripsEveryLayout) {
    const std::vector<Cell> vectors = {
        vec(TYPE_INTEGER, 1, {testutil::int_cell(127), testutil::int_cell(-128)}),
        vec(TYPE_INTEGER, 2, {testutil::int_cell(-300)}, 1),
        vec(TYPE_INTEGER, 4, {testutil::int_cell(2147483647)}),
        vec(TYPE_CHAR, 1, {testutil::character('x'), testutil::character(0xE9)}),
        vec(TYPE_CHAR, 2, {testutil::character(0x3B1)}),
        vec(TYPE_CHAR, 4, {testutil::character(0x10FFFF)}),
        vec(TYPE_FLOAT, 4, {number(TYPE_FLOAT, 1.5), number(TYPE_FLOAT, -0.25)}),
        vec(TYPE_FLOAT, 8, {number(TYPE_FLOAT, 0.1)}, 1),
        vec(TYPE_PERCENT, 8, {number(TYPE_PERCENT, 0.125)}),
        vec(TYPE_INTEGER, 4, {}),
    };
    for (bool compact : {true, false}) {
        for (const Cell& v : vectors) {
            SCOPED_TRACE(std::string(compact ? "compact " : "fixed ") + std::to_string(vector::element_type(v)) + "/" +
                         std::to_string(vector::width(&v)));
            const Bytes img = encoded(v, compact);
            const Cell back = qelbin::decode(img.data(), img.size());
            ASSERT_EQ(cell::type_of(&back), TYPE_VECTOR);
            EXPECT_EQ(vector::element_type(back), vector::element_type(v));
            EXPECT_EQ(vector::width(&back), vector::width(&v));
            EXPECT_EQ(series_index(back), series_index(v));
            EXPECT_EQ(elements_of(back), elements_of(v));
        }
    }
}

TEST_F(VectorTest, QelbinKeepsOneBufferShared) {
    const Cell v = vec(TYPE_FLOAT, 4, {number(TYPE_FLOAT, 1), number(TYPE_FLOAT, 2)});
    const Cell block = testutil::block_of({v, testutil::at_index(v, 1)});
    for (bool compact : {true, false}) {
        SCOPED_TRACE(compact ? "compact" : "fixed");
        const Bytes img = encoded(block, compact);
        const Cell back = qelbin::decode(img.data(), img.size());
        const Cell* cells = series::cells_of(series_node(back));
        ASSERT_EQ(cell::type_of(&cells[1]), TYPE_VECTOR);
        EXPECT_EQ(series_node(cells[0]), series_node(cells[1]));
        EXPECT_EQ(series_index(cells[1]), 1u);
        EXPECT_EQ(vector::element_type(cells[1]), uint32_t{TYPE_FLOAT});
    }
}

TEST_F(VectorTest, QelbinRefusesDamagedRecords) {
    struct Case {
        const char* name;
        Cell v;
        bool compact;
        size_t at;  // byte changed
        uint8_t to;
    } cases[] = {
        {"compact float of 1 byte", vec(TYPE_FLOAT, 8, {number(TYPE_FLOAT, 1)}), true, 11, (12 << 2) | 0},
        {"compact percent of 4 bytes", vec(TYPE_PERCENT, 8, {number(TYPE_PERCENT, 1)}), true, 11, (38 << 2) | 2},
        {"compact integer of 8 bytes", vec(TYPE_INTEGER, 1, {testutil::int_cell(1)}), true, 11, (11 << 2) | 3},
        {"compact element type string!", vec(TYPE_INTEGER, 1, {testutil::int_cell(1)}), true, 11, (7 << 2) | 0},
        {"compact count past the data", vec(TYPE_INTEGER, 1, {testutil::int_cell(1)}), true, 12, 9},
        {"fixed width 3", vec(TYPE_INTEGER, 2, {testutil::int_cell(1)}), false, 17, 3},
        {"fixed element type block!", vec(TYPE_INTEGER, 4, {testutil::int_cell(1)}), false, 28, 5},
        {"fixed head past the tail", vec(TYPE_INTEGER, 4, {testutil::int_cell(1)}), false, 16 + 4, 2},
        {"char beyond the code points", vec(TYPE_CHAR, 4, {testutil::character(0x10FFFF)}), true, 15, 0x7F},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Bytes img = encoded(c.v, c.compact);
        ASSERT_LT(c.at, img.size());
        img[c.at] = c.to;
        EXPECT_EQ(testutil::raised([&] { qelbin::decode(img.data(), img.size()); }), err::QB_INVALID_RECORD);
    }
}

}  // namespace
}  // namespace qel
