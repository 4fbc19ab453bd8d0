// Raising language errors by code (category position x 100 + id position - 2).
// The raise never returns: it records the error in the system record and
// makes an error exit.
#pragma once
#include <cstdint>

namespace qel {

namespace err {
enum Category : int {
    THROW = 0, NOTE = 1, SYNTAX = 2, SCRIPT = 3, MATH = 4, ACCESS = 5,
    RESERVED1 = 6, RESERVED2 = 7, USER = 8, INTERNAL = 9,
};
// Script errors.
constexpr int INVALID_ARG = 309;
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

[[noreturn]] void raise(int code);
// Category text and message of an error code, for the error display;
// nullptr when the code is unknown here.
const char* category_text(int code);
const char* message_of(int code);
// Prints the error that is in flight ("*** Internal Error: ...").
void print_pending();
}  // namespace err

}  // namespace qel
