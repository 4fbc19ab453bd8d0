// The words a script starts with, until the boot image provides the
// library: every native of the table, every action word, the operators
// and the common typesets, set in the global context.
#pragma once

namespace qel::global_words {
void init();
}  // namespace qel::global_words
