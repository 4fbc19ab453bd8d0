// Float text: shortest and fixed-precision writing, correctly rounded
// reading. The digit work is delegated to std::to_chars / std::from_chars,
// which are exact and locale-free; this file owns the layout of the text and
// the normalisation of what is read (signs, leading and trailing zeros,
// saturating exponents), so the library only ever sees a canonical
// "digits e exponent" string whose exponent fits easily in an int.
#include "datatypes/float_text.hpp"

#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>

namespace qel::float_text {

namespace {

bool is_digit(char c) { return c >= '0' && c <= '9'; }

size_t put(char* out, const char* s) {
    const size_t n = std::strlen(s);
    std::memcpy(out, s, n + 1);
    return n;
}

}  // namespace

void dtoa(double v, int32_t precision, Digits& out) {
    out.negative = std::signbit(v);
    out.count = 0;
    out.digits[0] = 0;
    if (!std::isfinite(v)) {
        out.exponent = EXP_SPECIAL;
        return;
    }
    if (v == 0) {
        out.exponent = EXP_ZERO;
        return;
    }
    // Scientific form "d.ddde+XX": the digits are the mantissa without its
    // point, the exponent tells where the point belongs.
    char buf[64];
    const double mag = std::fabs(v);
    std::to_chars_result r = precision <= 0
                                 ? std::to_chars(buf, buf + sizeof buf, mag, std::chars_format::scientific)
                                 : std::to_chars(buf, buf + sizeof buf, mag, std::chars_format::scientific,
                                                 precision > 30 ? 29 : precision - 1);
    *r.ptr = 0;
    const char* p = buf;
    int32_t n = 0;
    for (; *p && *p != 'e'; p++)
        if (is_digit(*p)) out.digits[n++] = *p;
    while (n > 1 && out.digits[n - 1] == '0') n--;
    out.digits[n] = 0;
    out.count = n;
    int32_t e = 0;
    std::from_chars(p + 1 + (p[1] == '+'), r.ptr, e);
    out.exponent = e + 1;
}

size_t format(double v, int32_t precision, bool decimal_point, char* out) {
    Digits d;
    dtoa(v, precision, d);
    if (d.exponent == EXP_SPECIAL) return put(out, std::isnan(v) ? "1.#NaN" : d.negative ? "-1.#INF" : "1.#INF");
    if (d.exponent == EXP_ZERO)
        return put(out, d.negative ? (decimal_point ? "-0.0" : "-0") : (decimal_point ? "0.0" : "0"));

    char* p = out;
    if (d.negative) *p++ = '-';
    const int32_t e = d.exponent, n = d.count;
    if (e >= 18 || e < -6) {
        *p++ = d.digits[0];
        if (n > 1) {
            *p++ = '.';
            std::memcpy(p, d.digits + 1, static_cast<size_t>(n - 1));
            p += n - 1;
        } else if (decimal_point) {
            *p++ = '.';
            *p++ = '0';
        }
        *p++ = 'e';
        p = std::to_chars(p, out + FORMAT_MAX - 1, e - 1).ptr;
    } else if (e < 1) {
        *p++ = '0';
        *p++ = '.';
        for (int32_t i = 0; i < -e; i++) *p++ = '0';
        std::memcpy(p, d.digits, static_cast<size_t>(n));
        p += n;
    } else {
        for (int32_t i = 0; i < e; i++) *p++ = i < n ? d.digits[i] : '0';
        if (n > e) {
            *p++ = '.';
            std::memcpy(p, d.digits + e, static_cast<size_t>(n - e));
            p += n - e;
        } else if (decimal_point) {
            *p++ = '.';
            *p++ = '0';
        }
    }
    *p = 0;
    return static_cast<size_t>(p - out);
}

namespace {

// Significant digits kept for the conversion. Deciding the rounding of a
// double never needs more than 768 of them; further digits only matter as
// "something non-zero follows", which one sticky digit preserves.
constexpr int32_t KEPT_DIGITS = 780;
// Exponent magnitudes beyond this already make any digit string overflow or
// underflow; stopping the accumulation here keeps the arithmetic in range.
constexpr int64_t EXPONENT_CAP = 1000000;

}  // namespace

double parse(const char* start, const char* end, int32_t adjust, size_t* unparsed) {
    const char* p = start;
    bool negative = false;
    if (p < end && (*p == '+' || *p == '-')) negative = *p++ == '-';

    // d.#INF and d.#NaN, the spellings format writes for the special values.
    if (end - p >= 4 && is_digit(p[0]) && p[1] == '.' && p[2] == '#') {
        const char c = p[3];
        if (c == 'I' || c == 'i' || c == 'N' || c == 'n') {
            p += 4;
            while (p < end && ((*p >= 'A' && *p <= 'Z') || (*p >= 'a' && *p <= 'z'))) p++;
            if (unparsed) *unparsed = static_cast<size_t>(end - p);
            if (c == 'N' || c == 'n') return std::numeric_limits<double>::quiet_NaN();
            return negative ? -HUGE_VAL : HUGE_VAL;
        }
    }

    char buf[KEPT_DIGITS + 32];
    int32_t n = 0;           // significant digits kept in buf
    int64_t exp10 = 0;       // value = buf digits x 10^exp10
    bool seen_digit = false;
    bool sticky = false;     // a non-zero digit was dropped
    auto take = [&](char c, bool fraction) {
        seen_digit = true;
        if (n == 0 && c == '0') {
            if (fraction) exp10--;
            return;
        }
        if (n < KEPT_DIGITS) {
            buf[n++] = c;
            if (fraction) exp10--;
        } else {
            if (c != '0') sticky = true;
            if (!fraction) exp10++;
        }
    };
    for (; p < end && is_digit(*p); p++) take(*p, false);
    if (p < end && *p == '.') {
        const char* q = p + 1;
        for (; q < end && is_digit(*q); q++) take(*q, true);
        // A lone "." is not a number: with no digit on either side nothing
        // has been read.
        if (seen_digit) p = q;
    }
    if (!seen_digit) {
        if (unparsed) *unparsed = static_cast<size_t>(end - start);
        return 0.0;
    }
    if (p + 1 < end && (*p == 'e' || *p == 'E')) {
        const char* q = p + 1;
        bool exp_negative = false;
        if (*q == '+' || *q == '-') exp_negative = *q++ == '-';
        if (q < end && is_digit(*q)) {
            int64_t x = 0;
            for (; q < end && is_digit(*q); q++)
                if (x < EXPONENT_CAP) x = x * 10 + (*q - '0');
            exp10 += exp_negative ? -x : x;
            p = q;
        }
    }
    if (unparsed) *unparsed = static_cast<size_t>(end - p);

    exp10 += adjust;
    if (sticky) buf[n++] = '1', exp10--;
    while (n > 0 && buf[n - 1] == '0') n--, exp10++;
    double value = 0.0;
    if (n > 0) {
        // The value lies in [10^(pos-1), 10^pos): beyond these bounds it is
        // certainly infinite or zero, and within them the exponent is small.
        const int64_t pos = exp10 + n;
        if (pos > 310) {
            value = HUGE_VAL;
        } else if (pos >= -330) {
            char* q = buf + n;
            *q++ = 'e';
            q = std::to_chars(q, buf + sizeof buf, static_cast<int32_t>(exp10)).ptr;
            const std::from_chars_result r = std::from_chars(buf, q, value);
            if (r.ec == std::errc::result_out_of_range) value = pos > 0 ? HUGE_VAL : 0.0;
        }
    }
    return negative ? -value : value;
}

}  // namespace qel::float_text
