// unset!, none! and logic!: the cells that mean "nothing", "no value" and
// truth, and the truth test every condition of the interpreter, the
// control natives and compiled code goes through.
//
// False is exactly none! or logic! false; every other value is true. An
// unset! condition is an error where the caller asks for a checked test
// and true elsewhere, which is why there are several tests below.
#pragma once
#include <cstdint>

#include "runtime/cell.hpp"
#include "runtime/compare_op.hpp"
#include "runtime/series.hpp"

namespace qel {

namespace unset_type {
Cell* set_top();                      // the argument base becomes unset!
Cell* append_at(const Cell* block);   // valid until the next allocation
Cell* push();
Cell* make(Cell* proto, Cell* spec, uint32_t type);
int32_t form(const Cell* value, node_t out, bool part, int32_t limit);
int32_t mold(const Cell* value, node_t out, bool only, bool all, bool flat, bool part, int32_t limit, int32_t indent);
int32_t compare(const Cell* a, const Cell* b, CompareOp op);
}  // namespace unset_type

namespace none_type {
Cell* set_top();
Cell* append_at(const Cell* block);
Cell* push();
Cell* make(Cell* proto, Cell* spec, uint32_t type);
int32_t form(const Cell* value, node_t out, bool part, int32_t limit);
int32_t mold(const Cell* value, node_t out, bool only, bool all, bool flat, bool part, int32_t limit, int32_t indent);
int32_t compare(const Cell* a, const Cell* b, CompareOp op);
// The series-like actions on none answer none and raise nothing, so that a
// failed lookup can flow into clear, find, length?, remove, select or take.
Cell* clear(Cell* series);
Cell* find(Cell* series, Cell* value, Cell* part, bool only, bool case_sensitive, bool same, bool any, Cell* with,
           Cell* skip, bool last, bool reverse, bool tail, bool match);
int32_t length(Cell* series);  // -1: the length? entry answers none
Cell* remove(Cell* series, Cell* part, Cell* key);
Cell* select(Cell* series, Cell* value, Cell* part, bool only, bool case_sensitive, bool same, bool any, Cell* with,
             Cell* skip, bool last, bool reverse);
Cell* take(Cell* series, Cell* part, bool deep, bool last);
}  // namespace none_type

namespace logic {

Cell* set_top(bool truth);
Cell* append_at(const Cell* block, bool truth);
Cell* push(bool truth);
inline uint32_t value_of(const Cell* c) { return c->data1; }

// True unless none! or logic! false. An unset! value raises script
// no-value naming `name` when check is set, else counts as true.
bool cell_true(const Cell* value, bool check, const Cell* name);
// The argument base as a condition that must have a value: unset! raises
// script no-return.
bool true_value();
// The argument base is none! or false (unset! counts as true).
bool is_false();
// The last value on the argument stack (the base itself when the stack is
// empty above it) is false; and its negation.
bool top_false();
inline bool top_true() { return !top_false(); }

Cell* make(Cell* proto, Cell* spec, uint32_t type);
Cell* to(Cell* proto, Cell* spec, uint32_t type);
int32_t form(const Cell* value, node_t out, bool part, int32_t limit);
int32_t mold(const Cell* value, node_t out, bool only, bool all, bool flat, bool part, int32_t limit, int32_t indent);
int32_t compare(const Cell* a, const Cell* b, CompareOp op);
Cell* random(Cell* value, bool seed, bool secure, bool only);
// Direct slots: the first two argument cells, the result in the first.
void and_t();
void or_t();
void xor_t();
Cell* complement(Cell* value);

}  // namespace logic
}  // namespace qel
