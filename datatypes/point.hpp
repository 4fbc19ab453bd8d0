// point2D! and point3D!: small vectors of 32-bit floats held in the cell,
// written (1.5, 2) and (1, 2, 3). Every value entering a component is
// rounded to a 32-bit float; arithmetic runs in doubles and rounds on
// store, and like float! arithmetic it raises nothing on division by zero.
//
// Cell: words 1, 2 and 3 hold the bit patterns of x, y and z (z only for
// point3D!). No word holds a node id.
#pragma once
#include <cstdint>

#include "runtime/cell.hpp"
#include "runtime/compare_op.hpp"
#include "runtime/math_op.hpp"

namespace qel::point {

// Component i (0 x, 1 y, 2 z) of a point cell.
inline float component(const Cell* c, uint32_t i) { return point_coord(c, i); }

// Stores v rounded to a 32-bit float (overflowing to an infinity).
inline void set_component(Cell* c, uint32_t i, double v) { set_point_coord(c, i, static_cast<float>(v)); }

inline uint32_t dimensions(uint32_t type) { return type == TYPE_POINT3D ? 3 : 2; }

// Make c a point (keeping its header flags).
Cell* make2_at(Cell* c, double x, double y);
Cell* make3_at(Cell* c, double x, double y, double z);

// The arithmetic on the two cells at the argument base, the point first.
void do_math(MathOp op);

// Three-way comparison of two points of one type (a pair! second operand
// counts as a point2D!); -2 when b cannot be compared with a.
int32_t compare(const Cell* a, const Cell* b, CompareOp op);

}  // namespace qel::point
