// issue!.
#include "datatypes/fills.hpp"

namespace qel {
namespace issue { void fill(datatype::Record&) {} }
}  // namespace qel
