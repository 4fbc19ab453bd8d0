// Process-wide state of the native level.
#include "runtime/system.hpp"

namespace qel {

SystemRecord sys{};
uint32_t keep_words = 0;
uint32_t collector_enabled = 0;
Cell root_cell{};

namespace shared {
Cell unset{TYPE_UNSET, 0, 0, 0};
Cell none{TYPE_NONE, 0, 0, 0};
Cell true_value{TYPE_LOGIC, 1, 0, 0};
Cell false_value{TYPE_LOGIC, 0, 0, 0};
}  // namespace shared

}  // namespace qel
