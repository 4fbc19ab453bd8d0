// float!.
#include "datatypes/fills.hpp"

namespace qel {
namespace float_type { void fill(datatype::Record&) {} }
}  // namespace qel
