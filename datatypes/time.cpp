// time!: make/to, text, path access and pick, and the arithmetic rules it
// adds to float!'s dispatcher. Everything else comes from float!.
#include "datatypes/time.hpp"

#include <charconv>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>

#include "datatypes/fills.hpp"
#include "datatypes/float.hpp"
#include "datatypes/integer.hpp"
#include "datatypes/text.hpp"
#include "datatypes/word.hpp"
#include "runtime/actions.hpp"
#include "runtime/stack.hpp"
#include "runtime/errors.hpp"
#include "runtime/runtime_words.hpp"
#include "runtime/scan_hook.hpp"
#include "runtime/series.hpp"
#include "runtime/symbols.hpp"
#include "runtime/words.hpp"

namespace qel::time_type {

namespace {

constexpr double SECONDS_SHOWN = 1e-6;  // below this the seconds print as 00
// Digits of the hours: the whole part of any finite double.
constexpr size_t HOURS_DIGITS_MAX = std::numeric_limits<double>::max_exponent10 + 1;

[[noreturn]] void bad_to(const Cell* spec) {
    const Cell t = datatype_cell(TYPE_TIME);
    err::raise(err::BAD_TO_ARG, &t, spec);
}

[[noreturn]] void not_related(Cell* word) {
    const Cell t = datatype_cell(TYPE_TIME);
    err::raise(err::NOT_RELATED, word, &t);
}

// The seconds text of s (0 <= s < 60, at least SECONDS_SHOWN): six
// significant digits at most, padded to two digits before the point.
size_t seconds_text(double s, char* out) {
    char buf[float_type::FORMAT_MAX];
    const size_t n = float_type::format_number(s, float_type::KIND_SECONDS, buf);
    size_t k = 0;
    if (n == 1 || (n > 1 && buf[1] == '.')) out[k++] = '0';
    std::memcpy(out + k, buf, n + 1);
    return k + n;
}

}  // namespace

// ---- text and fields ------------------------------------------------------------

size_t append_text(node_t out, double t) {
    if (std::isnan(t) || std::isinf(t)) {
        char buf[float_type::FORMAT_MAX];
        const size_t n = float_type::format_number(t, float_type::KIND_FLOAT, buf);
        text::append_latin1(out, buf, n);
        return n;
    }
    size_t written = 0;
    if (t < 0) {
        text::append_latin1(out, "-", 1);
        written++;
        t = -t;
    }
    // Round the seconds to the digits the text keeps before splitting, so
    // that 59.9999999 seconds carry into the next minute instead of
    // showing as 60.
    double s = std::fmod(t, 60);
    char sec[float_type::FORMAT_MAX + 2];
    size_t sn = 0;
    if (s >= SECONDS_SHOWN) {
        sn = seconds_text(s, sec);
        if (std::strtod(sec, nullptr) >= 60) {
            t = std::floor(t / 60) * 60 + 60;
            sn = 0;
        }
    }
    // The hours are every digit of a whole double: a duration of 1e300
    // seconds has 297 of them.
    char hours[HOURS_DIGITS_MAX];
    const std::to_chars_result r =
        std::to_chars(hours, hours + sizeof hours, std::floor(t / 3600), std::chars_format::fixed, 0);
    const size_t hn = r.ec == std::errc{} ? static_cast<size_t>(r.ptr - hours) : 0;
    text::append_latin1(out, hours, hn);
    const int32_t minutes = static_cast<int32_t>(std::floor(std::fmod(t, 3600) / 60));
    const char middle[4] = {':', static_cast<char>('0' + minutes / 10), static_cast<char>('0' + minutes % 10), ':'};
    text::append_latin1(out, middle, sizeof middle);
    if (sn == 0) {
        std::memcpy(sec, "00", 3);
        sn = 2;
    }
    text::append_latin1(out, sec, sn);
    return written + hn + sizeof middle + sn;
}

double hour_of(double t) { return std::trunc(t / 3600); }

int32_t minute_of(double t) { return static_cast<int32_t>(std::floor(std::fmod(std::fabs(t), 3600) / 60)); }

double second_of(double t) { return std::fmod(t, 60); }

double set_field(double t, int32_t field, double v) {
    const bool negative = std::signbit(t) && t != 0;
    double a = std::fabs(t);
    switch (field) {
        case 1: a -= (std::floor(a / 3600) - v) * 3600; break;
        case 2: a -= (std::floor(std::fmod(a, 3600) / 60) - v) * 60; break;
        default: a -= std::fmod(a, 60) - v; break;
    }
    return negative ? -a : a;
}

Cell* make_at(double t, Cell* c) {
    cell::set_type(c, TYPE_TIME);
    payload_word(c, 0) = 0;
    cell::put_double(c, t);
    return c;
}

int32_t field_of_word(const Cell* word, const int32_t* const* symbols, int32_t count) {
    if (!is_all_word(cell::type_of(word))) return 0;
    const int32_t sym = symbol::canonical(word_symbol(word));
    for (int32_t i = 0; i < count; i++)
        if (symbol::canonical(*symbols[i]) == sym) return i + 1;
    return 0;
}

void store_back(Cell* value, Cell* path, Cell* parent, Cell* previous, int32_t index) {
    if (!parent || !previous) return;
    const uint32_t pt = cell::type_of(parent);
    if (pt == TYPE_NONE || pt == TYPE_UNSET) {
        const uint32_t wt = cell::type_of(previous);
        if (wt == TYPE_WORD || wt == TYPE_GET_WORD) {
            Cell w = *previous;
            word::set(&w, value);
        }
        return;
    }
    const auto slot = datatype::action<datatype::EVAL_PATH>(cell::type_of(parent));
    if (!slot) return;
    // The parent cell is the walk's own: the set goes through its type,
    // which reports the change to the parent's owner.
    Cell none = shared::none;
    Cell v = *value;
    Cell* nv = stack::push(&v);
    slot(parent, {.element = previous, .new_value = nv, .path = path, .parent = &none, .previous = &none,
                  .index = index > 0 ? index - 1 : 0});
    stack::pop_n(1);
}

// ---- slots --------------------------------------------------------------------------

namespace {

const int32_t* const FIELD_SYMBOLS[] = {&words::sym_hour, &words::sym_minute, &words::sym_second};

// A time from a block of [hours minutes seconds]: hours and minutes
// integers, seconds an integer or float; only the hours may be negative,
// which makes the whole time negative.
double from_block(const Cell* spec) {
    const int32_t n = series::length_of(spec);
    if (n > 3) bad_to(spec);
    double parts[3] = {0, 0, 0};
    for (int32_t i = 0; i < n; i++) {
        const Cell c = series::cells_of(series_node(spec))[series_index(spec) + static_cast<uint32_t>(i)];
        const uint32_t t = cell::type_of(&c);
        if (t == TYPE_INTEGER) parts[i] = integer_value(&c);
        else if (t == TYPE_FLOAT && i == 2) parts[i] = cell::get_double(&c);
        else bad_to(spec);
        if (i > 0 && !(parts[i] >= 0)) bad_to(spec);
    }
    const bool negative = parts[0] < 0;
    const double sum = std::fabs(parts[0]) * 3600 + parts[1] * 60 + parts[2];
    return negative ? -sum : sum;
}

double from_text(const Cell* spec) {
    Cell* out = stack::push(&shared::none);
    if (!scan_hook::scan_text) err::raise(err::NOT_DONE);
    const uint32_t first = scan_hook::scan_text(spec, scan_hook::Scan::FirstType, nullptr);
    if (first != TYPE_TIME) bad_to(spec);
    scan_hook::scan_text(spec, scan_hook::Scan::FirstValue, out);
    if (cell::type_of(out) != TYPE_BLOCK || series::length_of(out) < 1) bad_to(spec);
    const Cell v = series::cells_of(series_node(out))[series_index(out)];
    stack::pop_n(1);
    if (cell::type_of(&v) != TYPE_TIME) bad_to(spec);
    return cell::get_double(&v);
}

Cell* make(Cell* proto, Cell* spec, uint32_t) {
    const Cell given = *spec;
    double t = 0;
    const uint32_t st = cell::type_of(&given);
    switch (st) {
        case TYPE_TIME:
        case TYPE_FLOAT:
        case TYPE_PERCENT: t = cell::get_double(&given); break;
        case TYPE_INTEGER: t = integer_value(&given); break;
        case TYPE_BLOCK:
        case TYPE_PAREN:
        case TYPE_HASH: t = from_block(&given); break;
        default:
            if (!is_any_string(st)) bad_to(&given);
            t = from_text(&given);
    }
    *proto = Cell{TYPE_TIME, 0, 0, 0};
    cell::put_double(proto, t);
    return proto;
}

int32_t write(const Cell* value, node_t out, int32_t limit) {
    return limit - static_cast<int32_t>(append_text(out, cell::get_double(value)));
}

// The field's value into out.
Cell* read_field(double t, int32_t field, Cell* out) {
    if (field == 3) return float_type::make_at(out, second_of(t));
    const double v = field == 1 ? hour_of(t) : minute_of(t);
    if (integer::outside_integer_range(v)) err::raise(err::OVERFLOW);
    *out = Cell{TYPE_INTEGER, 0, static_cast<uint32_t>(static_cast<int32_t>(v)), 0};
    return out;
}

Cell* eval_path(Cell* value, const datatype::PathStep& step) {
    static Cell answer;
    int32_t field = 0;
    if (cell::type_of(step.element) == TYPE_INTEGER) {
        const int32_t i = integer_value(step.element);
        if (i >= 1 && i <= 3) field = i;
    } else {
        field = field_of_word(step.element, FIELD_SYMBOLS, 3);
    }
    if (!field) {
        if (step.path) err::raise(err::INVALID_PATH, step.path, step.element);
        err::raise(err::INVALID_PATH, step.element);
    }
    if (!step.new_value) return read_field(cell::get_double(value), field, &answer);
    const uint32_t nt = cell::type_of(step.new_value);
    double v;
    if (nt == TYPE_INTEGER) v = integer_value(step.new_value);
    else if (nt == TYPE_FLOAT && field == 3) v = cell::get_double(step.new_value);
    else err::raise(err::INVALID_ARG, step.new_value);
    cell::put_double(value, set_field(cell::get_double(value), field, v));
    store_back(value, step.path, step.parent, step.previous, step.index);
    answer = *step.new_value;
    return &answer;
}

Cell* pick(Cell* value, int32_t index, Cell* index_cell) {
    static Cell answer;
    int32_t field = index;
    if (index_cell && is_all_word(cell::type_of(index_cell))) {
        field = field_of_word(index_cell, FIELD_SYMBOLS, 3);
        if (!field) err::raise(err::CANNOT_USE, index_cell, value);
    } else if (field < 1 || field > 3) {
        const Cell i = index_cell ? *index_cell : Cell{TYPE_INTEGER, 0, static_cast<uint32_t>(index), 0};
        err::raise(err::OUT_OF_RANGE, &i);
    }
    return read_field(cell::get_double(value), field, &answer);
}

void add_slot() {
    Cell* l = stack::arg_base;
    if (cell::type_of(l + 1) == TYPE_DATE) {
        const Cell t = l[0];
        l[0] = l[1];
        l[1] = t;
        integer::other_type_math(TYPE_DATE, MathOp::Add);
        return;
    }
    float_type::do_math(MathOp::Add);
}

void subtract_slot() {
    if (cell::type_of(stack::arg_base + 1) == TYPE_DATE) not_related(words::w_subtract);
    float_type::do_math(MathOp::Subtract);
}

void multiply_slot() {
    if (cell::type_of(stack::arg_base + 1) == TYPE_TIME) not_related(words::w_multiply);
    float_type::do_math(MathOp::Multiply);
}

void divide_slot() {
    const bool ratio = cell::type_of(stack::arg_base + 1) == TYPE_TIME;
    float_type::do_math(MathOp::Divide);
    // A duration over a duration is a plain number.
    if (ratio) cell::set_type(stack::arg_base, TYPE_FLOAT);
}

Cell* round_slot(Cell* value, const datatype::RoundOptions& options) {
    if (options.scale && cell::type_of(options.scale) == TYPE_MONEY) {
        const Cell name = stack::get_call_name();
        const Cell t = datatype_cell(TYPE_MONEY);
        err::raise(err::NOT_RELATED, &name, &t);
    }
    Cell* r = float_type::round(value, options);
    const double d = cell::type_of(r) == TYPE_INTEGER ? integer_value(r) : cell::get_double(r);
    return make_at(d, r);
}

// Parity of the whole seconds of the seconds field, nudged away from zero
// so that 2.9999999 seconds count as 3.
int32_t parity(const Cell* value) {
    double t = cell::get_double(value);
    if (!std::isfinite(t)) return -1;
    t += t >= 0 ? SECONDS_SHOWN : -SECONDS_SHOWN;
    const auto s = static_cast<int32_t>(std::fmod(t, 60));
    return s & 1;
}

bool even_slot(Cell* value) { return parity(value) == 0; }
bool odd_slot(Cell* value) { return parity(value) == 1; }

}  // namespace

void fill(datatype::Record& r) {
    datatype::set_slot<datatype::MAKE>(r, &make);
    datatype::set_slot<datatype::TO>(r, &make);
    fill_same_text<&write>(r);
    datatype::set_slot<datatype::EVAL_PATH>(r, &eval_path);
    datatype::set_slot<datatype::ADD>(r, &add_slot);
    datatype::set_slot<datatype::SUBTRACT>(r, &subtract_slot);
    datatype::set_slot<datatype::MULTIPLY>(r, &multiply_slot);
    datatype::set_slot<datatype::DIVIDE>(r, &divide_slot);
    datatype::set_slot<datatype::ROUND>(r, &round_slot);
    datatype::set_slot<datatype::EVEN_Q>(r, &even_slot);
    datatype::set_slot<datatype::ODD_Q>(r, &odd_slot);
    datatype::set_slot<datatype::PICK>(r, &pick);
    r.actions[datatype::POWER] = nullptr;
}

}  // namespace qel::time_type
