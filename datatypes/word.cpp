// The word types.
#include "datatypes/fills.hpp"

namespace qel {
namespace word_type {
void fill(datatype::Record&) {}
void fill_lit_word(datatype::Record&) {}
void fill_set_word(datatype::Record&) {}
void fill_get_word(datatype::Record&) {}
void fill_refinement(datatype::Record&) {}
}  // namespace word_type
}  // namespace qel
