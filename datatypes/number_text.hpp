// Number text: turning the characters of a string value into an integer,
// a float or a money amount, with the syntax the lexer accepts
// for those literals. Strings come in any unit width (1, 2 or 4 bytes per
// character); failure is reported through a status rather than raised, so
// each datatype raises its own conversion error. The float literal syntax
// check lives here too, shared with the lexer's float loader.
#pragma once
#include <cstddef>
#include <cstdint>

#include "runtime/cell.hpp"

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

// The parts of a money text: an optional sign, an optional currency code
// of 3 ASCII letters, "$", then digits with "'" between two of them and at
// most one "." between a digit and a digit (no "'" after it).
struct MoneyText {
    bool negative = false;
    const char* code = nullptr;   // the 3 letters, or nullptr
    const char* start = nullptr;  // the first digit
    const char* point = nullptr;  // the ".", or nullptr
    const char* end = nullptr;
    uint32_t integer_digits = 0;  // without leading zeros
    uint32_t fraction_digits = 0;
};
// Whether s[0..n) is a money text; "$" may be left out before the digits
// when there is no currency code and dollar_optional is set.
bool money_syntax(const char* s, size_t n, bool dollar_optional, MoneyText& out);

// A money text into out. "$" is optional without a currency code; fraction
// digits beyond five are cut. Status STATUS_INVALID when the text is not
// money or names no listed currency, STATUS_OVERFLOW when it has more than
// 17 integer digits after its leading zeros.
void scan_money(const void* chars, uint32_t count, uint32_t unit, Cell* out, int32_t* status);

}  // namespace qel::number_text
