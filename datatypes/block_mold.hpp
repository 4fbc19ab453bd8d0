// Form and mold of blocks and the other block-like types.
#pragma once
#include "evaluator/actions.hpp"

namespace qel::block {
int32_t form(const Cell* value, node_t out, bool part, int32_t limit);
int32_t mold(const Cell* value, node_t out, bool only, bool all, bool flat, bool part, int32_t limit, int32_t indent);
}  // namespace qel::block
