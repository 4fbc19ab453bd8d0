// function! and routine! values, and the argument lists that every
// function value (native! and action! too) carries. A function value holds
// its context (stack values: a call's argument cells), its spec block and a
// five-cell body record: the body, the argument list (built when the value
// is made), the machine-code entry (unset here), the source of an operator
// made from it, the owner object. A routine! has the same shape; its record holds
// its routine-table index in cell 2 and its return type in cell 4, and its
// header the number of word! values of its spec in bits 25-29.
#pragma once
#include <cstdint>

#include "runtime/cell.hpp"
#include "runtime/datatypes.hpp"
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

// ---- the argument list ------------------------------------------------------
// Built when the value is made, so that a later change of a shared spec
// block cannot make the list disagree with the context. Its entries: one
// typeset per argument word (also those of refinements), whose header bits
// 20-21 say how the argument is fetched; each refinement! itself (word 3
// the ordinal for natives and actions); then an integer!: the local count
// of a function, the refinement count of a native.
constexpr uint32_t KIND_SHIFT = 20;
constexpr uint32_t KIND_MASK = 3u << KIND_SHIFT;
enum class ArgKind : uint32_t { EVALUATED = 0, GET = 1, LITERAL = 2 };
inline ArgKind arg_kind(const Cell& entry) { return static_cast<ArgKind>((entry.header & KIND_MASK) >> KIND_SHIFT); }
inline void set_arg_kind(Cell* entry, ArgKind kind) {
    entry->header = (entry->header & ~KIND_MASK) | (static_cast<uint32_t>(kind) << KIND_SHIFT);
}

// The argument list of a spec block; answers the block's node.
node_t build_arg_list(const Cell* spec, bool native);

// On the argument-list cell of a native's or action's record: its spec
// does not fit the argument list of the entry it names (make native! takes
// any spec), so a call raises bad-func-def instead of running an entry
// that reads its arguments as its own spec lays them out.
constexpr uint32_t UNFIT_ENTRY = 0x00800000;

// Whether a native's or action's argument list lays its arguments out as
// the entry's own does: the same entries in the same order, each argument
// taking no type that the entry's own does not take, the same refinement
// count.
bool list_fits(node_t given, node_t own);

// The cell that holds an argument list in a function's record. Its word 3
// counts the leading arguments that are evaluated and take every type
// (unset aside, which only an any-type! argument takes): a call fetches
// those without the kind dispatch and tests each result only for unset,
// since nothing else can fail their type check. Worked out once here, when
// the function value is made, rather than on every call.
Cell arg_list_cell(node_t list);
// Word 3 of that cell: the count of plain leading arguments.
inline uint32_t arg_list_plain(const Cell& list_cell) { return list_cell.data3; }

// Header flags of a function! from its spec's attribute block.
constexpr uint32_t FN_TRACE = 0x400;
constexpr uint32_t FN_NO_TRACE = 0x200;
// Header flag of the functions that the library's own sources make: a
// trace reports their calls but not the steps of their bodies.
constexpr uint32_t FN_BUILT_IN = 0x800;
// Set while the library's top level runs: every function made meanwhile
// carries FN_BUILT_IN.
extern bool making_built_ins;

// Checks a spec; raises bad-func-def, invalid-type-spec or dup-vars.
// Answers the attribute flags (FN_TRACE, FN_NO_TRACE).
uint32_t validate_spec(const Cell* spec);

// Makes a function value from a spec and a body block (the body deep
// copied and bound; null gives a body of none) and pushes it. A spec taken
// from an index above 0 is copied from there; one at its head is shared.
Cell* push(const Cell* spec, const Cell* body, uint32_t flags);
// What func does: the spec deep copied and checked (raising as
// validate_spec does), then push. Functions made again from a spec whose
// cells have not changed share its argument list and word index.
Cell* push_copying_spec(const Cell* spec, const Cell* body);

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

int32_t mold(const Cell* value, node_t out, const datatype::MoldOptions& options, int32_t limit, int32_t indent);
int32_t form(const Cell* value, node_t out, bool part, int32_t limit);

}  // namespace qel::function
