// unset!, none! and logic!.
#include "datatypes/fills.hpp"

namespace qel {
namespace unset_type { void fill(datatype::Record&) {} }
namespace none_type { void fill(datatype::Record&) {} }
namespace logic_type { void fill(datatype::Record&) {} }
}  // namespace qel
