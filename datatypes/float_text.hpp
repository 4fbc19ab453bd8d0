// Float text: the one conversion between doubles and decimal text.
//
// Writing gives either the shortest digit string that reads back to the
// same double or a correctly rounded number of significant digits, laid out
// in the language's float notation: plain from 1e-7 up to below 1e17,
// scientific outside ("1.0e17", "1.0e-8"), and the fixed spellings 1.#INF,
// -1.#INF and 1.#NaN. Reading is correctly rounded (ties to even) for any
// number of digits and any exponent. Both directions are locale-free: the
// digits come from std::to_chars and std::from_chars, which never consult
// LC_NUMERIC, over text this module has validated and normalised itself.
#pragma once
#include <cstddef>
#include <cstdint>

namespace qel::float_text {

// Decimal exponents of the special values, as dtoa reports them.
constexpr int32_t EXP_SPECIAL = 9999;  // infinities and NaN
constexpr int32_t EXP_ZERO = 9998;     // +0.0 and -0.0

// The longest text format writes, terminating zero included: sign, 17
// digits, point, "e-324" and slack.
constexpr size_t FORMAT_MAX = 40;

struct Digits {
    char digits[32];    // zero-terminated significant digits, no trailing zeros
    int32_t count;      // number of digits
    int32_t exponent;   // the point sits after this many digits (0.1 -> 0, 10.0 -> 2)
    bool negative;      // the sign bit (reported for NaN too; format ignores it)
};

// precision 0: the shortest digits that read back to v; precision n > 0:
// the n significant digits correctly rounded (at most 30), trailing zeros
// dropped.
// Infinities and NaN give EXP_SPECIAL, zeros EXP_ZERO (digits empty).
void dtoa(double v, int32_t precision, Digits& out);

// The text of v in out (at least FORMAT_MAX bytes), zero-terminated;
// answers its length. With decimal_point a whole number keeps ".0"
// ("1.0", "1.0e20", "0.0"); without it the point goes ("1", "1e20", "0").
size_t format(double v, int32_t precision, bool decimal_point, char* out);

// The double nearest to the value of the text times 10^adjust. unparsed
// receives the number of characters after the last one read: 0 when the
// whole text was a number, the whole length when no digit was found.
// Accepted: an optional sign, digits with an optional "." and fraction,
// an optional exponent ("e" or "E", optional sign, digits), and the
// spellings d.#INF / d.#NaN (letters in either case). Exponents of any
// length saturate, so 1e4294967297 is infinity, never a wrapped exponent.
double parse(const char* start, const char* end, int32_t adjust, size_t* unparsed);

}  // namespace qel::float_text
