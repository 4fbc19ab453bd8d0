// Fields of the `system` object as the runtime reads them.
#pragma once
#include <initializer_list>
#include <string_view>

#include "runtime/cell.hpp"

namespace qel::system_object {

// The value cell at the path of field names under `system` (for example
// {"locale", "months"}), or nullptr while the system object or a field on
// the way is missing or not an object. A map! on the way is stepped into
// by word key (the codecs). The cell is the field's own: a write through
// it changes the field quietly.
Cell* field(std::initializer_list<const char*> path);

// The same for a path written with slashes after "system/", such as
// "system/codecs/qelbin/decode"; nullptr for text not starting so.
Cell* field_at(std::string_view path);

}  // namespace qel::system_object
