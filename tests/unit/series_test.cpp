// Series primitives: cell type changes, reserving cells and bytes at the
// tail (with the growth each one promises), partial copies, and the raw
// buffer operations over bytes and 32-bit words.
// Every test starts from an empty memory record and leaves one behind.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "runtime/errors.hpp"
#include "runtime/exits.hpp"
#include "runtime/memory.hpp"
#include "runtime/series.hpp"
#include "runtime/system.hpp"
#include "tests/unit/test_support.hpp"

namespace {

using namespace qel;

using SeriesFixture = testutil::FreshMemory;

using SeriesCell = SeriesFixture;
using SeriesReserve = SeriesFixture;
using SeriesCopyPart = SeriesFixture;
using SeriesInts = SeriesFixture;
using SeriesBytes = SeriesFixture;
using SeriesRaw = SeriesFixture;

using testutil::raised;

std::vector<int32_t> ints(node_t n) {
    std::vector<int32_t> out;
    SeriesBuffer* s = series::buffer_of(n);
    for (uint32_t i = 0; i < series::buffer_length(n); i++) {
        int32_t w;
        std::memcpy(&w, series::head_ptr(s) + size_t{i} * 4, 4);
        out.push_back(w);
    }
    return out;
}

node_t int_series(const std::vector<int32_t>& values, uint32_t capacity_ints) {
    const node_t n = series::alloc_with_unit(capacity_ints, 4);
    for (int32_t v : values) series::append_int(n, v);
    return n;
}

std::string bytes(node_t n) {
    SeriesBuffer* s = series::buffer_of(n);
    return std::string(reinterpret_cast<char*>(series::head_ptr(s)), s->tail - s->head);
}

TEST_F(SeriesCell, TypeChangesKeepEveryFlag) {
    const uint32_t flag_sets[] = {cell_flag::NEW_LINE, cell_flag::NEW_LINE | cell_flag::CONTEXT_ON_STACK,
                                  0xFFFFFF00u, 0};
    for (uint32_t flags : flag_sets) {
        SCOPED_TRACE(flags);
        Cell c{flags | TYPE_BLOCK, 1, 2, 3};
        EXPECT_EQ(cell::set_type(&c, TYPE_PAREN), &c);
        EXPECT_EQ(c.header, flags | TYPE_PAREN);
        cell::clear_new_line(&c);
        EXPECT_EQ(c.header, (flags & ~cell_flag::NEW_LINE) | TYPE_PAREN);
    }
}

TEST_F(SeriesReserve, ReserveCellGrowsOnlyWhenFullAndKeepsTheCells) {
    struct Case {
        uint32_t capacity_cells, filled, capacity_after;
    };
    const Case cases[] = {
        {2, 1, 32},  // room left: no growth
        {2, 2, 64},  // full: doubled
        {0, 0, 16},  // nothing to double: one cell
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.capacity_cells << " cells, " << c.filled << " filled");
        const node_t n = memory::alloc_cells(c.capacity_cells);
        for (uint32_t i = 0; i < c.filled; i++) {
            Cell* cell = series::reserve_cell(series::buffer_of(n));
            *cell = Cell{TYPE_INTEGER | cell_flag::NEW_LINE, 0, 100 + i, 0};
        }
        Cell* fresh = series::reserve_cell(series::buffer_of(n));
        SeriesBuffer* s = series::buffer_of(n);
        EXPECT_EQ(s->size, c.capacity_after);
        EXPECT_EQ(s->tail, (c.filled + 1) * 16);
        EXPECT_EQ(fresh, series::head_cell(s) + c.filled);
        EXPECT_EQ(fresh->header, TYPE_UNSET);
        for (uint32_t i = 0; i < c.filled; i++) {
            EXPECT_EQ(series::head_cell(s)[i].header, TYPE_INTEGER | cell_flag::NEW_LINE);
            EXPECT_EQ(integer_value(series::head_cell(s)[i]), static_cast<int32_t>(100 + i));
        }
    }
}

TEST_F(SeriesReserve, ReserveBytesGrowth) {
    struct Case {
        uint32_t capacity, used, n, capacity_after;
    };
    const Case cases[] = {
        {16, 10, 6, 16},    // fits exactly
        {16, 10, 7, 32},    // short, n within capacity: twice the capacity
        {16, 0, 17, 48},    // n beyond capacity: twice n, rounded to 16
        {16, 16, 100, 208},
        {0, 0, 5, 16},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.capacity << " / " << c.used << " + " << c.n);
        const node_t n = memory::alloc_series(c.capacity, 1, 0);
        const std::string before(c.used, 'a');
        series::append_bytes(n, before.data(), c.used);
        uint8_t* at = series::reserve_bytes(series::buffer_of(n), c.n);
        SeriesBuffer* s = series::buffer_of(n);
        EXPECT_EQ(s->size, c.capacity_after);
        EXPECT_EQ(at, series::head_ptr(s) + c.used);
        EXPECT_EQ(s->tail - s->head, c.used + c.n);
        EXPECT_EQ(bytes(n).substr(0, c.used), before);
    }
}

TEST_F(SeriesReserve, ReserveBytesPast32BitsRaisesNoMemoryAndKeepsTheBuffer) {
    const node_t n = memory::alloc_bytes(16);
    series::append_bytes(n, "abc", 3);
    SeriesBuffer* s = series::buffer_of(n);
    EXPECT_EQ(raised([&] { series::reserve_bytes(s, 0x80000001u); }), err::NO_MEMORY);
    EXPECT_EQ(series::buffer_of(n), s);
    EXPECT_EQ(bytes(n), "abc");
}

TEST_F(SeriesCopyPart, KeepsTheUnitWidthAndDropsOwned) {
    const node_t n = int_series({1, 2, 3, 4, 5, 6, 7, 8}, 8);
    memory::set_series_flag(n, series_flag::OWNED | series_flag::NOT);
    const node_t c = series::copy_part(n, 2, 3);
    const uint32_t flags = series::flags_of(c);
    EXPECT_EQ(flags & series_flag::UNIT_MASK, 4u);
    EXPECT_EQ(flags & series_flag::OWNED, 0u);
    EXPECT_NE(flags & series_flag::NOT, 0u);
    EXPECT_NE(series::flags_of(n) & series_flag::OWNED, 0u) << "the source stays owned";
    EXPECT_EQ(ints(c), (std::vector<int32_t>{3, 4, 5}));
}

TEST_F(SeriesCopyPart, EmptyCopiesStillHave16Bytes) {
    for (uint32_t unit : {1u, 2u, 4u, 16u}) {
        SCOPED_TRACE(unit);
        const node_t n = memory::alloc_series(4, unit, 0);
        const node_t c = series::copy_part(n, 0, 0);
        EXPECT_EQ(series::buffer_of(c)->size, 16u);
        EXPECT_EQ(series::buffer_length(c), 0u);
        EXPECT_EQ(series::unit(series::buffer_of(c)), unit);
    }
}

TEST_F(SeriesInts, FindAndRemoveTheFirstEqualWord) {
    // The middle head checks that offsets count from the head, not the data start.
    for (int32_t offset : {0, -1}) {
        SCOPED_TRACE(offset);
        const node_t n = memory::alloc_series(8, 4, offset);
        for (int32_t v : {5, 7, 5, 9}) series::append_int(n, v);
        SeriesBuffer* s = series::buffer_of(n);
        const SeriesBuffer before = *s;
        const std::vector<int32_t> contents = ints(n);

        EXPECT_EQ(series::find_int(n, 9), 12);
        EXPECT_EQ(series::find_int(n, 42), -1);
        EXPECT_EQ(series::remove_int(n, 42), -1);
        EXPECT_EQ(std::memcmp(s, &before, sizeof before), 0);
        EXPECT_EQ(ints(n), contents);

        EXPECT_EQ(series::remove_int(n, 5), 0);
        EXPECT_EQ(ints(n), (std::vector<int32_t>{7, 5, 9}));
    }
}

TEST_F(SeriesInts, SetTailAtIsOneBased) {
    const node_t n = int_series({1, 2, 3, 4}, 4);
    series::set_tail_at(n, 3);
    EXPECT_EQ(ints(n), (std::vector<int32_t>{1, 2}));
    series::clear(n);
    EXPECT_EQ(series::buffer_length(n), 0u);
}

TEST_F(SeriesBytes, AppendAndRemove) {
    const node_t n = memory::alloc_bytes(0);
    series::append_bytes(n, "0123456789", 10);
    series::append_bytes(n, "abcdefghij", 10);  // past the first 16 bytes
    EXPECT_EQ(bytes(n), "0123456789abcdefghij");
    series::remove_bytes_at(n, 5, 10);
    EXPECT_EQ(bytes(n), "01234fghij");
    series::remove_bytes_at(n, 7, 3);
    EXPECT_EQ(bytes(n), "01234fg");
}

TEST_F(SeriesRaw, AllocWithUnitWritesTheWidth) {
    struct Case {
        uint32_t count, unit, capacity;
    };
    const Case cases[] = {{0, 4, 16}, {5, 4, 32}, {3, 16, 48}, {17, 1, 32}};
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.count << " x " << c.unit);
        SeriesBuffer* s = series::buffer_of(series::alloc_with_unit(c.count, c.unit));
        EXPECT_EQ(series::unit(s), c.unit);
        EXPECT_EQ(s->size, c.capacity);
    }
    EXPECT_EQ(raised([] { series::alloc_with_unit(0x40000001u, 4); }), err::NO_MEMORY);
}

TEST_F(SeriesRaw, CopyNodeBufferIsIndependentOfItsSource) {
    const node_t n = int_series({1, 2, 3}, 4);
    const node_t c = series::copy_node_buffer(n);
    series::remove_int(n, 1);
    series::append_int(n, 4);
    EXPECT_EQ(ints(c), (std::vector<int32_t>{1, 2, 3}));
    EXPECT_EQ(series::flags_of(c), series::flags_of(n));
}

TEST_F(SeriesRaw, BlockReserveCellWorksThroughTheValue) {
    const node_t n = memory::alloc_cells(1);
    const Cell block{TYPE_BLOCK, 1, n, 0};  // head index 1
    series::reserve_cell(&block);
    series::reserve_cell(&block);  // grows the buffer behind the value's node
    series::reserve_cell(&block);
    EXPECT_EQ(series::buffer_length(n), 3u);
    EXPECT_EQ(series::length_of(&block), 2);
}

}  // namespace

// Cells of a fixed buffer are held by address for the whole run, so a full
// one refuses to grow instead of moving.
TEST_F(SeriesReserve, FullFixedBufferRefusesToGrow) {
    const node_t n = memory::alloc_fixed_series(2, sizeof(Cell), 0);
    Cell* first = series::reserve_cell(series::buffer_of(n));
    series::reserve_cell(series::buffer_of(n));
    EXPECT_EQ(raised([&] { series::reserve_cell(series::buffer_of(n)); }), err::LIMIT_HIT);
    EXPECT_EQ(raised([&] { series::reserve_bytes(series::buffer_of(n), 1); }), err::LIMIT_HIT);
    EXPECT_EQ(series::head_cell(series::buffer_of(n)), first);
    EXPECT_EQ(series::buffer_length(n), 2u);
}
