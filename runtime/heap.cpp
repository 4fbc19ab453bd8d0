// Tracked system heap. Every block carries a header that links it into one
// list kept in the system record, so the exits through the runtime error
// report can give everything back with free_all. The list holds only a few
// long-lived tables and scratch buffers, so a linear walk on free is cheap.
#include "runtime/heap.hpp"

#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "runtime/entry.hpp"
#include "runtime/system.hpp"

namespace qel::heap {

namespace {

constexpr size_t HEADER = sizeof(TrackedHeader);
// Larger requests cannot be served once the header is added.
constexpr size_t MAX_REQUEST = SIZE_MAX - HEADER;

TrackedHeader* header_of(void* p) {
    return reinterpret_cast<TrackedHeader*>(static_cast<uint8_t*>(p) - HEADER);
}

void* bytes_of(TrackedHeader* h) { return reinterpret_cast<uint8_t*>(h) + HEADER; }

// Compares addresses only: the candidate may be a stale or foreign pointer
// and must never be read.
bool is_tracked(const void* p) {
    auto wanted = reinterpret_cast<uintptr_t>(p) - HEADER;
    for (TrackedHeader* h = sys.tracked_first; h; h = h->next)
        if (reinterpret_cast<uintptr_t>(h) == wanted) return true;
    return false;
}

void append(TrackedHeader* h, size_t size) {
    h->prev = sys.tracked_last;
    h->next = nullptr;
    h->size = size;
    if (sys.tracked_last)
        sys.tracked_last->next = h;
    else
        sys.tracked_first = h;
    sys.tracked_last = h;
}

void unlink(TrackedHeader* h) {
    if (h->prev)
        h->prev->next = h->next;
    else
        sys.tracked_first = h->next;
    if (h->next)
        h->next->prev = h->prev;
    else
        sys.tracked_last = h->prev;
}

// Null when the system refuses; the callers choose between failing the
// process and answering null.
void* try_alloc(size_t size) {
    if (size > MAX_REQUEST) return nullptr;
    auto* h = static_cast<TrackedHeader*>(std::malloc(size + HEADER));
    if (!h) return nullptr;
    append(h, size);
    return bytes_of(h);
}

}  // namespace

void* alloc(size_t size) {
    void* p = try_alloc(size);
    if (!p) rt::runtime_error(rt::code::OUT_OF_MEMORY, rt::here());
    return p;
}

void* alloc_zeroed(size_t size) {
    void* p = alloc(size);
    std::memset(p, 0, size);
    return p;
}

void* realloc(void* p, size_t size) {
    if (!p) return try_alloc(size);
    if (size == 0) {
        free(p);
        return nullptr;
    }
    // Handing a foreign address to the system reallocator would corrupt its
    // heap; such an address is refused just as free leaves it alone.
    if (size > MAX_REQUEST || !is_tracked(p)) return nullptr;
    auto* h = static_cast<TrackedHeader*>(std::realloc(header_of(p), size + HEADER));
    if (!h) return nullptr;  // the old block is untouched and still listed
    // The block may have moved: its neighbours (or the list ends) still
    // point at the old header.
    h->size = size;
    if (h->prev)
        h->prev->next = h;
    else
        sys.tracked_first = h;
    if (h->next)
        h->next->prev = h;
    else
        sys.tracked_last = h;
    return bytes_of(h);
}

void free(void* p) {
    if (!p || !is_tracked(p)) return;
    TrackedHeader* h = header_of(p);
    unlink(h);
    std::free(h);
}

void free_all() {
    TrackedHeader* h = sys.tracked_first;
    while (h) {
        TrackedHeader* next = h->next;
        std::free(h);
        h = next;
    }
    sys.tracked_first = nullptr;
    sys.tracked_last = nullptr;
}

size_t count() {
    size_t n = 0;
    for (TrackedHeader* h = sys.tracked_first; h; h = h->next) ++n;
    return n;
}

}  // namespace qel::heap
