// time!: a duration or a time of day, held as a double of seconds in words
// 2-3 of the cell (negative for negative durations); word 1 is unused and
// no word holds a node id. It is a child of float!: comparison, absolute,
// negate, remainder and random come from there, and its arithmetic goes
// through float!'s dispatcher with a few type rules of its own.
//
// The text is hours:minutes:seconds (1:30:00, -0:01:30, 0:00:00.5). The
// seconds are rounded to what the text shows before the value is split,
// so a value just under a whole minute never prints as ":60".
#pragma once
#include <cstddef>
#include <cstdint>

#include "runtime/cell.hpp"
#include "runtime/datatypes.hpp"
#include "runtime/series.hpp"

namespace qel::time_type {

// Appends the text of t seconds to the string out; answers its length.
size_t append_text(node_t out, double t);

// Field readers on the seconds t.
double hour_of(double t);    // truncated toward zero
int32_t minute_of(double t);  // of the magnitude
double second_of(double t);   // keeps the sign of t

// Field 1 hour, 2 minute, 3 second set to v on t: the change works on the
// magnitude and t keeps its sign.
double set_field(double t, int32_t field, double v);

// Makes c a time! (flags of an existing cell kept).
Cell* make_at(double t, Cell* c);

// The field number (1-based) of a path or pick selector word among the
// symbols (any letter case), or 0.
int32_t field_of_word(const Cell* word, const int32_t* const* symbols, int32_t count);

// After a path changed an immediate value (time!, date!) in the cell that
// the walk holds, writes it back where it came from: the word at the head
// of the path, or the parent's field or element named by the previous
// selector (through the parent's own path set, which tells its owner).
void store_back(Cell* value, Cell* path, Cell* parent, Cell* previous, int32_t index);

void fill(datatype::Record& r);

}  // namespace qel::time_type
