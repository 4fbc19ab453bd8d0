// The external-resource table: objects outside the language heap owned by
// values (an image's decoder object, a handle!). The collector marks the
// slots of reachable values and releases the others through their kind's
// handler.
#pragma once
#include <cstdint>

namespace qel::extres {

using Release = void (*)(void* object);

constexpr uint32_t MARK = 0x80000000;
constexpr uint32_t FREE = 0x40000000;
constexpr int32_t END = -1;

struct Slot {
    uint32_t kind;   // bits 0-7 the kind, MARK, or FREE
    void* object;
    int32_t link;    // next slot of the used or free list
};

void init();
uint32_t register_kind(uint32_t flags, Release release);
int32_t alloc_slot(void* object, uint32_t kind);
void free_slot(int32_t index, bool release);
bool mark_slot(int32_t index, void* new_object);  // true when it was unmarked
void sweep();

// Inspection, for tests and the collector.
uint32_t capacity();
const Slot& slot(int32_t index);
int32_t used_head();
int32_t free_head();

}  // namespace qel::extres
