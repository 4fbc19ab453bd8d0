// handle!: an opaque 32-bit value owned by the platform layer (a file
// descriptor, a window, a font ...) with a kind naming what it is. It has
// no literal; its text is for display.
//
// Cell: word 1 the kind, word 2 the value, word 3 -1. No word holds a node
// id.
#pragma once
#include <cstdint>

#include "runtime/cell.hpp"

namespace qel::handle {

enum Kind : uint32_t { NONE = 0, FD = 1, MONITOR = 2, WINDOW = 3, FONT = 4, RICH_TEXT = 5 };

}  // namespace qel::handle
