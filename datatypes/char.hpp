// char!: one Unicode code point, 0 to 0x10FFFF, in word 2 of its cell.
// Every char! that is made, converted or computed stays in that range;
// anything that would leave it raises an error instead.
#pragma once
#include <cstdint>

#include "runtime/cell.hpp"
#include "runtime/series.hpp"

namespace qel::char_type {

// The character as molded text writes it (also inside molded strings):
// code 30, 128-159 and, with all, everything above 127 as ^(hex); in
// escape mode the control characters, the double quote and the caret in
// their caret form and 127 as ^~; anything else as itself.
void mold_char(node_t out, uint32_t cp, bool escape, bool all);

}  // namespace qel::char_type
