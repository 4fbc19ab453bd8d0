// bitset!.
#include "datatypes/fills.hpp"

namespace qel {
namespace bitset { void fill(datatype::Record&) {} }
}  // namespace qel
