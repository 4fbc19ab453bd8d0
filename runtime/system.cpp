// Process-wide state of the native level.
#include "runtime/system.hpp"

namespace qel {

SystemRecord sys{};
uint32_t keep_words = 0;
uint32_t collector_enabled = 0;
Cell root_cell{};

}  // namespace qel
