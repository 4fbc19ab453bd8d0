// The numeric natives that are not actions: sign tests, NaN?, shift,
// to-hex, trigonometry in degrees, logarithms, exp, square-root, and max
// and min over numbers and the compound scalars (pair!, point2D!,
// point3D!, tuple!).
//
// Each native overwrites its first argument cell with its result. The
// floating-point natives compute in double precision with the C library's
// functions and never raise on a domain error: NaN and the infinities are
// answers like any other. The argument types are checked here as well as
// by the caller's spec check, so a call that arrives unchecked cannot read
// a payload as the wrong type.
//
// Cell layouts read here: pair! x and y as signed 32-bit integers in words
// 2 and 3; point2D! x, y as 32-bit floats in words 1-2 and point3D! x, y, z
// in words 1-3; tuple! its length in header bits 19-22 and its bytes from
// the low byte of word 1 on; float!, percent! and time! a double in words
// 2-3; money! through its own datatype. None of them holds a node.
#include <cmath>
#include <cstring>
#include <utility>

#include "datatypes/float.hpp"
#include "datatypes/integer.hpp"
#include "datatypes/money.hpp"
#include "datatypes/point.hpp"
#include "datatypes/string.hpp"
#include "datatypes/word.hpp"
#include "runtime/actions.hpp"
#include "evaluator/native_fns.hpp"
#include "runtime/stack.hpp"
#include "runtime/errors.hpp"
#include "runtime/words.hpp"

namespace qel::natives {

namespace {

constexpr double PI = 3.141592653589793;
constexpr double EPSILON = 2.220446049250313e-16;
constexpr double LN2 = 0.6931471805599453;
constexpr double E = 2.718281828459045;

void set_logic(bool b) { stack::set_last_reset(b ? &shared::true_value : &shared::false_value); }

Cell* make_float_at(Cell* c, double d) {
    Cell f{c->header, 0, 0, 0};
    cell::set_type(&f, TYPE_FLOAT);
    cell::put_double(&f, d);
    *c = f;
    return c;
}

// The number of an integer!, float! or percent! argument as a double; the
// cell becomes a float! holding it. Other types are refused.
double float_arg(Cell* c, const char* native, const char* arg) {
    switch (cell::type_of(c)) {
        case TYPE_INTEGER: {
            const double d = static_cast<double>(integer_value(c));
            make_float_at(c, d);
            return d;
        }
        case TYPE_FLOAT:
        case TYPE_PERCENT:
            cell::set_type(c, TYPE_FLOAT);
            return cell::get_double(c);
        default:
            expect_arg(native, c, arg);
    }
}

// ---- sign tests --------------------------------------------------------------------------

// -1, 0 or 1 for the types the sign natives take; NaN gives 0, which is
// neither negative nor positive.
int32_t sign_of(const Cell* v, const char* native) {
    switch (cell::type_of(v)) {
        case TYPE_INTEGER:
            return integer::sign(integer_value(v));
        case TYPE_FLOAT:
        case TYPE_PERCENT:
        case TYPE_TIME: {
            const double d = cell::get_double(v);
            return d > 0.0 ? 1 : d < 0.0 ? -1 : 0;
        }
        case TYPE_MONEY:
            return money::sign_of(v);
        default:
            expect_arg(native, v, "number");
    }
}


bool is_zero(const Cell* v) {
    switch (cell::type_of(v)) {
        case TYPE_INTEGER:
            return integer_value(v) == 0;
        case TYPE_CHAR:
            return char_code(v) == 0;
        case TYPE_FLOAT:
        case TYPE_PERCENT:
        case TYPE_TIME:
            return cell::get_double(v) == 0.0;
        case TYPE_MONEY:
            return money::sign_of(v) == 0;
        case TYPE_PAIR:
            return pair_x(v) == 0 && pair_y(v) == 0;
        case TYPE_TUPLE:
            for (uint32_t i = 0; i < tuple_length(v) && i < 12; i++)
                if (tuple_byte(v, i)) return false;
            return true;
        case TYPE_POINT2D:
        case TYPE_POINT3D:
            for (uint32_t i = 0; i < point::dimensions(cell::type_of(v)); i++)
                if (point_coord(v, i) != 0.0f) return false;
            return true;
        default:
            return false;
    }
}

// ---- trigonometry ------------------------------------------------------------------------

enum Reduce { TANGENT = 0, COSINE = 1, SINE = 2 };

// Brings a degree angle into the range where the function is evaluated
// most exactly, keeping its value: whole turns off, then into -180..180,
// then (for sine and tangent) into -90..90. Answers radians.
double reduce_degrees(double a, Reduce mode) {
    a = std::fmod(a, 360.0);
    if (a > 180.0 || a < -180.0) a += a >= 0.0 ? -360.0 : 360.0;
    if (a > 90.0 || a < -90.0) {
        if (mode == TANGENT) a += a >= 0.0 ? -180.0 : 180.0;
        else if (mode == SINE) a = a >= 0.0 ? 180.0 - a : -180.0 - a;
    }
    return a * PI / 180.0;
}

double angle_arg(Reduce mode, const char* native, const int32_t* refinements) {
    Cell* base = stack::arg_base;
    const double a = float_arg(base, native, "angle");
    return refinements[0] >= 0 ? a : reduce_degrees(a, mode);
}

// sin and cos of angles that are whole multiples of 90 degrees leave
// rounding noise of pi; those answers are exact zeros.
double snap(double r) { return std::fabs(r) < EPSILON ? 0.0 : r; }

void float_result(double d) {
    make_float_at(stack::arg_base, d);
    stack::keep_first();
}

void inverse_trig(double (*fn)(double), const char* native, const char* arg, const int32_t* refinements) {
    const double r = fn(float_arg(stack::arg_base, native, arg));
    float_result(refinements[0] >= 0 ? r : r * 180.0 / PI);
}

void float_fn(double (*fn)(double), const char* native) {
    float_result(fn(float_arg(stack::arg_base, native, "value")));
}

// ---- max and min ----------------------------------------------------------------------------

bool is_nan_number(const Cell* c) {
    const uint32_t t = cell::type_of(c);
    return (t == TYPE_FLOAT || t == TYPE_PERCENT) && std::isnan(cell::get_double(c));
}

bool is_compound(uint32_t t) { return t == TYPE_PAIR || t == TYPE_POINT2D || t == TYPE_POINT3D || t == TYPE_TUPLE; }

double scalar_of(const Cell* c) {
    return cell::type_of(c) == TYPE_INTEGER ? static_cast<double>(integer_value(c)) : cell::get_double(c);
}

int32_t pick_int(int32_t a, int32_t b, bool greater) { return greater ? (b > a ? b : a) : (b < a ? b : a); }

// The point's components against the other value's, as 32-bit floats: a
// component is replaced when the other is beyond it or not a number.
void point_versus(Cell* p, const float* other, bool greater) {
    for (uint32_t i = 0; i < point::dimensions(cell::type_of(p)); i++) {
        const float a = point_coord(p, i), b = other[i];
        if (std::isnan(b) || (greater ? b > a : b < a)) point::set_component(p, i, b);
    }
}

void pair_to_point(Cell* p) {
    const float x = static_cast<float>(pair_x(p));
    const float y = static_cast<float>(pair_y(p));
    cell::set_type(p, TYPE_POINT2D);
    point::set_component(p, 0, x);
    point::set_component(p, 1, y);
    set_point_coord(p, 2, 0.0f);
}

// Steps 3 to 5 of max and min: a compound value a against b, changed in
// place. Answers false when the pair of types is not one of these.
bool compound_versus(Cell* a, const Cell* b_in, bool greater) {
    Cell b = *b_in;
    const uint32_t tb = cell::type_of(&b);
    switch (cell::type_of(a)) {
        case TYPE_PAIR:
            if (tb == TYPE_INTEGER || tb == TYPE_FLOAT) {
                const double d = scalar_of(&b);
                if (tb == TYPE_FLOAT && integer::outside_integer_range(d)) {
                    // Too large for the pair's integers: the comparison
                    // moves to floats.
                    pair_to_point(a);
                    const float f[3] = {static_cast<float>(d), static_cast<float>(d), 0.0f};
                    point_versus(a, f, greater);
                    return true;
                }
                const int32_t n = static_cast<int32_t>(d);
                pair_x(a) = pick_int(pair_x(a), n, greater);
                pair_y(a) = pick_int(pair_y(a), n, greater);
                return true;
            }
            if (tb == TYPE_PAIR) {
                pair_x(a) = pick_int(pair_x(a), pair_x(b), greater);
                pair_y(a) = pick_int(pair_y(a), pair_y(b), greater);
                return true;
            }
            if (tb == TYPE_POINT2D) {
                pair_to_point(a);
                const float f[3] = {point_coord(&b, 0), point_coord(&b, 1), 0.0f};
                point_versus(a, f, greater);
                return true;
            }
            return false;
        case TYPE_POINT2D:
        case TYPE_POINT3D: {
            float f[3];
            if (tb == TYPE_INTEGER || tb == TYPE_FLOAT) {
                f[0] = f[1] = f[2] = static_cast<float>(scalar_of(&b));
            } else if (tb == cell::type_of(a)) {
                for (uint32_t i = 0; i < 3; i++) f[i] = point_coord(&b, i);
            } else if (tb == TYPE_PAIR && cell::type_of(a) == TYPE_POINT2D) {
                f[0] = static_cast<float>(pair_x(b));
                f[1] = static_cast<float>(pair_y(b));
                f[2] = 0.0f;
            } else {
                return false;
            }
            point_versus(a, f, greater);
            return true;
        }
        case TYPE_TUPLE: {
            const uint32_t n = tuple_length(a) > 12 ? 12 : tuple_length(a);
            if (tb == TYPE_INTEGER || tb == TYPE_FLOAT) {
                const double d = scalar_of(&b);
                if (tb == TYPE_FLOAT && integer::outside_integer_range(d)) {
                    const Cell type{TYPE_DATATYPE, TYPE_INTEGER, 0, 0};
                    err::raise(err::TYPE_LIMIT, &type);
                }
                int32_t v = static_cast<int32_t>(d);
                v = v < 0 ? 0 : v > 255 ? 255 : v;
                for (uint32_t i = 0; i < n; i++)
                    set_tuple_byte(a, i, static_cast<uint8_t>(pick_int(tuple_byte(a, i), v, greater)));
                return true;
            }
            if (tb == TYPE_TUPLE && tuple_length(&b) == tuple_length(a)) {
                for (uint32_t i = 0; i < n; i++)
                    set_tuple_byte(a, i, static_cast<uint8_t>(pick_int(tuple_byte(a, i), tuple_byte(&b, i), greater)));
                return true;
            }
            return false;
        }
        default:
            return false;
    }
}

void max_min(bool greater) {
    Cell* a = stack::arg_base;
    Cell* b = a + 1;
    // A NaN against a plain number wins, whichever side it is on.
    if (is_nan_number(a) && is_integer_float_or_percent(cell::type_of(b))) {
        stack::keep_first();
        return;
    }
    if (is_nan_number(b) && is_integer_float_or_percent(cell::type_of(a))) {
        stack::set_last_reset(b);
        return;
    }
    // A number against a compound value: the compound one leads, and
    // every compound type takes an integer! or float! partner, so the
    // exchanged pair never falls through to the comparison below.
    const uint32_t ta = cell::type_of(a);
    if ((ta == TYPE_INTEGER || ta == TYPE_FLOAT) && is_compound(cell::type_of(b))) std::swap(*a, *b);
    if (is_compound(cell::type_of(a)) && compound_versus(a, b, greater)) {
        stack::keep_first();
        return;
    }
    const bool lesser = actions::compare(a, b, CompareOp::Lesser);
    if (greater ? lesser : !lesser) stack::set_last_reset(b);
    else stack::keep_first();
}

}  // namespace

// ---- the natives ----------------------------------------------------------------------------

void native_negative_q(const int32_t*) { set_logic(sign_of(stack::arg_base, "negative?") < 0); }
void native_positive_q(const int32_t*) { set_logic(sign_of(stack::arg_base, "positive?") > 0); }

void native_sign_q(const int32_t*) {
    const int32_t s = sign_of(stack::arg_base, "sign?");
    const Cell r{TYPE_INTEGER, 0, static_cast<uint32_t>(s), 0};
    stack::set_last_reset(&r);
}

void native_zero_q(const int32_t*) { set_logic(is_zero(stack::arg_base)); }

void native_NaN_q(const int32_t*) {
    const Cell* v = stack::arg_base;
    const uint32_t t = cell::type_of(v);
    if (!is_integer_float_or_percent(t)) expect_arg("NaN?", v, "value");
    set_logic(t != TYPE_INTEGER && std::isnan(cell::get_double(v)));
}

void native_max(const int32_t*) { max_min(true); }
void native_min(const int32_t*) { max_min(false); }

[[noreturn]] void expect_arg(const char* native, const Cell* value, const char* arg) {
    const Cell name = *word::make_from_cstr(native);
    const Cell type{TYPE_DATATYPE, cell::type_of(value), 0, 0};
    const Cell arg_word = *word::make_from_cstr(arg);
    err::raise(err::EXPECT_ARG, &name, &type, &arg_word);
}

int32_t shift_bits(int32_t data, int32_t bits, bool left, bool logical) {
    if (bits < 0) bits = 0;
    if (left) return bits >= 32 ? 0 : static_cast<int32_t>(static_cast<uint32_t>(data) << bits);
    if (logical) return bits >= 32 ? 0 : static_cast<int32_t>(static_cast<uint32_t>(data) >> bits);
    return bits >= 32 ? (data < 0 ? -1 : 0) : data >> bits;  // arithmetic: the sign bit is copied
}

void native_shift(const int32_t* refinements) {
    Cell* base = stack::arg_base;
    if (cell::type_of(base) != TYPE_INTEGER) expect_arg("shift", base, "data");
    if (cell::type_of(base + 1) != TYPE_INTEGER) expect_arg("shift", base + 1, "bits");
    const int32_t data = integer_value(base);
    const int32_t bits = integer_value(base + 1);
    const int32_t r = shift_bits(data, bits, refinements[0] >= 0, refinements[1] >= 0);
    const Cell result{TYPE_INTEGER, 0, static_cast<uint32_t>(r), 0};
    stack::set_last_reset(&result);
}

void native_to_hex(const int32_t* refinements) {
    Cell* base = stack::arg_base;
    if (cell::type_of(base) != TYPE_INTEGER) expect_arg("to-hex", base, "value");
    uint32_t keep = 8;
    if (refinements[0] >= 0) {
        const Cell* size = base + refinements[0];
        if (cell::type_of(size) != TYPE_INTEGER) expect_arg("to-hex", size, "length");
        const int32_t n = integer_value(size);
        if (n <= 0) err::raise(err::INVALID_ARG, size);
        if (n < 8) keep = static_cast<uint32_t>(n);
    }
    const char* digits = string::to_hex(static_cast<uint32_t>(integer_value(base)), false);
    const Cell issue = *issue::push_from_cstr(digits + 8 - keep);
    stack::set_last_reset(&issue);
}

void native_sine(const int32_t* refinements) {
    float_result(snap(std::sin(angle_arg(SINE, "sine", refinements))));
}

void native_cosine(const int32_t* refinements) {
    float_result(snap(std::cos(angle_arg(COSINE, "cosine", refinements))));
}

void native_tangent(const int32_t* refinements) {
    const double r = angle_arg(TANGENT, "tangent", refinements);
    // tan of the double nearest pi/2 is a large finite number; the exact
    // right angle answers infinity.
    if (r == PI / 2.0) float_result(HUGE_VAL);
    else if (r == PI / -2.0) float_result(-HUGE_VAL);
    else float_result(std::tan(r));
}

void native_arcsine(const int32_t* r) {
    inverse_trig(static_cast<double (*)(double)>(std::asin), "arcsine", "sine", r);
}
void native_arccosine(const int32_t* r) {
    inverse_trig(static_cast<double (*)(double)>(std::acos), "arccosine", "cosine", r);
}
void native_arctangent(const int32_t* r) {
    inverse_trig(static_cast<double (*)(double)>(std::atan), "arctangent", "tangent", r);
}

void native_arctangent2(const int32_t* refinements) {
    Cell* base = stack::arg_base;
    const double y = float_arg(base, "arctangent2", "y");
    const double x = float_arg(base + 1, "arctangent2", "x");
    const double r = std::atan2(y, x);
    float_result(refinements[0] >= 0 ? r : r * (180.0 / PI));
}

void native_log_2(const int32_t*) {
    float_fn([](double x) { return std::log(x) / LN2; }, "log-2");
}
void native_log_10(const int32_t*) { float_fn(static_cast<double (*)(double)>(std::log10), "log-10"); }
void native_log_e(const int32_t*) { float_fn(static_cast<double (*)(double)>(std::log), "log-e"); }
void native_exp(const int32_t*) {
    float_fn([](double x) { return std::pow(E, x); }, "exp");
}
void native_square_root(const int32_t*) { float_fn(static_cast<double (*)(double)>(std::sqrt), "square-root"); }

}  // namespace qel::natives
