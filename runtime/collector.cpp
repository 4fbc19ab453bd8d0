// Collector entry points. Collections start once the boot code enables the
// collector; before that every request is ignored, so start-up code may hold
// raw buffer addresses across allocations.
#include "runtime/collector.hpp"

#include "runtime/system.hpp"

namespace qel::collector {

uint32_t cycles = 0;
uint32_t node_compactions = 0;

void request() {
    if (!collector_enabled) return;
}

}  // namespace qel::collector
