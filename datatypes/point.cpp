// point2D! and point3D!: one set of routines for both, the dimension taken
// from the value's type. Component arithmetic and rounding are float!'s,
// done in doubles and rounded to 32 bits on store.
#include "datatypes/point.hpp"

#include <cmath>

#include "datatypes/block.hpp"
#include "datatypes/fills.hpp"
#include "datatypes/float.hpp"
#include "datatypes/integer.hpp"
#include "datatypes/pair.hpp"
#include "datatypes/text.hpp"
#include "runtime/actions.hpp"
#include "runtime/random.hpp"
#include "runtime/stack.hpp"
#include "runtime/errors.hpp"
#include "runtime/murmur3.hpp"
#include "runtime/runtime_words.hpp"
#include "runtime/symbols.hpp"

namespace qel::point {

namespace {

Cell* set_type(Cell* c, uint32_t type) {
    c->header = (c->header & ~cell_flag::TYPE_MASK) | type;
    return c;
}

}  // namespace

Cell* make2_at(Cell* c, double x, double y) {
    set_type(c, TYPE_POINT2D);
    set_component(c, 0, x);
    set_component(c, 1, y);
    payload_word(c, 2) = 0;
    return c;
}

Cell* make3_at(Cell* c, double x, double y, double z) {
    set_type(c, TYPE_POINT3D);
    set_component(c, 0, x);
    set_component(c, 1, y);
    set_component(c, 2, z);
    return c;
}

void do_math(MathOp op) {
    Cell* l = stack::arg_base;
    const Cell* r = l + 1;
    const uint32_t t = cell::type_of(l), rt = cell::type_of(r);
    const uint32_t n = dimensions(t);
    double right[3];
    if (rt == TYPE_INTEGER) {
        right[0] = right[1] = right[2] = integer_value(r);
    } else if (rt == TYPE_FLOAT || rt == TYPE_PERCENT) {
        right[0] = right[1] = right[2] = cell::get_double(r);
    } else if (rt == TYPE_PAIR && t == TYPE_POINT2D) {
        right[0] = pair_x(r);
        right[1] = pair_y(r);
    } else if (rt == t) {
        for (uint32_t i = 0; i < n; i++) right[i] = point_coord(r, i);
    } else {
        err::raise_with_type(err::INVALID_TYPE, rt);
    }
    for (uint32_t i = 0; i < n; i++) set_component(l, i, float_type::scalar_op(point_coord(l, i), right[i], op));
}

int32_t compare(const Cell* a, const Cell* b, CompareOp op) {
    const uint32_t t = cell::type_of(a);
    const uint32_t n = dimensions(t);
    Cell other = *b;
    if (cell::type_of(b) == TYPE_PAIR && t == TYPE_POINT2D) make2_at(&other, pair_x(b), pair_y(b));
    else if (cell::type_of(b) != t) return -2;
    switch (op) {
        case CompareOp::Equal:
        case CompareOp::NotEqual:
            for (uint32_t i = 0; i < n; i++)
                if (!float_type::almost_equal32(point_coord(a, i), point_coord(&other, i))) return 1;
            return 0;
        case CompareOp::StrictEqual:
            for (uint32_t i = 0; i < n; i++)
                if (!(point_coord(a, i) == point_coord(&other, i))) return 1;
            return 0;
        case CompareOp::Same:
            for (uint32_t i = 0; i < n; i++)
                if (payload_word(a, i) != payload_word(other, i)) return 1;
            return 0;
        default: break;
    }
    for (uint32_t i = 0; i < n; i++) {
        const float d = point_coord(a, i) - point_coord(&other, i);
        if (std::isnan(d)) return failing_order(op);
        if (!float_type::almost_equal32(d, 0.0f)) return d < 0 ? -1 : 1;
    }
    return 0;
}

namespace {

// ---- make and to ------------------------------------------------------------

[[noreturn]] void bad_to(uint32_t type, const Cell* spec) {
    const Cell t = datatype_cell(type);
    err::raise(err::BAD_TO_ARG, &t, spec);
}

Cell* make(Cell*, Cell* spec, uint32_t type) {
    static Cell result;
    const uint32_t n = dimensions(type);
    const uint32_t st = cell::type_of(spec);
    result = Cell{type, 0, 0, 0};
    if (st == type) {
        for (uint32_t i = 0; i < n; i++) payload_word(result, i) = payload_word(spec, i);
        return &result;
    }
    double v[3] = {0, 0, 0};
    switch (st) {
        case TYPE_INTEGER: v[0] = v[1] = v[2] = integer_value(spec); break;
        case TYPE_FLOAT: v[0] = v[1] = v[2] = cell::get_double(spec); break;
        case TYPE_PAIR:
            v[0] = pair_x(spec);
            v[1] = pair_y(spec);
            break;
        case TYPE_POINT2D:  // only to point3D!, which gets z = 0
            v[0] = point_coord(spec, 0);
            v[1] = point_coord(spec, 1);
            break;
        case TYPE_BLOCK: {
            const Cell dt = datatype_cell(type);
            if (block::length(spec) < static_cast<int32_t>(n)) err::raise(err::MALCONSTRUCT, &dt, spec);
            for (uint32_t i = 0; i < n; i++) {
                const Cell* c = block::cell_at(spec, series_index(spec) + i);
                if (cell::type_of(c) == TYPE_INTEGER) v[i] = integer_value(c);
                else if (cell::type_of(c) == TYPE_FLOAT) v[i] = cell::get_double(c);
                else err::raise(err::MALCONSTRUCT, &dt, spec);
            }
            break;
        }
        default:
            if (!composite::from_text(spec, type, &result)) bad_to(type, spec);
            return &result;
    }
    for (uint32_t i = 0; i < n; i++) set_component(&result, i, v[i]);
    return &result;
}

// ---- the other slots ------------------------------------------------------------

Cell* random_slot(Cell* value, bool seed, bool secure, bool) {
    const uint32_t n = dimensions(cell::type_of(value));
    if (seed) {
        const uint32_t words[3] = {payload_word(value, 0), payload_word(value, 1), payload_word(value, 2)};
        random::seed(static_cast<int32_t>(hashtab::murmur3_bytes(words, 4 * n)));
        return &shared::unset;
    }
    auto fn = datatype::action<datatype::RANDOM>(TYPE_FLOAT);
    if (!fn) err::raise(err::NOT_DONE);
    for (uint32_t i = 0; i < n; i++) {
        const float f = point_coord(value, i);
        if (f == 0) continue;
        Cell c{TYPE_FLOAT, 0, 0, 0};
        float_type::make_at(&c, f);
        set_component(value, i, cell::get_double(fn(&c, false, secure, false)));
    }
    return value;
}

int32_t write(const Cell* value, node_t out, int32_t limit) {
    const uint32_t n = dimensions(cell::type_of(value));
    char buf[float_type::FORMAT_MAX];
    int64_t written = 1;
    text::append_latin1(out, "(", 1);
    for (uint32_t i = 0; i < n; i++) {
        if (i) {
            text::append_latin1(out, ", ", 2);
            written += 2;
        }
        const size_t k = float_type::format_number(point_coord(value, i), float_type::KIND_POINT, buf);
        text::append_latin1(out, buf, k);
        written += static_cast<int64_t>(k);
    }
    text::append_latin1(out, ")", 1);
    return limit - static_cast<int32_t>(written + 1);
}


void absolute_slot() {
    Cell* v = stack::arg_base;
    for (uint32_t i = 0; i < dimensions(cell::type_of(v)); i++) set_component(v, i, std::fabs(point_coord(v, i)));
}

Cell* negate_slot(Cell* value) {
    // 0 - c rather than -c: a zero component stays positive zero.
    for (uint32_t i = 0; i < dimensions(cell::type_of(value)); i++)
        set_component(value, i, 0.0 - point_coord(value, i));
    return value;
}

template <MathOp Op>
void math_slot() {
    do_math(Op);
}

Cell* round_slot(Cell* value, const datatype::RoundOptions& options) {
    const uint32_t t = cell::type_of(value);
    const uint32_t n = dimensions(t);
    const uint32_t st = options.scale ? cell::type_of(options.scale) : 0;
    if (st == TYPE_MONEY) {
        const Cell m = datatype_cell(TYPE_MONEY);
        const Cell name = stack::get_call_name();
        err::raise(err::NOT_RELATED, &m, &name);
    }
    // A scale of several components rounds each component by its own.
    const bool per_component = st == TYPE_POINT2D || st == TYPE_POINT3D || (st == TYPE_PAIR && t == TYPE_POINT2D);
    for (uint32_t i = 0; i < n; i++) {
        Cell c{TYPE_FLOAT, 0, 0, 0};
        float_type::make_at(&c, point_coord(value, i));
        Cell s{TYPE_FLOAT, 0, 0, 0};
        Cell* sp = options.scale;
        if (per_component) {
            double sv = 0;  // a point2D! scale leaves z alone
            if (st == TYPE_PAIR) sv = i == 0 ? pair_x(options.scale) : pair_y(options.scale);
            else if (i < dimensions(st)) sv = point_coord(options.scale, i);
            float_type::make_at(&s, sv);
            sp = &s;
        }
        datatype::RoundOptions component = options;
        component.scale = sp;
        const Cell* r = float_type::round(&c, component);
        set_component(value, i,
                      cell::type_of(r) == TYPE_INTEGER ? integer_value(r) : cell::get_double(r));
    }
    return value;
}

Cell* component_cell(const Cell* value, int32_t k) {
    static Cell result;
    result = Cell{TYPE_FLOAT, 0, 0, 0};
    float_type::make_at(&result, point_coord(value, static_cast<uint32_t>(k)));
    return &result;
}

Cell* eval_path(Cell* value, const datatype::PathStep& step) {
    const int32_t k = composite::selector(step.element, dimensions(cell::type_of(value)));
    if (k < 0) {
        const Cell path_cell = step.path ? *step.path : shared::none;
        err::raise(err::INVALID_PATH, &path_cell, step.element);
    }
    if (!step.new_value) return component_cell(value, k);
    const uint32_t nt = cell::type_of(step.new_value);
    if (nt == TYPE_INTEGER) set_component(value, static_cast<uint32_t>(k), integer_value(step.new_value));
    else if (nt == TYPE_FLOAT) set_component(value, static_cast<uint32_t>(k), cell::get_double(step.new_value));
    else err::raise_with_type(err::INVALID_TYPE, nt);
    composite::write_back(value, step.parent, step.previous, step.path);
    return step.new_value;
}

Cell* pick_slot(Cell* series, int32_t, Cell* index_cell) {
    const Cell index = index_cell ? *index_cell : shared::none;
    const int32_t k = composite::selector(&index, dimensions(cell::type_of(series)));
    if (k == -1) err::raise(err::CANNOT_USE, &index, series);
    if (k == -2) err::raise(err::OUT_OF_RANGE, &index);
    if (k < 0) err::raise(err::INVALID_PATH, series, &index);
    return component_cell(series, k);
}

Cell* reverse_slot(Cell* series, Cell*, Cell*) {
    const uint32_t last = dimensions(cell::type_of(series)) - 1;
    const float first = point_coord(series, 0);
    set_component(series, 0, point_coord(series, last));
    set_component(series, last, first);
    return series;
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
        r, [](auto op) { return &math_slot<decltype(op)::value>; }, false);
    datatype::set_slot<datatype::NEGATE>(r, &negate_slot);
    datatype::set_slot<datatype::ROUND>(r, &round_slot);
    datatype::set_slot<datatype::PICK>(r, &pick_slot);
    datatype::set_slot<datatype::REVERSE>(r, &reverse_slot);
}

}  // namespace qel::point
