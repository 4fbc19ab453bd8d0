// unset!, none! and logic!: the cells that mean "nothing", "no value" and
// truth, and their action slots. False is exactly none! or logic! false;
// every other value is true (the truth test, is_truthy, lives beside the
// cell layout).
#pragma once
#include <cstdint>

#include "runtime/cell.hpp"
#include "runtime/compare_op.hpp"
#include "runtime/datatypes.hpp"
#include "runtime/series.hpp"

namespace qel {

namespace unset_type {
Cell* push();
Cell* make(Cell* proto, Cell* spec, uint32_t type);
int32_t form(const Cell* value, node_t out, bool part, int32_t limit);
int32_t mold(const Cell* value, node_t out, const datatype::MoldOptions& options, int32_t limit, int32_t indent);
int32_t compare(const Cell* a, const Cell* b, CompareOp op);
}  // namespace unset_type

namespace none_type {
Cell* set_top();  // the argument base becomes none!
Cell* push();
Cell* make(Cell* proto, Cell* spec, uint32_t type);
int32_t form(const Cell* value, node_t out, bool part, int32_t limit);
int32_t mold(const Cell* value, node_t out, const datatype::MoldOptions& options, int32_t limit, int32_t indent);
int32_t compare(const Cell* a, const Cell* b, CompareOp op);
// The series-like actions on none answer none and raise nothing, so that a
// failed lookup can flow into clear, find, length?, remove, select or take.
Cell* clear(Cell* series);
Cell* find(Cell* series, Cell* value, const datatype::FindOptions& options);
int32_t length(Cell* series);  // -1: the length? entry answers none
Cell* remove(Cell* series, Cell* part, Cell* key);
Cell* select(Cell* series, Cell* value, const datatype::FindOptions& options);
Cell* take(Cell* series, Cell* part, bool deep, bool last);
}  // namespace none_type

namespace logic {

Cell* make(Cell* proto, Cell* spec, uint32_t type);
Cell* to(Cell* proto, Cell* spec, uint32_t type);
int32_t form(const Cell* value, node_t out, bool part, int32_t limit);
int32_t mold(const Cell* value, node_t out, const datatype::MoldOptions& options, int32_t limit, int32_t indent);
int32_t compare(const Cell* a, const Cell* b, CompareOp op);
Cell* random(Cell* value, bool seed, bool secure, bool only);
// Direct slots: the first two argument cells, the result in the first.
void and_t();
void or_t();
void xor_t();
Cell* complement(Cell* value);

}  // namespace logic
}  // namespace qel
