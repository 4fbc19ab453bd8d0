// The path types and paren!.
#include "datatypes/fills.hpp"

namespace qel {
namespace path {
void fill(datatype::Record&) {}
void fill_lit_path(datatype::Record&) {}
void fill_set_path(datatype::Record&) {}
void fill_get_path(datatype::Record&) {}
void fill_paren(datatype::Record&) {}
}  // namespace path
}  // namespace qel
