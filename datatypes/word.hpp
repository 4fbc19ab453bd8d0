// The word types (word!, set-word!, lit-word!, get-word!, refinement! and
// issue!): one cell layout, word 1 the binding context's node, word 2 the
// symbol id, word 3 the index in that context (-1 while unresolved). They
// differ only in how they evaluate and how they are molded.
//
// Cell* answered here lie on the argument stack or in the root block unless
// said otherwise.
#pragma once
#include <cstddef>
#include <cstdint>

#include "runtime/cell.hpp"
#include "runtime/compare_op.hpp"
#include "runtime/series.hpp"

namespace qel::word_type {

// Pushes a copy of the word's value; an unset! value raises script
// no-value with the word.
Cell* get_and_push(Cell* word);
// Pushes a copy of the word's value, unset or not.
Cell* push_value(Cell* word);
// The checked set of natives: the word in the argument base, the value in
// the next cell. An unset! value raises script need-value with the word;
// otherwise the word is set and the value becomes the result.
void set_checked();
// Pushes a copy of the word retyped (binding, symbol and index kept).
Cell* push_retyped(const Cell* word, uint32_t type);
// Pushes the context's key word at index, retyped.
Cell* push_from_slot(node_t ctx, uint32_t index, uint32_t type);
// An unbound refinement! of the name in a new root-block cell.
Cell* refinement_from_cstr(const char* name);
// Pushes a string! sharing the buffer of the symbol's cached string form;
// callers that change it copy it first.
Cell* push_symbol_string(const Cell* word);

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
