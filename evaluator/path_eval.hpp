// Path evaluation: a walk from the value of the path's first word through
// the following elements, each selected through the current value's
// eval-path slot. A function met on the way is called with the rest of the
// path as its refinements and the code after the path as its arguments.
#pragma once
#include <cstdint>

#include "runtime/cell.hpp"

namespace qel::path_eval {

enum Mode : uint32_t { CALL = 0, GET = 1, SET = 2 };

// block and position are the code after the path (a called function takes
// its arguments there). In SET mode the new value is the cell on the top
// of the stack. The result is pushed (sub) or becomes the running call's
// result. case_sensitive makes the key comparisons of the elements strict
// (get/case and set/case). Answers the position after what a call consumed.
uint32_t eval_path(const Cell* path, const Cell* block, uint32_t position, Mode mode, bool sub,
                   bool case_sensitive = false);

}  // namespace qel::path_eval
