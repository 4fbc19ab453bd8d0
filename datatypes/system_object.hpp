// Fields of the `system` object as the runtime reads them.
#pragma once
#include <initializer_list>

#include "runtime/cell.hpp"

namespace qel::system_object {

// The value cell at the path of field names under `system` (for example
// {"locale", "months"}), or nullptr while the system object or a field on
// the way is missing or not an object. The cell is the field's own: a
// write through it changes the field quietly.
Cell* field(std::initializer_list<const char*> path);

}  // namespace qel::system_object
