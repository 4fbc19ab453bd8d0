// Non-local exits. A guarded region registers a 32-bit catch code and takes
// every exit whose code is at or below its own (compared unsigned); it
// rethrows the others. Exits are C++ exceptions carrying the code; the value
// they carry (an error, a thrown value) sits in the system record.
#pragma once
#include <cstdint>

namespace qel {

namespace catch_code {
constexpr uint32_t ERROR = 0x7FFFFFFF;
constexpr uint32_t BREAK = 0x7FFFFFFE;
constexpr uint32_t CONTINUE = 0x7FFFFFFD;
constexpr uint32_t RETURN = 0x7FFFFFFC;
constexpr uint32_t EXIT = 0x7FFFFFFB;
constexpr uint32_t THROW = 0x7FFFFFFA;
constexpr uint32_t LEXER = 10;
constexpr uint32_t TOP_LEVEL = 0xFFFFFFFF;
}  // namespace catch_code

struct NonLocalExit {
    uint32_t code;
};

[[noreturn]] void throw_exit(uint32_t code);

// break, continue, return and exit are the common case of a program, so the
// interpreter takes them without an exception: the thrower sets the stacks
// and leaves the code here, and every evaluation step that sees a pending
// exit returns at once, up to the loop or function body that takes it. C++
// code that runs user code and cannot pass the state upward turns it into
// an exception with raise_pending.
extern uint32_t pending_exit;

inline bool exit_pending() { return pending_exit != 0; }

// Takes the pending exit when its code is at or below the given catch code,
// answering the code taken (0 when none was pending or it is not ours).
inline uint32_t take_pending(uint32_t catch_code) {
    const uint32_t code = pending_exit;
    if (code == 0 || code > catch_code) return 0;
    pending_exit = 0;
    return code;
}

// Throws the pending exit as an exception; nothing happens when none is
// pending.
void raise_pending();

// Runs body inside a region with the given catch code; an exit the region
// takes goes to handler(code), any other is rethrown.
template <class Body, class Handler>
inline void catch_region(uint32_t code, Body&& body, Handler&& handler) {
    try {
        body();
    } catch (const NonLocalExit& e) {
        if (e.code > code) throw;
        handler(e.code);
    }
}

}  // namespace qel
