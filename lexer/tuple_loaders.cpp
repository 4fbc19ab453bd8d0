// Load routines of the tuple! (1.2.3), pair! (10x20) and point literals
// ((1, 2) and (1, 2, 3)). Like every loader, each validates the whole
// token before it builds anything, so a checking scan runs the same code
// without loading.
#include <cstring>

#include "datatypes/float_text.hpp"
#include "datatypes/number_text.hpp"
#include "datatypes/pair.hpp"
#include "datatypes/point.hpp"
#include "datatypes/tuple.hpp"
#include "lexer/loaders.hpp"

namespace qel::lexer::loaders {

namespace {

// One side of a pair: an integer literal (optional sign, digits, single
// apostrophes between them) that fits 32 bits.
bool pair_side(const uint8_t* p, const uint8_t* end, int32_t& out) {
    const uint8_t* q = p;
    if (q < end && (*q == '+' || *q == '-')) q++;
    if (q >= end || !is_digit(*q)) return false;
    for (; q < end; q++) {
        if (*q == '\'') {
            if (q + 1 < end && q[1] == '\'') return false;
        } else if (!is_digit(*q)) {
            return false;
        }
    }
    int32_t status = 0;
    out = number_text::scan_decimal_integer(p, static_cast<uint32_t>(end - p), 1, &status);
    return status == number_text::STATUS_OK;
}

// One coordinate of a point: a float literal or a d.#INF / d.#NaN form,
// blanks and tabs around it skipped.
bool coordinate(const uint8_t* p, const uint8_t* end, double& out) {
    auto blank = [](uint8_t b) { return b == ' ' || b == '\t' || b == '\r'; };
    while (p < end && blank(*p)) p++;
    while (end > p && blank(end[-1])) end--;
    const size_t n = static_cast<size_t>(end - p);
    if (n == 0 || n >= number_text::FLOAT_TEXT_LIMIT) return false;
    const char* text = reinterpret_cast<const char*>(p);
    size_t unparsed = 0;
    if (std::memchr(text, '#', n)) {
        out = float_text::parse(text, text + n, 0, &unparsed);
        return unparsed == 0;
    }
    if (!number_text::float_syntax(text, n)) return false;
    char buf[number_text::FLOAT_TEXT_LIMIT];
    size_t k = 0;
    for (size_t i = 0; i < n; i++)
        if (text[i] != '\'') buf[k++] = text[i];
    out = float_text::parse(buf, buf + k, 0, &unparsed);
    return unparsed == 0;
}

}  // namespace

// Numbers 0-255 joined by dots, 3 to 12 of them. A dot at the very end
// stands for a last byte of 0 (1.2. is 1.2.0); an empty field anywhere
// else is invalid.
void load_tuple(State& s, const uint8_t* start, const uint8_t* end, uint32_t, bool load) {
    uint8_t bytes[tuple::MAX_LENGTH];
    uint32_t n = 0;
    const uint8_t* p = start;
    for (;;) {
        uint32_t v = 0;
        const uint8_t* digits = p;
        while (p < end && is_digit(*p)) {
            v = v * 10 + (*p++ - '0');
            if (v > 255) error_invalid(s, TYPE_TUPLE, start);
        }
        if (p == digits && !(p == end && p > start && p[-1] == '.')) error_invalid(s, TYPE_TUPLE, start);
        if (n == tuple::MAX_LENGTH) error_invalid(s, TYPE_TUPLE, start);
        bytes[n++] = static_cast<uint8_t>(v);
        if (p == end) break;
        if (*p++ != '.') error_invalid(s, TYPE_TUPLE, start);
    }
    if (n < tuple::MIN_LENGTH) error_invalid(s, TYPE_TUPLE, start);
    if (load) {
        Cell c{0, 0, 0, 0};
        push_value(s, *tuple::make_at(&c, bytes, n));
    }
}

// AxB, both sides integers.
void load_pair(State& s, const uint8_t* start, const uint8_t* end, uint32_t, bool load) {
    const uint8_t* x = start + 1;  // a sign or digit comes first
    while (x < end && *x != 'x' && *x != 'X') x++;
    int32_t a = 0, b = 0;
    if (x >= end || !pair_side(start, x, a) || !pair_side(x + 1, end, b)) error_invalid(s, TYPE_PAIR, start);
    if (load) {
        Cell c{0, 0, 0, 0};
        push_value(s, *pair::make_at(&c, a, b));
    }
}

// "(x, y)" or "(x, y, z)", the parentheses included in the token.
void load_point(State& s, const uint8_t* start, const uint8_t* end, uint32_t, bool load) {
    const uint8_t* open = start + 1;
    const uint8_t* close = end - 1;
    uint32_t commas = 0;
    for (const uint8_t* p = open; p < close; p++) commas += *p == ',';
    const uint32_t type = commas >= 2 ? TYPE_POINT3D : TYPE_POINT2D;
    s.token_type = type;
    if (end - start < 2 || *start != '(' || *close != ')' || commas < 1 || commas > 2)
        error_invalid(s, type, start);
    double v[3] = {0, 0, 0};
    const uint8_t* field = open;
    for (uint32_t i = 0; i <= commas; i++) {
        const uint8_t* stop = field;
        while (stop < close && *stop != ',') stop++;
        if (!coordinate(field, stop, v[i])) error_invalid(s, type, start);
        field = stop + 1;
    }
    if (load) {
        Cell c{0, 0, 0, 0};
        push_value(s, type == TYPE_POINT3D ? *point::make3_at(&c, v[0], v[1], v[2]) : *point::make2_at(&c, v[0], v[1]));
    }
}

}  // namespace qel::lexer::loaders
