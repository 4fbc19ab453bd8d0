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

// A native! or action! value from a spec block and its 1-based index,
// pushed.
Cell* push(const Cell* spec, uint32_t type, uint32_t index);
// An op! made from a function value, pushed; raises as make op! does.
Cell* push_op(const Cell* source);

}  // namespace qel::native
