// The cycle stack: series (and object contexts) being molded, compared,
// copied or bound, so that a walk that meets one again stops there.
#pragma once
#include <cstdint>

#include "runtime/series.hpp"

namespace qel::cycles {

constexpr uint32_t SIZE = 1000;

void init();
void push(node_t n);  // raises internal too-deep when the stack fills
void pop();
void drop(uint32_t n);
void reset();
bool find(node_t n);
uint32_t depth();
// Rewrites entries through a node remap function (node compaction).
void remap(node_t (*map)(node_t));

// Pushes a node for the life of a walk over it, and pops it when the walk
// leaves, also when an error unwinds it.
class Entry {
public:
    explicit Entry(node_t n) { push(n); }
    ~Entry() { pop(); }
    Entry(const Entry&) = delete;
    Entry& operator=(const Entry&) = delete;
};

}  // namespace qel::cycles
