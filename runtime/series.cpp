// Series primitives: reserving room at a buffer's tail, copying part of a
// buffer, and the raw operations that use a buffer as a growable array of
// bytes or 32-bit words (node ids included, which is how tables keep series).
//
// Reserving is the only way the core grows a buffer, and growth is at least
// geometric so appends cost amortised constant time. Any address into a
// buffer is stale after a reserve: the buffer may have been replaced.
#include "runtime/series.hpp"

#include <cstring>

#include "runtime/block_code.hpp"
#include "runtime/errors.hpp"
#include "runtime/memory.hpp"

namespace qel {
namespace series {

// A fixed buffer is one whose cells C++ code holds by address (the root
// block's kept words); it may not move, so it cannot grow either.
[[noreturn]] static void fixed_buffer_full() { err::raise(err::LIMIT_HIT); }

Cell* reserve_cell(SeriesBuffer* s) {
    block_code::changed(s);
    if (static_cast<uint64_t>(s->tail) + sizeof(Cell) > s->size) [[unlikely]] {
        if (s->flags & series_flag::FIXED) fixed_buffer_full();
        // Doubling nothing gives nothing: an empty buffer grows to one cell.
        s = memory::expand_series(s, s->size ? 0 : sizeof(Cell));
    }
    Cell* c = tail_cell(s);
    c->header = TYPE_UNSET;
    s->tail += sizeof(Cell);
    return c;
}

uint8_t* reserve_bytes(SeriesBuffer* s, uint32_t n) {
    block_code::changed(s);
    if (static_cast<uint64_t>(s->tail) + n > s->size) [[unlikely]] {
        if (s->flags & series_flag::FIXED) fixed_buffer_full();
        const uint64_t want = 2 * static_cast<uint64_t>(n > s->size ? n : s->size);
        if (want > UINT32_MAX) err::raise(err::NO_MEMORY);
        s = memory::expand_series(s, static_cast<uint32_t>(want));
    }
    uint8_t* p = tail_ptr(s);
    s->tail += n;
    return p;
}

node_t copy_part(node_t n, uint32_t offset, uint32_t count) {
    SeriesBuffer* s = buffer_of(n);
    const uint32_t width = unit(s);
    const uint32_t shift = log2_unit(s);
    // An empty copy still gets a 16-byte data area, so that it can grow by
    // doubling like any other buffer.
    const uint32_t units = count ? count : (16 + width - 1) / width;
    const node_t c = memory::alloc_series(units, width, 0);
    s = buffer_of(n);
    SeriesBuffer* copy = buffer_of(c);
    copy->flags = memory::carry_flags(s->flags & ~series_flag::OWNED, copy->flags);
    const uint32_t bytes = count << shift;
    std::memcpy(data(copy), head_ptr(s) + (static_cast<size_t>(offset) << shift), bytes);
    copy->tail = bytes;
    return c;
}

node_t alloc_with_unit(uint32_t count, uint32_t width) {
    const uint64_t bytes = static_cast<uint64_t>(count) * width;
    if (bytes > UINT32_MAX) err::raise(err::NO_MEMORY);
    const node_t n = memory::alloc_bytes(static_cast<uint32_t>(bytes));
    SeriesBuffer* s = buffer_of(n);
    s->flags = (s->flags & ~series_flag::UNIT_MASK) | width;
    return n;
}

void clear(node_t n) {
    SeriesBuffer* s = buffer_of(n);
    block_code::changed(s);
    s->tail = s->head;
}

void set_tail_at(node_t n, uint32_t i) {
    SeriesBuffer* s = buffer_of(n);
    block_code::changed(s);
    s->tail = s->head + ((i - 1) << log2_unit(s));
}

node_t copy_node_buffer(node_t n) { return memory::copy_series(buffer_of(n)); }

uint32_t flags_of(node_t n) { return buffer_of(n)->flags; }

void append_bytes(node_t n, const void* src, uint32_t count) {
    if (count == 0) return;  // src may then be null, which memcpy never takes
    std::memcpy(reserve_bytes(buffer_of(n), count), src, count);
}

// Words are read and written through memcpy: a byte series may have its
// head at any offset, so nothing promises 4-byte alignment.
void append_int(node_t n, int32_t v) { std::memcpy(reserve_bytes(buffer_of(n), 4), &v, 4); }

int32_t find_int(node_t n, int32_t v) {
    SeriesBuffer* s = buffer_of(n);
    const uint8_t* head = head_ptr(s);
    const uint32_t used = s->tail - s->head;
    for (uint32_t off = 0; off + 4 <= used; off += 4) {
        int32_t w;
        std::memcpy(&w, head + off, 4);
        if (w == v) return static_cast<int32_t>(off);
    }
    return -1;
}

int32_t remove_int(node_t n, int32_t v) {
    const int32_t off = find_int(n, v);
    if (off >= 0) remove_bytes_at(n, static_cast<uint32_t>(off), 4);
    return off;
}

void remove_bytes_at(node_t n, uint32_t offset, uint32_t count) {
    SeriesBuffer* s = buffer_of(n);
    block_code::changed(s);
    uint8_t* at = head_ptr(s) + offset;
    std::memmove(at, at + count, static_cast<size_t>(tail_ptr(s) - (at + count)));
    s->tail -= count;
}

Cell* reserve_cell(const Cell* value) { return reserve_cell(buffer_of(series_node(value))); }

}  // namespace series
}  // namespace qel
