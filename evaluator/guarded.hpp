// Runs C++ code that evaluates language code inside a try region of its
// own: an error raised in it comes back here instead of ending the process.
#pragma once
#include "runtime/exits.hpp"
#include "runtime/stack.hpp"
#include "runtime/system.hpp"

namespace qel::interp {

// Answers false when the body stopped on an error (which is dropped) or
// answered false itself; the stacks are as they were before the body.
// Exits other than errors pass through.
template <class Body>
bool guarded(Body&& body) {
    stack::Saved saved;
    stack::mark_try(nullptr);
    bool ok = false;
    try {
        ok = body();
    } catch (const NonLocalExit& e) {
        if (e.code != catch_code::ERROR) throw;
        sys.thrown_code = 0;
        // The error may have left the top anywhere up to the end of the
        // stack.
        saved.restore();
        stack::error_in_flight = Cell{TYPE_UNSET, 0, 0, 0};
    }
    // An exit that found no target raised its error already; none can be
    // left pending out here, but a stray one must not leak into the caller.
    pending_exit = 0;
    return ok;
}

}  // namespace qel::interp
