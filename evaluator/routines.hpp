// The routine table: C++ functions bound to words at start-up as routine!
// values (small library functions with a spec, such as the type tests).
// A routine! value names its entry by its 1-based index in this table
// (word 2 of its body record), never by address, so the table order is
// part of every boot image: entries are only ever appended.
//
// Two calling shapes. A converting routine receives its arguments
// converted by the first word of each argument's type block (integer! as
// its 32-bit value, logic! as 0 or 1, float! as a double) and answers a
// plain value that the caller turns into the routine's return type. A
// cell routine (header flag 0x8000) receives the addresses of its argument
// cells and answers the address of its result cell. Neither allocates on
// the way in or out.
#pragma once
#include <cstdint>

#include "runtime/cell.hpp"

namespace qel::routines {

union Arg {
    int32_t i;
    double f;
};

using ConvertFn = Arg (*)(const Arg* args);
using CellsFn = const Cell* (*)(Cell* const* args);

// Return types of converting routines (type ids), or WRITES_RESULT when
// the routine writes its result into the argument base itself.
constexpr int32_t WRITES_RESULT = -1;
constexpr uint32_t MAX_ARGS = 31;  // header bits 25-29

struct Entry {
    const char* name;
    const char* spec;  // source text of the spec block
    int32_t returns;   // TYPE_LOGIC, TYPE_INTEGER, TYPE_FLOAT or WRITES_RESULT
    ConvertFn convert;  // exactly one of the two is set
    CellsFn cells;
};

extern const Entry table[];
extern const uint32_t COUNT;

// The entry of a 1-based index, nullptr outside the table.
const Entry* entry_of(int32_t index);

// Start-up: every routine of the table made from its spec (checked like a
// function spec, so that a slip in the table stops the start) and set as
// the value of its word in the global context. specs is a block of one
// spec block per entry, in table order: the entries' spec texts as the
// boot image holds them loaded. Entries named by a path starting
// "system/" are left to install_fields.
void init(const Cell* specs);

// Once the library has built the system object: each routine named by a
// path stored into that field. A field missing ends the process with a
// message: the library and the table disagree.
void install_fields(const Cell* specs);

// Calls the routine whose argument cells (one for each name of its spec, refinement
// logic cells and locals included) lie from the argument base of the
// running frame; the result goes into the argument base. A converting
// routine checks each argument against the first word of its type block:
// a block not starting with a word raises invalid-type-spec, a type the
// word does not admit raises expect-arg.
void call(const Cell* routine, const Cell* name);

}  // namespace qel::routines
