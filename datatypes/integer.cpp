// integer!.
#include "datatypes/fills.hpp"

namespace qel {
namespace integer { void fill(datatype::Record&) {} }
}  // namespace qel
