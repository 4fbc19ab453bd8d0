// series!: the actions every sequence type shares whatever its unit width
// (navigation, index and length queries, pick and poke, clear, remove,
// reverse, take, copy, move, random, reflect, modify), and the index
// arithmetic the other series types build on.
//
// A series cell's index may lie past its buffer's tail when the buffer
// shrank after the cell was made. Readers clamp it; nothing here trusts it.
// Every Cell* answered that points into a buffer is valid only until the
// next allocation; cells passed in are expected on the argument stack.
#pragma once
#include <cstdint>

#include "runtime/cell.hpp"
#include "runtime/owner.hpp"
#include "runtime/series.hpp"

namespace qel::series_type {

// Head + index at or past the tail.
bool at_tail(const Cell* value);
// Units from the buffer head to the tail, the index ignored.
uint32_t total_length(const Cell* value);
// Moves the index by n unless that passes the tail (or the head); answers
// whether the resulting position is at or past the tail.
bool skip_by(Cell* value, int32_t n);
// The new index for at (base 1) and skip (base 0): the series in the
// argument base, the integer! offset in the next cell. Clamped to the
// series.
uint32_t offset_index(int32_t base);
// Units from the index (or the head) to the tail. An index past the tail
// is brought back to it and 0 answered.
uint32_t length_from(Cell* value, bool from_head);

// Types with a buffer of units addressed by a series cell's index.
bool is_series(uint32_t type);
// The index clamped to the tail, written back into the cell.
uint32_t clamp_index(Cell* value);

// A /part argument as a count from the series' index: an integer! or a
// position in the same buffer (same type); anything else raises script
// invalid-refine-arg with the word part.
int32_t part_count(const Cell* series, const Cell* part);

// Owner reports around a change: the before-report is sent on
// construction, the after-report only when the first found an owner.
class Report {
public:
    Report(const Cell* series, const Cell* word, const Cell* value, int32_t index, int32_t part)
        : series_(series), owned_(owner::check_change(series, word, value ? value : &shared::none, index, part)) {}
    void after(const Cell* word, const Cell* value, int32_t index, int32_t part) const {
        if (owned_) owner::check_change(series_, word, value ? value : &shared::none, index, part);
    }
    bool owned() const { return owned_; }

private:
    const Cell* series_;
    bool owned_;
};

// The direct slots: the series in the argument base, the result there.
void at();
void back();
void head();
void head_q();
void index_q();
void next();
void skip();
void tail();
void tail_q();

Cell* random(Cell* value, bool seed, bool secure, bool only);
Cell* reflect(Cell* value, int32_t field_symbol);
Cell* clear(Cell* series);
Cell* copy(Cell* value, Cell* result, Cell* part, bool deep, Cell* types);
int32_t length(Cell* series);
Cell* move(Cell* origin, Cell* target, Cell* part);
Cell* pick(Cell* series, int32_t index, Cell* index_cell);
Cell* poke(Cell* series, int32_t index, Cell* value, Cell* index_cell);
Cell* remove(Cell* series, Cell* part, Cell* key);
Cell* reverse(Cell* series, Cell* part, Cell* skip);
Cell* take(Cell* series, Cell* part, bool deep, bool last);
Cell* modify(Cell* target, Cell* field, Cell* value, bool case_sensitive);

}  // namespace qel::series_type
