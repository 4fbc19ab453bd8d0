// char!.
#include "datatypes/fills.hpp"

namespace qel {
namespace char_type { void fill(datatype::Record&) {} }
}  // namespace qel
