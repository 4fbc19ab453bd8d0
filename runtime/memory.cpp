// Memory manager: node frames, series frames, big frames and fixed buffers.
//
// Every frame is one page region whose first 16 bytes hold the region's
// rounded size, so a frame can be released knowing only its address. The
// common allocation is a bump of the current series frame's free pointer;
// everything else (searching frames, asking for a collection, making frames)
// sits on a cold path. Nothing here frees a single buffer: replaced buffers
// and dead ones are left for the collector's compaction and the sweeps.
#include "runtime/memory.hpp"

#include <cstring>
#include <functional>

#include "platform/os.hpp"
#include "runtime/block_code.hpp"
#include "runtime/collector.hpp"
#include "runtime/errors.hpp"
#include "runtime/heap.hpp"

namespace qel {

uintptr_t* node_table::directory[node_table::DIRECTORY_SIZE];

// Constant-initialised so that allocations made before memory::init (or by
// tests that skip it) still see sane frame sizes instead of a zero cap that
// would send every buffer to a big frame.
MemoryRecord memory_record = {
    0,       nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
    memory::FIRST_SERIES_FRAME, memory::FIRST_SERIES_FRAME, memory::SERIES_FRAME_CAP,
    nullptr, 0,
};

namespace memory {

void* (*page_source)(size_t size) = os::virtual_alloc;
uint32_t generation = 0;
uint64_t live_after_collection = 0;

namespace {

constexpr size_t PAGE_SIZE = 4096;
constexpr size_t REGION_PREFIX = 16;  // rounded size, padded to keep frames 16-aligned
constexpr uint32_t SLOTS_PER_RANGE = 1u << node_table::SLOT_BITS;

// ---- page regions ----------------------------------------------------------

// Regions the sweeps give back wait here a while before they go back to
// the system: a program in a steady state empties and fills frames of the
// same few sizes over and over, and the pages of a fresh region cost a
// fault each the first time they are touched. Spare regions are not
// counted in memory_record.total; only frame-sized ones are kept, up to
// SPARE_LIMIT bytes.
constexpr uint32_t SPARE_SLOTS = 8;
constexpr size_t SPARE_LIMIT = 4 * static_cast<size_t>(SERIES_FRAME_CAP) + 0x100000;
struct Spare {
    uint8_t* base;
    size_t size;
};
Spare spares[SPARE_SLOTS];
uint32_t spare_count = 0;
size_t spare_bytes = 0;

void free_or_raise(uint8_t* base, size_t rounded) {
    if (!os::virtual_free(base, rounded)) err::raise(err::WRONG_MEM);
}

uint8_t* take_spare(size_t rounded) {
    for (uint32_t i = 0; i < spare_count; i++) {
        if (spares[i].size != rounded) continue;
        uint8_t* base = spares[i].base;
        spares[i] = spares[--spare_count];
        spare_bytes -= rounded;
        return base;
    }
    return nullptr;
}

void* take_region(size_t size) {
    const size_t rounded = (size + REGION_PREFIX + PAGE_SIZE - 1) & ~(PAGE_SIZE - 1);
    uint8_t* base = take_spare(rounded);
    if (!base) base = static_cast<uint8_t*>(page_source(rounded));
    if (!base) err::raise(err::NO_MEMORY);
    std::memcpy(base, &rounded, sizeof rounded);
    memory_record.total += rounded;
    return base + REGION_PREFIX;
}

void give_region(void* frame) {
    uint8_t* base = static_cast<uint8_t*>(frame) - REGION_PREFIX;
    size_t rounded;
    std::memcpy(&rounded, base, sizeof rounded);
    memory_record.total -= rounded;
    if (rounded <= SERIES_FRAME_CAP + PAGE_SIZE && spare_count < SPARE_SLOTS &&
        spare_bytes + rounded <= SPARE_LIMIT) {
        spares[spare_count++] = Spare{base, rounded};
        spare_bytes += rounded;
        return;
    }
    free_or_raise(base, rounded);
}

void free_spares() {
    while (spare_count) {
        const Spare s = spares[--spare_count];
        spare_bytes -= s.size;
        free_or_raise(s.base, s.size);
    }
}

bool below(const void* a, const void* b) { return std::less<const void*>()(a, b); }

// ---- node frames -----------------------------------------------------------

// Frame numbers index the directory; the lowest free one is reused so that
// node ids stay small and the directory stays dense. Number 0 is never
// handed out, which keeps node id 0 free to mean "no node".
uint32_t free_frame_number() {
    for (uint32_t k = 1; k < node_table::DIRECTORY_SIZE; k++)
        if (!node_table::directory[k]) return k;
    err::raise(err::NO_MEMORY);
}

void unlink_node_frame(NodeFrame* f) {
    if (f->prev) f->prev->next = f->next; else memory_record.n_head = f->next;
    if (f->next) f->next->prev = f->prev; else memory_record.n_tail = f->prev;
    if (memory_record.n_active == f) memory_record.n_active = nullptr;
}

void release_node_frame(NodeFrame* f) {
    unlink_node_frame(f);
    node_table::directory[f->number] = nullptr;
    memory_record.node_frames--;
    give_region(f);
}

// ---- series frames ---------------------------------------------------------

bool fits(const SeriesFrame* f, uint64_t total) {
    return static_cast<uint64_t>(f->end - f->free) > total;
}

SeriesFrame* first_fit(uint32_t total) {
    for (SeriesFrame* f = memory_record.s_head; f; f = f->next)
        if (fits(f, total)) return f;
    return nullptr;
}

void unlink_series_frame(SeriesFrame* f) {
    if (f->prev) f->prev->next = f->next; else memory_record.s_head = f->next;
    if (f->next) f->next->prev = f->prev; else memory_record.s_tail = f->prev;
}

// Whether the page regions may grow by size bytes before a collection is
// due (see live_after_collection).
bool heap_may_grow(uint64_t size) {
    return memory_record.total + size <= heap_limit();
}

// The current frame is full: look for room elsewhere, then collect unless
// the heap may still grow, and make a frame when neither found room. After
// a collection, a frame left with less than MIN_FREE_AFTER_GC bytes is
// passed over so that the next few allocations do not collect again at
// once.
[[gnu::noinline]] SeriesFrame* place_in_frames(uint32_t total) {
    SeriesFrame* f = first_fit(total);
    if (!f && !heap_may_grow(memory_record.s_size)) {
        collector::request();
        f = first_fit(total);
        if (f && static_cast<uint64_t>(f->end - f->free) < MIN_FREE_AFTER_GC) f = nullptr;
    }
    if (!f) {
        if (total >= memory_record.s_size) memory_record.s_size = memory_record.s_max;
        f = new_series_frame();
    }
    memory_record.s_active = f;
    return f;
}

uint8_t* carve(uint32_t total) {
    SeriesFrame* f = memory_record.s_active;
    if (!f || !fits(f, total)) [[unlikely]]
        f = place_in_frames(total);
    uint8_t* p = f->free;
    f->free += total;
    return p;
}

// A buffer whose total reaches the cap would not fit a frame with room to
// spare, so it gets pages of its own. Big buffers are rare and large, so a
// collection first (when the heap may not grow by the buffer) is cheap by
// comparison and keeps the footprint down.
[[gnu::noinline]] uint8_t* place_big(uint32_t total) {
    if (!heap_may_grow(total)) collector::request();
    auto* bf = static_cast<BigFrame*>(take_region(sizeof(BigFrame) + total));
    bf->next = nullptr;
    bf->zero = 0;
    bf->size = total;
    BigFrame** link = &memory_record.b_head;
    while (*link) link = &(*link)->next;
    *link = bf;
    return reinterpret_cast<uint8_t*>(bf->buffer());
}

// Byte size of count units rounded up to 16, or a no-memory error when the
// size does not fit the 32-bit fields of a buffer header (total included).
uint32_t rounded_size(uint32_t count, uint32_t unit) {
    const uint64_t size = (static_cast<uint64_t>(count) * unit + 15) & ~uint64_t{15};
    if (size + BUFFER_OVERHEAD > UINT32_MAX) err::raise(err::NO_MEMORY);
    return static_cast<uint32_t>(size);
}

// An empty buffer header: no node yet, head and tail at offset at.
SeriesBuffer* init_buffer(SeriesBuffer* s, uint32_t flags, uint32_t size, uint32_t at) {
    s->flags = flags;
    s->node = 0;
    s->size = size;
    s->head = at;
    s->tail = at;
    s->code = 0;
    return s;
}

// A buffer without a node. It may collect, so callers holding buffer
// addresses re-read them through their nodes afterwards.
SeriesBuffer* alloc_buffer(uint32_t count, uint32_t unit, int32_t offset) {
    if (collector::stress) [[unlikely]]
        collector::before_allocation();
    const uint32_t size = rounded_size(count, unit);
    const uint32_t total = size + BUFFER_OVERHEAD;
    uint32_t flags = unit | series_flag::IN_USE | series_flag::NORMAL;
    uint8_t* place;
    if (total >= memory_record.s_max) [[unlikely]] {
        place = place_big(total);
        flags |= series_flag::BIG;
    } else {
        place = carve(total);
    }
    uint32_t at = static_cast<uint32_t>(offset);
    if (offset == OFFSET_MIDDLE) {
        at = size / 2;
        flags |= series_flag::MIDDLE;
    }
    return init_buffer(reinterpret_cast<SeriesBuffer*>(place), flags, size, at);
}

node_t attach_node(SeriesBuffer* s) {
    const node_t n = alloc_node();
    s->node = n;
    series::set_buffer(n, s);
    collector::allocated(n);
    return n;
}

// Gives the buffer's node a new buffer of the given size (0 = double) and
// answers it, with the old buffer (re-read, as the allocation may have moved
// it) in *old.
SeriesBuffer* replace(SeriesBuffer* s, uint32_t size, SeriesBuffer** old) {
    const uint64_t want = size ? size : 2 * static_cast<uint64_t>(s->size);
    if (want < 1 || want > UINT32_MAX) err::raise(err::NO_MEMORY);
    const uint32_t unit = series::unit(s) ? series::unit(s) : 1;
    // Rounding the units up rather than down: a size that is not a whole
    // number of units must not come out smaller than asked, or a reserve
    // that counted on it would write past the data area.
    const uint64_t units = (want + unit - 1) / unit;
    const node_t n = s->node;
    SeriesBuffer* fresh = alloc_buffer(static_cast<uint32_t>(units), unit, 0);
    if (n) s = series::buffer_of(n);
    fresh->flags = carry_flags(s->flags, fresh->flags);
    fresh->node = n;
    if (n) series::set_buffer(n, fresh);
    // A smaller replacement keeps what fits: the invariant tail <= capacity
    // matters more than the bytes a caller chose to cut.
    const uint32_t used = s->tail - s->head;
    fresh->tail = fresh->head + (used < fresh->size ? used : fresh->size);
    s->node = 0;
    s->flags &= ~series_flag::IN_USE;
    *old = s;
    ++generation;
    return fresh;
}

// A big buffer that grows into a big buffer keeps its pages: the region is
// resized where the system can, so the cells are neither copied nor
// touched again, which for a block or text of many megabytes costs more
// than everything else its growth does. The result is what replace and a
// copy would give (head at 0, no compiled code), or null, with nothing
// changed, when the pages come from a stand-in source or the system
// refuses: the caller then copies.
SeriesBuffer* grow_big(SeriesBuffer* s, uint32_t size) {
    const uint64_t want = size ? size : 2 * static_cast<uint64_t>(s->size);
    const uint32_t unit = series::unit(s) ? series::unit(s) : 1;
    const uint64_t units = (want + unit - 1) / unit;
    if (page_source != os::virtual_alloc || units > UINT32_MAX) return nullptr;
    const uint32_t grown = rounded_size(static_cast<uint32_t>(units), unit);
    const uint32_t total = grown + BUFFER_OVERHEAD;
    const node_t n = s->node;
    // A buffer no node names yet is left to the copy, which keeps the old
    // one readable.
    if (!n || grown <= s->size || total < memory_record.s_max) return nullptr;
    if (collector::stress) [[unlikely]]
        collector::before_allocation();
    if (!heap_may_grow(total - (BUFFER_OVERHEAD + s->size))) collector::request();
    s = series::buffer_of(n);
    if (!(s->flags & series_flag::BIG)) return nullptr;
    auto* bf = reinterpret_cast<BigFrame*>(s) - 1;
    uint8_t* base = reinterpret_cast<uint8_t*>(bf) - REGION_PREFIX;
    size_t old_rounded;
    std::memcpy(&old_rounded, base, sizeof old_rounded);
    const size_t rounded = (REGION_PREFIX + sizeof(BigFrame) + total + PAGE_SIZE - 1) & ~(PAGE_SIZE - 1);
    auto* moved = static_cast<uint8_t*>(os::virtual_grow(base, old_rounded, rounded));
    if (!moved) return nullptr;
    std::memcpy(moved, &rounded, sizeof rounded);
    memory_record.total += rounded - old_rounded;
    auto* nf = reinterpret_cast<BigFrame*>(moved + REGION_PREFIX);
    nf->size = total;
    BigFrame** link = &memory_record.b_head;
    while (*link != bf) link = &(*link)->next;
    *link = nf;
    SeriesBuffer* g = nf->buffer();
    const uint32_t used = g->tail - g->head;
    if (g->head) std::memmove(series::data(g), series::head_ptr(g), used);
    g->size = grown;
    g->head = 0;
    g->tail = used;
    g->code = 0;
    series::set_buffer(n, g);
    ++generation;
    return g;
}

}  // namespace

// ---- set-up ----------------------------------------------------------------

void init() {
    if (memory_record.n_head || memory_record.s_head || memory_record.b_head) free_all_frames();
    memory_record.total = 0;
    live_after_collection = 0;
    memory_record.s_start = FIRST_SERIES_FRAME;
    memory_record.s_size = FIRST_SERIES_FRAME;
    memory_record.s_max = SERIES_FRAME_CAP;
}

// ---- nodes -----------------------------------------------------------------

uint32_t node_frames_made = 0;

NodeFrame* new_node_frame(uint32_t nodes) {
    // A frame owns one 16384-id range of the directory; more nodes than that
    // would spill into the next frame's ids.
    if (nodes < 1) nodes = 1;
    if (nodes > SLOTS_PER_RANGE) nodes = SLOTS_PER_RANGE;
    const uint32_t number = free_frame_number();
    auto* f = static_cast<NodeFrame*>(take_region(sizeof(NodeFrame) + sizeof(uintptr_t) * nodes));
    const node_t first = number << node_table::SLOT_BITS;
    f->next = nullptr;
    f->prev = memory_record.n_tail;
    f->nodes = nodes;
    f->free_head = first;
    f->used = 0;
    f->cycle = collector::cycles;
    f->prev_used = 0;
    f->history = 0;
    f->emptied = 0;
    f->number = number;
    f->serial = node_frames_made++;
    f->slots = reinterpret_cast<uintptr_t*>(f + 1);
    for (uint32_t i = 0; i + 1 < nodes; i++) f->slots[i] = free_slot_value(first + i + 1);
    f->slots[nodes - 1] = free_slot_value(0);
    node_table::directory[number] = f->slots;
    if (memory_record.n_tail) memory_record.n_tail->next = f; else memory_record.n_head = f;
    memory_record.n_tail = f;
    if (!memory_record.n_active) memory_record.n_active = f;
    memory_record.node_frames++;
    return f;
}

node_t alloc_node() {
    NodeFrame* f = memory_record.n_active;
    if (!f || !f->free_head) [[unlikely]] {
        f = memory_record.n_head;
        while (f && (!f->free_head || f->emptied)) f = f->next;
        if (!f) f = new_node_frame(NODES_PER_FRAME);
        memory_record.n_active = f;
    }
    const node_t n = f->free_head;
    uintptr_t& slot = f->slots[n & node_table::SLOT_MASK];
    f->free_head = next_free(slot);
    slot = 0;
    f->used++;
    return n;
}

void free_node(NodeFrame* frame, node_t n) {
    frame->slots[n & node_table::SLOT_MASK] = free_slot_value(frame->free_head);
    frame->free_head = n;
    frame->used--;
}

SeriesBuffer* live_buffer(node_t n) {
    const uintptr_t* slots = node_table::directory[n >> node_table::SLOT_BITS];
    if (!slots) return nullptr;
    const NodeFrame* frame = reinterpret_cast<const NodeFrame*>(slots) - 1;
    if ((n & node_table::SLOT_MASK) >= frame->nodes) return nullptr;
    const uintptr_t v = slots[n & node_table::SLOT_MASK];
    if (!v || !names_buffer(v)) return nullptr;
    auto* s = reinterpret_cast<SeriesBuffer*>(v);
    return s->node == n ? s : nullptr;
}

NodeFrame* frame_of_node(node_t n) {
    uintptr_t* slots = node_table::directory[n >> node_table::SLOT_BITS];
    return slots ? reinterpret_cast<NodeFrame*>(slots) - 1 : nullptr;
}

// ---- series frames ---------------------------------------------------------

SeriesFrame* new_series_frame() {
    const uint32_t data_size = memory_record.s_size;
    auto* f = static_cast<SeriesFrame*>(take_region(SeriesFrame::header_size() + data_size));
    if (memory_record.s_size < memory_record.s_max) {
        const uint64_t doubled = 2 * static_cast<uint64_t>(memory_record.s_size);
        memory_record.s_size =
            doubled < memory_record.s_max ? static_cast<uint32_t>(doubled) : memory_record.s_max;
    }
    f->size = SeriesFrame::header_size() + data_size;
    f->free = f->data();
    f->end = f->data() + data_size;
    // Kept in address order so that the collector's compaction can move
    // survivors down into the preceding frame and find frames by address.
    SeriesFrame* prev = nullptr;
    SeriesFrame* next = memory_record.s_head;
    while (next && below(next, f)) {
        prev = next;
        next = next->next;
    }
    f->prev = prev;
    f->next = next;
    if (prev) prev->next = f; else memory_record.s_head = f;
    if (next) next->prev = f; else memory_record.s_tail = f;
    if (!memory_record.s_active) memory_record.s_active = f;
    return f;
}

void free_series_frame(SeriesFrame* frame) {
    unlink_series_frame(frame);
    if (memory_record.s_active == frame) memory_record.s_active = memory_record.s_tail;
    give_region(frame);
}

SeriesFrame* series_frame_of(const void* address) {
    for (SeriesFrame* f = memory_record.s_head; f; f = f->next) {
        if (below(address, f)) return nullptr;
        if (!below(address, f->data()) && below(address, f->end)) return f;
    }
    return nullptr;
}

// ---- buffers ---------------------------------------------------------------

node_t alloc_series(uint32_t count, uint32_t unit, int32_t offset) {
    return attach_node(alloc_buffer(count, unit, offset));
}

node_t alloc_cells(uint32_t n) { return alloc_series(n, sizeof(Cell), 0); }

node_t alloc_unset_cells(uint32_t n) {
    const node_t node = alloc_cells(n);
    SeriesBuffer* s = series::buffer_of(node);
    const Cell unset{TYPE_UNSET, 0, 0, 0};
    Cell* cells = reinterpret_cast<Cell*>(series::data(s));
    for (uint32_t i = 0; i < s->size / sizeof(Cell); i++) cells[i] = unset;
    return node;
}

node_t alloc_bytes(uint32_t n) { return alloc_series(n ? n : 16, 1, 0); }

node_t alloc_codepoints(uint32_t n, uint32_t unit) {
    return alloc_series(n ? n : 16 / unit, unit, 0);
}

node_t alloc_bytes_filled(uint32_t n, uint8_t byte) {
    const node_t node = alloc_bytes(n);
    SeriesBuffer* s = series::buffer_of(node);
    fill_range(series::data(s), series::end_ptr(s), byte);
    return node;
}

node_t alloc_fixed_series(uint32_t count, uint32_t unit, uint32_t offset) {
    const uint32_t size = rounded_size(count, unit);
    auto* s = static_cast<SeriesBuffer*>(heap::alloc(sizeof(SeriesBuffer) + size));
    const uint32_t flags = series_flag::IN_USE | series_flag::NORMAL | series_flag::FIXED | unit;
    return attach_node(init_buffer(s, flags, size, offset));
}

void fill_range(uint8_t* start, uint8_t* end, uint8_t byte) {
    if (start < end) std::memset(start, byte, static_cast<size_t>(end - start));
}

void set_series_flag(node_t n, uint32_t bits) { series::buffer_of(n)->flags |= bits; }

SeriesBuffer* replace_series_buffer(SeriesBuffer* s, uint32_t size) {
    SeriesBuffer* old;
    return replace(s, size, &old);
}

SeriesBuffer* expand_series(SeriesBuffer* s, uint32_t size) {
    if (s->flags & series_flag::BIG) {
        if (SeriesBuffer* grown = grow_big(s, size)) return grown;
        if (s->node) s = series::buffer_of(s->node);
    }
    // The buffer carved last in the active frame grows where it stands
    // while the frame has room: a series appended to in a loop then
    // neither copies its cells nor leaves its old buffer behind as garbage.
    // (Not under stress, whose collection at every allocation must run.)
    SeriesFrame* f = memory_record.s_active;
    if (f && size > s->size && s->head == 0 && !collector::stress &&
        !(s->flags & (series_flag::BIG | series_flag::FIXED)) && series::end_ptr(s) == f->free) {
        const uint32_t grown = rounded_size(size, 1);
        if (fits(f, grown - s->size)) {
            f->free += grown - s->size;
            s->size = grown;
            // As a new buffer would, it carries no code.
            block_code::changed(s);
            return s;
        }
    }
    SeriesBuffer* old;
    SeriesBuffer* fresh = replace(s, size, &old);
    std::memcpy(series::data(fresh), series::head_ptr(old), fresh->tail);
    return fresh;
}

node_t copy_series(SeriesBuffer* s) {
    const node_t source = s->node;
    const node_t n = alloc_series(s->size, 1, 0);
    if (source) s = series::buffer_of(source);
    SeriesBuffer* c = series::buffer_of(n);
    c->flags = carry_flags(s->flags, c->flags);
    const uint32_t used = s->tail - s->head;
    std::memcpy(series::data(c), series::head_ptr(s), used);
    c->tail = used;
    return n;
}

// ---- sweeps ----------------------------------------------------------------

void sweep_node_frames() {
    NodeFrame* f = memory_record.n_head;
    while (f) {
        NodeFrame* next = f->next;
        if (f->used == 0 || f->emptied) {
            release_node_frame(f);
        } else {
            // The history tells node compaction which frames have settled.
            f->history = (f->history << 1) | (f->used == f->prev_used ? 1u : 0u);
            f->prev_used = f->used;
        }
        f = next;
    }
    memory_record.n_active = nullptr;
    for (f = memory_record.n_head; f; f = f->next) {
        if (f->used < f->nodes) {
            memory_record.n_active = f;
            break;
        }
    }
}

void sweep_big_frames() {
    BigFrame** link = &memory_record.b_head;
    while (BigFrame* f = *link) {
        SeriesBuffer* s = f->buffer();
        if (s->flags & series_flag::MARK) {
            s->flags &= ~series_flag::MARK;
            link = &f->next;
            continue;
        }
        // A replaced big buffer has already given its node to the new one.
        if (s->node) free_node(frame_of_node(s->node), s->node);
        *link = f->next;
        give_region(f);
    }
}

void free_all_frames() {
    ++generation;
    block_code::drop_all();
    collector::forget_recent();
    while (NodeFrame* f = memory_record.n_head) release_node_frame(f);
    while (SeriesFrame* f = memory_record.s_head) {
        unlink_series_frame(f);
        give_region(f);
    }
    while (BigFrame* f = memory_record.b_head) {
        memory_record.b_head = f->next;
        give_region(f);
    }
    free_spares();
    memory_record.n_active = nullptr;
    memory_record.s_active = nullptr;
}

}  // namespace memory
}  // namespace qel
