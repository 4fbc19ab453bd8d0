// block!: the series of value cells that holds code, data, specs and
// bodies. The routines here are what the interpreter, the natives and the
// compiled library call directly (building blocks, appending, inserting,
// the lookups of path evaluation); the action slots below are block!'s own
// (paren!, the paths and hash! inherit them). Form, mold, find, select and
// sort live in block_mold.hpp and block_search.hpp.
//
// "block" arguments are block-like cells. Any Cell* answered that points
// into a buffer is valid only until the next allocation; cells handed to
// the routines are copied before anything is allocated, so they may lie in
// buffers themselves.
#pragma once
#include <cstdint>

#include "runtime/block_code.hpp"
#include "runtime/cell.hpp"
#include "runtime/compare_op.hpp"
#include "runtime/datatypes.hpp"
#include "runtime/series.hpp"

namespace qel::block {

// ---- positions ----------------------------------------------------------------
int32_t length(const Cell* b);  // negative when the index lies past the tail
Cell* tail_ptr(const Cell* b);
Cell* cell_at(const Cell* b, uint32_t n);  // n cells from the buffer head
void set_tail_index(const Cell* b, uint32_t n);

// ---- building -----------------------------------------------------------------
Cell* append_copy(const Cell* b, const Cell* value);
void append_all(const Cell* b, const Cell* source);
// append of one value that is not spliced to a block whose buffer nobody
// owns and has room at its tail: what append does then, without its
// dispatch, reports or growth; the block answered at its head, as append
// answers it. False, with nothing changed, when that does not apply.
inline bool append_in_room(Cell* b, const Cell* value) {
    SeriesBuffer* s = series::buffer_of(series_node(b));
    if ((s->flags & series_flag::OWNED) || s->tail + sizeof(Cell) > s->size) return false;
    series::head_cell(s)[(s->tail - s->head) / sizeof(Cell)] = *value;
    s->tail += sizeof(Cell);
    block_code::changed(s);
    series_index(b) = 0;
    return true;
}
// The cell becomes an empty block! (capacity below 1 gives 1).
Cell* make_at(Cell* c, int32_t capacity);
// An empty block in a new tail cell of parent.
Cell* make_in(const Cell* parent, int32_t capacity);
Cell* push_new(int32_t capacity);

// ---- lookups ------------------------------------------------------------------
// The cell after the first word-type cell naming word's symbol (its
// canonical spelling unless case_sensitive); shared none when absent/last.
const Cell* find_word_value(const Cell* b, const Cell* word, bool case_sensitive);
// The buffer position of the first cell from the index equal to key as one
// value (strict equality when case_sensitive), or -1. hash! looks it up
// through its index.
int64_t find_key(const Cell* b, const Cell* key, bool case_sensitive);
// Removes the first cell equal to value (from the head or the index).
// Answers whether a cell was removed at or before the index, so the
// caller can step its index back.
bool remove_value(Cell* b, const Cell* value, bool from_head);

// ---- copies -------------------------------------------------------------------
// Pushes a new block of the source's type with its cells from the index;
// deep copies nested blocks (and parens and paths with paths). A block
// that contains itself raises internal no-cycle.
Cell* copy_cells(const Cell* source, bool deep, bool paths);
// copy/types: every step-th cell of b in [first, end) whose type types
// names and that can be copied is replaced by its copy.
void copy_typed_cells(const Cell* b, uint32_t first, uint32_t end, uint32_t step, bool deep, const Cell* types);

// ---- insertion ------------------------------------------------------------------
// append and insert in one: the values go to the tail (append) or the
// index. part is the number of values to take (-1 all), dup the repeat
// count. Raises internal no-memory when the sizes overflow 32 bits.
Cell* insert_values(Cell* series, Cell* value, int32_t part, bool only, int32_t dup, bool append);

// ---- action slots ---------------------------------------------------------------
Cell* make(Cell* proto, Cell* spec, uint32_t type);
Cell* to(Cell* proto, Cell* spec, uint32_t type);
Cell* eval_path(Cell* value, const datatype::PathStep& step);
int32_t compare(const Cell* a, const Cell* b, CompareOp op);
Cell* append(Cell* series, Cell* value, int32_t part, bool only, int32_t dup);
Cell* insert(Cell* series, Cell* value, int32_t part, bool only, int32_t dup);
Cell* change(Cell* series, Cell* value, int32_t part, bool only, int32_t dup);
Cell* copy(Cell* value, Cell* result, Cell* part, bool deep, Cell* types);
Cell* put(Cell* series, Cell* key, Cell* value, bool case_sensitive);
Cell* swap(Cell* series1, Cell* series2);
Cell* take(Cell* series, Cell* part, bool deep, bool last);
Cell* trim(Cell* series, const datatype::TrimOptions& options);

}  // namespace qel::block
