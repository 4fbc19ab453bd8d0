// The table of code objects: entries indexed by the buffer header's code
// word, a free list of indexes, and the stress-mode snapshots.
#include "runtime/block_code.hpp"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "runtime/collector.hpp"
#include "runtime/memory.hpp"

namespace qel::block_code {

uint32_t epoch = 0;
uint64_t generation = 0;

namespace {

struct Entry {
    Code* code = nullptr;  // null: the index is free
    node_t node = 0;       // the block buffer it was attached to
    // Taken under stress only: the head and tail offsets and the cells
    // between them at attach time.
    bool snapshot = false;
    uint32_t head = 0;
    uint32_t tail = 0;
    std::vector<Cell> cells;
};

FreeFn* free_fn = nullptr;
std::vector<Entry> entries(1);  // index 0 is "none"
std::vector<uint32_t> free_indexes;

void release(uint32_t index) {
    generation++;
    Entry& e = entries[index];
    Code* code = e.code;
    e.code = nullptr;
    e.node = 0;
    e.snapshot = false;
    e.cells.clear();
    free_indexes.push_back(index);
    if (free_fn) free_fn(code);
}

void take_snapshot(Entry& e, SeriesBuffer* s) {
    e.snapshot = true;
    e.head = s->head;
    e.tail = s->tail;
    const Cell* from = series::head_cell(s);
    e.cells.assign(from, from + (s->tail - s->head) / sizeof(Cell));
}

[[noreturn]] void report(node_t n, const char* what) {
    std::fprintf(stderr, "*** Block code check: block node %u changed while its code was attached: %s\n", n, what);
    std::abort();
}

// The block's cells and bounds against the snapshot, exactly: header and
// payload words of every cell.
void check_snapshot(const Entry& e, SeriesBuffer* s) {
    char what[200];
    if (s->head != e.head || s->tail != e.tail) {
        std::snprintf(what, sizeof what, "head/tail %u/%u, were %u/%u", s->head, s->tail, e.head, e.tail);
        report(e.node, what);
    }
    const Cell* cells = series::head_cell(s);
    for (size_t i = 0; i < e.cells.size(); i++) {
        if (std::memcmp(&cells[i], &e.cells[i], sizeof(Cell)) == 0) continue;
        uint32_t now[4], was[4];
        std::memcpy(now, &cells[i], sizeof now);
        std::memcpy(was, &e.cells[i], sizeof was);
        std::snprintf(what, sizeof what, "cell %zu is %08x %08x %08x %08x, was %08x %08x %08x %08x", i, now[0],
                      now[1], now[2], now[3], was[0], was[1], was[2], was[3]);
        report(e.node, what);
    }
}

}  // namespace

FreeFn* set_free(FreeFn* fn) {
    FreeFn* before = free_fn;
    free_fn = fn;
    return before;
}

Code* find(node_t n) {
    SeriesBuffer* s = series::buffer_of(n);
    const uint32_t index = s->code;
    if (!index || is_walk_mark(index)) return nullptr;
    const Entry& e = entries[index];
    if (collector::stress && e.snapshot) [[unlikely]] {
        if (e.node != n) report(n, "its code index belongs to another block");
        check_snapshot(e, s);
    }
    return e.code;
}

void attach(node_t n, Code* code) {
    SeriesBuffer* s = series::buffer_of(n);
    if (s->code && !is_walk_mark(s->code)) release(s->code);
    uint32_t index;
    if (!free_indexes.empty()) {
        index = free_indexes.back();
        free_indexes.pop_back();
    } else {
        index = static_cast<uint32_t>(entries.size());
        entries.emplace_back();
    }
    Entry& e = entries[index];
    e.code = code;
    e.node = n;
    if (collector::stress) take_snapshot(e, s);
    s->code = index;
}

void drop_all() {
    for (uint32_t i = 1; i < entries.size(); i++) {
        if (!entries[i].code) continue;
        if (SeriesBuffer* s = memory::live_buffer(entries[i].node); s && s->code == i) s->code = 0;
        release(i);
    }
}

void sweep() {
    for (uint32_t i = 1; i < entries.size(); i++) {
        Entry& e = entries[i];
        if (!e.code) continue;
        SeriesBuffer* s = memory::live_buffer(e.node);
        if (!s || s->code != i) {
            release(i);
            continue;
        }
        if (collector::stress && e.snapshot) check_snapshot(e, s);
    }
}

}  // namespace qel::block_code
