// percent!.
#include "datatypes/fills.hpp"

namespace qel {
namespace percent_type { void fill(datatype::Record&) {} }
}  // namespace qel
