// Raising language errors.
//
// An error is named by its code: category position x 100 + id position - 2.
// The raise builds an error! value while the call frames still describe the
// place of the error, then hands it to stack::throw_error, which carries it
// to the innermost try (or prints it and ends the process when there is
// none). An error! value is an object of class 1 (datatypes/error.hpp);
// while the catalogue does not exist yet, or when building one fails, a
// bare error travels instead: no context (word 1 is 0), its code in word 3.
#pragma once
#include <cstdint>

#include "runtime/cell.hpp"
#include "runtime/error_codes.hpp"

namespace qel {

namespace err {
enum Category : int {
    THROW = 0, NOTE = 1, SYNTAX = 2, SCRIPT = 3, MATH = 4, ACCESS = 5,
    RESERVED1 = 6, RESERVED2 = 7, USER = 8, INTERNAL = 9,
};
// Fields of an error, by position.
enum Field : uint32_t {
    F_CODE = 0, F_TYPE = 1, F_ID = 2, F_ARG1 = 3, F_ARG2 = 4, F_ARG3 = 5,
    F_NEAR = 6, F_WHERE = 7, F_STACK = 8, F_FILES = 9, FIELDS = 10,
};

[[noreturn]] void raise(int code);
// Missing arguments stay none.
[[noreturn]] void raise(int code, const Cell* arg1, const Cell* arg2 = nullptr, const Cell* arg3 = nullptr);
// The datatype! of the type id as the one argument.
[[noreturn]] void raise_with_type(int code, uint32_t type);

// An error! value for the code; the arguments are copied.
Cell make(int code, const Cell* arg1 = nullptr, const Cell* arg2 = nullptr, const Cell* arg3 = nullptr);
int code_of(const Cell* error);
// A copy of a field (none for a bare error).
Cell field(const Cell* error, Field f);
void set_where_if_none(Cell* error, const Cell* where);
void set_stack_if_not_block(Cell* error, const Cell& value);

// Category display text and message template of an error code; nullptr
// when the code is unknown here. In a template, @1 to @3 stand for the
// formed arguments.
const char* category_text(int code);
const char* message_of(int code);
// The error's display (category and message, Where, Near, and Stack and
// Files when recorded), one line each.
void print(const Cell* error);
// Prints the error in flight by its code alone, for exits that carry no
// value (before the stacks exist).
void print_pending();

// error! values are built and shown by the catalogue, which the error!
// datatype installs when it builds the catalogue at start-up: whether it is
// ready, a new error! pushed on the argument stack, and the display of an
// error appended to a text buffer. Until it is installed (or while it is
// not ready) errors travel bare.
struct Catalogue {
    bool (*ready)();
    Cell* (*push_error)(int code, const Cell* arg1, const Cell* arg2, const Cell* arg3);
    void (*form_display)(const Cell* error, node_t out);
};
extern Catalogue catalogue;

// The tracer, installed by the evaluator at start-up: its active flag and
// the event it fires for an error, before anything unwinds.
struct Tracer {
    const bool* active;
    void (*on_error)(const Cell* error);
};
extern Tracer tracer;
}  // namespace err

}  // namespace qel
