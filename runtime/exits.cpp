// Non-local exits as C++ exceptions.
#include "runtime/exits.hpp"

#include <cstdint>

#include "runtime/system.hpp"

#if defined(__SANITIZE_ADDRESS__)
#define QEL_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define QEL_ASAN 1
#endif
#endif
#ifdef QEL_ASAN
#include <sanitizer/asan_interface.h>
#endif

namespace qel {

uint32_t pending_exit = 0;

namespace {

// Under AddressSanitizer the frames that an exception leaves keep the
// poison of their guard zones, and code that later reuses that memory
// without instrumentation of its own (the unwinder, the C++ library) trips
// over it. The sanitizer clears the used stack when an exception is
// thrown, but only while less than 64 MB of it is in use; the interpreter's
// stack is far larger, and an exit from deeper than that (a depth
// overflow of a C++ walk) would leave the poison behind. The same clearing,
// at any depth of the stack the language runs on.
inline void clear_stack_poison() {
#ifdef QEL_ASAN
    const auto here = reinterpret_cast<uintptr_t>(__builtin_frame_address(0));
    if (here < sys.stack_low || here >= sys.stack_high) return;
    __asan_unpoison_memory_region(reinterpret_cast<void*>(here), sys.stack_high - here);
#endif
}

}  // namespace

void raise_pending() {
    const uint32_t code = pending_exit;
    if (code == 0) return;
    pending_exit = 0;
    throw_exit(code);
}

void throw_exit(uint32_t code) {
    sys.thrown_code = code;
    clear_stack_poison();
    throw NonLocalExit{code};
}

}  // namespace qel
