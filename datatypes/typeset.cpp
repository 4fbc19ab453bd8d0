// typeset!.
#include "datatypes/fills.hpp"

namespace qel {
namespace typeset { void fill(datatype::Record&) {} }
}  // namespace qel
