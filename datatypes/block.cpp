// block!.
#include "datatypes/fills.hpp"

namespace qel {
namespace block { void fill(datatype::Record&) {} }
}  // namespace qel
