// The cycle stack: one global stack of the series (or object contexts) that
// the recursive walks (mold, form, deep copy, deep bind, ownership) are
// inside, so that a structure holding itself is walked only once. Its fixed
// depth doubles as the nesting limit of those walks.
#include "runtime/cycles.hpp"

#include "runtime/errors.hpp"
#include "runtime/heap.hpp"

namespace qel::cycles {

namespace {

node_t* bottom = nullptr;
node_t* top = nullptr;
node_t* limit = nullptr;

}  // namespace

void init() {
    heap::free(bottom);  // a repeated start-up (tests) replaces the stack
    bottom = static_cast<node_t*>(heap::alloc(SIZE * sizeof(node_t)));
    top = bottom;
    limit = bottom + SIZE;
}

void push(node_t n) {
    if (!bottom) init();
    *top++ = n;
    // The stack is emptied before raising: the walks unwound by the error
    // then leave no stale entries behind for the next walk to trip over.
    if (top == limit) {
        top = bottom;
        err::raise(err::TOO_DEEP);
    }
}

void pop() {
    if (top != bottom) --top;
}

void drop(uint32_t n) {
    // Never below the bottom, whatever the caller counted.
    top = n < depth() ? top - n : bottom;
}

void reset() { top = bottom; }

bool find(node_t n) {
    for (const node_t* p = bottom; p != top; ++p)
        if (*p == n) return true;
    return false;
}

uint32_t depth() { return static_cast<uint32_t>(top - bottom); }

void remap(node_t (*map)(node_t)) {
    for (node_t* p = bottom; p != top; ++p) *p = map(*p);
}

}  // namespace qel::cycles
