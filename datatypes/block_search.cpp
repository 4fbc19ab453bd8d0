// Searching, sorting and the set operations on blocks.
#include "datatypes/block_search.hpp"

#include "runtime/errors.hpp"

namespace qel::block {
Cell* find(Cell*, Cell*, Cell*, bool, bool, bool, bool, Cell*, Cell*, bool, bool, bool, bool) {
    err::raise(err::NOT_DONE);
}
Cell* select(Cell*, Cell*, Cell*, bool, bool, bool, bool, Cell*, Cell*, bool, bool) { err::raise(err::NOT_DONE); }
Cell* sort(Cell*, bool, Cell*, Cell*, Cell*, bool, bool, bool) { err::raise(err::NOT_DONE); }
}  // namespace qel::block
