// Non-local exits as C++ exceptions.
#include "runtime/exits.hpp"

#include "runtime/system.hpp"

namespace qel {

uint32_t pending_exit = 0;

void raise_pending() {
    const uint32_t code = pending_exit;
    if (code == 0) return;
    pending_exit = 0;
    throw_exit(code);
}

void throw_exit(uint32_t code) {
    sys.thrown_code = code;
    throw NonLocalExit{code};
}

}  // namespace qel
