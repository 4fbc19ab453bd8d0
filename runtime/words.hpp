// Word cells: making words from names and symbols, reading and writing the
// value a word names in its context.
//
// A word cell (word!, set-word!, lit-word!, get-word!, refinement!, issue!)
// holds its binding context's node in word 1 (0 unbound), its symbol id in
// word 2 and its index in that context in word 3 (-1 until resolved).
//
// Start-up code makes the runtime's words while `keep_words` is set: each
// word made from a C name is then also copied into a cell appended to the
// root block, and the address of that copy is answered, which stays valid
// for the whole run. Every other Cell* answered here points into a movable
// buffer and is valid until the next allocation.
#pragma once
#include <cstdint>

#include "runtime/cell.hpp"
#include "runtime/math_op.hpp"
#include "runtime/series.hpp"

namespace qel::word {

// Codes of the script errors raised here.
constexpr int NO_VALUE = 300;        // the word has no value
constexpr int NOT_DEFINED = 302;     // the word is not bound to a context
constexpr int NOT_IN_CONTEXT = 303;  // the word's function is not running

// The global word of a zero-terminated UTF-8 name: interned, then found
// case-insensitively in the global context or added with an unset! value;
// a case variant of a word there gets its own spelling and the shared
// index.
Cell* make_from_cstr(const char* name);
// A word! bound in the global context (added case-insensitively when new).
Cell make_from_symbol(int32_t symbol);
// The global word of a math action's name, for error reports.
Cell action_word(MathOp op);

// The value cell of a word in its own context. An unresolved index is
// looked up (and stored in the word) first; `self` with index -1 reads the
// context's self cell. Raises no-value, not-in-context or not-defined.
Cell* get(Cell* word);
Cell* slot_in_context(Cell* word, node_t ctx);

// Writes the value into the word's slot and answers the slot. The word is
// added to the context when it is not there yet. Setting an object's field
// marks its key word changed and, with notify, runs the object's on-change
// handler through on_object_set.
Cell* set(Cell* word, const Cell* value);
Cell* set_in_context(Cell* word, const Cell* value, node_t ctx, bool notify);

// Called after an object field was written when the object (the self cell
// of the context) has an on-set info block: the object, the field word,
// the old and the new value, all copies. Installed by object!.
extern void (*on_object_set)(const Cell* object, const Cell* word, const Cell* old_value,
                             const Cell* new_value);

}  // namespace qel::word
