// Searching, sorting and the set operations on blocks.
#pragma once
#include "evaluator/actions.hpp"

namespace qel::block {
Cell* find(Cell* series, Cell* value, Cell* part, bool only, bool case_sensitive, bool same, bool any, Cell* with,
           Cell* skip, bool last, bool reverse, bool tail, bool match);
Cell* select(Cell* series, Cell* value, Cell* part, bool only, bool case_sensitive, bool same, bool any, Cell* with,
             Cell* skip, bool last, bool reverse);
Cell* sort(Cell* series, bool case_sensitive, Cell* skip, Cell* comparator, Cell* part, bool all, bool reverse,
           bool stable);
}  // namespace qel::block
