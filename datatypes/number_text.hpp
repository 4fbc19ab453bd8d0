// Number text: turning the characters of a string value into an integer
// or a float, with the syntax the lexer accepts
// for those literals. Strings come in any unit width (1, 2 or 4 bytes per
// character); failure is reported through a status rather than raised, so
// each datatype raises its own conversion error. The float literal syntax
// check lives here too, shared with the lexer's float loader.
#pragma once
#include <cstddef>
#include <cstdint>

namespace qel::number_text {

constexpr int32_t STATUS_OK = 0;
constexpr int32_t STATUS_INVALID = -1;
constexpr int32_t STATUS_OVERFLOW = -2;

// Texts this long or longer are never float literals.
constexpr size_t FLOAT_TEXT_LIMIT = 313;

// Whether bytes form a float literal: leading signs, digits in which a "'"
// may follow a digit (not another "'", not right before "." or the
// exponent), then "." and fraction digits under the same rule, or "." and
// fraction digits without integer digits, then an optional exponent ("e" or
// "E", optional sign, at least one digit). A "." right after integer digits
// may end the text but not lead into an exponent: "1." is a float literal,
// "1.e5" is not. Digit-only texts pass (they convert to floats too).
bool float_syntax(const char* s, size_t n);

// Optional sign, digits, "'" skipped anywhere. Status STATUS_INVALID for any
// other character and for a text without digits, STATUS_OVERFLOW outside
// the signed 32-bit range ("-2147483648" itself converts).
int32_t scan_decimal_integer(const void* chars, uint32_t count, uint32_t unit, int32_t* status);

// The float literal syntax with "," read as ".", apostrophes dropped, then
// the correctly rounded conversion. On failure (including texts of
// FLOAT_TEXT_LIMIT characters or more) a quiet NaN and STATUS_INVALID.
// The value is the text's times 10^adjust (-2 reads a percentage).
double scan_float(const void* chars, uint32_t count, uint32_t unit, int32_t* status, int32_t adjust = 0);

}  // namespace qel::number_text
