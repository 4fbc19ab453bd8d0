// The built-in words that the boot image tool defines and writes as the
// image's assignments. Each function sets its words in the global context
// and appends each word and its value to the block `pairs`. Natives and
// actions need the typesets their specs name to be set already.
#pragma once
#include "runtime/cell.hpp"

namespace qel::builtin_words {
void define_datatypes(Cell* pairs);
void define_actions(Cell* pairs);
void define_natives(Cell* pairs);
}  // namespace qel::builtin_words
