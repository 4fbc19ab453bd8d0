// The cycle marker of form and mold: what is written in place of a series
// or object met again inside itself.
#include "datatypes/mold.hpp"

#include <cstring>

#include "datatypes/text.hpp"

namespace qel::mold {

bool cycle_marker(const Cell* value, node_t out, int32_t* limit, bool molding) {
    const uint32_t type = cell::type_of(value);
    const node_t key = type == TYPE_OBJECT ? object_context(value) : series_node(value);
    if (!cycles::find(key)) return false;
    const char* marker = "...";
    if (molding) {
        switch (type) {
            case TYPE_BLOCK: case TYPE_HASH: marker = "[...]"; break;
            case TYPE_PAREN: marker = "(...)"; break;
            case TYPE_MAP: marker = "#[...]"; break;
            case TYPE_OBJECT: marker = "make object! [...]"; break;
            default: break;
        }
    }
    const size_t n = std::strlen(marker);
    text::append_latin1(out, marker, n);
    *limit = spend(*limit, static_cast<int64_t>(n));
    return true;
}

}  // namespace qel::mold
