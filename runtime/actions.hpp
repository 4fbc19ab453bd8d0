// The lookup of a value's action slot. Each datatype registers one routine
// per slot (the signatures are in runtime/datatypes.hpp); the lookups here
// answer the routine as its slot's signature.
#pragma once
#include <cstdint>

#include "runtime/cell.hpp"
#include "runtime/datatypes.hpp"

namespace qel {

namespace actions {

// The slot of a value's type, or nullptr when empty.
inline ActionFn lookup(const Cell* value, uint32_t slot) {
    return datatype::action(cell::type_of(value), slot);
}

// The slot of a value's type; an empty slot raises script expect-arg with
// the running call's name, the value's datatype and the call's first
// argument word.
ActionFn lookup_or_raise(const Cell* value, uint32_t slot);

template <datatype::Slot S>
inline datatype::SlotFn<S> slot(const Cell* value) {
    return datatype::detail::restore<S>(lookup_or_raise(value, S));
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
int32_t mold(const Cell* value, node_t out, const datatype::MoldOptions& options, int32_t limit, int32_t indent);

}  // namespace actions
}  // namespace qel
