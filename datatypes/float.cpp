// float!: its actions (make/to, random, form, mold, compare, the math
// actions, round, even?/odd?) and the shared number services declared in
// float.hpp. percent! and time! inherit these slots; the code therefore
// looks at the value's own type wherever the result type depends on it.
#include "datatypes/float.hpp"

#include <bit>
#include <cfloat>
#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>

#include "datatypes/fills.hpp"
#include "datatypes/float_text.hpp"
#include "datatypes/number_text.hpp"
#include "datatypes/system_object.hpp"
#include "datatypes/text.hpp"
#include "runtime/actions.hpp"
#include "runtime/random.hpp"
#include "runtime/stack.hpp"
#include "runtime/checks.hpp"
#include "runtime/errors.hpp"
#include "runtime/symbols.hpp"
#include "runtime/words.hpp"

namespace qel::float_type {

bool pretty_print = true;
bool full_support = false;
Neighbours neighbours;

namespace {

Cell word_cell(const char* name) { return word::make_from_symbol(symbol::intern_cstr(name)); }

[[noreturn]] void raise_call_and_type(int code, uint32_t type) {
    const Cell name = stack::get_call_name();
    const Cell t = datatype_cell(type);
    err::raise(code, &name, &t);
}

// ---- number formatter --------------------------------------------------------

// printf's "%.<precision>g" in the C locale; to_chars is specified to
// produce exactly that text and never reads the locale.
size_t print_g(double v, int32_t precision, char* out) {
    const std::to_chars_result r =
        std::to_chars(out, out + FORMAT_MAX - 4, v, std::chars_format::general, precision);
    *r.ptr = 0;
    return static_cast<size_t>(r.ptr - out);
}

size_t put(char* out, const char* s) {
    const size_t n = std::strlen(s);
    std::memcpy(out, s, n + 1);
    return n;
}

// The pretty? switch of system/options/float, or pretty_print while there
// is no system object.
bool pretty_on() {
    const Cell* f = system_object::field({"options", "float", "pretty?"});
    return f ? is_truthy(f) : pretty_print;
}

}  // namespace

size_t format_number(double v, int32_t kind, char* out) {
    if (std::isnan(v)) return put(out, "1.#NaN");
    if (std::isinf(v)) return put(out, v > 0 ? "1.#INF" : "-1.#INF");
    const bool pretty = pretty_on();
    const bool percent = kind == KIND_PERCENT32 || kind == KIND_PERCENT;
    // Near zero, sums such as 0.1 + 0.2 - 0.3 leave noise of the order of
    // the machine epsilon; pretty printing shows it as zero.
    if (pretty && std::fabs(v) < DBL_EPSILON)
        return put(out, percent ? "0%" : kind == KIND_POINT ? "0" : "0.0");

    const int32_t first = kind == KIND_PERCENT ? 13 : kind == KIND_FLOAT ? 16 : 7;
    const int32_t retry = kind == KIND_FLOAT || percent ? 14 : 5;
    size_t n = kind == KIND_SECONDS ? float_text::format(v, 6, false, out) : print_g(v, first, out);
    bool retried = false;
    for (;;) {
        char* e = std::strchr(out, 'e');
        if (!pretty || retried) break;
        // A text that runs to the last digits of double precision and ends
        // in 01 or 99 is binary noise (0.57 * 100 prints 56.99999999999999);
        // two digits less give the number the user meant.
        const char* tail = nullptr;
        if (!e) {
            const char* digits = out + (out[0] == '-');
            if (n > 16 && (digits[0] != '0' || n > 17)) tail = out + n - 2;
        } else if (e - out > 16) {
            tail = e - 2;
        }
        if (!tail || !((tail[0] == '0' && tail[1] == '1') || (tail[0] == '9' && tail[1] == '9'))) break;
        n = print_g(v, retry, out);
        retried = true;
    }
    // Exponent as the language writes it: no "+", no leading zeros.
    if (char* e = std::strchr(out, 'e')) {
        char* src = e + 1;
        char* dst = e + 1;
        if (*src == '+') src++;
        else if (*src == '-') *dst++ = *src++;
        while (*src == '0' && src[1]) src++;
        while (*src) *dst++ = *src++;
        *dst = 0;
        n = static_cast<size_t>(dst - out);
    }
    if (percent) {
        out[n++] = '%';
        out[n] = 0;
    } else if ((kind == KIND_FLOAT32 || kind == KIND_FLOAT) && !std::strchr(out, '.')) {
        char* e = std::strchr(out, 'e');
        char* at = e ? e : out + n;
        std::memmove(at + 2, at, static_cast<size_t>(out + n - at) + 1);
        at[0] = '.';
        at[1] = '0';
        n += 2;
    }
    return n;
}

// ---- arithmetic -------------------------------------------------------------

double scalar_op(double x, double y, MathOp op) {
    switch (op) {
        case MathOp::Add: return x + y;
        case MathOp::Subtract: return x - y;
        case MathOp::Multiply: return x * y;
        case MathOp::Divide: return x / y;
        case MathOp::Remainder:
            if (0 * y == 0) return std::fmod(x, y);
            if (std::isnan(y)) return y;
            return std::isfinite(x) ? x : std::numeric_limits<double>::quiet_NaN();
        default: raise_call_and_type(err::CANNOT_USE, TYPE_FLOAT);
    }
}

namespace {

[[noreturn]] void not_related_op(MathOp op, uint32_t type) {
    const Cell w = word_cell(action_name(op));
    const Cell t = datatype_cell(type);
    err::raise(err::NOT_RELATED, &w, &t);
}

void hand_over(void (*fn)(MathOp), MathOp op) {
    if (!fn) err::raise(err::NOT_DONE);
    fn(op);
}

// scalar (op) composite becomes composite (op) scalar: the composite type
// implements only that order.
void exchanged_composite_math(MathOp op, uint32_t type) {
    Cell* l = stack::arg_base;
    const Cell scalar = l[0];
    l[0] = l[1];
    l[1] = scalar;
    const auto f = is_known(op) && !is_bitwise(op) ? datatype::math_action(type, op) : nullptr;
    if (!f) err::raise(err::NOT_DONE);
    f();
}

double number_of(const Cell* c) {
    const uint32_t t = cell::type_of(c);
    if (t == TYPE_INTEGER) return integer_value(c);
    if (t == TYPE_CHAR) return char_code(c);
    return cell::get_double(c);
}

}  // namespace

void do_math(MathOp op) {
    Cell* l = stack::arg_base;
    Cell* r = l + 1;
    const uint32_t lt = cell::type_of(l), rt = cell::type_of(r);
    switch (rt) {
        case TYPE_TUPLE: return hand_over(neighbours.tuple_math, op);
        case TYPE_MONEY: return hand_over(neighbours.money_math, op);
        case TYPE_PAIR:
        case TYPE_POINT2D:
        case TYPE_POINT3D:
            if (lt == TYPE_TIME) break;  // refused below
            if (op == MathOp::Subtract || op == MathOp::Divide) not_related_op(op, rt);
            return exchanged_composite_math(op, rt);
        case TYPE_VECTOR:
            if (op == MathOp::Subtract || op == MathOp::Divide) not_related_op(op, rt);
            return hand_over(neighbours.vector_math, op);
        default: break;
    }
    const bool number = rt == TYPE_INTEGER || rt == TYPE_FLOAT || rt == TYPE_PERCENT || rt == TYPE_TIME ||
                        (rt == TYPE_CHAR && lt != TYPE_TIME && lt != TYPE_PERCENT);
    if (!number) err::raise_with_type(err::INVALID_TYPE, rt);

    const double x = number_of(l), y = number_of(r);
    if (lt == TYPE_INTEGER) l->header = TYPE_FLOAT;
    uint32_t result = lt == TYPE_INTEGER ? TYPE_FLOAT : lt;
    if ((lt == TYPE_TIME) != (rt == TYPE_TIME)) result = TYPE_TIME;
    else if (lt == TYPE_PERCENT && rt != TYPE_PERCENT) result = TYPE_PERCENT;
    const double z = scalar_op(x, y, op);
    cell::set_type(l, result);
    cell::put_double(l, z);
}

// ---- predicates and cell routines -------------------------------------------

namespace {

// Doubles ordered as unsigned integers: adjacent doubles get adjacent keys,
// across zero too, so a key distance counts units in the last place.
uint64_t ordered_key(double d) {
    uint64_t bits;
    std::memcpy(&bits, &d, sizeof bits);
    return bits >> 63 ? ~bits + 1 : bits | (uint64_t{1} << 63);
}

}  // namespace

bool almost_equal(double a, double b) {
    if (std::isnan(a) || std::isnan(b)) return false;
    if (a == b) return true;
    if (std::fabs(a - b) < DBL_EPSILON) return true;
    const uint64_t ka = ordered_key(a), kb = ordered_key(b);
    return (ka > kb ? ka - kb : kb - ka) <= 10;
}

bool almost_equal32(float a, float b) {
    if (std::isnan(a) || std::isnan(b)) return false;
    if (a == b) return true;
    uint32_t ia, ib;
    std::memcpy(&ia, &a, 4);
    std::memcpy(&ib, &b, 4);
    if ((ia & 0x7FFFFFFF) >= 0x7F7FFFFF || (ib & 0x7FFFFFFF) >= 0x7F7FFFFF) {
        if ((ia ^ ib) >> 31) return false;
        const uint32_t d = ia > ib ? ia - ib : ib - ia;
        return d <= 0x100000;
    }
    // Sign-magnitude to two's-complement order, then a distance in units.
    const int64_t ka = ia >> 31 ? int64_t{0x80000000} - ia : ia;
    const int64_t kb = ib >> 31 ? int64_t{0x80000000} - ib : ib;
    const int64_t d = ka - kb;
    return d >= -10 && d <= 10;
}

Cell* make_at(Cell* c, double d) {
    cell::set_type(c, TYPE_FLOAT);
    payload_word(c, 0) = 0;
    cell::put_double(c, d);
    return c;
}

// ---- make and to ------------------------------------------------------------

namespace {

[[noreturn]] void bad_to(uint32_t type, const Cell* spec) {
    const Cell t = datatype_cell(type);
    err::raise(err::BAD_TO_ARG, &t, spec);
}

// The characters of a string value from its index, narrowed to bytes; false
// when a character is outside ASCII (no number text has one).
bool ascii_text(const Cell* value, std::string& out) {
    const int32_t n = series::length_of(value);
    if (n <= 0) return true;
    const uint32_t count = static_cast<uint32_t>(n);
    SeriesBuffer* s = series::buffer_of(series_node(value));
    const uint32_t unit = series::unit(s);
    const uint8_t* p = series::head_ptr(s) + series_index(value) * unit;
    out.resize(count);
    for (uint32_t i = 0; i < count; i++) {
        uint32_t c;
        if (unit == 1) {
            c = p[i];
        } else if (unit == 2) {
            uint16_t u;
            std::memcpy(&u, p + 2 * i, 2);
            c = u;
        } else {
            std::memcpy(&c, p + 4 * i, 4);
        }
        if (c > 127) return false;
        out[i] = static_cast<char>(c);
    }
    return true;
}

// A percent! made from text takes what the lexer would make of it: a
// percent, float or integer literal, with blanks around it.
bool percent_from_text(const std::string& text, double& out) {
    size_t a = 0, b = text.size();
    auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; };
    while (a < b && blank(text[a])) a++;
    while (b > a && blank(text[b - 1])) b--;
    if (a == b) return false;
    const bool percent = text[b - 1] == '%';
    if (percent) b--;
    int32_t status = 0;
    out = number_text::scan_float(text.data() + a, static_cast<uint32_t>(b - a), 1, &status, percent ? -2 : 0);
    return status == number_text::STATUS_OK;
}

double from_binary(const Cell* value) {
    const int32_t n = series::length_of(value);
    SeriesBuffer* s = series::buffer_of(series_node(value));
    const uint8_t* p = series::head_ptr(s) + series_index(value);
    uint64_t bits = 0;
    for (int32_t i = 0; i < n && i < 8; i++) bits = bits << 8 | p[i];
    double d;
    std::memcpy(&d, &bits, sizeof d);
    return d;
}

bool plain_number(const Cell* c, double& out) {
    const uint32_t t = cell::type_of(c);
    if (t == TYPE_INTEGER) out = integer_value(c);
    else if (t == TYPE_FLOAT) out = cell::get_double(c);
    else return false;
    return true;
}

// [m e] is m x 10^e with e truncated; a huge e only needs to saturate.
bool from_pair_block(const Cell* value, double& out) {
    if (series::length_of(value) != 2) return false;
    SeriesBuffer* s = series::buffer_of(series_node(value));
    const Cell* cells = series::head_cell(s) + series_index(value);
    double m, e;
    if (!plain_number(&cells[0], m) || !plain_number(&cells[1], e) || std::isnan(e)) return false;
    const double k = std::trunc(std::fmax(-1000.0, std::fmin(1000.0, e)));
    if (m == 0 || k == 0) out = m;
    else out = k > 0 ? m * std::pow(10.0, k) : m / std::pow(10.0, -k);
    return true;
}

}  // namespace

Cell* make(Cell* proto, Cell* spec, uint32_t type) {
    static Cell result;
    double d = 0;
    const uint32_t t = cell::type_of(spec);
    switch (t) {
        case TYPE_INTEGER:
        case TYPE_CHAR: d = number_of(spec); break;
        case TYPE_FLOAT:
        case TYPE_PERCENT:
        case TYPE_TIME: d = cell::get_double(spec); break;
        case TYPE_MONEY:
            if (!neighbours.money_to_double) err::raise(err::NOT_DONE);
            d = neighbours.money_to_double(spec);
            break;
        case TYPE_BINARY: d = from_binary(spec); break;
        case TYPE_BLOCK:
        case TYPE_PAREN:
        case TYPE_HASH:
            if (!from_pair_block(spec, d)) bad_to(type, spec);
            break;
        default: {
            if (!is_any_string(t)) bad_to(type, spec);
            std::string text;
            if (!ascii_text(spec, text) || text.empty()) bad_to(type, spec);
            int32_t status = 0;
            if (type == TYPE_PERCENT) {
                if (!percent_from_text(text, d)) bad_to(type, spec);
            } else {
                d = number_text::scan_float(text.data(), static_cast<uint32_t>(text.size()), 1, &status);
                if (status != number_text::STATUS_OK) bad_to(type, spec);
            }
        }
    }
    result = Cell{type == TYPE_PERCENT ? TYPE_PERCENT : TYPE_FLOAT, 0, 0, 0};
    cell::put_double(&result, d);
    return &result;
}

// ---- compare ------------------------------------------------------------------

int32_t compare(const Cell* a, const Cell* b, CompareOp op) {
    const uint32_t ta = cell::type_of(a), tb = cell::type_of(b);
    const bool typed = op == CompareOp::StrictEqual || op == CompareOp::Same || op == CompareOp::Find;
    if (typed && ta != tb) return 1;  // 1 and 1.0, or 1.0 and 100%, are equal only loosely
    const double x = cell::get_double(a);
    double y;
    if (tb == TYPE_MONEY) {
        if (!neighbours.money_compare) err::raise(err::NOT_DONE);
        return neighbours.money_compare(x, b, op);
    }
    if (tb == TYPE_INTEGER) y = integer_value(b);
    else if (is_float_like(tb)) y = cell::get_double(b);
    else return -2;
    switch (op) {
        case CompareOp::Equal:
        case CompareOp::NotEqual: return almost_equal(x, y) ? 0 : 1;
        case CompareOp::StrictEqual: return x == y ? 0 : 1;
        case CompareOp::Same: return std::bit_cast<uint64_t>(x) == std::bit_cast<uint64_t>(y) ? 0 : 1;
        default: break;
    }
    if (std::isnan(x) || std::isnan(y)) return failing_order(op);
    return x < y ? -1 : x > y ? 1 : 0;
}

// ---- round ----------------------------------------------------------------------

Cell* round(Cell* value, const datatype::RoundOptions& options) {
    const uint32_t vt = cell::type_of(value);
    const uint32_t st = options.scale ? cell::type_of(options.scale) : 0;
    if (st == TYPE_MONEY) raise_call_and_type(err::NOT_RELATED, TYPE_MONEY);
    double d = cell::get_double(value);
    double s = vt == TYPE_PERCENT ? 0.01 : 1.0;
    if (options.scale) {
        if (st == TYPE_INTEGER) s = std::fabs(static_cast<double>(integer_value(options.scale)));
        else if (is_float_like(st)) s = std::fabs(cell::get_double(options.scale));
        else err::raise(err::INVALID_ARG, options.scale);
        if (vt == TYPE_PERCENT) s /= 100;
        // Multiples of zero: nothing to round to, the value stays.
        if (s == 0) return value;
    }
    // A scale below the value's precision leaves nothing to round.
    if (s < std::fabs(d) * 0x1p-53) return value;

    // Dividing by s through its exact reciprocal, where that reciprocal is
    // a double, keeps decimal scales exact: 3.14159 * 100 rounds to 314 and
    // 314 / 100 gives 3.14. Below the normal range the reciprocal would
    // overflow, and plain division and multiplication are exact enough.
    const bool tiny = s < DBL_MIN;
    if (s >= 1) d = d / s;
    else d = tiny ? d / s : d * (1 / s);

    double r;
    if (options.down) {
        r = std::trunc(d);
    } else if (options.floor) {
        r = std::floor(d);
    } else if (options.ceiling) {
        r = std::ceil(d);
    } else {
        const double a = std::fabs(d);
        const double half = std::floor(a) + 0.5;
        const double away = std::copysign(std::ceil(a), d), toward = std::copysign(std::floor(a), d);
        if (a > half) r = away;
        else if (a < half) r = toward;
        else if (options.even) r = std::fmod(a, 2) < 1 ? toward : away;
        else if (options.half_down) r = toward;
        else if (options.half_ceiling) r = std::ceil(d);
        else r = away;
    }

    if (r == 0) d = r;  // also for an infinite scale, where 0 x s is NaN
    else if (s >= 1) d = r * s;
    else d = tiny ? r * s : r / (1 / s);
    if (std::isinf(d) && std::isfinite(r)) err::raise(err::OVERFLOW);

    if (!options.scale) {
        cell::put_double(value, d);
        return value;
    }
    if (st == TYPE_INTEGER) {
        if (!(d >= -2147483648.0 && d < 2147483648.0)) err::raise(err::OVERFLOW);
        *value = Cell{(value->header & ~cell_flag::TYPE_MASK) | TYPE_INTEGER, 0,
                      static_cast<uint32_t>(static_cast<int32_t>(d)), 0};
        return value;
    }
    cell::set_type(value, st);
    cell::put_double(value, d);
    return value;
}

// ---- the other slots ------------------------------------------------------------

namespace {

Cell* random_slot(Cell* value, bool seed, bool secure, bool) {
    const double d = cell::get_double(value);
    if (seed) {
        random::seed(static_cast<int32_t>(payload_word(value, 1) ^ payload_word(value, 2)));
        return &shared::unset;
    }
    double v;
    if (secure) {
        const int32_t r1 = random::secure_next();
        const int32_t r2 = random::secure_next();
        v = (r2 + r1 / 2147483647.0) * d / 2147483648.0;
    } else {
        v = d * (random::next() / 2147483647.0);
    }
    cell::put_double(value, v);
    return value;
}

int32_t form_slot(const Cell* value, node_t out, bool, int32_t limit) {
    char buf[FORMAT_MAX];
    const size_t n = format_number(cell::get_double(value), KIND_FLOAT, buf);
    text::append_latin1(out, buf, n);
    return limit - static_cast<int32_t>(n);
}

int32_t mold_slot(const Cell* value, node_t out, const datatype::MoldOptions&, int32_t limit, int32_t) {
    char buf[float_text::FORMAT_MAX];
    const size_t n = float_text::format(cell::get_double(value), 0, true, buf);
    text::append_latin1(out, buf, n);
    return limit - static_cast<int32_t>(n);
}

void absolute_slot() {
    Cell* v = stack::arg_base;
    cell::put_double(v, std::fabs(cell::get_double(v)));
}

template <MathOp Op>
void math_slot() {
    do_math(Op);
}

Cell* negate_slot(Cell* value) {
    cell::put_double(value, 0.0 - cell::get_double(value));
    return value;
}

void power_slot() {
    Cell* v = stack::arg_base;
    const Cell* e = v + 1;
    const uint32_t et = cell::type_of(e);
    if (et != TYPE_INTEGER && et != TYPE_FLOAT) {
        const Cell name = stack::get_call_name();
        const Cell t = datatype_cell(et);
        const Cell arg = err::arg_name_at(1);
        err::raise(err::EXPECT_ARG, &name, &t, &arg);
    }
    const double y = et == TYPE_INTEGER ? integer_value(e) : cell::get_double(e);
    cell::put_double(v, std::pow(cell::get_double(v), y));
}

// Parity of the value truncated to a whole number. Outside the 32-bit range
// the parity is still that of the whole number (every double from 2^53 up
// is even); infinities and NaN are neither even nor odd.
int32_t parity(const Cell* value) {
    const double d = cell::get_double(value);
    if (!std::isfinite(d)) return -1;
    return std::fmod(std::trunc(d), 2.0) != 0;
}

bool even_slot(Cell* value) { return parity(value) == 0; }
bool odd_slot(Cell* value) { return parity(value) == 1; }

}  // namespace

void fill(datatype::Record& r) {
    static_assert(std::is_same_v<decltype(make), slot_fn::Make>);
    static_assert(std::is_same_v<decltype(round), slot_fn::Round>);
    datatype::set_slot<datatype::MAKE>(r, &make);
    datatype::set_slot<datatype::RANDOM>(r, &random_slot);
    datatype::set_slot<datatype::TO>(r, &make);
    datatype::set_slot<datatype::FORM>(r, &form_slot);
    datatype::set_slot<datatype::MOLD>(r, &mold_slot);
    datatype::set_slot<datatype::COMPARE>(r, &compare);
    datatype::set_slot<datatype::ABSOLUTE>(r, &absolute_slot);
    datatype::fill_math_slots(
        r, [](auto op) { return &math_slot<decltype(op)::value>; }, false);
    datatype::set_slot<datatype::NEGATE>(r, &negate_slot);
    datatype::set_slot<datatype::POWER>(r, &power_slot);
    datatype::set_slot<datatype::ROUND>(r, &round);
    datatype::set_slot<datatype::EVEN_Q>(r, &even_slot);
    datatype::set_slot<datatype::ODD_Q>(r, &odd_slot);
    // Every other slot is empty: float! has no series or port actions.
    for (uint32_t s = 0; s < datatype::ACTION_SLOTS; s++)
        if (r.actions[s] == datatype::INHERIT) r.actions[s] = nullptr;
}

}  // namespace qel::float_type
