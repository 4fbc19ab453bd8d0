// money!: the cell layout's conversions, the currency list, exact
// arithmetic, comparison, rounding, text and the action slots.
//
// Every operation reads its operands into 128-bit amounts, works on those
// and writes a fresh cell; the operands stay as they were when an error is
// raised.
#include "datatypes/money.hpp"

#include <cmath>
#include <cstring>

#include "datatypes/fills.hpp"
#include "datatypes/float.hpp"
#include "datatypes/float_text.hpp"
#include "datatypes/integer.hpp"
#include "datatypes/number_text.hpp"
#include "datatypes/system_object.hpp"
#include "datatypes/text.hpp"
#include "datatypes/word.hpp"
#include "runtime/errors.hpp"
#include "runtime/random.hpp"
#include "runtime/runtime_words.hpp"
#include "runtime/series.hpp"
#include "runtime/stack.hpp"
#include "runtime/symbols.hpp"

namespace qel::money {

namespace {

constexpr Amount pow10(uint32_t n) {
    Amount p = 1;
    for (uint32_t i = 0; i < n; i++) p *= 10;
    return p;
}
constexpr Amount LIMIT = pow10(DIGITS);  // every magnitude stays below
constexpr double FLOAT_LIMIT = 1e17;
constexpr double FLOAT_SMALLEST = 1e-5;
constexpr int32_t DEFAULT_SHOWN_DIGITS = 2;
constexpr int32_t LARGEST_BLOCK_FRACTION = 99999;  // in units of 0.00001
// The longest text: sign, currency, "$", 17 digits, 5 group marks, ".",
// 5 fraction digits.
constexpr size_t TEXT_MAX = 40;

Amount magnitude(Amount v) { return v < 0 ? -v : v; }
int32_t order(Amount a, Amount b) { return (a > b) - (a < b); }

[[noreturn]] void overflow() { err::raise_with_type(err::TYPE_LIMIT, TYPE_MONEY); }

[[noreturn]] void bad_make(const Cell* spec) {
    const Cell t = datatype_cell(TYPE_MONEY);
    err::raise(err::BAD_MAKE_ARG, &t, spec);
}

[[noreturn]] void bad_to(const Cell* spec) {
    const Cell t = datatype_cell(TYPE_MONEY);
    err::raise(err::BAD_TO_ARG, &t, spec);
}

Amount checked(Amount v) {
    if (magnitude(v) >= LIMIT) overflow();
    return v;
}

// ---- the currency list ----------------------------------------------------------

// The list block, or nullptr before the system object exists.
const Cell* currency_list() {
    const Cell* list = system_object::field({"locale", "currencies", "list"});
    return list && cell::type_of(list) == TYPE_BLOCK ? list : nullptr;
}

// Only a word of three characters names a currency.
bool is_code(const Cell* w) {
    return is_any_word(cell::type_of(w)) && symbol::name_length(word_symbol(w)) == 3;
}

// The word at a 1-based index of the list, or nullptr.
const Cell* currency_word(uint32_t index) {
    const Cell* list = currency_list();
    if (!list || index == 0 || static_cast<int32_t>(index) > series::length_of(list)) return nullptr;
    const Cell* w = series::cells_of(series_node(list)) + series_index(list) + index - 1;
    return is_code(w) ? w : nullptr;
}

template <class Match>
int32_t find_currency(Match match) {
    const Cell* list = currency_list();
    if (!list) return -1;
    const int32_t n = series::length_of(list);
    for (int32_t i = 0; i < n && i < static_cast<int32_t>(CURRENCY_LIMIT); i++) {
        const Cell* w = series::cells_of(series_node(list)) + series_index(list) + i;
        if (is_code(w) && match(word_symbol(w))) return i + 1;
    }
    return -1;
}

int32_t currency_of_code(const char* code) {
    return find_currency([code](int32_t sym) {
        const char* name = symbol::name(sym);
        for (int i = 0; i < 3; i++) {
            const auto a = static_cast<unsigned char>(name[i]), b = static_cast<unsigned char>(code[i]);
            const auto fold = [](unsigned char c) { return c >= 'a' && c <= 'z' ? c - 32 : c; };
            if (fold(a) != fold(b)) return false;
        }
        return true;
    });
}

// A word cell naming the currency (none for index 0 or an index the list
// does not reach).
Cell currency_cell(uint8_t index) {
    const Cell* w = currency_word(index);
    if (!w) return shared::none;
    Cell c = *w;
    c.header = TYPE_WORD;
    return c;
}

// ---- text ---------------------------------------------------------------------

// The number of fraction digits the text shows.
int32_t shown_digits(bool all) {
    if (all) return FRACTION_DIGITS;
    const Cell* f = system_object::field({"options", "money-digits"});
    const int32_t d = f && cell::type_of(f) == TYPE_INTEGER ? integer_value(f) : DEFAULT_SHOWN_DIGITS;
    return d > static_cast<int32_t>(FRACTION_DIGITS) ? FRACTION_DIGITS : d;
}

size_t write_text(const Cell* value, char* out, int32_t fraction, bool grouped) {
    size_t n = 0;
    if (sign_of(value) < 0) out[n++] = '-';
    const Cell* w = currency_word(currency_of(value));
    if (w) {
        const int32_t sym = word_symbol(w);
        std::memcpy(out + n, symbol::name(sym), 3);
        n += 3;
    }
    out[n++] = '$';
    uint32_t first = 1;
    while (first < INTEGER_DIGITS && digit_at(value, first) == 0) first++;
    for (uint32_t p = first; p <= INTEGER_DIGITS; p++) {
        out[n++] = static_cast<char>('0' + digit_at(value, p));
        if (grouped && p < INTEGER_DIGITS && (INTEGER_DIGITS - p) % 3 == 0) out[n++] = '\'';
    }
    if (fraction > 0) {
        out[n++] = '.';
        for (int32_t k = 1; k <= fraction; k++)
            out[n++] = static_cast<char>('0' + digit_at(value, INTEGER_DIGITS + static_cast<uint32_t>(k)));
    }
    out[n] = 0;
    return n;
}

int32_t append(const Cell* value, node_t out, int32_t limit, int32_t fraction, bool grouped) {
    char buf[TEXT_MAX];
    const size_t n = write_text(value, buf, fraction, grouped);
    text::append_latin1(out, buf, n);
    return limit - static_cast<int32_t>(n);
}

int32_t form(const Cell* value, node_t out, bool, int32_t limit) {
    return append(value, out, limit, shown_digits(false), true);
}

int32_t mold(const Cell* value, node_t out, const datatype::MoldOptions& options, int32_t limit, int32_t) {
    return append(value, out, limit, shown_digits(options.all), false);
}

}  // namespace

// ---- cells ------------------------------------------------------------------------

Amount amount_of(const Cell* c) {
    Amount v = 0;
    for (uint32_t p = 1; p <= DIGITS; p++) v = v * 10 + digit_at(c, p);
    return sign_bit(c) ? -v : v;
}

Cell* store(Cell* c, Amount v, uint8_t currency) {
    *c = Cell{TYPE_MONEY | (v < 0 ? SIGN_FLAG : 0), 0, 0, 0};
    set_currency(c, currency);
    Amount m = magnitude(v);
    for (uint32_t p = DIGITS; p >= 1; p--) {
        set_digit(c, p, static_cast<uint32_t>(m % 10));
        m /= 10;
    }
    return c;
}

Cell* make_at(Cell* c, bool negative, uint8_t currency, const uint8_t* digits) {
    *c = Cell{TYPE_MONEY | (negative ? SIGN_FLAG : 0), 0, 0, 0};
    set_currency(c, currency);
    for (uint32_t i = 0; i < DIGIT_BYTES; i++) set_payload_byte(c, 1 + i, digits[i]);
    return c;
}

bool make_at_from_string(Cell* c, bool negative, const char* code, const char* start, const char* point,
                         const char* end) {
    int32_t currency = 0;
    if (code) {
        currency = currency_of_code(code);
        if (currency < 0) return false;
    }
    *c = Cell{TYPE_MONEY | (negative ? SIGN_FLAG : 0), 0, 0, 0};
    set_currency(c, static_cast<uint8_t>(currency));
    // Integer digits right to left from the point, fraction left to right.
    const char* integer_end = point ? point : end;
    uint32_t position = INTEGER_DIGITS;
    for (const char* p = integer_end; p > start && position >= 1;) {
        const char ch = *--p;
        if (ch == '\'') continue;
        set_digit(c, position--, static_cast<uint32_t>(ch - '0'));
    }
    if (point) {
        position = INTEGER_DIGITS + 1;
        for (const char* p = point + 1; p < end && position <= DIGITS; p++)
            set_digit(c, position++, static_cast<uint32_t>(*p - '0'));
    }
    return true;
}

int32_t currency_index(int32_t sym) {
    const int32_t want = symbol::canonical(sym);
    return find_currency([want](int32_t s) { return symbol::canonical(s) == want; });
}

int32_t sign_of(const Cell* c) {
    for (uint32_t i = 1; i <= DIGIT_BYTES; i++)
        if (payload_byte(c, i)) return sign_bit(c) ? -1 : 1;
    return 0;
}

// ---- conversions --------------------------------------------------------------------

Amount from_integer(int32_t v) { return static_cast<Amount>(v) * UNIT; }

namespace {

// A finite double of magnitude 0.00001 to below 1e17 (or zero) cut toward
// zero to five fraction digits of its shortest round-trip text; inexact
// tells whether the text had more.
Amount cut_float(double v, bool& inexact) {
    inexact = false;
    if (v == 0) return 0;
    float_text::Digits d;
    float_text::dtoa(v, 0, d);
    // The digits are d.digits with the point after d.exponent of them.
    inexact = d.count - d.exponent > static_cast<int32_t>(FRACTION_DIGITS);
    // The first exponent + 5 digits (zeros past the last, none before the
    // first when the exponent is negative) count the units of 0.00001.
    Amount a = 0;
    for (int32_t k = 0; k < d.exponent + static_cast<int32_t>(FRACTION_DIGITS); k++) {
        const int32_t digit = k < d.count ? d.digits[k] - '0' : 0;
        a = a * 10 + digit;
    }
    return d.negative ? -a : a;
}

}  // namespace

Amount from_float(double v, bool check) {
    const double m = std::fabs(v);
    bool inexact = false;
    Amount a = 0;
    if (std::isfinite(v) && m < FLOAT_LIMIT && !(m > 0 && m < FLOAT_SMALLEST)) a = cut_float(v, inexact);
    else inexact = check = true;
    if (check && inexact) {
        Cell f{TYPE_FLOAT, 0, 0, 0};
        float_type::make_at(&f, v);
        bad_make(&f);
    }
    return a;
}

int32_t to_integer(const Cell* c) {
    const Amount v = amount_of(c) / UNIT;  // cut toward zero
    if (v > INT32_MAX || v < INT32_MIN) err::raise_with_type(err::TYPE_LIMIT, TYPE_INTEGER);
    return static_cast<int32_t>(v);
}

namespace {

double to_float(Amount v) {
    // The amount's text with five fraction digits, read back.
    char buf[TEXT_MAX];
    char* p = buf + sizeof buf;
    Amount m = magnitude(v);
    for (uint32_t k = 0; k < FRACTION_DIGITS; k++, m /= 10) *--p = static_cast<char>('0' + static_cast<int>(m % 10));
    *--p = '.';
    do {
        *--p = static_cast<char>('0' + static_cast<int>(m % 10));
        m /= 10;
    } while (m);
    size_t unparsed = 0;
    const double d = float_text::parse(p, buf + sizeof buf, 0, &unparsed);
    if (unparsed) {
        const Cell t = datatype_cell(TYPE_FLOAT);
        err::raise(err::BAD_MAKE_ARG, &t);
    }
    return v < 0 ? -d : d;
}

}  // namespace

double to_float(const Cell* c) { return to_float(amount_of(c)); }

// ---- arithmetic -------------------------------------------------------------------

namespace {

Amount multiply(Amount a, Amount b) {
    if (a == 0 || b == 0) return 0;
    const Amount ma = magnitude(a), mb = magnitude(b);
    // Both below 10^22: a product of 10^27 or more cannot come back under
    // 10^22 after the cut, and one below it fits in 128 bits.
    const Amount bound = LIMIT * UNIT;
    if (ma > bound / mb) overflow();
    const Amount p = ma * mb;
    if (p >= bound) overflow();
    const Amount cut = p / UNIT;
    if (cut == 0) overflow();  // underflow
    return (a < 0) != (b < 0) ? -cut : cut;
}

Amount divide(Amount a, Amount b) {
    if (b == 0) err::raise(err::ZERO_DIVIDE);
    if (a == 0) return 0;
    // |a| * 10^5 stays below 10^27, well inside 128 bits.
    const Amount q = magnitude(a) * UNIT / magnitude(b);
    if (q == 0 || q >= LIMIT) overflow();
    return (a < 0) != (b < 0) ? -q : q;
}

Amount remainder(Amount a, Amount b) {
    if (b == 0) err::raise(err::ZERO_DIVIDE);
    const Amount r = magnitude(a) % magnitude(b);
    return a < 0 ? -r : r;
}

// An operand of the arithmetic made money.
Amount operand(const Cell* c, uint8_t& currency) {
    currency = 0;
    switch (cell::type_of(c)) {
        case TYPE_MONEY: currency = currency_of(c); return amount_of(c);
        case TYPE_INTEGER: return from_integer(integer_value(c));
        case TYPE_FLOAT:
        case TYPE_PERCENT: return from_float(cell::get_double(c), false);
        default: err::raise_with_type(err::INVALID_TYPE, cell::type_of(c));
    }
}

}  // namespace

void do_math(MathOp op) {
    Cell* l = stack::arg_base;
    Cell* r = l + 1;
    const uint32_t lt = cell::type_of(l), rt = cell::type_of(r);
    if (!is_known(op) || is_bitwise(op)) err::raise_with_type(err::INVALID_TYPE, TYPE_MONEY);
    if ((op == MathOp::Multiply && lt == TYPE_MONEY && rt == TYPE_MONEY) ||
        ((op == MathOp::Divide || op == MathOp::Remainder) && lt != TYPE_MONEY && rt == TYPE_MONEY))
        err::raise_with_type(err::INVALID_TYPE, lt);
    uint8_t lc, rc;
    const Amount a = operand(l, lc);
    const Amount b = operand(r, rc);
    if (lc && rc && lc != rc) err::raise(err::WRONG_DENOM, l, r);
    const uint8_t currency = rc ? rc : lc;
    Amount v = 0;
    switch (op) {
        case MathOp::Add: v = checked(a + b); break;
        case MathOp::Subtract: v = checked(a - b); break;
        case MathOp::Multiply: v = multiply(a, b); break;
        case MathOp::Divide:
            v = divide(a, b);
            if (lt == TYPE_MONEY && rt == TYPE_MONEY) {
                // A ratio of two amounts is a plain number.
                l->header &= ~SIGN_FLAG;
                float_type::make_at(l, to_float(v));
                return;
            }
            break;
        default: v = remainder(a, b); break;
    }
    const uint32_t flags = l->header & cell_flag::NEW_LINE;
    store(l, v, currency);
    l->header |= flags;
}

// ---- comparison -------------------------------------------------------------------

namespace {

// The order of an amount against a double under op.
int32_t compare_with_double(Amount m, double x, CompareOp op) {
    if (std::isnan(x)) return is_ordering(op) ? failing_order(op) : 1;
    const double ax = std::fabs(x);
    // Beyond the amounts, or between zero and the smallest step: the
    // float's own sign places it.
    if (ax >= FLOAT_LIMIT) return x > 0 ? -1 : 1;
    if (ax > 0 && ax < FLOAT_SMALLEST) {
        if (m == 0) return x > 0 ? -1 : 1;
        return m > 0 ? 1 : -1;
    }
    // Exactly: the float cut to five fraction digits, then the digits the
    // cut dropped, which lie on the float's side of zero.
    bool inexact;
    const Amount c = cut_float(x, inexact);
    if (c != m || !inexact) return order(m, c);
    return x > 0 ? -1 : 1;
}

int32_t compare(const Cell* a, const Cell* b, CompareOp op) {
    const uint32_t tb = cell::type_of(b);
    const bool strict = op == CompareOp::StrictEqual || op == CompareOp::Same || op == CompareOp::Find;
    if (tb != TYPE_MONEY) {
        if (strict) return 1;
        if (tb == TYPE_INTEGER) return order(amount_of(a), from_integer(integer_value(b)));
        if (tb == TYPE_FLOAT || tb == TYPE_PERCENT) return compare_with_double(amount_of(a), cell::get_double(b), op);
        return -2;
    }
    const uint8_t ca = currency_of(a), cb = currency_of(b);
    switch (op) {
        case CompareOp::Lesser:
        case CompareOp::LesserOrEqual:
        case CompareOp::Greater:
        case CompareOp::GreaterOrEqual:
            if (ca && cb && ca != cb) err::raise(err::WRONG_DENOM, a, b);
            break;
        case CompareOp::Sort:
        case CompareOp::SortCase:
            if (ca != cb) {
                if (!ca) return -1;
                if (!cb) return 1;
                const Cell wa = currency_cell(ca), wb = currency_cell(cb);
                if (cell::type_of(&wa) == TYPE_WORD && cell::type_of(&wb) == TYPE_WORD) {
                    const int32_t r = word_type::compare(&wa, &wb, op);
                    if (r) return r;
                }
                return ca < cb ? -1 : 1;
            }
            break;
        case CompareOp::StrictEqual:
        case CompareOp::Same:
            if (ca != cb) return 1;
            break;
        case CompareOp::Find:
            if (cb && ca != cb) return 1;
            break;
        default:
            if (ca && cb && ca != cb) return 1;
            break;
    }
    return order(amount_of(a), amount_of(b));
}

// integer! on the left of a money! value.
int32_t integer_against(const Cell* a, const Cell* b, CompareOp op) {
    if (op == CompareOp::StrictEqual || op == CompareOp::Same || op == CompareOp::Find) return 1;
    return order(from_integer(integer_value(a)), amount_of(b));
}

// float!, percent! or time! on the left of a money! value.
int32_t double_against(double x, const Cell* b, CompareOp op) {
    if (std::isnan(x)) return is_ordering(op) ? failing_order(op) : 1;
    return -compare_with_double(amount_of(b), x, op);
}

// ---- rounding -------------------------------------------------------------------

Amount scale_of(const Cell* scale) {
    if (!scale) return UNIT;
    switch (cell::type_of(scale)) {
        case TYPE_MONEY: return amount_of(scale);
        case TYPE_INTEGER: return from_integer(integer_value(scale));
        case TYPE_FLOAT: return from_float(cell::get_double(scale), true);
        default: {
            const Cell t = datatype_cell(cell::type_of(scale));
            const Cell name = stack::get_call_name();
            err::raise(err::NOT_RELATED, &t, &name);
        }
    }
}

Cell* round(Cell* value, const datatype::RoundOptions& options) {
    const Amount n = amount_of(value);
    const Amount scale = scale_of(options.scale);
    if (n == 0 || scale == 0) return value;
    const Amount s = magnitude(scale), v = magnitude(n);
    const Amount r = v % s;
    // A multiple of the scale is its own rounding in every mode.
    if (r == 0) return value;
    const Amount down = v - r, up = v + (s - r);
    const bool negative = n < 0;
    const bool tie = 2 * r == s;
    const Amount nearest = 2 * r < s ? down : up;
    const Amount ceiling = negative ? down : up;
    Amount m;
    if (options.down) m = down;
    else if (options.floor) m = negative ? up : down;
    else if (options.ceiling) m = ceiling;
    else if (options.even) m = tie ? ((down / s) % 2 == 0 ? down : up) : nearest;
    else if (options.half_down) m = tie ? down : nearest;
    else if (options.half_ceiling) m = tie ? ceiling : nearest;
    else m = nearest;
    if (m >= LIMIT) overflow();
    store(value, negative ? -m : m, currency_of(value));
    return value;
}

// ---- make and to ----------------------------------------------------------------

Cell result_cell;

Amount from_text(const Cell* spec, Cell* out) {
    const int32_t len = series::length_of(spec);
    if (len <= 0) bad_to(spec);
    SeriesBuffer* s = series::buffer_of(series_node(spec));
    const uint32_t unit = series::unit(s);
    const uint8_t* p = series::head_ptr(s) + series_index(spec) * unit;
    int32_t status = 0;
    number_text::scan_money(p, static_cast<uint32_t>(len), unit, out, &status);
    if (status == number_text::STATUS_OVERFLOW) overflow();
    if (status != number_text::STATUS_OK) bad_to(spec);
    return amount_of(out);
}

Cell* to(Cell*, Cell* spec, uint32_t) {
    const uint32_t t = cell::type_of(spec);
    switch (t) {
        case TYPE_MONEY: result_cell = *spec; break;
        case TYPE_INTEGER: store(&result_cell, from_integer(integer_value(spec)), 0); break;
        case TYPE_FLOAT: store(&result_cell, from_float(cell::get_double(spec), true), 0); break;
        default:
            if (!is_any_string(t)) bad_to(spec);
            from_text(spec, &result_cell);
    }
    cell::clear_new_line(&result_cell);
    return &result_cell;
}

// [currency amount fraction]: each part optional but the amount.
Cell* from_block(const Cell* spec) {
    const int32_t n = series::length_of(spec);
    if (n < 1 || n > 3) bad_make(spec);
    Cell parts[3];
    const Cell* cells = series::cells_of(series_node(spec)) + series_index(spec);
    for (int32_t i = 0; i < n; i++) parts[i] = cells[i];
    int32_t k = 0;
    uint8_t currency = 0;
    if (cell::type_of(&parts[0]) == TYPE_WORD) {
        const int32_t index = currency_index(word_symbol(parts[0]));
        if (index < 0) bad_make(&parts[0]);
        if (n == 1) bad_make(spec);
        currency = static_cast<uint8_t>(index);
        k = 1;
    }
    const Cell& amount = parts[k];
    Amount v;
    if (cell::type_of(&amount) == TYPE_INTEGER) {
        v = from_integer(integer_value(amount));
        if (k + 1 < n) {
            const Cell& f = parts[k + 1];
            if (cell::type_of(&f) != TYPE_INTEGER || integer_value(f) < 0 ||
                integer_value(f) > LARGEST_BLOCK_FRACTION || k + 2 < n)
                bad_make(&f);
            v = checked(v + (v < 0 ? -integer_value(f) : integer_value(f)));
        }
    } else if (cell::type_of(&amount) == TYPE_FLOAT) {
        if (k + 1 < n) bad_make(spec);
        v = from_float(cell::get_double(&amount), true);
    } else {
        bad_make(&amount);
    }
    store(&result_cell, v, currency);
    return &result_cell;
}

Cell* make(Cell* proto, Cell* spec, uint32_t type) {
    const uint32_t t = cell::type_of(spec);
    if (t == TYPE_WORD) {
        const int32_t index = currency_index(word_symbol(spec));
        if (index < 0) bad_make(spec);
        store(&result_cell, 0, static_cast<uint8_t>(index));
        return &result_cell;
    }
    if (is_block_paren_or_hash(t)) return from_block(spec);
    return to(proto, spec, type);
}

// ---- paths, pick and the small slots ----------------------------------------------

// The fields a path or pick reaches, by word or by number.
enum class Field { None = 0, Code = 1, Amount = 2 };

Field field_of(const Cell* selector) {
    const uint32_t t = cell::type_of(selector);
    if (t == TYPE_INTEGER) {
        const int32_t i = integer_value(selector);
        return i == 1 ? Field::Code : i == 2 ? Field::Amount : Field::None;
    }
    if (!is_any_word(t)) return Field::None;
    const int32_t sym = symbol::canonical(word_symbol(selector));
    if (sym == symbol::canonical(words::sym_code)) return Field::Code;
    if (sym == symbol::canonical(words::sym_amount)) return Field::Amount;
    return Field::None;
}

Cell* read_field(const Cell* value, Field field) {
    if (field == Field::Code) {
        result_cell = currency_cell(currency_of(value));
    } else {
        result_cell = *value;
        cell::clear_new_line(&result_cell);
        set_currency(&result_cell, 0);
    }
    return &result_cell;
}

Cell* eval_path(Cell* value, const datatype::PathStep& step) {
    const Field field = field_of(step.element);
    if (step.new_value) {
        if (step.path) err::raise(err::BAD_PATH_SET, step.path, step.element);
        err::raise(err::BAD_PATH_SET, step.element);
    }
    if (field == Field::None) {
        if (step.path) err::raise(err::INVALID_PATH, step.path, step.element);
        err::raise(err::INVALID_PATH, step.element);
    }
    return read_field(value, field);
}

Cell* pick(Cell* value, int32_t, Cell* index_cell) {
    const Field field = index_cell ? field_of(index_cell) : Field::None;
    if (field == Field::None) {
        const Cell none = shared::none;
        err::raise(err::OUT_OF_RANGE, index_cell ? index_cell : &none);
    }
    return read_field(value, field);
}

void absolute() { stack::arg_base->header &= ~SIGN_FLAG; }

Cell* negate(Cell* value) {
    value->header ^= SIGN_FLAG;
    return value;
}

bool even(Cell* value) { return digit_at(value, INTEGER_DIGITS) % 2 == 0; }
bool odd(Cell* value) { return digit_at(value, INTEGER_DIGITS) % 2 == 1; }

Cell* random_slot(Cell* value, bool seed, bool secure, bool) {
    if (seed) {
        random::seed(static_cast<int32_t>(payload_word(value, 0) ^ payload_word(value, 1) ^ payload_word(value, 2) ^
                                          (value->header & SIGN_FLAG)));
        return &shared::unset;
    }
    const auto draw = [secure]() { return static_cast<uint32_t>(secure ? random::secure_next() : random::next()); };
    uint32_t first = 1;
    while (first <= DIGITS && digit_at(value, first) == 0) first++;
    bool bounded = true;
    for (uint32_t p = first; p <= DIGITS; p++) {
        if (!bounded) {
            set_digit(value, p, draw() % 10);
            continue;
        }
        const uint32_t top = digit_at(value, p);
        uint32_t d;
        // The value's own digit is kept only rarely, so that the draw
        // stays below the value; a 0 is the only digit there is.
        for (;;) {
            d = draw() % (top + 1);
            if (d < top || top == 0 || draw() % 1000 == draw() % 1000) break;
        }
        if (d < top) bounded = false;
        set_digit(value, p, d);
    }
    return value;
}

template <MathOp Op>
void math_slot() {
    do_math(Op);
}

}  // namespace

void fill(datatype::Record& r) {
    fill_value_slots(r, {&make, &to, &form, &mold, &compare});
    datatype::set_slot<datatype::RANDOM>(r, &random_slot);
    datatype::set_slot<datatype::EVAL_PATH>(r, &eval_path);
    datatype::set_slot<datatype::ABSOLUTE>(r, &absolute);
    datatype::fill_math_slots(r, [](auto op) { return &math_slot<decltype(op)::value>; }, false);
    datatype::set_slot<datatype::NEGATE>(r, &negate);
    datatype::set_slot<datatype::ROUND>(r, &round);
    datatype::set_slot<datatype::EVEN_Q>(r, &even);
    datatype::set_slot<datatype::ODD_Q>(r, &odd);
    datatype::set_slot<datatype::PICK>(r, &pick);
    // The other numbers hand a money! operand over to this type.
    integer::neighbours.money_math = &do_math;
    integer::neighbours.money_compare = &integer_against;
    integer::neighbours.money_whole = &to_integer;
    float_type::neighbours.money_math = &do_math;
    float_type::neighbours.money_to_double = [](const Cell* c) { return to_float(c); };
    float_type::neighbours.money_compare = &double_against;
}

}  // namespace qel::money
