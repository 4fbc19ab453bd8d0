// string!.
#include "datatypes/fills.hpp"

namespace qel {
namespace string { void fill(datatype::Record&) {} }
}  // namespace qel
