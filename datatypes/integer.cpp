// integer!: its actions, its conversions and the 32-bit arithmetic core.
//
// Arithmetic with a value of another type is handed to that type: the
// float-like types (float!, percent!, time!) get the integer converted to a
// float first, the composite types (pair!, tuple!, date!, points) get the
// operands exchanged, and each then runs its own action slot. All of that
// lives in the hand-off section below, so that a type arriving later only
// has to fill its slots (or install a neighbour hook) to take part.
#include "datatypes/integer.hpp"

#include <cmath>
#include <cstring>

#include "datatypes/fills.hpp"
#include "datatypes/float.hpp"
#include "datatypes/text.hpp"
#include "runtime/actions.hpp"
#include "runtime/random.hpp"
#include "runtime/stack.hpp"
#include "runtime/checks.hpp"
#include "runtime/entry.hpp"
#include "runtime/errors.hpp"
#include "runtime/symbols.hpp"
#include "runtime/unicode.hpp"
#include "runtime/words.hpp"

namespace qel::integer {

Neighbours neighbours;

namespace {

[[noreturn]] void raise_overflow() { err::raise(err::OVERFLOW); }

}  // namespace

// ---- helpers ---------------------------------------------------------------

Cell* make_at(Cell* c, int32_t v) {
    c->header = (c->header & ~cell_flag::TYPE_MASK) | TYPE_INTEGER;
    integer_value(c) = v;
    return c;
}

int32_t abs_checked(int32_t v) {
    if (v == INT32_MIN) raise_overflow();
    return v < 0 ? -v : v;
}

uint32_t to_decimal(int32_t v, char* out) {
    // Built from the unsigned magnitude, which holds the minimum's too.
    uint32_t m = v < 0 ? 0u - static_cast<uint32_t>(v) : static_cast<uint32_t>(v);
    char digits[12];
    uint32_t n = 0;
    do {
        digits[n++] = static_cast<char>('0' + m % 10);
        m /= 10;
    } while (m);
    uint32_t k = 0;
    if (v < 0) out[k++] = '-';
    while (n) out[k++] = digits[--n];
    out[k] = 0;
    return k;
}

Cell* make_float(Cell* c, double d) {
    c->header = (c->header & ~cell_flag::TYPE_MASK) | TYPE_FLOAT;
    payload_word(c, 0) = 0;
    cell::put_double(c, d);
    return c;
}

bool outside_integer_range(double d) {
    // NaN fails both tests, so it is caught by the negation.
    return !(d >= -2147483648.0 && d <= 2147483647.0);
}

int32_t arith(int32_t left, int32_t right, MathOp code, Cell* result) {
    int32_t r;
    const double l = left, rt = right;
    switch (code) {
        case MathOp::Add:
            if (__builtin_add_overflow(left, right, &r)) {
                make_float(result, l + rt);
                return 0;
            }
            break;
        case MathOp::Subtract:
            if (__builtin_sub_overflow(left, right, &r)) {
                make_float(result, l - rt);
                return 0;
            }
            break;
        case MathOp::Multiply:
            if (__builtin_mul_overflow(left, right, &r)) {
                // Exact: both factors fit 31 bits and a double has 53.
                make_float(result, l * rt);
                return 0;
            }
            break;
        case MathOp::Divide:
            if (right == 0) err::raise(err::ZERO_DIVIDE);
            if (left == INT32_MIN && right == -1) raise_overflow();
            if (result && left % right != 0) {
                make_float(result, l / rt);
                return 0;
            }
            r = left / right;
            break;
        case MathOp::Remainder:
            if (right == 0) err::raise(err::ZERO_DIVIDE);
            if (left == INT32_MIN && right == -1) raise_overflow();
            r = left % right;  // C++ truncates: the sign follows the left operand
            break;
        case MathOp::Or: r = left | right; break;
        case MathOp::And: r = left & right; break;
        case MathOp::Xor: r = left ^ right; break;
        default: rt::runtime_error(rt::code::NO_SWITCH, rt::here());
    }
    if (result) integer_value(result) = r;
    return r;
}

// ---- hand-offs to other types -----------------------------------------------

namespace {

[[noreturn]] void not_related(MathOp code) {
    const Cell type = datatype_cell(TYPE_INTEGER);
    const Cell w = word::action_word(code);
    err::raise(err::NOT_RELATED, &type, &w);
}

void exchange() {
    const Cell first = stack::arg_base[0];
    stack::arg_base[0] = stack::arg_base[1];
    stack::arg_base[1] = first;
}

}  // namespace

void other_type_math(uint32_t type, MathOp code) {
    if (!is_known(code)) rt::runtime_error(rt::code::NO_SWITCH, rt::here());
    const auto f = datatype::math_action(type, code);
    if (!f) err::raise(err::NOT_DONE);
    f();
}

void do_math(MathOp code) {
    Cell* a = stack::arg_base;
    Cell* b = a + 1;
    const uint32_t t = cell::type_of(b);
    switch (t) {
        case TYPE_CHAR:
        case TYPE_INTEGER:
            arith(integer_value(a), integer_value(b), code, a);
            return;
        case TYPE_FLOAT:
        case TYPE_PERCENT:
        case TYPE_TIME:
            make_float(a, integer_value(a));
            other_type_math(TYPE_FLOAT, code);
            return;
        case TYPE_VECTOR:
            if (!neighbours.vector_math) err::raise(err::NOT_DONE);
            neighbours.vector_math(code);
            return;
        case TYPE_PAIR:
        case TYPE_POINT2D:
        case TYPE_POINT3D:
            if (code == MathOp::Divide) not_related(code);
            exchange();
            if (code == MathOp::Subtract) {
                // n - p is -p + n: the composite type has no reversed subtract.
                const auto neg = datatype::action<datatype::NEGATE>(t);
                if (!neg) err::raise(err::NOT_DONE);
                cell::copy(neg(a), a);
                code = MathOp::Add;
            }
            other_type_math(t, code);
            return;
        case TYPE_TUPLE:
            if (code == MathOp::Subtract || code == MathOp::Divide) not_related(code);
            exchange();
            other_type_math(t, code);
            return;
        case TYPE_DATE:
            if (code != MathOp::Add) not_related(code);
            exchange();
            other_type_math(t, code);
            return;
        case TYPE_MONEY:
            if (!neighbours.money_math) err::raise(err::NOT_DONE);
            neighbours.money_math(code);
            return;
        default: {
            const Cell type = datatype_cell(t);
            err::raise(err::INVALID_TYPE, &type);
        }
    }
}

namespace {

// float! power of the argument base and the exponent cell, the base
// already a float!. Until float! fills its slot the plain double power
// stands in for it, which is what that slot computes for finite operands.
void float_power() {
    if (const auto f = datatype::action<datatype::POWER>(TYPE_FLOAT)) {
        f();
        return;
    }
    const Cell* e = stack::arg_base + 1;
    const double x = cell::get_double(stack::arg_base);
    const double y = cell::type_of(e) == TYPE_INTEGER ? integer_value(e) : cell::get_double(e);
    make_float(stack::arg_base, std::pow(x, y));
}

Cell* float_round(Cell* value, const datatype::RoundOptions& options) {
    make_float(value, integer_value(value));
    const auto f = datatype::action<datatype::ROUND>(TYPE_FLOAT);
    if (!f) err::raise(err::NOT_DONE);
    return f(value, options);
}

int32_t float_compare(const Cell* a, const Cell* b, CompareOp op) {
    const auto f = datatype::action<datatype::COMPARE>(TYPE_FLOAT);
    if (!f) return -2;
    Cell af{TYPE_FLOAT, 0, 0, 0};
    make_float(&af, integer_value(a));
    return f(&af, b, op);
}

}  // namespace

// ---- conversions -----------------------------------------------------------

namespace {

[[noreturn]] void bad_to(const Cell* value) {
    const Cell type = datatype_cell(TYPE_INTEGER);
    err::raise(err::BAD_TO_ARG, &type, value);
}

// Decimal text with an optional sign and apostrophes between digits, as
// number literals are written. Stands in for the lexer's decimal scanner.
bool scan_decimal(const Cell* s, int32_t& out) {
    const node_t n = series_node(s);
    const uint32_t len = series::buffer_length(n);
    uint32_t i = series_index(s);
    if (i >= len) return false;
    bool negative = false;
    uint32_t c = unicode::codepoint_at(n, i);
    if (c == '+' || c == '-') {
        negative = c == '-';
        i++;
    }
    // Accumulated negatively, so that the minimum fits.
    int32_t v = 0;
    bool digit_seen = false;
    for (; i < len; i++) {
        c = unicode::codepoint_at(n, i);
        if (c == '\'' && digit_seen) continue;
        if (c < '0' || c > '9') return false;
        digit_seen = true;
        if (__builtin_mul_overflow(v, 10, &v) || __builtin_sub_overflow(v, static_cast<int32_t>(c - '0'), &v))
            return false;
    }
    if (!digit_seen) return false;
    if (!negative) {
        if (v == INT32_MIN) return false;
        v = -v;
    }
    out = v;
    return true;
}

int32_t from_double(double d) {
    if (outside_integer_range(d)) {
        const Cell type = datatype_cell(TYPE_INTEGER);
        err::raise(err::TYPE_LIMIT, &type);
    }
    return static_cast<int32_t>(d);  // truncation toward zero
}

int32_t from_issue(const Cell* issue) {
    const int32_t sym = word_symbol(issue);
    const char* name = symbol::name(sym);
    const uint32_t len = symbol::name_length(sym);
    if (len == 0 || len > 8) err::raise(err::INVALID_DATA, issue);
    uint32_t v = 0;
    for (uint32_t i = 0; i < len; i++) {
        const uint32_t c = static_cast<uint8_t>(name[i]) & 0x7F;
        uint32_t d;
        if (c >= '0' && c <= '9') d = c - '0';
        else if (c >= 'A' && c <= 'F') d = c - 'A' + 10;
        else if (c >= 'a' && c <= 'f') d = c - 'a' + 10;
        else err::raise(err::INVALID_DATA, issue);
        v = v << 4 | d;
    }
    return static_cast<int32_t>(v);
}

int32_t from_binary(const Cell* bin) {
    SeriesBuffer* s = series::buffer_of(series_node(bin));
    const int32_t left = series::length_of(bin);
    const uint8_t* p = series::head_ptr(s) + series_index(bin);
    uint32_t v = 0;
    for (int32_t i = 0; i < left && i < 4; i++) v = v << 8 | p[i];
    return static_cast<int32_t>(v);
}

}  // namespace

// ---- actions ---------------------------------------------------------------

namespace {

Cell* to(Cell* proto, Cell* spec, uint32_t) {
    const uint32_t t = cell::type_of(spec);
    int32_t v = 0;
    if (t == TYPE_INTEGER || t == TYPE_CHAR) {
        v = integer_value(spec);
    } else if (is_any_string(t)) {
        if (!scan_decimal(spec, v)) bad_to(spec);
    } else if (t == TYPE_FLOAT || t == TYPE_PERCENT) {
        v = from_double(cell::get_double(spec));
    } else if (t == TYPE_TIME) {
        v = from_double(cell::get_double(spec) + 0.5);
    } else if (t == TYPE_ISSUE) {
        v = from_issue(spec);
    } else if (t == TYPE_BINARY) {
        v = from_binary(spec);
    } else if (t == TYPE_DATE && neighbours.date_seconds) {
        v = neighbours.date_seconds(spec);
    } else if (t == TYPE_MONEY && neighbours.money_whole) {
        v = neighbours.money_whole(spec);
    } else if (t == TYPE_DATE || t == TYPE_MONEY) {
        err::raise(err::NOT_DONE);
    } else {
        bad_to(spec);
    }
    *proto = Cell{TYPE_INTEGER, 0, static_cast<uint32_t>(v), 0};
    return proto;
}

Cell* make(Cell* proto, Cell* spec, uint32_t type) {
    if (cell::type_of(spec) == TYPE_LOGIC) {
        *proto = Cell{TYPE_INTEGER, 0, logic_value(spec) ? 1u : 0u, 0};
        return proto;
    }
    return to(proto, spec, type);
}

Cell* random_action(Cell* value, bool seed, bool secure, bool) {
    if (seed) {
        random::seed(integer_value(value));
        return &shared::unset;
    }
    const int32_t n = integer_value(value);
    if (n != 0) integer_value(value) = random::integer(secure, n);
    return value;
}

int32_t form(const Cell* value, node_t out, bool, int32_t limit) {
    char buf[12];
    const uint32_t n = to_decimal(integer_value(value), buf);
    text::append_latin1(out, buf, n);
    return limit - static_cast<int32_t>(n);
}

int32_t mold(const Cell* value, node_t out, const datatype::MoldOptions& options, int32_t limit, int32_t) {
    return form(value, out, options.part, limit);
}

int32_t compare(const Cell* a, const Cell* b, CompareOp op) {
    const uint32_t t = cell::type_of(b);
    if ((op == CompareOp::StrictEqual || op == CompareOp::Find) && t != TYPE_INTEGER) return 1;
    if (t == TYPE_INTEGER || t == TYPE_CHAR) {
        const int32_t x = integer_value(a), y = integer_value(b);
        return (x > y) - (x < y);
    }
    if (float_type::is_float_like(t)) return float_compare(a, b, op);
    if (t == TYPE_MONEY && neighbours.money_compare) return neighbours.money_compare(a, b, op);
    return -2;
}

void absolute() {
    Cell* a = stack::arg_base;
    integer_value(a) = abs_checked(integer_value(a));
}

void add() { do_math(MathOp::Add); }
void subtract() { do_math(MathOp::Subtract); }
void multiply() { do_math(MathOp::Multiply); }
void divide() { do_math(MathOp::Divide); }
void remainder() { do_math(MathOp::Remainder); }
void or_action() { do_math(MathOp::Or); }
void and_action() { do_math(MathOp::And); }
void xor_action() { do_math(MathOp::Xor); }

Cell* negate(Cell* value) {
    const int32_t v = integer_value(value);
    if (v == INT32_MIN) raise_overflow();
    integer_value(value) = -v;
    return value;
}

// False when a product leaves 32 bits: power then starts over in floating
// point from the operands as given.
bool power_by_squaring(int32_t base, int32_t exponent, int32_t& result) {
    result = 1;
    auto e = static_cast<uint32_t>(exponent);
    while (e) {
        if ((e & 1) && __builtin_mul_overflow(result, base, &result)) return false;
        e >>= 1;
        // The last squaring would be unused; checking it would report
        // overflows that never happen.
        if (e && __builtin_mul_overflow(base, base, &base)) return false;
    }
    return true;
}

void power() {
    Cell* a = stack::arg_base;
    const Cell* e = a + 1;
    const uint32_t et = cell::type_of(e);
    if (et != TYPE_INTEGER && et != TYPE_FLOAT) {
        const Cell name = stack::get_call_name();
        const Cell type = datatype_cell(et);
        const Cell arg = err::arg_name_at(1);
        err::raise(err::EXPECT_ARG, &name, &type, &arg);
    }
    if (et == TYPE_FLOAT || integer_value(e) < 0) {
        make_float(a, integer_value(a));
        float_power();
        return;
    }
    int32_t r;
    if (power_by_squaring(integer_value(a), integer_value(e), r)) {
        integer_value(a) = r;
        return;
    }
    make_float(a, integer_value(a));
    float_power();
}

Cell* round(Cell* value, const datatype::RoundOptions& options) {
    if (options.scale && cell::type_of(options.scale) == TYPE_MONEY) {
        const Cell type = datatype_cell(TYPE_MONEY);
        const Cell name = stack::get_call_name();
        err::raise(err::NOT_RELATED, &type, &name);
    }
    const int32_t n = integer_value(value);
    if (n == INT32_MIN) return value;
    if (options.scale && cell::type_of(options.scale) != TYPE_INTEGER)
        return float_round(value, options);
    const int32_t s = options.scale ? abs_checked(integer_value(options.scale)) : 1;
    if (s == 0) return value;
    const int32_t v = n < 0 ? -n : n;
    const int32_t q = v / s, r = v % s;
    if (r == 0) return value;
    const int32_t dn = v - r;
    const int64_t up = static_cast<int64_t>(v) + (s - r);
    const bool up_fits = up <= INT32_MAX;
    auto up_checked = [&]() -> int32_t {
        if (!up_fits) raise_overflow();
        return static_cast<int32_t>(up);
    };
    const int32_t sgn = n < 0 ? -1 : 1;
    int32_t result;
    if (options.down) result = sgn * dn;
    else if (options.floor) result = n >= 1 ? (up_checked(), dn) : -up_checked();
    else if (options.ceiling) result = n >= 0 ? up_checked() : (up_checked(), -dn);
    else if (r < s - r) result = sgn * dn;
    else if (r > s - r) result = sgn * up_checked();
    else if (options.even) result = sgn * ((q & 1) ? up_checked() : dn);
    else if (options.half_down) result = sgn * dn;
    else if (options.half_ceiling) result = n >= 0 ? up_checked() : (up_checked(), -dn);
    else result = sgn * up_checked();
    integer_value(value) = result;
    return value;
}

bool even_q(Cell* value) { return (integer_value(value) & 1) == 0; }
bool odd_q(Cell* value) { return (integer_value(value) & 1) != 0; }

Cell* complement(Cell* value) {
    integer_value(value) = ~integer_value(value);
    return value;
}

}  // namespace

void fill(datatype::Record& r) {
    for (ActionFn& a : r.actions) a = nullptr;
    datatype::set_slot<datatype::MAKE>(r, &make);
    datatype::set_slot<datatype::RANDOM>(r, &random_action);
    datatype::set_slot<datatype::TO>(r, &to);
    datatype::set_slot<datatype::FORM>(r, &form);
    datatype::set_slot<datatype::MOLD>(r, &mold);
    datatype::set_slot<datatype::COMPARE>(r, &compare);
    datatype::set_slot<datatype::ABSOLUTE>(r, &absolute);
    datatype::set_slot<datatype::ADD>(r, &add);
    datatype::set_slot<datatype::DIVIDE>(r, &divide);
    datatype::set_slot<datatype::MULTIPLY>(r, &multiply);
    datatype::set_slot<datatype::NEGATE>(r, &negate);
    datatype::set_slot<datatype::POWER>(r, &power);
    datatype::set_slot<datatype::REMAINDER>(r, &remainder);
    datatype::set_slot<datatype::ROUND>(r, &round);
    datatype::set_slot<datatype::SUBTRACT>(r, &subtract);
    datatype::set_slot<datatype::EVEN_Q>(r, &even_q);
    datatype::set_slot<datatype::ODD_Q>(r, &odd_q);
    datatype::set_slot<datatype::AND_T>(r, &and_action);
    datatype::set_slot<datatype::COMPLEMENT>(r, &complement);
    datatype::set_slot<datatype::OR_T>(r, &or_action);
    datatype::set_slot<datatype::XOR_T>(r, &xor_action);
}

}  // namespace qel::integer
