// Number text: integer, float and money scanning over string units
// of any width. Characters outside ASCII never belong to a number, so wide
// units are narrowed to bytes only after that test.
#include "datatypes/number_text.hpp"

#include <cstring>
#include <limits>
#include <string>

#include "datatypes/float_text.hpp"
#include "datatypes/money.hpp"

namespace qel::number_text {

namespace {

uint32_t unit_at(const void* chars, uint32_t unit, uint32_t i) {
    const uint8_t* p = static_cast<const uint8_t*>(chars);
    if (unit == 1) return p[i];
    if (unit == 2) {
        uint16_t u;
        std::memcpy(&u, p + 2 * i, 2);
        return u;
    }
    uint32_t u;
    std::memcpy(&u, p + 4 * i, 4);
    return u;
}

bool is_digit(uint32_t c) { return c >= '0' && c <= '9'; }

// Digits in which "'" may follow a digit; answers the count of digits and
// leaves i on the first character that does not belong. last_quote tells
// whether the run ended on a "'".
size_t digit_run(const char* s, size_t n, size_t& i, bool& last_quote) {
    size_t digits = 0;
    last_quote = false;
    bool after_digit = false;
    while (i < n) {
        if (is_digit(static_cast<unsigned char>(s[i]))) {
            digits++;
            after_digit = true;
            last_quote = false;
        } else if (s[i] == '\'' && after_digit) {
            after_digit = false;
            last_quote = true;
        } else {
            break;
        }
        i++;
    }
    return digits;
}

}  // namespace

bool float_syntax(const char* s, size_t n) {
    if (n >= FLOAT_TEXT_LIMIT) return false;
    size_t i = 0;
    while (i < n && (s[i] == '+' || s[i] == '-')) i++;
    bool quote = false;
    const size_t whole = digit_run(s, n, i, quote);
    bool point = false;
    size_t fraction = 0;
    if (i < n && s[i] == '.') {
        if (quote) return false;
        point = true;
        i++;
        fraction = digit_run(s, n, i, quote);
    }
    if (whole == 0 && !point) return false;
    if (i < n && (s[i] == 'e' || s[i] == 'E')) {
        if (quote || (point && fraction == 0 && whole > 0)) return false;
        i++;
        if (i < n && (s[i] == '+' || s[i] == '-')) i++;
        const size_t start = i;
        while (i < n && is_digit(static_cast<unsigned char>(s[i]))) i++;
        if (i == start) return false;
    }
    return i == n;
}

int32_t scan_decimal_integer(const void* chars, uint32_t count, uint32_t unit, int32_t* status) {
    *status = STATUS_OK;
    uint32_t i = 0;
    bool negative = false;
    if (count > 0 && (unit_at(chars, unit, 0) == '-' || unit_at(chars, unit, 0) == '+'))
        negative = unit_at(chars, unit, i++) == '-';
    int32_t value = 0;
    bool any = false;
    for (; i < count; i++) {
        const uint32_t c = unit_at(chars, unit, i);
        if (c == '\'') continue;
        if (!is_digit(c)) {
            *status = STATUS_INVALID;
            return 0;
        }
        any = true;
        const int32_t d = static_cast<int32_t>(c - '0');
        int32_t next;
        // Accumulating toward the sign keeps the one value without a
        // positive counterpart, -2147483648, in range.
        if (__builtin_mul_overflow(value, 10, &next) ||
            (negative ? __builtin_sub_overflow(next, d, &next) : __builtin_add_overflow(next, d, &next))) {
            *status = STATUS_OVERFLOW;
            return 0;
        }
        value = next;
    }
    if (!any) *status = STATUS_INVALID;
    return value;
}

double scan_float(const void* chars, uint32_t count, uint32_t unit, int32_t* status, int32_t adjust) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    *status = STATUS_INVALID;
    if (count == 0 || count >= FLOAT_TEXT_LIMIT) return nan;
    char text[FLOAT_TEXT_LIMIT];
    for (uint32_t i = 0; i < count; i++) {
        const uint32_t c = unit_at(chars, unit, i);
        if (c > 127) return nan;
        text[i] = c == ',' ? '.' : static_cast<char>(c);
    }
    if (!float_syntax(text, count)) return nan;
    size_t n = 0;
    for (uint32_t i = 0; i < count; i++)
        if (text[i] != '\'') text[n++] = text[i];
    size_t unparsed = 0;
    const double v = float_text::parse(text, text + n, adjust, &unparsed);
    if (unparsed != 0) return nan;
    *status = STATUS_OK;
    return v;
}

namespace {
bool is_ascii_letter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
}  // namespace

bool money_syntax(const char* s, size_t n, bool dollar_optional, MoneyText& out) {
    out = MoneyText{};
    size_t i = 0;
    if (i < n && (s[i] == '+' || s[i] == '-')) out.negative = s[i++] == '-';
    if (n - i >= 5 && is_ascii_letter(s[i]) && is_ascii_letter(s[i + 1]) && is_ascii_letter(s[i + 2]) &&
        s[i + 3] == '$') {
        out.code = s + i;
        i += 3;
    }
    if (i < n && s[i] == '$') i++;
    else if (out.code || !dollar_optional) return false;
    out.start = s + i;
    bool leading = true;
    for (; i < n; i++) {
        const char c = s[i];
        const bool after_digit = i > 0 && is_digit(static_cast<unsigned char>(s[i - 1])) && s + i > out.start;
        const bool before_digit = i + 1 < n && is_digit(static_cast<unsigned char>(s[i + 1]));
        if (is_digit(static_cast<unsigned char>(c))) {
            if (out.point) {
                out.fraction_digits++;
            } else if (!leading || c != '0') {
                leading = false;
                out.integer_digits++;
            }
        } else if (c == '\'' && !out.point) {
            if (!after_digit || !before_digit) return false;
        } else if (c == '.' && !out.point) {
            if (!after_digit || !before_digit) return false;
            out.point = s + i;
        } else {
            return false;
        }
    }
    out.end = s + n;
    return out.end > out.start;
}

void scan_money(const void* chars, uint32_t count, uint32_t unit, Cell* out, int32_t* status) {
    *status = STATUS_INVALID;
    std::string text(count, '\0');
    for (uint32_t i = 0; i < count; i++) {
        const uint32_t c = unit_at(chars, unit, i);
        if (c > 127) return;
        text[i] = static_cast<char>(c);
    }
    MoneyText m;
    if (!money_syntax(text.data(), text.size(), true, m)) return;
    if (m.integer_digits > money::INTEGER_DIGITS) {
        *status = STATUS_OVERFLOW;
        return;
    }
    if (money::make_at_from_string(out, m.negative, m.code, m.start, m.point, m.end)) *status = STATUS_OK;
}

}  // namespace qel::number_text
