// The path types (path!, lit-path!, set-path!, get-path!) and paren!:
// block-like series with a notation of their own. A path writes its
// elements joined by "/" (lit-path with a leading "'", get-path with a
// leading ":", set-path with a trailing ":"), a paren its values in "("
// and ")". Everything else (navigation, search, modification) is block!'s,
// reached through inheritance.
#pragma once
#include "runtime/actions.hpp"

namespace qel::path {

// The cell becomes an empty path! with room for capacity cells (at least
// one).
void make_at(Cell* cell, int32_t capacity);

// The slots.
Cell* make(Cell* proto, Cell* spec, uint32_t type);
Cell* to(Cell* proto, Cell* spec, uint32_t type);
int32_t form(const Cell* value, node_t out, bool part, int32_t limit);
int32_t mold(const Cell* value, node_t out, const datatype::MoldOptions& options, int32_t limit, int32_t indent);
int32_t mold_lit_path(const Cell* value, node_t out, const datatype::MoldOptions& options,
                      int32_t limit, int32_t indent);
int32_t mold_set_path(const Cell* value, node_t out, const datatype::MoldOptions& options,
                      int32_t limit, int32_t indent);
int32_t mold_get_path(const Cell* value, node_t out, const datatype::MoldOptions& options,
                      int32_t limit, int32_t indent);
int32_t mold_paren(const Cell* value, node_t out, const datatype::MoldOptions& options, int32_t limit, int32_t indent);

}  // namespace qel::path
