// percent!: a float! whose text is the value times 100 followed by "%"
// (the value 0.5 is written 50%). Everything but form and mold is float!'s.
#pragma once
#include <cstdint>

#include "runtime/cell.hpp"

namespace qel::percent_type {

// Each makes a percent! holding the fraction d (flags of an existing cell
// kept).
Cell* make_at(Cell* c, double d);
Cell* make_from_words(Cell* c, uint32_t low, uint32_t high);
Cell* push(double d);
Cell* append_at(const Cell* block, double d);  // valid until the next allocation
// The fraction in the argument base.
double get_top();

}  // namespace qel::percent_type
