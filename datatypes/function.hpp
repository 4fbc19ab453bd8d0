// function! and routine! values. A function value holds its context
// (stack values: a call's argument cells), its spec block and a five-cell
// body record: the body, the argument list (built when the value is made),
// the machine-code entry (unset here), the source of an operator made from
// it, the owner object. A routine! has the same shape; its record holds
// its routine-table index in cell 2 and its return type in cell 4, and its
// header the number of word! values of its spec in bits 25-29.
#pragma once
#include <cstdint>

#include "runtime/cell.hpp"
#include "runtime/series.hpp"

namespace qel::function {

// ---- the body record ------------------------------------------------------
// Cells of the record in word 3. native! and action! values keep their
// argument list at the same place of their info record (see native.hpp),
// so arg_list_of serves every function value.
inline Cell* record_of(const Cell* fn) { return series::cells_of(function_body(fn)); }
inline Cell& body_of(const Cell* fn) { return record_of(fn)[0]; }
inline Cell& arg_list_of(const Cell* fn) { return record_of(fn)[1]; }
inline Cell& op_source_of(const Cell* fn) { return record_of(fn)[3]; }
inline Cell& body_of(const Cell& fn) { return body_of(&fn); }
inline Cell& arg_list_of(const Cell& fn) { return arg_list_of(&fn); }
inline Cell& op_source_of(const Cell& fn) { return op_source_of(&fn); }

// Checks a spec; raises bad-func-def, invalid-type-spec or dup-vars.
// Answers the attribute flags (0x400 trace, 0x200 no-trace).
uint32_t validate_spec(const Cell* spec);

// Makes a function value from a spec and a body block (the body deep
// copied and bound; null gives a body of none) and pushes it. A spec taken
// from an index above 0 is copied from there; one at its head is shared.
Cell* push(const Cell* spec, const Cell* body, uint32_t flags);

// Header flag of a routine whose entry takes its argument cells.
constexpr uint32_t ROUTINE_CELLS = 0x8000;
// Makes a routine! for entry (a 1-based routine-table index) with the
// given return type (a type id or -1) and pushes it. The spec is neither
// checked nor copied; the body (none when null) is kept as it is.
Cell* push_routine(const Cell* spec, const Cell* body, uint32_t entry, int32_t returns, bool cells);
// Stores the number of word! values of the spec in header bits 25-29.
void set_arity(Cell* routine);
inline uint32_t arity_of(const Cell* routine) { return (routine->header >> 25) & 31u; }

// The local slots of a spec: 1 (the /local refinement's own slot) + the
// word! values after the first /local; without /local, -1 when
// must_exist, else 0.
int32_t count_locals(const Cell* spec, bool must_exist);
// The local words of `function`, added to spec (the native's own copy,
// changed in place): every set-word of the body, nested blocks included,
// and the words of foreach, map-each, remove-each and repeat loops, that
// the spec does not name; with /extern the words after it are kept out
// and cut from the spec together with it. Answers the collected words.
// Raises bad-func-extern for a spec value /extern cannot stand beside.
Cell collect_locals(const Cell* spec, const Cell* body);

int32_t mold(const Cell* value, node_t out, bool only, bool all, bool flat, bool part, int32_t limit, int32_t indent);
int32_t form(const Cell* value, node_t out, bool part, int32_t limit);

}  // namespace qel::function
