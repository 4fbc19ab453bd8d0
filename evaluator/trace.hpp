// Trace hooks: the interpreter reports its steps to a user function.
//
// `do/trace` installs a callback for the evaluation of one block; while it
// runs, the interpreter and the call machinery fire events at fixed points
// (entering and leaving blocks, fetching and pushing values, opening and
// returning from calls, set-words, errors, throws and catches). Each fire
// site tests `active` first, so an untraced program pays one predictable
// branch per site and nothing else.
//
// Tracing is off inside the callback itself and inside the bodies of
// built-in (library) functions, which count as one step: the call of a
// library function is reported at its call site, its body is not.
#pragma once
#include <cstdint>

#include "datatypes/function.hpp"
#include "runtime/cell.hpp"

namespace qel::trace {

enum Event : uint32_t {
    INIT = 0x0001, END = 0x0002, PROLOG = 0x0004, EPILOG = 0x0008,
    ENTER = 0x0010, EXIT = 0x0020, OPEN = 0x0040, RETURN = 0x0080,
    FETCH = 0x0100, PUSH = 0x0200, SET = 0x0400, CALL = 0x0800,
    ERROR = 0x1000, THROW = 0x2000, CATCH = 0x4000, EXPR = 0x8000,
};
constexpr uint32_t DEFAULT_MASK = 0x0001FFFF;

// function! header flags: the spec attributes `trace` and `no-trace` (see
// datatypes/function.hpp), and the built-in mark that library functions
// carry.
using function::FN_TRACE;
using function::FN_NO_TRACE;
using function::FN_BUILT_IN;

// Events fire while active is set. installed stays set for the whole
// `do/trace`, so that a `trace` function inside an untraced stretch can
// switch events back on.
extern bool active;
extern bool installed;
extern uint32_t mask;

// Start-up: reserves the callback's cell in the root block.
void init();

// The events a callback asks for by name, for the interpreter's trace and
// the lexer's: bit b for each word of the block that starts its body
// naming names[b] (count at most 32), or every_event when the callback is
// no function! or its body starts with no block.
uint32_t events_named(const Cell* callback, const Cell* const* names, uint32_t count, uint32_t every_event);

// Calls the callback for the event when the mask has it. code is the
// block being evaluated (or null), position a cell index into it (the
// offset reported is -1 when it lies outside the block), ref the word,
// path or function concerned (reported for set, prolog, epilog, call and
// return only), value the value of the step (none when null). Every
// pointer is read before anything allocates.
void fire(uint32_t event, const Cell* code, uint32_t position, const Cell* ref, const Cell* value);

inline void on_error(const Cell* error) {
    if (active) [[unlikely]] fire(ERROR, nullptr, 0, nullptr, error);
}
inline void on_throw(const Cell* value) {
    if (active) [[unlikely]] fire(THROW, nullptr, 0, nullptr, value);
}
inline void on_catch(const Cell* value) {
    if (active) [[unlikely]] fire(CATCH, nullptr, 0, nullptr, value);
}

// One `do/trace`: installs the callback unless a trace is already
// installed (a nested `do/trace` keeps the outer one) and fires init;
// finish() fires end on the normal way out (a pending exit included),
// finish_unwinding() on the way out of an error or throw; the destructor
// uninstalls, however the evaluation ended, and so does the constructor
// when the callback raises at init.
class BodyScope;

class Session {
public:
    explicit Session(const Cell* callback);
    ~Session();
    void finish();
    void finish_unwinding();
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

private:
    static void uninstall();
    bool started_ = false;
    BodyScope* outer_scope_ = nullptr;
};

// The tracing state of one function body: off for built-in and no-trace
// functions, back to the installed state for trace functions; restored
// when the body is left, however it is left. The bodies of other
// functions leave the state alone, so that `trace false` in one of them
// lasts after it returns.
class BodyScope {
public:
    explicit BodyScope(uint32_t fn_header)
        : saved_(active), flags_(fn_header & (FN_BUILT_IN | FN_NO_TRACE | FN_TRACE)), outer_(innermost) {
        if (!flags_) return;
        innermost = this;
        if (flags_ & (FN_BUILT_IN | FN_NO_TRACE)) active = false;
        else active = installed;
    }
    ~BodyScope() {
        if (!flags_) return;
        active = saved_;
        innermost = outer_;
    }
    BodyScope(const BodyScope&) = delete;
    BodyScope& operator=(const BodyScope&) = delete;

private:
    friend class Session;
    friend bool caller_tracing();
    friend void set_tracing(bool on);
    // The scope that entered the library from the program: the outermost
    // of the built-in scopes around the innermost body. Null outside the
    // library.
    static BodyScope* library_entry();
    static BodyScope* innermost;
    bool saved_;
    uint32_t flags_;
    BodyScope* outer_;
};

// Whether events reach the code that called into the library (inside a
// library function's body they never do): what `tracing?` answers.
bool caller_tracing();
// Switches the events for the rest of the run from the code that called
// into the library (`trace true`, `trace false`); no run installed, they
// stay off.
void set_tracing(bool on);

// Who calls a function back, by the bit that system/state/callbacks/bits
// gives the kind: while a trace runs, the body of a lexer, parse or sort
// callback is traced only when its kind's bit is set there. Other calls
// (Plain) leave tracing as it is.
enum class CallbackKind : uint32_t { Plain = 0, Lexer = 1, Parse = 2, Sort = 4 };

// Calls a function! with the given values as its arguments, taken as they
// are (not evaluated): missing arguments are none, extra ones dropped,
// refinements off. The result is pushed; the argument cells stay intact
// just above it until the next push, so a caller may read back what the
// function did to its own arguments (the lexer's callback moves its input
// that way). Answers the result's cell.
Cell* call_with_values(const Cell* fn, const Cell* name, const Cell* args, uint32_t count,
                       CallbackKind kind = CallbackKind::Plain);

}  // namespace qel::trace
