// function!: functions written in the language. A function value holds its
// context (stack values: a call's argument cells), its spec block and a
// five-cell body record: the body, the argument list (built when the value
// is made), the machine-code entry (unset here), the source of an operator
// made from it, the owner object.
#pragma once
#include <cstdint>

#include "runtime/cell.hpp"
#include "runtime/series.hpp"

namespace qel::function {

// Checks a spec; raises bad-func-def, invalid-type-spec or dup-vars.
// Answers the attribute flags (0x400 trace, 0x200 no-trace).
uint32_t validate_spec(const Cell* spec);

// Makes a function value from a spec and a body block (the body deep
// copied) and pushes it.
Cell* push(const Cell* spec, const Cell* body, uint32_t flags);

int32_t mold(const Cell* value, node_t out, bool only, bool all, bool flat, bool part, int32_t limit, int32_t indent);
int32_t form(const Cell* value, node_t out, bool part, int32_t limit);

}  // namespace qel::function
