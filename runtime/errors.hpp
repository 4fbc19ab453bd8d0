// Raising language errors.
//
// An error is named by its code: category position x 100 + id position - 2.
// The raise builds an error! value while the call frames still describe the
// place of the error, then hands it to stack::throw_error, which carries it
// to the innermost try (or prints it and ends the process when there is
// none). Until the object system exists an error! value is a small cell
// series: [code, arg1, arg2, arg3, where, stack]; its cell holds the node in
// word 1 and class id 1 in word 2.
#pragma once
#include <cstdint>

#include "runtime/cell.hpp"

namespace qel {

namespace err {
enum Category : int {
    THROW = 0, NOTE = 1, SYNTAX = 2, SCRIPT = 3, MATH = 4, ACCESS = 5,
    RESERVED1 = 6, RESERVED2 = 7, USER = 8, INTERNAL = 9,
};
// Throw errors: an exit that found no target.
constexpr int NO_LOOP_BREAK = 0;
constexpr int NO_FUNCTION_RETURN = 1;
constexpr int NO_CATCH_THROW = 2;
constexpr int NO_LOOP_CONTINUE = 3;
constexpr int WHILE_COND = 4;
// Script errors.
constexpr int NO_VALUE = 300;
constexpr int NEED_VALUE = 301;
constexpr int NOT_DEFINED = 302;
constexpr int NOT_IN_CONTEXT = 303;
constexpr int EXPECT_ARG = 305;
constexpr int INVALID_ARG = 309;
constexpr int BAD_MAKE_ARG = 353;
constexpr int INVALID_CHAR = 360;   // a code point beyond U+10FFFF
// Access errors.
constexpr int INVALID_UTF8 = 502;
// Internal errors of the runtime core.
constexpr int BAD_PATH = 900;
constexpr int NOT_HERE = 901;
constexpr int NO_MEMORY = 902;
constexpr int WRONG_MEM = 903;
constexpr int STACK_OVERFLOW = 904;
constexpr int LIMIT_HIT = 905;
constexpr int TOO_DEEP = 906;
constexpr int NO_CYCLE = 907;
constexpr int FEATURE_NA = 908;
constexpr int NOT_DONE = 909;
constexpr int INVALID_ERROR = 910;
constexpr int ROUTINES = 911;
constexpr int QEL_SYSTEM = 912;
constexpr int DEPRECATED = 913;

// Fields of the error series.
enum Field : uint32_t { F_CODE = 0, F_ARG1 = 1, F_ARG2 = 2, F_ARG3 = 3, F_WHERE = 4, F_STACK = 5, FIELDS = 6 };

[[noreturn]] void raise(int code);
// Missing arguments stay none.
[[noreturn]] void raise(int code, const Cell* arg1, const Cell* arg2 = nullptr, const Cell* arg3 = nullptr);

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
// "*** <category>: <message>" and "*** Where: <word or ???>".
void print(const Cell* error);
// Prints the error in flight by its code alone, for exits that carry no
// value (before the stacks exist).
void print_pending();
}  // namespace err

}  // namespace qel
