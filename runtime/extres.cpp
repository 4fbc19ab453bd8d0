// The external-resource table. Values hold a slot index, never the object's
// address (a cell has no room for a 64-bit pointer); the table, on the
// tracked heap, maps the index to the object and its kind. The collector
// marks the slots of reachable values, then sweep releases the rest.
//
// Slots are threaded on one of two singly linked lists, used and free. The
// free list never runs dry: when only one free slot is left the array
// doubles first, so a free head always exists to take.
#include "runtime/extres.hpp"

#include <cstddef>

#include "runtime/entry.hpp"
#include "runtime/heap.hpp"

namespace qel::extres {

namespace {

constexpr uint32_t KIND_ROOM = 20;
constexpr uint32_t FIRST_CAPACITY = 1000;
constexpr uint32_t KIND_MASK = 0xFF;

struct Kind {
    uint32_t flags;
    Release release;
};

Kind* kinds = nullptr;
uint32_t kind_count = 0;
Slot* slots = nullptr;
uint32_t slot_count = 0;
int32_t used = END;
int32_t free_list = END;

[[noreturn]] void out_of_memory() { rt::runtime_error(rt::code::OUT_OF_MEMORY, rt::here()); }

// Links slots [from, to) in index order; the last one ends the list.
void thread_free(uint32_t from, uint32_t to) {
    for (uint32_t i = from; i < to; ++i) {
        slots[i] = Slot{FREE, nullptr, i + 1 < to ? static_cast<int32_t>(i + 1) : END};
    }
}

void grow() {
    // Indexes are 32-bit signed; past that the table cannot grow.
    if (slot_count > static_cast<uint32_t>(INT32_MAX) / 2) out_of_memory();
    uint32_t doubled = slot_count * 2;
    auto* grown = static_cast<Slot*>(heap::realloc(slots, size_t{doubled} * sizeof(Slot)));
    if (!grown) out_of_memory();
    slots = grown;
    thread_free(slot_count, doubled);
    slots[free_list].link = static_cast<int32_t>(slot_count);
    slot_count = doubled;
}

void release(const Slot& s) {
    uint32_t kind = s.kind & KIND_MASK;
    // Kind numbers never registered name no handler; ignoring them keeps a
    // damaged kind word from calling through garbage.
    if (kind == 0 || kind > kind_count || !kinds[kind - 1].release) return;
    kinds[kind - 1].release(s.object);
}

void push_free(int32_t index) {
    slots[index].kind = FREE;
    slots[index].object = nullptr;
    slots[index].link = free_list;
    free_list = index;
}

bool in_range(int32_t index) { return index >= 0 && static_cast<uint32_t>(index) < slot_count; }

}  // namespace

void init() {
    // A repeated start-up (tests) drops the old table with its slots.
    heap::free(kinds);
    heap::free(slots);
    kinds = static_cast<Kind*>(heap::alloc_zeroed(KIND_ROOM * sizeof(Kind)));
    kind_count = 0;
    slots = static_cast<Slot*>(heap::alloc(FIRST_CAPACITY * sizeof(Slot)));
    slot_count = FIRST_CAPACITY;
    thread_free(0, slot_count);
    used = END;
    free_list = 0;
}

uint32_t register_kind(uint32_t flags, Release release) {
    // Kinds are registered by the datatypes at start-up; running out of room
    // is a fault of the build, not of the program being run.
    if (!kinds) init();
    if (kind_count == KIND_ROOM) rt::runtime_error(rt::code::ASSERTION, rt::here());
    kinds[kind_count] = Kind{flags, release};
    return ++kind_count;
}

int32_t alloc_slot(void* object, uint32_t kind) {
    if (!slots) init();
    if (slots[free_list].link == END) grow();
    int32_t index = free_list;
    Slot& s = slots[index];
    free_list = s.link;
    // The state bits belong to the table; a caller's word must not make a
    // used slot look free or marked.
    s.kind = kind & ~(MARK | FREE);
    s.object = object;
    s.link = used;
    used = index;
    return index;
}

void free_slot(int32_t index, bool release_it) {
    // A free slot is on the free list already; freeing it twice would thread
    // it onto that list a second time and hand it out to two owners.
    if (!in_range(index) || slots[index].kind == FREE) return;
    int32_t prev = END;
    int32_t at = used;
    while (at != END && at != index) {
        prev = at;
        at = slots[at].link;
    }
    if (at == END) return;
    if (release_it) release(slots[index]);
    if (prev == END)
        used = slots[index].link;
    else
        slots[prev].link = slots[index].link;
    push_free(index);
}

bool mark_slot(int32_t index, void* new_object) {
    if (!in_range(index)) return false;
    Slot& s = slots[index];
    bool was_unmarked = (s.kind & MARK) == 0;
    s.kind |= MARK;
    if (new_object) s.object = new_object;
    return was_unmarked;
}

void sweep() {
    int32_t prev = END;
    int32_t at = used;
    while (at != END) {
        Slot& s = slots[at];
        int32_t next = s.link;  // push_free rewrites the link
        if (s.kind & MARK) {
            s.kind &= ~MARK;
            prev = at;
        } else {
            release(s);
            if (prev == END)
                used = next;
            else
                slots[prev].link = next;
            push_free(at);
        }
        at = next;
    }
}

uint32_t capacity() { return slot_count; }
const Slot& slot(int32_t index) { return slots[index]; }
int32_t used_head() { return used; }
int32_t free_head() { return free_list; }

}  // namespace qel::extres
