// The symbol table: every spelling of a word, once.
//
// A symbol id is the 1-based position of a symbol! cell in one global block
// that only grows. Each exact spelling gets its own id; a spelling that
// differs from an older one only in ASCII letter case is a case variant and
// records the older spelling's id, its canonical id. Words compare
// case-insensitively by canonical id, so a variant must always name the
// canonical spelling itself, never another variant.
//
// symbol! cell: word 1 the alias (-1 for a canonical symbol, else the
// canonical id), word 2 the node of the cached string form (0 until asked
// for), word 3 the node of the UTF-8 name (a byte series with a zero just
// past its tail).
#pragma once
#include <cstddef>
#include <cstdint>

#include "runtime/cell.hpp"
#include "runtime/series.hpp"

namespace qel::symbol {

constexpr uint32_t INITIAL_SYMBOLS = 4000;

// The symbol table's hash index (a WORDS table over the symbol block); a
// collector root. The symbol block is its indexed series.
extern node_t index;

// Start-up: the symbol block (in a cell appended to the root block) and its
// index. Needs the root block and hashtab::init.
void init();

// Case-sensitive interning: an exact match, else a new case variant of an
// existing name, else a new canonical symbol.
int32_t intern(const char* utf8, size_t length);
int32_t intern_cstr(const char* utf8);
// Case-insensitive interning: the canonical id of any spelling of the name,
// or a new canonical symbol.
int32_t intern_any_case(const char* utf8);
// The UTF-8 form of a string value from its index, interned.
int32_t intern_string(const Cell* string);
// The id of an exact spelling, 0 when it was never interned. Allocates
// nothing.
int32_t find(const char* utf8, size_t length);

// The canonical id of every symbol, by id, kept beside the symbol block
// (outside the collected heap) so that the case-insensitive comparisons of
// word look-ups read one array entry: canonical_ids[id] for 1 <= id <
// canonical_limit, entry 0 unused.
extern const int32_t* canonical_ids;
extern uint32_t canonical_limit;
// The canonical id; ids that name no symbol answer themselves.
inline int32_t canonical(int32_t id) {
    const auto u = static_cast<uint32_t>(id);
    return u < canonical_limit ? canonical_ids[u] : id;
}
// -1 for a canonical symbol, else its canonical id.
int32_t alias(int32_t id);
uint32_t count();
node_t block();

// The symbol! cell; allocates nothing (the string form may still be 0).
Cell* cell(int32_t id);
// The node of the cached string form, made on first need.
node_t get_string(int32_t id);
// The zero-terminated UTF-8 name, valid until the next allocation.
const char* name(int32_t id);
uint32_t name_length(int32_t id);

// Appends a symbol with the given alias to the block and answers its
// 0-based position. Used by the index when a name is new; does not touch
// the index.
uint32_t append(const uint8_t* name, uint32_t length, int32_t alias);

}  // namespace qel::symbol
