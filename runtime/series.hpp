// Series buffers and the node table.
//
// A series buffer is a 24-byte header followed by its data area. Head and tail
// are byte offsets into the data area, so moving a buffer only rewrites the
// slot of its node. A node is a 32-bit id; the node table maps it to the
// buffer's address: the upper bits pick a node frame from the frame directory,
// the low 14 bits a slot inside that frame. Cells hold node ids, never
// addresses, so any address into a buffer is stale after anything that may
// allocate: re-read it through the node.
#pragma once
#include <cstddef>
#include <cstdint>

#include "runtime/cell.hpp"

namespace qel {

struct SeriesBuffer {
    uint32_t flags;     // unit width in bits 0-4, state flags above
    node_t node;        // back reference to the owning node, 0 once replaced
    uint32_t size;      // capacity of the data area in bytes, a multiple of 16
    uint32_t head;      // offset of the first used byte
    uint32_t tail;      // offset one past the last used byte
    uint32_t code;      // index of the block's compiled code (block_code), 0 = none
};
static_assert(sizeof(SeriesBuffer) == 24, "series header is 24 bytes");

namespace series_flag {
constexpr uint32_t UNIT_MASK = 0x1F;
constexpr uint32_t IN_USE = 0x80000000;
constexpr uint32_t NORMAL = 0x20000000;  // made by the memory manager
constexpr uint32_t MIDDLE = 0x10000000;  // head placed mid-buffer at allocation
constexpr uint32_t MARK = 0x08000000;    // collector mark
constexpr uint32_t BIG = 0x01000000;     // a frame of its own
constexpr uint32_t FIXED = 0x00100000;   // system-allocator block, never moved
constexpr uint32_t NOT = 0x00080000;     // bitset complement
constexpr uint32_t OWNED = 0x00020000;   // listed in the owner table
}  // namespace series_flag

namespace node_table {
constexpr uint32_t SLOT_BITS = 14;
constexpr uint32_t SLOT_MASK = (1u << SLOT_BITS) - 1;
constexpr uint32_t DIRECTORY_SIZE = 1u << (32 - SLOT_BITS);
// directory[k] is the slot array of the node frame numbered k (k >= 1).
extern uintptr_t* directory[DIRECTORY_SIZE];
}  // namespace node_table

namespace series {

inline SeriesBuffer* buffer_of(node_t n) {
    return reinterpret_cast<SeriesBuffer*>(
        node_table::directory[n >> node_table::SLOT_BITS][n & node_table::SLOT_MASK]);
}

inline void set_buffer(node_t n, SeriesBuffer* s) {
    node_table::directory[n >> node_table::SLOT_BITS][n & node_table::SLOT_MASK] =
        reinterpret_cast<uintptr_t>(s);
}

inline uint8_t* data(SeriesBuffer* s) { return reinterpret_cast<uint8_t*>(s + 1); }
inline uint8_t* head_ptr(SeriesBuffer* s) { return data(s) + s->head; }
inline uint8_t* tail_ptr(SeriesBuffer* s) { return data(s) + s->tail; }
inline uint8_t* end_ptr(SeriesBuffer* s) { return data(s) + s->size; }
inline uint32_t unit(const SeriesBuffer* s) { return s->flags & series_flag::UNIT_MASK; }
inline uint32_t log2_unit(const SeriesBuffer* s) {
    return 31u - static_cast<uint32_t>(__builtin_clz(unit(s)));
}
inline Cell* head_cell(SeriesBuffer* s) { return reinterpret_cast<Cell*>(head_ptr(s)); }
inline Cell* tail_cell(SeriesBuffer* s) { return reinterpret_cast<Cell*>(tail_ptr(s)); }

// The cells of a cell series from its head, and how many there are.
inline Cell* cells_of(node_t n) { return head_cell(buffer_of(n)); }
inline uint32_t cell_count(node_t n) {
    const SeriesBuffer* s = buffer_of(n);
    return (s->tail - s->head) / sizeof(Cell);
}

// Units between head and tail.
inline uint32_t buffer_length(node_t n) {
    SeriesBuffer* s = buffer_of(n);
    return (s->tail - s->head) >> log2_unit(s);
}

// Length of a series value: the buffer's units less the value's head index.
inline int32_t length_of(const Cell* value) {
    SeriesBuffer* s = buffer_of(series_node(value));
    return static_cast<int32_t>((s->tail - s->head) >> log2_unit(s)) - static_cast<int32_t>(series_index(value));
}

Cell* reserve_cell(SeriesBuffer* s);
// The same at the tail of a series value's buffer.
Cell* reserve_cell(const Cell* value);
uint8_t* reserve_bytes(SeriesBuffer* s, uint32_t n);
node_t copy_part(node_t n, uint32_t offset, uint32_t count);

node_t alloc_with_unit(uint32_t count, uint32_t unit);
void clear(node_t n);
void set_tail_at(node_t n, uint32_t i);  // 1-based: tail := head + (i - 1) units
node_t copy_node_buffer(node_t n);
uint32_t flags_of(node_t n);
void append_bytes(node_t n, const void* src, uint32_t count);
void append_int(node_t n, int32_t v);
int32_t find_int(node_t n, int32_t v);  // byte offset, -1 when absent
int32_t remove_int(node_t n, int32_t v);  // -1 when absent
void remove_bytes_at(node_t n, uint32_t offset, uint32_t count);

}  // namespace series

}  // namespace qel
