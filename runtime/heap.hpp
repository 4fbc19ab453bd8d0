// Tracked system heap: the few blocks the runtime takes from the system
// allocator (start-up tables, argument strings, hook arrays, scratch buffers)
// are kept in one doubly linked list so that every exit through the runtime
// error report, and the normal end, can free them together.
#pragma once
#include <cstddef>
#include <cstdint>

namespace qel {

// 32 bytes in front of every tracked block, keeping 16-byte alignment.
struct TrackedHeader {
    TrackedHeader* prev;
    TrackedHeader* next;
    size_t size;       // bytes the caller asked for
    size_t reserved;
};
static_assert(sizeof(TrackedHeader) == 32);

namespace heap {
void* alloc(size_t size);          // never null: runtime error 94 on failure
void* alloc_zeroed(size_t size);
void* realloc(void* p, size_t size);  // null p allocates; size 0 frees, answers null; null on failure
void free(void* p);                // an address that is not tracked is left alone
void free_all();
size_t count();                    // blocks in the list
}  // namespace heap

}  // namespace qel
