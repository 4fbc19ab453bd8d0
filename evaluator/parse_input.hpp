// The parse engine's work on its input: matching a literal at a position,
// counting repetitions of a literal in one pass, searching for a value,
// matching datatypes, reading, copying and modifying the matched stretch.
//
// An input is a series cell (type, index, node); `end` is the exclusive
// index where matching must stop (the tail, or the part limit). Matching
// reads the buffers directly and allocates nothing unless it says so;
// the modifying helpers go through the series actions and may allocate,
// so callers re-read their cells afterwards.
#pragma once
#include <cstdint>

#include "runtime/cell.hpp"
#include "runtime/compare_op.hpp"
#include "runtime/series.hpp"

namespace qel::parse {

enum class Kind { TEXT, BYTES, CELLS };
inline Kind kind_of(uint32_t type) {
    if (type == TYPE_BINARY) return Kind::BYTES;
    if (is_any_string(type)) return Kind::TEXT;
    return Kind::CELLS;
}

// Units from the head to the tail.
inline uint32_t total(const Cell* series) { return series::buffer_length(series_node(series)); }

// Whether the value is matched as a literal: anything but the rule value
// types the engine handles itself.
bool is_plain(uint32_t type);

// Units the literal v matches at in's index (0 for an empty text), or -1.
// StrictEqual compares strictly, any other code folds case. A match never
// reaches past end.
int64_t match_literal(const Cell* in, const Cell* v, CompareOp code, uint32_t end);

// Matches v again and again from in's index, at most max times (-1 for no
// limit): answers the number of matches and sets *to to the index after
// the last one. A match that consumes nothing counts once and ends the run.
uint32_t repeat_literal(const Cell* in, const Cell* v, CompareOp code, uint32_t end, int64_t max, uint32_t* to);

// Looks for v from in's index up to end: the position where it starts and
// the units it covers. A value that cannot be looked for in that input
// raises script parse-rule with it.
bool search(const Cell* in, const Cell* v, CompareOp code, uint32_t end, uint32_t* at, uint32_t* length);

// A datatype! or typeset! rule at in's index: the units it matches, or -1.
// Text input raises script parse-unsupported; binary input is scanned as
// source text for one value.
int64_t match_type(const Cell* in, const Cell* v, uint32_t end);

// The element at index: a char! of text, an integer! byte, a cell of a
// block.
Cell element_at(const Cell* in, uint32_t index);

// A new series of the input's type with the units [from, to) pushed on
// the argument stack; answers its cell.
Cell* push_copy(const Cell* in, uint32_t from, uint32_t to);

// Modifications of the input at an index, through the series actions.
// Each answers how many units the input's length changed by.
int64_t remove_units(const Cell* in, uint32_t at, uint32_t count);
int64_t insert_value(const Cell* in, uint32_t at, const Cell* value, bool only);
int64_t change_units(const Cell* in, uint32_t at, uint32_t count, const Cell* value, bool only);

// keep's addition of a value to a collect target on the argument stack:
// a block takes it as one value (each of its values with each), a text or
// binary its content. With at_index the value goes in at the target's
// index, which then moves past it; otherwise at the tail.
void keep_value(Cell* target, const Cell* value, bool at_index, bool each);

}  // namespace qel::parse
