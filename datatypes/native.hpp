// native!, action! and op!: functions whose bodies are runtime code.
// A native or action names its entry by a 1-based index into the native
// table or the action slots (word 1), keeps its spec block (word 2) and an
// info record (word 3): the context! cell of the spec's context, then the
// argument list. The record stands for that context (words bind to it;
// the second cell is no owner and gives no values). An op!
// copies the payload of what it was made from and keeps that type in
// header bits 16-23.
#pragma once
#include <cstdint>

#include "runtime/cell.hpp"

namespace qel::native {

// The native table's size: the natives that exist, and the slots a native!
// value may name (the empty ones past the natives included).
constexpr uint32_t NATIVE_COUNT = 107;
constexpr uint32_t TABLE_SLOTS = 120;

// The argument list a slot's entry reads its arguments in: a cell that
// holds the list the slot's first value was made with (none until then),
// nullptr for a slot without an entry. The native table and the action
// entries lie a layer above and install it at start-up; until then every
// slot counts as empty.
extern Cell* (*own_list_of)(uint32_t type, uint32_t index);

// A native! or action! value from a spec block and its 1-based index,
// pushed.
Cell* push(const Cell* spec, uint32_t type, uint32_t index);
// An op! made from a function value, pushed; raises as make op! does.
Cell* push_op(const Cell* source);

}  // namespace qel::native
