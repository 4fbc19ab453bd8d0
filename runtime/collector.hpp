// Entry points of the garbage collector used by the memory manager.
#pragma once
#include <cstdint>

namespace qel::collector {

extern uint32_t cycles;  // collections run so far
// Node compactions run so far. Tables whose hashes depend on node ids
// compare it with the stamp they took when built, and rebuild when it moved.
extern uint32_t node_compactions;

// Runs a collection when the collector is enabled; otherwise nothing.
void request();

}  // namespace qel::collector
