// Form and mold of blocks and the other block-like types. Mold writes
// source text the lexer reads back: brackets, a line break before every
// value that carries the new-line flag, four blanks of indentation per
// nesting level. Form writes the values for people: separated by blanks,
// without brackets, nested blocks joining the outer sequence. Both follow
// the form and mold protocol: append to the text buffer out and answer the
// budget less what was appended; with part set the walk stops once the
// budget is spent.
#pragma once
#include "runtime/actions.hpp"

namespace qel::block {
int32_t form(const Cell* value, node_t out, bool part, int32_t limit);
int32_t mold(const Cell* value, node_t out, const datatype::MoldOptions& options, int32_t limit, int32_t indent);
// The cells from the value's index, without brackets: shared by block!
// and paren! mold. Keeps the value's series on the cycle stack while it
// walks.
int32_t mold_each(const Cell* value, node_t out, const datatype::MoldOptions& options, int32_t limit, int32_t indent);
}  // namespace qel::block
