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
