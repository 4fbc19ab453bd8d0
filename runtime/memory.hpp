// Memory manager: node frames, series frames and big frames.
//
// Buffers are never freed one by one. Inside a series frame they are carved
// by bumping the frame's free pointer; buffers whose total size reaches the
// frame cap get a big frame of their own. Space comes back only when the
// collector slides surviving buffers together and releases empty frames.
// Every frame is one page region from the platform layer. Any allocation may
// run a collection once the collector is enabled.
#pragma once
#include <cstddef>
#include <cstdint>

#include "runtime/series.hpp"

namespace qel {

struct NodeFrame {
    NodeFrame* next;
    NodeFrame* prev;
    uint32_t nodes;       // slots in this frame
    node_t free_head;     // first free node, 0 when the frame is full
    uint32_t used;
    uint32_t cycle;       // collection count when the frame was made
    uint32_t prev_used;   // used count at the previous collection
    uint32_t history;     // bit 0: used count unchanged over the last collection
    uint32_t emptied;     // every node moved out by node compaction
    uint32_t number;      // index in the node directory
    uint32_t serial;      // node frames made before this one
    uintptr_t* slots;     // nodes; a free node holds the id of the next free one, tagged
};

// A slot holds a buffer's address (8-byte aligned, so even) or, when free,
// the next free id shifted left with bit 0 set: the collector can tell a
// node that names a buffer from one that names nothing.
inline uintptr_t free_slot_value(node_t next) { return (static_cast<uintptr_t>(next) << 1) | 1; }
inline node_t next_free(uintptr_t slot) { return static_cast<node_t>(slot >> 1); }
inline bool names_buffer(uintptr_t slot) { return !(slot & 1); }

struct SeriesFrame {
    SeriesFrame* next;  // next higher address
    SeriesFrame* prev;
    size_t size;        // data area + header
    uint8_t* free;      // first free byte of the data area
    uint8_t* end;       // one past the data area
    uint8_t* data() { return reinterpret_cast<uint8_t*>(this) + header_size(); }
    static constexpr size_t header_size() { return 48; }
};

struct BigFrame {
    BigFrame* next;
    uint32_t zero;
    uint32_t size;      // the buffer, header included
    SeriesBuffer* buffer() { return reinterpret_cast<SeriesBuffer*>(this + 1); }
};
static_assert(sizeof(BigFrame) == 16);

struct MemoryRecord {
    size_t total;              // bytes of all live page regions
    NodeFrame* n_head;
    NodeFrame* n_tail;
    NodeFrame* n_active;
    SeriesFrame* s_head;       // sorted by address
    SeriesFrame* s_active;
    SeriesFrame* s_tail;
    uint32_t s_start;          // size of the first series frame
    uint32_t s_size;           // size of the next series frame
    uint32_t s_max;            // frame cap, also the big-buffer threshold
    BigFrame* b_head;
    uint32_t node_frames;      // live node frames
};

extern MemoryRecord memory_record;

namespace memory {

// Counts the events that may move a buffer's cells to another address: a
// buffer replaced by a larger one, all frames released. Code that keeps a
// cell address across calls (the interpreter's cache of the global
// context's values) compares it with the value it saw. The collector must
// count every compaction that moves buffers or renumbers nodes.
extern uint32_t generation;

// Bytes in use right after the last collection, as the collector measures
// them when it ends. Until the page regions hold HEAP_GROWTH times as much,
// or HEAP_HEADROOM bytes more, whichever is larger, a full series frame is
// followed by a new frame and a big buffer by its own region, without a
// collection first: a collection marks everything that is alive, so
// collecting at every full frame would make a program whose data keeps
// growing spend time quadratic in its size, and one with little live data
// spend it marking the same data over and over.
extern uint64_t live_after_collection;
constexpr uint64_t HEAP_GROWTH = 3;
constexpr uint64_t HEAP_HEADROOM = 2 * 0x200000;
// The bytes of page regions up to which the heap grows without collecting.
inline uint64_t heap_limit() {
    const uint64_t grown = HEAP_GROWTH * live_after_collection;
    const uint64_t roomy = live_after_collection + HEAP_HEADROOM;
    return grown > roomy ? grown : roomy;
}

constexpr uint32_t NODES_PER_FRAME = 10000;
constexpr uint32_t FIRST_SERIES_FRAME = 0x100000;
constexpr uint32_t SERIES_FRAME_CAP = 0x200000;
constexpr uint32_t BUFFER_OVERHEAD = 24;     // header; the total is size + 24
constexpr uint32_t MIN_FREE_AFTER_GC = 0xCCCC;
constexpr int32_t OFFSET_MIDDLE = -1;

// Where frames get their page regions: the platform layer, unless a test
// stands in a source that refuses.
extern void* (*page_source)(size_t size);

// Flags of a buffer that takes over from another (a replacement or a copy):
// the old word, except that "big" and "fixed" describe where the new buffer
// itself lives.
inline uint32_t carry_flags(uint32_t old_flags, uint32_t fresh_flags) {
    return (old_flags & ~(series_flag::BIG | series_flag::FIXED)) | (fresh_flags & series_flag::BIG);
}

void init();
// Node frames made so far; each frame's serial is the count before it.
extern uint32_t node_frames_made;
NodeFrame* new_node_frame(uint32_t nodes);
node_t alloc_node();
void free_node(NodeFrame* frame, node_t n);
NodeFrame* frame_of_node(node_t n);
// The buffer a node names, when its slot holds one that names it back; null
// for a node freed since, one that renumbering retired, or one of a frame
// released.
SeriesBuffer* live_buffer(node_t n);
SeriesFrame* new_series_frame();
void free_series_frame(SeriesFrame* frame);

node_t alloc_series(uint32_t count, uint32_t unit, int32_t offset);
node_t alloc_cells(uint32_t n);
node_t alloc_unset_cells(uint32_t n);
node_t alloc_bytes(uint32_t n);
node_t alloc_codepoints(uint32_t n, uint32_t unit);
node_t alloc_bytes_filled(uint32_t n, uint8_t byte);
node_t alloc_fixed_series(uint32_t count, uint32_t unit, uint32_t offset);
void fill_range(uint8_t* start, uint8_t* end, uint8_t byte);
void set_series_flag(node_t n, uint32_t bits);
SeriesBuffer* replace_series_buffer(SeriesBuffer* s, uint32_t size);
SeriesBuffer* expand_series(SeriesBuffer* s, uint32_t size);
node_t copy_series(SeriesBuffer* s);
void sweep_node_frames();
void sweep_big_frames();
void free_all_frames();

// Frame lookup by address: the frame whose data area holds a buffer, null
// for a fixed buffer (frames are few, so a walk of the sorted list is kept
// simple).
SeriesFrame* series_frame_of(const void* address);

}  // namespace memory
}  // namespace qel
