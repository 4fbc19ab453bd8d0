// Argument checks of natives and actions that take their arguments as
// any-type! and test them in their own code. Each check raises a fixed
// catalogue error; none returns when it fails.
#pragma once
#include <cstdint>

#include "runtime/cell.hpp"

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
// The word naming argument n of the running call. Function values do not
// exist yet, so every call is anonymous: the answer is <anon>.
Cell arg_name_at(int n);
// script bad-make-arg with the datatype and the spec.
[[noreturn]] void throw_make_error(const Cell* datatype, const Cell* spec);

}  // namespace qel::err
