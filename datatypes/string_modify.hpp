// The actions that change a text in place: append, insert, change, swap,
// take and trim (inherited by the other text types).
#pragma once
#include <cstdint>

#include "runtime/cell.hpp"
#include "runtime/datatypes.hpp"

namespace qel::string {

// part is the normalised count (-1 without /part), dup the repeat count.
Cell* append(Cell* series, Cell* value, int32_t part, bool only, int32_t dup);
Cell* insert(Cell* series, Cell* value, int32_t part, bool only, int32_t dup);
Cell* change(Cell* series, Cell* value, int32_t part, bool only, int32_t dup);
Cell* swap(Cell* series1, Cell* series2);
Cell* take(Cell* series, Cell* part, bool deep, bool last);
Cell* trim(Cell* series, const datatype::TrimOptions& options);

// Removes from the index on every unit in the set: with's units from its
// index (a text or binary), or its code point (char! or integer!); without
// with, tab, line feed, carriage return and space.
void remove_chars_in(Cell* series, const Cell* with);

}  // namespace qel::string
