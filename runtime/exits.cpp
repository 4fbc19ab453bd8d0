// Non-local exits as C++ exceptions.
#include "runtime/exits.hpp"

#include "runtime/system.hpp"

namespace qel {

void throw_exit(uint32_t code) {
    sys.thrown_code = code;
    throw NonLocalExit{code};
}

}  // namespace qel
