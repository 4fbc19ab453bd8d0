// tuple!: its actions. Byte arithmetic runs in 32-bit integers (or doubles
// for a float operand) and clips each result to 0-255; a result that
// leaves the integers, or a float that is NaN, clips like any other.
#include "datatypes/tuple.hpp"

#include <algorithm>
#include <cmath>

#include "datatypes/block.hpp"
#include "datatypes/fills.hpp"
#include "datatypes/float.hpp"
#include "datatypes/integer.hpp"
#include "datatypes/pair.hpp"
#include "datatypes/text.hpp"
#include "runtime/actions.hpp"
#include "runtime/base_n.hpp"
#include "runtime/random.hpp"
#include "runtime/stack.hpp"
#include "runtime/errors.hpp"
#include "runtime/symbols.hpp"
#include "runtime/words.hpp"

namespace qel::tuple {

namespace {

void set_length(Cell* c, uint32_t n) {
    c->header = (c->header & ~(cell_flag::TYPE_MASK | TUPLE_LENGTH_MASK)) | TYPE_TUPLE | (n << TUPLE_LENGTH_SHIFT);
}

uint8_t clip(int64_t v) { return static_cast<uint8_t>(v < 0 ? 0 : v > 255 ? 255 : v); }

// Clipped in the floating domain, so that no conversion leaves its range;
// NaN gives 0.
uint8_t clip_double(double v) {
    if (!(v > 0)) return 0;
    if (v >= 255) return 255;
    return static_cast<uint8_t>(v);
}

uint8_t byte_op(int32_t a, int32_t b, MathOp op) {
    if (op == MathOp::Divide) {
        // A byte is never the minimum integer, so only zero can trap.
        if (b == 0) err::raise(err::ZERO_DIVIDE);
        return clip(a / b);
    }
    Cell r{TYPE_INTEGER, 0, 0, 0};
    const int32_t v = integer::arith(a, b, op, &r);
    if (cell::type_of(&r) != TYPE_INTEGER) return cell::get_double(&r) > 0 ? 255 : 0;
    return clip(v);
}

}  // namespace

Cell* make_at(Cell* c, const uint8_t* bytes, uint32_t n) {
    if (n > MAX_LENGTH) n = MAX_LENGTH;
    for (uint32_t i = 0; i < 3; i++) payload_word(c, i) = 0;
    for (uint32_t i = 0; i < n; i++) set_tuple_byte(c, i, bytes[i]);
    set_length(c, std::max(n, MIN_LENGTH));
    return c;
}

void do_math(MathOp op) {
    Cell* l = stack::arg_base;
    Cell* r = l + 1;
    if (cell::type_of(l) != TYPE_TUPLE) {
        // number (op) tuple: only the operators whose operands commute.
        if (op == MathOp::Subtract || op == MathOp::Divide) {
            const Cell t = datatype_cell(cell::type_of(l));
            const Cell w = word::action_word(op);
            err::raise(err::NOT_RELATED, &t, &w);
        }
        const Cell first = *l;
        *l = *r;
        *r = first;
    }
    uint32_t n = tuple_length(l);
    uint8_t out[MAX_LENGTH] = {};
    const uint32_t rt = cell::type_of(r);
    if (rt == TYPE_FLOAT || rt == TYPE_PERCENT) {
        const double f = cell::get_double(r);
        for (uint32_t i = 0; i < n; i++) out[i] = clip_double(std::trunc(float_type::scalar_op(tuple_byte(l, i), f, op)));
    } else if (rt == TYPE_INTEGER) {
        const int32_t v = integer_value(r);
        for (uint32_t i = 0; i < n; i++) out[i] = byte_op(tuple_byte(l, i), v, op);
    } else if (rt == TYPE_TUPLE) {
        const uint32_t m = tuple_length(r);
        const uint32_t total = std::max(n, m);
        for (uint32_t i = 0; i < total; i++) out[i] = byte_op(i < n ? tuple_byte(l, i) : 0, i < m ? tuple_byte(r, i) : 0, op);
        n = total;
    } else {
        err::raise_with_type(err::INVALID_TYPE, rt);
    }
    make_at(l, out, n);
}

namespace {

// ---- make and to ------------------------------------------------------------

[[noreturn]] void bad_to(const Cell* spec) {
    const Cell t = datatype_cell(TYPE_TUPLE);
    err::raise(err::BAD_TO_ARG, &t, spec);
}

// #F00, #FF0000 and #FF000080: a colour in hexadecimal.
void from_issue(const Cell* spec, Cell* out) {
    const char* name = symbol::name(word_symbol(spec));
    const uint32_t len = symbol::name_length(word_symbol(spec));
    if (len != 3 && len != 6 && len != 8) err::raise(err::INVALID_DATA, spec);
    uint8_t digits[8];
    for (uint32_t i = 0; i < len; i++) {
        const int h = binary::hex_value(static_cast<uint8_t>(name[i]));
        if (h < 0) err::raise(err::INVALID_DATA, spec);
        digits[i] = static_cast<uint8_t>(h);
    }
    uint8_t bytes[4];
    uint32_t n = 0;
    if (len == 3) {
        for (uint32_t i = 0; i < 3; i++) bytes[n++] = static_cast<uint8_t>(digits[i] * 17);
    } else {
        for (uint32_t i = 0; i < len; i += 2) bytes[n++] = static_cast<uint8_t>(digits[i] << 4 | digits[i + 1]);
    }
    make_at(out, bytes, n);
}

void from_block(const Cell* spec, Cell* out) {
    const int32_t len = block::length(spec);
    if (len > static_cast<int32_t>(MAX_LENGTH)) bad_to(spec);
    uint8_t bytes[MAX_LENGTH] = {};
    const uint32_t n = len > 0 ? static_cast<uint32_t>(len) : 0;
    for (uint32_t i = 0; i < n; i++) {
        const Cell* c = block::cell_at(spec, series_index(spec) + i);
        double v;
        switch (cell::type_of(c)) {
            case TYPE_INTEGER: v = integer_value(c); break;
            case TYPE_CHAR: v = char_code(c); break;
            case TYPE_FLOAT: v = std::trunc(cell::get_double(c)); break;
            default: bad_to(spec);
        }
        if (!(v >= 0 && v <= 255)) bad_to(spec);
        bytes[i] = static_cast<uint8_t>(v);
    }
    make_at(out, bytes, n);
}

void from_binary(const Cell* spec, Cell* out) {
    const int32_t len = series::length_of(spec);
    const uint32_t n = len > 0 ? std::min<uint32_t>(static_cast<uint32_t>(len), MAX_LENGTH) : 0;
    uint8_t bytes[MAX_LENGTH] = {};
    const uint8_t* p = series::head_ptr(series::buffer_of(series_node(spec))) + series_index(spec);
    for (uint32_t i = 0; i < n; i++) bytes[i] = p[i];
    make_at(out, bytes, n);
}

Cell* make(Cell*, Cell* spec, uint32_t) {
    static Cell result;
    result = Cell{TYPE_TUPLE, 0, 0, 0};
    switch (cell::type_of(spec)) {
        case TYPE_TUPLE:
            result = *spec;
            cell::clear_new_line(&result);
            break;
        case TYPE_BLOCK:
        case TYPE_PAREN:
        case TYPE_HASH: from_block(spec, &result); break;
        case TYPE_ISSUE: from_issue(spec, &result); break;
        case TYPE_BINARY: from_binary(spec, &result); break;
        default:
            if (!composite::from_text(spec, TYPE_TUPLE, &result)) bad_to(spec);
    }
    return &result;
}

// ---- the other slots ------------------------------------------------------------

Cell* random_slot(Cell* value, bool seed, bool secure, bool) {
    if (seed) {
        random::seed(static_cast<int32_t>(payload_word(value, 0) ^ payload_word(value, 1) ^ payload_word(value, 2)));
        return &shared::unset;
    }
    for (uint32_t i = 0; i < tuple_length(value); i++) {
        const uint32_t b = tuple_byte(value, i);
        if (!b) continue;
        const int32_t r = secure ? random::secure_next() : random::next();
        set_tuple_byte(value, i, static_cast<uint8_t>(static_cast<uint32_t>(r) % (b + 1)));
    }
    return value;
}

int32_t write(const Cell* value, node_t out, int32_t limit) {
    char buf[64];
    uint32_t n = 0;
    for (uint32_t i = 0; i < tuple_length(value); i++) {
        if (i) buf[n++] = '.';
        n += integer::to_decimal(tuple_byte(value, i), buf + n);
    }
    text::append_latin1(out, buf, n);
    return limit - static_cast<int32_t>(n);
}


// Byte by byte up to the longer length, a missing byte counting as 0.
int32_t compare(const Cell* a, const Cell* b, CompareOp) {
    if (cell::type_of(b) != TYPE_TUPLE) return -2;
    const uint32_t n = std::max(tuple_length(a), tuple_length(b));
    for (uint32_t i = 0; i < n; i++) {
        const uint8_t x = tuple_byte(a, i), y = tuple_byte(b, i);
        if (x != y) return x < y ? -1 : 1;
    }
    return 0;
}

template <MathOp Op>
void math_slot() {
    do_math(Op);
}

Cell* complement_slot(Cell* value) {
    for (uint32_t i = 0; i < tuple_length(value); i++) set_tuple_byte(value, i, static_cast<uint8_t>(~tuple_byte(value, i)));
    return value;
}

int32_t length_slot(Cell* series) { return static_cast<int32_t>(tuple_length(series)); }

// The 0-based byte a selector names; raises for a selector that is not an
// integer or lies outside the tuple.
uint32_t byte_index(const Cell* value, const Cell* element) {
    if (cell::type_of(element) != TYPE_INTEGER) err::raise_with_type(err::INVALID_TYPE, cell::type_of(element));
    const int32_t i = integer_value(element);
    if (i < 1 || i > static_cast<int32_t>(tuple_length(value))) err::raise(err::OUT_OF_RANGE, element);
    return static_cast<uint32_t>(i - 1);
}

Cell* byte_cell(const Cell* value, uint32_t i) {
    static Cell result;
    result = Cell{TYPE_INTEGER, 0, tuple_byte(value, i), 0};
    return &result;
}

Cell* eval_path(Cell* value, const datatype::PathStep& step) {
    const uint32_t i = byte_index(value, step.element);
    if (!step.new_value) return byte_cell(value, i);
    const uint32_t nt = cell::type_of(step.new_value);
    if (nt == TYPE_INTEGER) {
        set_tuple_byte(value, i, clip(integer_value(step.new_value)));
    } else if (nt == TYPE_NONE) {
        // Cut the tuple before this byte.
        for (uint32_t k = i; k < MAX_LENGTH; k++) set_tuple_byte(value, k, 0);
        set_length(value, std::max(i, MIN_LENGTH));
    } else {
        err::raise_with_type(err::INVALID_TYPE, nt);
    }
    composite::write_back(value, step.parent, step.previous, step.path);
    return step.new_value;
}

Cell* pick_slot(Cell* series, int32_t index, Cell* index_cell) {
    const Cell i = index_cell ? *index_cell : Cell{TYPE_INTEGER, 0, static_cast<uint32_t>(index), 0};
    return byte_cell(series, byte_index(series, &i));
}

[[noreturn]] void bad_refinement(const char* name, const Cell* value) {
    const Cell w = *word::make_from_cstr(name);
    err::raise(err::INVALID_REFINE_ARG, &w, value);
}

Cell* reverse_slot(Cell* series, Cell* part, Cell* skip) {
    uint32_t n = tuple_length(series);
    if (part) {
        if (cell::type_of(part) != TYPE_INTEGER) bad_refinement("part", part);
        const int32_t p = integer_value(part);
        if (p < 0) err::raise(err::OUT_OF_RANGE, part);
        n = std::min(n, static_cast<uint32_t>(p));
    }
    uint32_t s = 1;
    if (skip) {
        if (cell::type_of(skip) != TYPE_INTEGER) bad_refinement("skip", skip);
        const int32_t k = integer_value(skip);
        if (k < 1) err::raise(err::OUT_OF_RANGE, skip);
        if (n % static_cast<uint32_t>(k) != 0) bad_refinement("skip", skip);
        s = static_cast<uint32_t>(k);
    }
    // Groups of s bytes change places; each keeps its inner order.
    uint8_t old[MAX_LENGTH];
    for (uint32_t i = 0; i < n; i++) old[i] = tuple_byte(series, i);
    const uint32_t groups = n / s;
    for (uint32_t g = 0; g < groups; g++)
        for (uint32_t k = 0; k < s; k++) set_tuple_byte(series, g * s + k, old[(groups - 1 - g) * s + k]);
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
    datatype::fill_math_slots(
        r, [](auto op) { return &math_slot<decltype(op)::value>; }, true);
    datatype::set_slot<datatype::COMPLEMENT>(r, &complement_slot);
    datatype::set_slot<datatype::LENGTH_Q>(r, &length_slot);
    datatype::set_slot<datatype::PICK>(r, &pick_slot);
    datatype::set_slot<datatype::REVERSE>(r, &reverse_slot);
    // A number on the left of a tuple reaches the tuple through float!.
    float_type::neighbours.tuple_math = &do_math;
}

}  // namespace qel::tuple
