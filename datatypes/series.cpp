// The series! actions shared by every series type.
#include "datatypes/fills.hpp"

namespace qel {
namespace series_type { void fill(datatype::Record&) {} }
}  // namespace qel
