// Action slots: the signature of every slot and the lookup of a value's
// slot. Each datatype registers one routine per slot; the registry stores
// them as ActionFn and the lookups here cast back to the slot's signature.
//
// Typed slots receive the values as cells (the first is the argument base
// when called through an action word) and refinements as flags, cells
// (nullptr when absent) or counts; they answer the result cell, which the
// action entry copies into the argument base. Direct slots (the navigation
// and arithmetic actions) read their arguments from the argument stack and
// write the result into the argument base themselves.
#pragma once
#include <cstdint>

#include "runtime/cell.hpp"
#include "runtime/datatypes.hpp"

namespace qel {

namespace slot_fn {
using Make = Cell*(Cell* proto, Cell* spec, uint32_t type);  // make and to
using Random = Cell*(Cell* value, bool seed, bool secure, bool only);
using Reflect = Cell*(Cell* value, int32_t field_symbol);
using Form = datatype::FormFn;
using Mold = datatype::MoldFn;
using Compare = datatype::CompareFn;
// The current value, the selector, the new value (nullptr when reading),
// the path (nullptr outside a path), the parent value, the previous
// element, the element's index in the path, and the flags.
using EvalPath = Cell*(Cell* value, Cell* element, Cell* new_value, Cell* path, Cell* parent, Cell* previous,
                       int32_t index, bool case_sensitive, bool get, bool last, bool owner);
using Direct = void();  // absolute, add ... xor~, at, back, head, head?, index?, next, skip, tail, tail?
using Negate = Cell*(Cell* value);
using Round = Cell*(Cell* value, Cell* scale, bool even, bool down, bool half_down, bool floor, bool ceiling,
                    bool half_ceiling);
using EvenOdd = bool(Cell* value);
using Complement = Cell*(Cell* value);
// part is the normalised count (-1 without /part); dup the repeat count
// (1 without /dup).
using Insert = Cell*(Cell* series, Cell* value, int32_t part, bool only, int32_t dup);  // append, insert, change
using Clear = Cell*(Cell* series);
// The result cell starts as unset; types is a datatype! or typeset!.
using Copy = Cell*(Cell* value, Cell* result, Cell* part, bool deep, Cell* types);
using Find = Cell*(Cell* series, Cell* value, Cell* part, bool only, bool case_sensitive, bool same, bool any,
                   Cell* with, Cell* skip, bool last, bool reverse, bool tail, bool match);
using Select = Cell*(Cell* series, Cell* value, Cell* part, bool only, bool case_sensitive, bool same, bool any,
                     Cell* with, Cell* skip, bool last, bool reverse);
using Length = int32_t(Cell* series);  // -1 answers none
using Move = Cell*(Cell* origin, Cell* target, Cell* part);
// index is the index argument as pick and poke read it: true 1, false 2, a
// char! or integer! its value, anything else 0 (the slot reads the cell).
using Pick = Cell*(Cell* series, int32_t index, Cell* index_cell);
using Poke = Cell*(Cell* series, int32_t index, Cell* value, Cell* index_cell);
using Put = Cell*(Cell* series, Cell* key, Cell* value, bool case_sensitive);
using Remove = Cell*(Cell* series, Cell* part, Cell* key);
using Reverse = Cell*(Cell* series, Cell* part, Cell* skip);
using Sort = Cell*(Cell* series, bool case_sensitive, Cell* skip, Cell* comparator, Cell* part, bool all,
                   bool reverse, bool stable);
using Swap = Cell*(Cell* series1, Cell* series2);
using Take = Cell*(Cell* series, Cell* part, bool deep, bool last);
using Trim = Cell*(Cell* series, bool head, bool tail, bool automatic, bool lines, bool all, Cell* with);
using Modify = Cell*(Cell* target, Cell* field, Cell* value, bool case_sensitive);
}  // namespace slot_fn

namespace actions {

// The slot of a value's type, or nullptr when empty.
inline ActionFn lookup(const Cell* value, uint32_t slot) {
    return datatype::action(cell::type_of(value), slot);
}

// The slot of a value's type; an empty slot raises script expect-arg with
// the running call's name, the value's datatype and the call's first
// argument word.
ActionFn lookup_or_raise(const Cell* value, uint32_t slot);

template <class F>
inline F* slot(const Cell* value, uint32_t s) {
    return action_as<F>(lookup_or_raise(value, s));
}

// Comparison through the first value's compare slot, as a truth for the
// equality tests and the orderings (not the sort orders); an ordering of
// values that cannot be compared raises script invalid-compare.
bool compare(const Cell* a, const Cell* b, CompareOp op);
// Three-way order for sorting and the set operations.
int32_t compare_values(const Cell* a, const Cell* b, CompareOp op);

// Form and mold of any value into a text buffer: the type's slot, answering
// the budget left.
int32_t form(const Cell* value, node_t out, bool part, int32_t limit);
int32_t mold(const Cell* value, node_t out, bool only, bool all, bool flat, bool part, int32_t limit,
             int32_t indent);

}  // namespace actions
}  // namespace qel
