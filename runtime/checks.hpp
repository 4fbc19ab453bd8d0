// Argument checks of natives, actions and compiled library code, and the
// guarded word and context-slot access that compiled code uses. Each check
// raises a fixed catalogue error; none returns when it fails.
#pragma once
#include <cstdint>

#include "runtime/cell.hpp"
#include "runtime/series.hpp"

namespace qel::err {

// Whether a typeset! allows a type id: its words 1-3 read as a byte array
// (byte 0 the low byte of word 1), type t is bit 0x80 >> (t & 7) of byte
// t >> 3.
bool typeset_has(const Cell* typeset, uint32_t type);
// The value, when the typeset allows its type; else script expect-arg.
const Cell* check_typeset(const Cell* typeset, int arg_number, const Cell* value);
// Checks the argument at position from the argument base; a refinement
// that was not given arrives as -1 and is not checked.
void check_arg_type(int32_t position, const Cell* typeset, int arg_number);
// Checks the value only when the refinement cell is true.
const Cell* check_optional_arg_type(const Cell* refinement, const Cell* typeset, int arg_number,
                                    const Cell* value);
// Raises expect-arg for an unset! value.
const Cell* unset_arg(int arg_number, const Cell* value);
// The word naming argument n of the running call. Function values do not
// exist yet, so every call is anonymous: the answer is <anon>.
Cell arg_name_at(int n);
// script bad-make-arg with the datatype and the spec.
[[noreturn]] void throw_make_error(const Cell* datatype, const Cell* spec);

// Guarded access: the value source is the top of the argument stack.
// Cells answered point into movable buffers.
void set_from_top(Cell* word);          // need-value on unset!, the old value kept
void set_global_from_top(Cell* word);   // the same, then top := base
Cell* get_checked(Cell* word);          // no-value on unset!
void set_slot_checked(node_t ctx, uint32_t index);       // need-value on unset!
void set_slot_checked_keep(node_t ctx, uint32_t index);  // the same, then top := base
void set_slot(node_t ctx, uint32_t index);                // unchecked; marks object fields changed
Cell* slot_checked(node_t ctx, uint32_t index);           // not-defined when there are no values

}  // namespace qel::err
