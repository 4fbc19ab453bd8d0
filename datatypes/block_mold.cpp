// Form and mold of blocks.
#include "datatypes/block_mold.hpp"

#include "runtime/errors.hpp"

namespace qel::block {
int32_t form(const Cell*, node_t, bool, int32_t) { err::raise(err::NOT_DONE); }
int32_t mold(const Cell*, node_t, bool, bool, bool, bool, int32_t, int32_t) { err::raise(err::NOT_DONE); }
}  // namespace qel::block
