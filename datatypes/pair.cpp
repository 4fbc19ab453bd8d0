// pair!: its actions, and the helpers it shares with tuple! and the point
// types (conversion from text, write-back after a set-path).
//
// Component arithmetic goes through integer!'s 32-bit core, which reports
// an overflow or an inexact division by turning its result into a float;
// either turns the whole operation into point2D! arithmetic.
#include "datatypes/pair.hpp"

#include <cmath>

#include "datatypes/block.hpp"
#include "datatypes/fills.hpp"
#include "datatypes/float.hpp"
#include "datatypes/integer.hpp"
#include "datatypes/point.hpp"
#include "datatypes/string.hpp"
#include "datatypes/text.hpp"
#include "runtime/actions.hpp"
#include "runtime/random.hpp"
#include "runtime/stack.hpp"
#include "runtime/errors.hpp"
#include "runtime/runtime_words.hpp"
#include "runtime/scan_hook.hpp"
#include "runtime/symbols.hpp"
#include "runtime/words.hpp"

namespace qel::composite {

bool from_text(const Cell* text, uint32_t type, Cell* out) {
    if (!is_any_string(cell::type_of(text))) return false;
    const stack::Saved saved;
    Cell* held = stack::push(text);
    // A checking pass first: a text that does not scan is a failed
    // conversion, not a syntax error of the program.
    if (!scan_hook::scan_text) err::raise(err::NOT_DONE);
    if (scan_hook::scan_text(held, scan_hook::Scan::Check, nullptr) == TYPE_ERROR) return false;
    Cell* values = stack::push(&shared::none);
    scan_hook::scan_text(held, scan_hook::Scan::Values, values);
    if (cell::type_of(values) != TYPE_BLOCK || block::length(values) != 1) return false;
    const Cell v = *block::cell_at(values, series_index(values));
    if (cell::type_of(&v) != type) return false;
    *out = v;
    cell::clear_new_line(out);
    return true;
}

void write_back(const Cell* changed, Cell* parent, Cell* previous, Cell* path) {
    if (!previous) return;
    const stack::Saved saved;
    Cell* v = stack::push(changed);
    Cell* sel = stack::push(previous);
    const uint32_t st = cell::type_of(sel);
    if (!parent || cell::type_of(parent) == TYPE_NONE) {
        // The value came straight from the path's first word.
        if (st >= TYPE_WORD && st <= TYPE_REFINEMENT) word::set(sel, v);
        return;
    }
    if (st == TYPE_GET_WORD) {
        *sel = *word::get(sel);
    } else if (st == TYPE_PAREN) {
        // The selector the paren gave is gone, and evaluating it again
        // could give another one.
        err::raise(err::INVALID_PATH_SET, path ? path : &shared::none);
    }
    Cell* holder = stack::push(parent);
    const auto slot = datatype::action<datatype::EVAL_PATH>(cell::type_of(holder));
    if (!slot) return;
    slot(holder, {.element = sel, .new_value = v, .path = path});
}

int32_t truncate_checked(double d, const Cell* culprit) {
    if (!(d > -2147483649.0 && d < 2147483648.0)) err::raise(err::INVALID_ARG, culprit);
    return static_cast<int32_t>(d);
}

int32_t selector(const Cell* element, uint32_t n) {
    const uint32_t t = cell::type_of(element);
    if (t == TYPE_INTEGER) {
        const int32_t i = integer_value(element);
        return i >= 1 && i <= static_cast<int32_t>(n) ? i - 1 : -2;
    }
    if (is_any_word(t)) {
        const int32_t c = symbol::canonical(word_symbol(element));
        if (c == symbol::canonical(words::sym_x)) return 0;
        if (c == symbol::canonical(words::sym_y)) return 1;
        if (n == 3 && c == symbol::canonical(words::sym_z)) return 2;
        return -1;
    }
    return -3;
}

}  // namespace qel::composite

namespace qel::pair {

namespace {

// Coordinate k of a pair: 0 x, 1 y.
int32_t& coord(Cell* c, int32_t k) { return k == 0 ? pair_x(c) : pair_y(c); }

[[noreturn]] void bad_to(const Cell* spec) {
    const Cell t = datatype_cell(TYPE_PAIR);
    err::raise(err::BAD_TO_ARG, &t, spec);
}

// x (op) y in 32 bits; false when the exact result is not an integer.
bool component_op(int32_t a, int32_t b, MathOp op, int32_t& out) {
    if ((op == MathOp::Divide || op == MathOp::Remainder) && b == 0) err::raise(err::ZERO_DIVIDE);
    if (a == INT32_MIN && b == -1) {
        // The one quotient the hardware cannot give; its remainder is 0.
        if (op == MathOp::Divide) return false;
        if (op == MathOp::Remainder) {
            out = 0;
            return true;
        }
    }
    Cell r{TYPE_INTEGER, 0, 0, 0};
    out = integer::arith(a, b, op, &r);
    return cell::type_of(&r) == TYPE_INTEGER;
}

// Both operands as point2D! values, then the point arithmetic.
void as_points(MathOp op) {
    Cell* l = stack::arg_base;
    Cell* r = l + 1;
    point::make2_at(l, pair_x(l), pair_y(l));
    if (cell::type_of(r) == TYPE_PAIR) point::make2_at(r, pair_x(r), pair_y(r));
    else if (cell::type_of(r) == TYPE_INTEGER) point::make2_at(r, integer_value(r), integer_value(r));
    point::do_math(op);
}

}  // namespace

Cell* make_at(Cell* c, int32_t x, int32_t y) {
    c->header = (c->header & ~cell_flag::TYPE_MASK) | TYPE_PAIR;
    payload_word(c, 0) = 0;
    pair_x(c) = x;
    pair_y(c) = y;
    return c;
}

void do_math(MathOp op) {
    Cell* l = stack::arg_base;
    Cell* r = l + 1;
    const uint32_t rt = cell::type_of(r);
    int32_t rx = 0, ry = 0;
    switch (rt) {
        case TYPE_INTEGER: rx = ry = integer_value(r); break;
        case TYPE_PAIR: rx = pair_x(r), ry = pair_y(r); break;
        case TYPE_POINT2D:
            point::make2_at(l, pair_x(l), pair_y(l));
            point::do_math(op);
            return;
        case TYPE_FLOAT:
        case TYPE_PERCENT: {
            const double f = cell::get_double(r);
            if (!std::isfinite(f)) err::raise(err::INVALID_ARG, r);
            if (op == MathOp::Multiply || op == MathOp::Divide) {
                const double x = pair_x(l), y = pair_y(l);
                point::make2_at(l, float_type::scalar_op(x, f, op), float_type::scalar_op(y, f, op));
                return;
            }
            // The other operators take the number's whole part; one that
            // has no 32-bit whole part cannot be combined with integers.
            if (!(f > -2147483649.0 && f < 2147483648.0)) err::raise(err::OVERFLOW);
            rx = ry = static_cast<int32_t>(f);
            break;
        }
        default: err::raise_with_type(err::INVALID_TYPE, rt);
    }
    int32_t x = 0, y = 0;
    const bool x_exact = component_op(pair_x(l), rx, op, x);
    const bool y_exact = component_op(pair_y(l), ry, op, y);
    if (!x_exact || !y_exact) {
        if (rt != TYPE_PAIR) integer::make_at(r, rx);  // a float operand as the integer it stood for
        as_points(op);
        return;
    }
    make_at(l, x, y);
}

namespace {

// ---- make and to ------------------------------------------------------------

int32_t number_component(const Cell* v, const Cell* spec) {
    if (cell::type_of(v) == TYPE_INTEGER) return integer_value(v);
    if (cell::type_of(v) == TYPE_FLOAT) return composite::truncate_checked(std::trunc(cell::get_double(v)), v);
    const Cell t = datatype_cell(TYPE_PAIR);
    err::raise(err::MALCONSTRUCT, &t, spec);
}

Cell* make(Cell*, Cell* spec, uint32_t) {
    static Cell result;
    result = Cell{TYPE_PAIR, 0, 0, 0};
    switch (cell::type_of(spec)) {
        case TYPE_PAIR: make_at(&result, pair_x(spec), pair_y(spec)); break;
        case TYPE_INTEGER: make_at(&result, integer_value(spec), integer_value(spec)); break;
        case TYPE_FLOAT: {
            const int32_t n = composite::truncate_checked(std::trunc(cell::get_double(spec)), spec);
            make_at(&result, n, n);
            break;
        }
        case TYPE_POINT2D:
            make_at(&result, composite::truncate_checked(std::trunc(point_coord(spec, 0)), spec),
                    composite::truncate_checked(std::trunc(point_coord(spec, 1)), spec));
            break;
        case TYPE_BLOCK: {
            if (block::length(spec) < 2) {
                const Cell t = datatype_cell(TYPE_PAIR);
                err::raise(err::MALCONSTRUCT, &t, spec);
            }
            const Cell a = *block::cell_at(spec, series_index(spec));
            const Cell b = *block::cell_at(spec, series_index(spec) + 1);
            make_at(&result, number_component(&a, spec), number_component(&b, spec));
            break;
        }
        default:
            if (!composite::from_text(spec, TYPE_PAIR, &result)) bad_to(spec);
    }
    return &result;
}

// ---- the other slots ------------------------------------------------------------

Cell* random_slot(Cell* value, bool seed, bool secure, bool) {
    if (seed) {
        random::seed(pair_x(value) ^ pair_y(value));
        return &shared::unset;
    }
    const int32_t x = pair_x(value), y = pair_y(value);
    return make_at(value, random::integer(secure, x), random::integer(secure, y));
}

int32_t write(const Cell* value, node_t out, int32_t limit) {
    char buf[28];
    uint32_t n = integer::to_decimal(pair_x(value), buf);
    buf[n++] = 'x';
    n += integer::to_decimal(pair_y(value), buf + n);
    text::append_latin1(out, buf, n);
    return limit - static_cast<int32_t>(n);
}


int32_t compare(const Cell* a, const Cell* b, CompareOp op) {
    const uint32_t bt = cell::type_of(b);
    if (bt == TYPE_POINT2D) {
        Cell p{TYPE_POINT2D, 0, 0, 0};
        point::make2_at(&p, pair_x(a), pair_y(a));
        return point::compare(&p, b, op);
    }
    if (bt != TYPE_PAIR) return -2;
    const int32_t ax = pair_x(a), bx = pair_x(b);
    if (ax != bx) return ax < bx ? -1 : 1;
    const int32_t ay = pair_y(a), by = pair_y(b);
    return ay < by ? -1 : ay > by ? 1 : 0;
}

void absolute_slot() {
    Cell* v = stack::arg_base;
    make_at(v, integer::abs_checked(pair_x(v)), integer::abs_checked(pair_y(v)));
}

Cell* negate_slot(Cell* value) {
    const int32_t x = pair_x(value), y = pair_y(value);
    // The minimum has no opposite in 32 bits, as for absolute.
    if (x == INT32_MIN || y == INT32_MIN) err::raise(err::OVERFLOW);
    return make_at(value, -x, -y);
}

template <MathOp Op>
void math_slot() {
    do_math(Op);
}

// A component rounded as integer! rounds; a float scale answers a float,
// which goes back into the pair as its whole part.
int32_t round_component(int32_t v, const datatype::RoundOptions& options) {
    Cell c{TYPE_INTEGER, 0, static_cast<uint32_t>(v), 0};
    auto fn = datatype::action<datatype::ROUND>(TYPE_INTEGER);
    if (!fn) err::raise(err::NOT_DONE);
    const Cell* r = fn(&c, options);
    if (cell::type_of(r) == TYPE_INTEGER) return integer_value(r);
    return composite::truncate_checked(std::trunc(cell::get_double(r)), r);
}

Cell* round_slot(Cell* value, const datatype::RoundOptions& options) {
    const int32_t x = pair_x(value), y = pair_y(value);
    if (options.scale && cell::type_of(options.scale) == TYPE_MONEY) {
        const Cell t = datatype_cell(TYPE_MONEY);
        const Cell name = stack::get_call_name();
        err::raise(err::NOT_RELATED, &t, &name);
    }
    Cell sx, sy;
    Cell* scale_x = options.scale;
    Cell* scale_y = options.scale;
    if (options.scale && cell::type_of(options.scale) == TYPE_PAIR) {
        sx = Cell{TYPE_INTEGER, 0, static_cast<uint32_t>(pair_x(options.scale)), 0};
        sy = Cell{TYPE_INTEGER, 0, static_cast<uint32_t>(pair_y(options.scale)), 0};
        scale_x = &sx;
        scale_y = &sy;
    }
    datatype::RoundOptions ox = options, oy = options;
    ox.scale = scale_x;
    oy.scale = scale_y;
    const int32_t rx = round_component(x, ox);
    const int32_t ry = round_component(y, oy);
    return make_at(value, rx, ry);
}

Cell* eval_path(Cell* value, const datatype::PathStep& step) {
    const Cell path_cell = step.path ? *step.path : shared::none;
    const int32_t k = composite::selector(step.element, 2);
    if (k == -1) {
        const Cell t = datatype_cell(TYPE_PAIR);
        err::raise(err::CANNOT_USE, step.element, &t);
    }
    if (k < 0) err::raise(err::INVALID_PATH, &path_cell, step.element);
    if (!step.new_value) {
        static Cell result;
        result = Cell{TYPE_INTEGER, 0, static_cast<uint32_t>(coord(value, k)), 0};
        return &result;
    }
    if (cell::type_of(step.new_value) != TYPE_INTEGER)
        err::raise_with_type(err::INVALID_TYPE, cell::type_of(step.new_value));
    coord(value, k) = integer_value(step.new_value);
    composite::write_back(value, step.parent, step.previous, step.path);
    return step.new_value;
}

Cell* pick_slot(Cell* series, int32_t, Cell* index_cell) {
    const int32_t k = index_cell ? composite::selector(index_cell, 2) : -3;
    if (k < 0) err::raise(err::OUT_OF_RANGE, index_cell ? index_cell : &shared::none);
    static Cell result;
    result = Cell{TYPE_INTEGER, 0, static_cast<uint32_t>(coord(series, k)), 0};
    return &result;
}

Cell* reverse_slot(Cell* series, Cell*, Cell*) {
    const int32_t x = pair_x(series), y = pair_y(series);
    return make_at(series, y, x);
}

}  // namespace

void fill(datatype::Record& r) {
    for (ActionFn& a : r.actions) a = nullptr;
    datatype::set_slot<datatype::MAKE>(r, &make);
    datatype::set_slot<datatype::TO>(r, &make);
    datatype::set_slot<datatype::RANDOM>(r, &random_slot);
    fill_same_text<&write>(r);
    datatype::set_slot<datatype::EVAL_PATH>(r, &eval_path);
    datatype::set_slot<datatype::COMPARE>(r, &compare);
    datatype::set_slot<datatype::ABSOLUTE>(r, &absolute_slot);
    datatype::fill_math_slots(
        r, [](auto op) { return &math_slot<decltype(op)::value>; }, true);
    datatype::set_slot<datatype::NEGATE>(r, &negate_slot);
    datatype::set_slot<datatype::ROUND>(r, &round_slot);
    datatype::set_slot<datatype::PICK>(r, &pick_slot);
    datatype::set_slot<datatype::REVERSE>(r, &reverse_slot);
}

}  // namespace qel::pair
