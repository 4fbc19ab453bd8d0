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

}  // namespace qel::cycles
