// The word types (word!, set-word!, lit-word!, get-word!, refinement! and
// issue!): one cell layout, word 1 the binding context's node, word 2 the
// symbol id, word 3 the index in that context (-1 while unresolved). They
// differ only in how they evaluate and how they are molded.
#pragma once
#include <cstddef>
#include <cstdint>

#include "runtime/cell.hpp"
#include "runtime/compare_op.hpp"
#include "runtime/series.hpp"

namespace qel::word_type {

// make and to of every word type: the result cell gets the target type.
Cell* make(Cell* result, Cell* spec, uint32_t type);
// The bare name: form of every word type.
int32_t form(const Cell* value, node_t out, bool part, int32_t limit);
int32_t compare(const Cell* a, const Cell* b, CompareOp op);

// How text reads as a word: the word type of the first token of cps[0..n)
// (0 when it is no word), the name without its prefix or suffix in
// [name_start, name_start + name_len), and the code points the token took
// with the blanks before it in consumed.
struct Scanned {
    uint32_t type;
    size_t name_start;
    size_t name_len;
    size_t consumed;
};
Scanned scan(const uint32_t* cps, size_t n);

}  // namespace qel::word_type

namespace qel::issue {

// An issue! of the name, bound to the global context, not resolved: into
// the root block while start-up keeps words, else on the argument stack.
Cell* push_from_cstr(const char* name);

}  // namespace qel::issue
