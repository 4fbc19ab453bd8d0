// Raising errors by code. The error is recorded in the system record and
// carried to the nearest region that takes error exits.
#include "runtime/errors.hpp"

#include "runtime/exits.hpp"
#include "runtime/lowprint.hpp"
#include "runtime/system.hpp"

namespace qel::err {

namespace {

struct Message {
    int code;
    const char* text;
};

constexpr Message internal_messages[] = {
    {BAD_PATH, "bad path:"},
    {NOT_HERE, "not supported on your system"},
    {NO_MEMORY, "not enough memory"},
    {WRONG_MEM, "failed to release memory"},
    {STACK_OVERFLOW, "stack overflow"},
    {LIMIT_HIT, "internal limit reached:"},
    {TOO_DEEP, "block or paren series is too deep to process"},
    {NO_CYCLE, "circular reference not allowed"},
    {FEATURE_NA, "feature not available"},
    {NOT_DONE, "reserved for future use (or not yet implemented)"},
    {INVALID_ERROR, "invalid error object field value:"},
};

}  // namespace

void raise(int code) {
    sys.pending_error = code;
    throw_exit(catch_code::ERROR);
}

const char* category_text(int code) {
    return code / 100 == INTERNAL ? "Internal Error" : nullptr;
}

const char* message_of(int code) {
    for (const Message& m : internal_messages)
        if (m.code == code) return m.text;
    return nullptr;
}

void print_pending() {
    int code = sys.pending_error;
    const char* category = category_text(code);
    const char* message = message_of(code);
    using rt::PrintItem;
    if (category && message) {
        rt::print_values_line({PrintItem::cstr("*** "), PrintItem::cstr(category), PrintItem::cstr(": "),
                               PrintItem::cstr(message)});
    } else {
        rt::print_values_line({PrintItem::cstr("*** Error: code "), PrintItem::integer(code)});
    }
    rt::print_values_line({PrintItem::cstr("*** Where: ???")});
}

}  // namespace qel::err
