// vector!: making, texts, comparison, arithmetic, element stores and the
// element reads of the series actions (see vector.hpp).
//
// Values going into a vector are checked and encoded into a C++ byte
// vector before the buffer is touched, so a refused value changes nothing
// and a vector changed from itself contributes what it held when the
// action began. Sizes are computed in 64 bits and refused beyond what a
// buffer can hold before anything is allocated.
#include "datatypes/vector.hpp"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <numeric>
#include <string>
#include <vector>

#include "datatypes/block.hpp"
#include "datatypes/block_search.hpp"
#include "datatypes/char.hpp"
#include "datatypes/fills.hpp"
#include "datatypes/float.hpp"
#include "datatypes/integer.hpp"
#include "datatypes/mold.hpp"
#include "datatypes/series.hpp"
#include "datatypes/string.hpp"
#include "datatypes/text.hpp"
#include "runtime/actions.hpp"
#include "runtime/errors.hpp"
#include "runtime/memory.hpp"
#include "runtime/owner.hpp"
#include "runtime/runtime_words.hpp"
#include "runtime/sort.hpp"
#include "runtime/stack.hpp"
#include "runtime/symbols.hpp"
#include "runtime/unicode.hpp"
#include "runtime/words.hpp"

namespace qel::vector {

namespace {

// Above this many bytes a buffer could not exist in a 32-bit process.
constexpr uint64_t MAX_BYTES = 0x7FFFFF00;

SeriesBuffer* buf(const Cell* v) { return series::buffer_of(series_node(v)); }

// Bytes of count elements of width; beyond a buffer's reach raises
// internal no-memory.
uint32_t checked_bytes(uint64_t count, uint32_t width) {
    uint64_t bytes;
    if (__builtin_mul_overflow(count, uint64_t{width}, &bytes) || bytes > MAX_BYTES) err::raise(err::NO_MEMORY);
    return static_cast<uint32_t>(bytes);
}

uint8_t* element_ptr(const Cell* v, uint32_t i) {
    SeriesBuffer* s = buf(v);
    return series::head_ptr(s) + static_cast<size_t>(i) * series::unit(s);
}

int32_t read_int(const uint8_t* p, uint32_t width) {
    switch (width) {
        case 1: return static_cast<int8_t>(*p);
        case 2: {
            int16_t v;
            std::memcpy(&v, p, 2);
            return v;
        }
        default: {
            int32_t v;
            std::memcpy(&v, p, 4);
            return v;
        }
    }
}

uint32_t read_char(const uint8_t* p, uint32_t width) {
    switch (width) {
        case 1: return *p;
        case 2: {
            uint16_t v;
            std::memcpy(&v, p, 2);
            return v;
        }
        default: {
            uint32_t v;
            std::memcpy(&v, p, 4);
            return v;
        }
    }
}

double read_float(const uint8_t* p, uint32_t width) {
    if (width == 4) {
        float f;
        std::memcpy(&f, p, 4);
        return f;
    }
    double d;
    std::memcpy(&d, p, 8);
    return d;
}

void write_int(uint8_t* p, uint32_t width, uint32_t v) {
    switch (width) {
        case 1: *p = static_cast<uint8_t>(v); break;
        case 2: {
            const uint16_t u = static_cast<uint16_t>(v);
            std::memcpy(p, &u, 2);
            break;
        }
        default: std::memcpy(p, &v, 4); break;
    }
}

void write_float(uint8_t* p, uint32_t width, double d) {
    if (width == 4) {
        const float f = static_cast<float>(d);
        std::memcpy(p, &f, 4);
    } else {
        std::memcpy(p, &d, 8);
    }
}

bool is_float_type(uint32_t type) { return type == TYPE_FLOAT || type == TYPE_PERCENT; }

// An element read as a number that orders like the element.
double number_at(const uint8_t* p, uint32_t width, uint32_t type) {
    if (is_float_type(type)) return read_float(p, width);
    if (type == TYPE_CHAR) return read_char(p, width);
    return read_int(p, width);
}

// Characters must stay code points: a 4-byte character element refuses
// an integer result outside 0..10FFFF (narrower ones keep the low bits).
void check_fits(uint32_t width, uint32_t type, int32_t v) {
    if (type == TYPE_CHAR && width == 4 && (v < 0 || static_cast<uint32_t>(v) > unicode::MAX_CODEPOINT))
        err::raise(err::INVALID_CHAR);
}

[[noreturn]] void bad_make(const Cell* spec) {
    const Cell dt = datatype_cell(TYPE_VECTOR);
    err::raise(err::BAD_MAKE_ARG, &dt, spec);
}

}  // namespace

// ---- routines for other parts ------------------------------------------------------

uint32_t width(const Cell* v) { return series::unit(buf(v)); }

uint32_t total_length(const Cell* v) { return series::buffer_length(series_node(v)); }

uint32_t length(const Cell* v) {
    const uint32_t t = total_length(v);
    return series_index(v) < t ? t - series_index(v) : 0;
}

Cell* make_at(Cell* cell, uint32_t type, uint32_t width, uint32_t capacity) {
    checked_bytes(capacity, width);
    const node_t n = memory::alloc_series(capacity ? capacity : 1, width, 0);
    *cell = Cell{TYPE_VECTOR, 0, n, type};
    return cell;
}

Cell element_value(const uint8_t* p, uint32_t width, uint32_t type) {
    switch (type) {
        case TYPE_CHAR: return Cell{TYPE_CHAR, 0, read_char(p, width), 0};
        case TYPE_INTEGER: return Cell{TYPE_INTEGER, 0, static_cast<uint32_t>(read_int(p, width)), 0};
        default: {
            Cell c{type, 0, 0, 0};
            cell::put_double(&c, read_float(p, width));
            return c;
        }
    }
}

Cell* push_element(const Cell* v, uint32_t i) {
    const Cell e = element_value(element_ptr(v, i), width(v), element_type(v));
    return stack::push(&e);
}

void check_element(uint8_t* p, const Cell* value, uint32_t width, uint32_t type) {
    if (cell::type_of(value) != type) err::raise(err::INVALID_ARG, value);
    switch (type) {
        case TYPE_CHAR: write_int(p, width, char_code(value)); break;
        case TYPE_INTEGER: write_int(p, width, static_cast<uint32_t>(integer_value(value))); break;
        default: write_float(p, width, cell::get_double(value)); break;
    }
}

Cell* to_block(const Cell* value) {
    const Cell v = *value;
    const uint32_t n = length(&v);
    Cell* out = block::push_new(static_cast<int32_t>(std::max<uint32_t>(n, 1)));
    const uint32_t w = width(&v), type = element_type(v);
    for (uint32_t i = 0; i < n; i++) {
        const Cell e = element_value(element_ptr(&v, series_index(v) + i), w, type);
        block::append_copy(out, &e);
    }
    return out;
}

namespace {

// The scalar of integer vector arithmetic: an integer, or a float or
// percent truncated toward zero (one outside the 32-bit range is refused).
int32_t integer_scalar(const Cell* scalar) {
    const uint32_t t = cell::type_of(scalar);
    if (t == TYPE_INTEGER) return integer_value(scalar);
    if (t != TYPE_FLOAT && t != TYPE_PERCENT) err::raise(err::NOT_DONE);
    const double d = std::trunc(cell::get_double(scalar));
    if (!(d >= -2147483648.0 && d <= 2147483647.0)) err::raise(err::OUT_OF_RANGE, scalar);
    return static_cast<int32_t>(d);
}

double float_scalar(const Cell* scalar) {
    const uint32_t t = cell::type_of(scalar);
    if (t == TYPE_INTEGER) return integer_value(scalar);
    if (t != TYPE_FLOAT && t != TYPE_PERCENT) err::raise(err::NOT_DONE);
    return cell::get_double(scalar);
}

// Integer element arithmetic: add, subtract and multiply wrap around in 32
// bits; the others are integer!'s (division truncates, by zero raises).
int32_t int_op(int32_t x, int32_t y, MathOp op) {
    switch (op) {
        case MathOp::Add: return static_cast<int32_t>(static_cast<uint32_t>(x) + static_cast<uint32_t>(y));
        case MathOp::Subtract: return static_cast<int32_t>(static_cast<uint32_t>(x) - static_cast<uint32_t>(y));
        case MathOp::Multiply: return static_cast<int32_t>(static_cast<uint32_t>(x) * static_cast<uint32_t>(y));
        default: return integer::arith(x, y, op, nullptr);
    }
}

}  // namespace

void do_math_scalar(MathOp op, Cell* v, const Cell* scalar) {
    const uint32_t type = element_type(v);
    const uint32_t w = width(v);
    const uint32_t n = length(v);
    const uint32_t from = series_index(v);
    if (is_float_type(type)) {
        const double y = float_scalar(scalar);
        if (((op == MathOp::Add || op == MathOp::Subtract) && y == 0) ||
            ((op == MathOp::Multiply || op == MathOp::Divide) && y == 1))
            return;
        for (uint32_t i = 0; i < n; i++) {
            uint8_t* p = element_ptr(v, from + i);
            write_float(p, w, float_type::scalar_op(read_float(p, w), y, op));
        }
        return;
    }
    const int32_t y = integer_scalar(scalar);
    if (((op == MathOp::Add || op == MathOp::Subtract) && y == 0) ||
        ((op == MathOp::Multiply || op == MathOp::Divide) && y == 1))
        return;
    // Every result first, so that a refused one (a division by zero, a
    // character out of range) leaves the vector as it was.
    std::vector<int32_t> results(n);
    for (uint32_t i = 0; i < n; i++) {
        const uint8_t* p = element_ptr(v, from + i);
        const int32_t x = type == TYPE_CHAR ? static_cast<int32_t>(read_char(p, w)) : read_int(p, w);
        results[i] = int_op(x, y, op);
        check_fits(w, type, results[i]);
    }
    for (uint32_t i = 0; i < n; i++) write_int(element_ptr(v, from + i), w, static_cast<uint32_t>(results[i]));
}

namespace {

// ---- make ---------------------------------------------------------------------------

// The element type a word names (integer!, char!, float!, percent!), 0
// for any other word.
uint32_t named_type(const Cell* word) {
    const int32_t s = symbol::canonical(word_symbol(word));
    if (s == symbol::canonical(words::sym_type_integer)) return TYPE_INTEGER;
    if (s == symbol::canonical(words::sym_type_char)) return TYPE_CHAR;
    if (s == symbol::canonical(words::sym_type_float)) return TYPE_FLOAT;
    if (s == symbol::canonical(words::sym_type_percent)) return TYPE_PERCENT;
    return 0;
}

// A vector of the layout holding the values of a block (from its index).
Cell* make_from_values(uint32_t type, uint32_t w, const Cell* values) {
    const Cell b = *values;
    const int32_t count = std::max(block::length(&b), 0);
    std::vector<uint8_t> bytes(static_cast<size_t>(checked_bytes(static_cast<uint32_t>(count), w)));
    for (int32_t i = 0; i < count; i++)
        check_element(bytes.data() + static_cast<size_t>(i) * w, block::cell_at(&b, series_index(b) + i), w, type);
    Cell* r = stack::push_slot();
    *r = Cell{TYPE_UNSET, 0, 0, 0};
    make_at(r, type, w, static_cast<uint32_t>(count));
    series::append_bytes(series_node(r), bytes.data(), static_cast<uint32_t>(bytes.size()));
    return r;
}

// size zero elements of the layout (none for a size below 1).
Cell* make_zeros(uint32_t type, uint32_t w, int64_t size) {
    const uint32_t n = size < 1 ? 0 : static_cast<uint32_t>(std::min<int64_t>(size, UINT32_MAX));
    const uint32_t bytes = checked_bytes(n, w);
    Cell* r = stack::push_slot();
    *r = Cell{TYPE_UNSET, 0, 0, 0};
    make_at(r, type, w, n);
    SeriesBuffer* s = buf(r);
    std::memset(series::tail_ptr(s), 0, bytes);
    s->tail += bytes;
    return r;
}

// [type bits size-or-values] or [type size-or-values].
Cell* make_long_form(const Cell* spec) {
    const Cell b = *spec;
    const int32_t n = block::length(&b);
    auto at = [&](int32_t k) { return block::cell_at(&b, series_index(b) + static_cast<uint32_t>(k)); };
    if (n < 2) bad_make(&b);
    const uint32_t type = named_type(at(0));
    if (!type) bad_make(&b);
    const Cell second = *at(1);
    const uint32_t st = cell::type_of(&second);
    uint32_t w = default_width(type);
    int32_t next = 1;
    if (st == TYPE_INTEGER) {
        if (type != TYPE_PERCENT) {
            const int32_t bits = integer_value(second);
            if (bits % 8 != 0 || !is_valid_width(type, static_cast<uint32_t>(bits / 8))) bad_make(&b);
            w = static_cast<uint32_t>(bits / 8);
        }
        next = 2;
    } else if (type != TYPE_PERCENT) {
        err::raise(err::INVALID_SPEC_FIELD, &b);
    }
    if (next >= n) err::raise(err::INVALID_SPEC_FIELD, &b);
    const Cell what = *at(next);
    if (cell::type_of(&what) == TYPE_INTEGER) return make_zeros(type, w, integer_value(what));
    if (cell::type_of(&what) == TYPE_BLOCK) return make_from_values(type, w, &what);
    err::raise(err::INVALID_SPEC_FIELD, &b);
}

Cell* make(Cell*, Cell* spec, uint32_t) {
    const uint32_t t = cell::type_of(spec);
    if (t == TYPE_INTEGER) return make_zeros(TYPE_INTEGER, 4, integer_value(spec));
    if (t == TYPE_FLOAT) {
        const double d = cell::get_double(spec);
        // Written so that NaN fails too.
        if (!(d > -2147483649.0 && d < 2147483648.0)) err::raise(err::OUT_OF_RANGE, spec);
        return make_zeros(TYPE_INTEGER, 4, static_cast<int64_t>(d));
    }
    if (t != TYPE_BLOCK) err::raise(err::NOT_DONE);
    if (block::length(spec) <= 0) return make_zeros(TYPE_INTEGER, 4, 0);
    const Cell first = *block::cell_at(spec, series_index(spec));
    const uint32_t ft = cell::type_of(&first);
    if (ft == TYPE_WORD) return make_long_form(spec);
    if (!is_element_type(ft)) err::raise_with_type(err::INVALID_TYPE, ft);
    return make_from_values(ft, default_width(ft), spec);
}

// ---- form and mold -------------------------------------------------------------------

const char* type_name(uint32_t type) {
    switch (type) {
        case TYPE_CHAR: return "char!";
        case TYPE_INTEGER: return "integer!";
        case TYPE_FLOAT: return "float!";
        default: return "percent!";
    }
}

// One element's text; characters as themselves when forming and as
// character literals when molding. Answers the characters written.
int64_t write_element(node_t out, const uint8_t* p, uint32_t w, uint32_t type, bool molding) {
    char digits[float_type::FORMAT_MAX];
    size_t n;
    switch (type) {
        case TYPE_CHAR: {
            const uint32_t cp = read_char(p, w);
            if (!molding) {
                text::append_codepoint(out, cp);
                return 1;
            }
            const uint32_t before = text::length(out);
            text::append_latin1(out, "#\"", 2);
            char_type::mold_char(out, cp, true, false);
            text::append_latin1(out, "\"", 1);
            return text::length(out) - before;
        }
        case TYPE_INTEGER: n = integer::to_decimal(read_int(p, w), digits); break;
        case TYPE_FLOAT:
            n = float_type::format_number(read_float(p, w), w == 8 ? float_type::KIND_FLOAT : float_type::KIND_FLOAT32,
                                          digits);
            break;
        default:
            n = float_type::format_number(read_float(p, w) * 100,
                                          w == 8 ? float_type::KIND_PERCENT : float_type::KIND_PERCENT32, digits);
            break;
    }
    text::append_latin1(out, digits, n);
    return static_cast<int64_t>(n);
}

int32_t write_elements(const Cell* value, node_t out, bool molding, bool part, int32_t limit) {
    const Cell v = *value;
    const uint32_t n = length(&v);
    const uint32_t w = width(&v), type = element_type(v);
    for (uint32_t i = 0; i < n; i++) {
        if (part && limit <= 0) break;
        if (i > 0) {
            text::append_latin1(out, " ", 1);
            limit = mold::spend(limit, 1);
        }
        // Re-read through the node: appending allocates.
        limit = mold::spend(limit, write_element(out, element_ptr(&v, series_index(v) + i), w, type, molding));
    }
    return limit;
}

int32_t form(const Cell* value, node_t out, bool part, int32_t limit) {
    return write_elements(value, out, false, part, limit);
}

int32_t mold(const Cell* value, node_t out, const datatype::MoldOptions& options, int32_t limit, int32_t) {
    const uint32_t type = element_type(value);
    const uint32_t w = width(value);
    auto put = [&](const char* s) {
        text::append_cstr(out, s);
        limit = mold::spend(limit, static_cast<int64_t>(std::strlen(s)));
    };
    if (!options.only) put("make vector! [");
    const bool short_form = total_length(value) > 0 && w == default_width(type);
    if (!short_form) {
        put(type_name(type));
        put(" ");
        put(std::to_string(8 * w).c_str());
        put(" [");
    }
    limit = write_elements(value, out, true, options.part, limit);
    if (options.only) return limit;
    put(short_form ? "]" : "]]");
    return limit;
}

// ---- compare -------------------------------------------------------------------------

int32_t compare(const Cell* a, const Cell* b, CompareOp op) {
    if (cell::type_of(b) != TYPE_VECTOR) return -2;
    if (element_type(a) != element_type(b)) err::raise(err::NOT_SAME_TYPE);
    const bool same = series_node(a) == series_node(b) && series_index(a) == series_index(b);
    if (op == CompareOp::Same) return same ? 0 : -1;
    if (same && is_content_equality(op)) return 0;
    const uint32_t la = length(a), lb = length(b);
    if (la != lb && is_content_equality(op)) return 1;
    const uint32_t type = element_type(a), wa = width(a), wb = width(b);
    const uint32_t n = std::min(la, lb);
    for (uint32_t i = 0; i < n; i++) {
        const uint8_t* pa = element_ptr(a, series_index(a) + i);
        const uint8_t* pb = element_ptr(b, series_index(b) + i);
        if (is_float_type(type)) {
            const double x = read_float(pa, wa), y = read_float(pb, wb);
            if (x < y) return -1;
            if (x > y) return 1;
        } else {
            const int64_t x = type == TYPE_CHAR ? int64_t{read_char(pa, wa)} : int64_t{read_int(pa, wa)};
            const int64_t y = type == TYPE_CHAR ? int64_t{read_char(pb, wb)} : int64_t{read_int(pb, wb)};
            if (x != y) return x < y ? -1 : 1;
        }
    }
    return la == lb ? 0 : la < lb ? -1 : 1;
}

// ---- arithmetic ----------------------------------------------------------------------

// Element i of the result is l[i] op r[i]; the result has the shorter
// length and the wider width, in a new series that l's cell takes.
void vector_math(MathOp op, Cell* l, const Cell* r) {
    if (element_type(l) != element_type(r)) err::raise(err::NOT_SAME_TYPE);
    const uint32_t type = element_type(l);
    const uint32_t wl = width(l), wr = width(r), w = std::max(wl, wr);
    const uint32_t n = std::min(length(l), length(r));
    std::vector<uint8_t> bytes(checked_bytes(n, w));
    for (uint32_t i = 0; i < n; i++) {
        const uint8_t* pl = element_ptr(l, series_index(l) + i);
        const uint8_t* pr = element_ptr(r, series_index(r) + i);
        uint8_t* p = bytes.data() + static_cast<size_t>(i) * w;
        if (is_float_type(type)) {
            write_float(p, w, float_type::scalar_op(read_float(pl, wl), read_float(pr, wr), op));
        } else {
            const bool c = type == TYPE_CHAR;
            const int32_t x = c ? static_cast<int32_t>(read_char(pl, wl)) : read_int(pl, wl);
            const int32_t y = c ? static_cast<int32_t>(read_char(pr, wr)) : read_int(pr, wr);
            const int32_t z = int_op(x, y, op);
            check_fits(w, type, z);
            write_int(p, w, static_cast<uint32_t>(z));
        }
    }
    Cell result;
    make_at(&result, type, w, n);
    series::append_bytes(series_node(result), bytes.data(), static_cast<uint32_t>(bytes.size()));
    result.header = l->header & ~cell_flag::TYPE_MASK;
    cell::set_type(&result, TYPE_VECTOR);
    *l = result;
}

void do_math(MathOp op) {
    Cell* l = stack::arg_base;
    const Cell* r = l + 1;
    if (cell::type_of(r) == TYPE_VECTOR) vector_math(op, l, r);
    else do_math_scalar(op, l, r);
}

// scalar (op) vector, handed over by integer!, char! and float!: computed
// as vector (op) scalar, so the operations whose order matters are
// refused rather than answered reversed.
void scalar_first_math(MathOp op) {
    Cell* l = stack::arg_base;
    Cell* r = l + 1;
    if (op == MathOp::Subtract || op == MathOp::Divide) {
        const Cell w = *word::make_from_cstr(action_name(op));
        const Cell t = datatype_cell(TYPE_VECTOR);
        err::raise(err::NOT_RELATED, &w, &t);
    }
    do_math_scalar(op, r, l);
    *l = *r;
}

template <MathOp Op>
void math_slot() {
    do_math(Op);
}

// ---- append, insert, change ------------------------------------------------------------

// The encoded elements a value stands for: a block's (at most part of
// them; all with part below 0) unless only, a vector's of the same element
// type when vectors are taken, or the value itself.
std::vector<uint8_t> encode(const Cell* series, const Cell* value, int32_t part, bool only, bool vectors) {
    const uint32_t type = element_type(series), w = width(series);
    const uint32_t vt = cell::type_of(value);
    std::vector<uint8_t> bytes;
    if (is_block_paren_or_hash(vt) && !only) {
        const int32_t len = std::max(block::length(value), 0);
        const uint32_t n = static_cast<uint32_t>(part >= 0 ? std::min(part, len) : len);
        bytes.resize(checked_bytes(n, w));
        for (uint32_t i = 0; i < n; i++)
            check_element(bytes.data() + static_cast<size_t>(i) * w, block::cell_at(value, series_index(value) + i), w,
                          type);
    } else if (vt == TYPE_VECTOR && vectors) {
        if (element_type(value) != type) err::raise(err::INVALID_ARG, value);
        const uint32_t n = length(value), vw = width(value);
        bytes.resize(checked_bytes(n, w));
        for (uint32_t i = 0; i < n; i++) {
            const Cell e = element_value(element_ptr(value, series_index(value) + i), vw, type);
            check_element(bytes.data() + static_cast<size_t>(i) * w, &e, w, type);
        }
    } else {
        bytes.resize(w);
        check_element(bytes.data(), value, w, type);
    }
    return bytes;
}

// Writes dup copies of bytes over replaced elements at element position at
// (from the head), moving what follows.
void splice(const Cell* v, uint32_t at, uint32_t replaced, const std::vector<uint8_t>& bytes, uint64_t dup) {
    const uint32_t w = width(v);
    const uint32_t used = total_length(v);
    at = std::min(at, used);
    replaced = std::min(replaced, used - at);
    uint64_t written;
    if (__builtin_mul_overflow(static_cast<uint64_t>(bytes.size()), dup, &written) || written > MAX_BYTES)
        err::raise(err::NO_MEMORY);
    const uint64_t need = (uint64_t{used} - replaced) * w + written;
    if (need > MAX_BYTES) err::raise(err::NO_MEMORY);
    SeriesBuffer* s = buf(v);
    if (s->head + need > s->size) {
        if (s->flags & series_flag::FIXED) err::raise(err::LIMIT_HIT);
        const uint64_t doubled = std::max<uint64_t>(2 * need, 2 * uint64_t{s->size});
        s = memory::expand_series(s, static_cast<uint32_t>(std::min(doubled, MAX_BYTES)));
    }
    uint8_t* dst = series::head_ptr(s) + static_cast<size_t>(at) * w;
    const size_t rest = static_cast<size_t>(used - at - replaced) * w;
    std::memmove(dst + written, dst + static_cast<size_t>(replaced) * w, rest);
    const size_t one = bytes.size();
    if (one > 0) {
        std::memcpy(dst, bytes.data(), one);
        for (size_t done = one; done < written;) {
            const size_t chunk = std::min<size_t>(done, written - done);
            std::memcpy(dst + done, dst, chunk);
            done += chunk;
        }
    }
    s->tail = s->head + static_cast<uint32_t>(need);
}

Cell* insert_at(Cell* series, Cell* value, int32_t part, bool only, int32_t dup, bool at_tail) {
    if (dup < 1 || part == 0) return series;
    const std::vector<uint8_t> bytes = encode(series, value, part, only, false);
    const uint32_t w = width(series);
    const Cell* word = at_tail ? words::w_append : words::w_insert;
    const Cell* done = at_tail ? words::w_appended : words::w_inserted;
    const int32_t index = static_cast<int32_t>(series_type::clamp_index(series));
    const bool owned = owner::check_change(series, word, value, index, part);
    // A change handler may have shortened the series.
    const uint32_t at = at_tail ? total_length(series) : series_type::clamp_index(series);
    splice(series, at, 0, bytes, static_cast<uint64_t>(dup));
    if (owned) owner::check_change(series, done, value, index, part);
    if (!at_tail) {
        const uint64_t after = at + bytes.size() / w * static_cast<uint64_t>(dup);
        series_index(series) = static_cast<uint32_t>(std::min<uint64_t>(after, total_length(series)));
    }
    return series;
}

Cell* append(Cell* series, Cell* value, int32_t part, bool only, int32_t dup) {
    return insert_at(series, value, part, only, dup, true);
}

Cell* insert(Cell* series, Cell* value, int32_t part, bool only, int32_t dup) {
    return insert_at(series, value, part, only, dup, false);
}

Cell* change(Cell* series, Cell* value, int32_t part, bool only, int32_t dup) {
    if (dup < 1 || part == 0) return series;
    const std::vector<uint8_t> bytes = encode(series, value, -1, only, true);
    const uint32_t w = width(series);
    const uint64_t count = bytes.size() / w * static_cast<uint64_t>(dup);
    uint32_t index = series_type::clamp_index(series);
    uint64_t replaced = part >= 0 ? static_cast<uint64_t>(part) : count;
    replaced = std::min<uint64_t>(replaced, total_length(series) - index);
    const bool owned = owner::check_change(series, words::w_change, value, static_cast<int32_t>(index),
                                           static_cast<int32_t>(replaced));
    index = series_type::clamp_index(series);
    replaced = std::min<uint64_t>(replaced, total_length(series) - index);
    splice(series, index, static_cast<uint32_t>(replaced), bytes, static_cast<uint64_t>(dup));
    if (owned)
        owner::check_change(series, words::w_changed, value, static_cast<int32_t>(index),
                            static_cast<int32_t>(replaced));
    series_index(series) = static_cast<uint32_t>(std::min<uint64_t>(index + count, total_length(series)));
    return series;
}

// ---- find, select, eval-path, take -------------------------------------------------------

[[noreturn]] void bad_refinement(const Cell* refinement, const Cell* value) {
    const Cell w = string::refinement_word(refinement);
    err::raise(err::INVALID_REFINE_ARG, &w, value);
}

struct Match {
    bool found = false;
    uint32_t position = 0;  // elements from the head
    uint32_t length = 0;
};

// The numbers a searched value stands for: a number or character, or the
// elements of a vector of the same element type; empty for anything else.
std::vector<double> needle_of(const Cell* series, const Cell* value) {
    const uint32_t vt = cell::type_of(value);
    if (vt == TYPE_INTEGER) return {static_cast<double>(integer_value(value))};
    if (vt == TYPE_CHAR) return {static_cast<double>(char_code(value))};
    if (vt == TYPE_FLOAT || vt == TYPE_PERCENT) return {cell::get_double(value)};
    std::vector<double> out;
    if (vt != TYPE_VECTOR || element_type(value) != element_type(series)) return out;
    const uint32_t n = length(value), w = width(value);
    for (uint32_t i = 0; i < n; i++) out.push_back(number_at(element_ptr(value, series_index(value) + i), w,
                                                             element_type(value)));
    return out;
}

Match search(Cell* series, Cell* value, const datatype::FindOptions& options) {
    Match none;
    const uint32_t total = total_length(series);
    const uint32_t index = series_type::clamp_index(series);
    if (total == 0 || (index == total && !options.reverse)) return none;
    if (options.any || options.with) err::raise(err::NOT_DONE);
    int64_t step = 1;
    if (options.skip) {
        if (cell::type_of(options.skip) != TYPE_INTEGER) bad_refinement(words::ref_skip, options.skip);
        step = integer_value(options.skip);
        if (step < 1) err::raise(err::OUT_OF_RANGE, options.skip);
    }
    int64_t count = -1;
    if (options.part) {
        count = series_type::part_count(series, options.part);
        count = std::min<int64_t>(count, options.reverse ? index : total - index);
        if (count < 1) return none;
    }
    const std::vector<double> needle = needle_of(series, value);
    const int64_t n = static_cast<int64_t>(needle.size());
    if (n == 0) return none;
    int64_t p, end, dir;
    if (options.last) {
        dir = -1;
        end = index;
        p = (count >= 0 ? index + count : total) - 1;
    } else if (options.reverse) {
        dir = -1;
        p = static_cast<int64_t>(index) - 1;
        end = count >= 0 ? std::max<int64_t>(p + 1 - count, 0) : 0;
        if (p < end || options.match) return none;
    } else {
        dir = 1;
        end = count >= 0 ? index + count : total;
        p = index;
    }
    const uint32_t w = width(series), type = element_type(series);
    Match m;
    for (;;) {
        int64_t start;
        if (dir > 0) {
            if (p + n > end) break;
            start = p;
        } else {
            if (p - end + 1 < n) break;
            start = p - (n - 1);
        }
        bool ok = true;
        for (int64_t k = 0; k < n && ok; k++)
            ok = number_at(element_ptr(series, static_cast<uint32_t>(start + k)), w, type) == needle[k];
        if (ok) {
            m = Match{true, static_cast<uint32_t>(start), static_cast<uint32_t>(n)};
            break;
        }
        if (options.match) break;
        p += dir * step;
        if (dir < 0 ? p < end : p >= end) break;
    }
    if (m.found && options.tail) m.position = static_cast<uint32_t>(std::min<int64_t>(int64_t{m.position} + n, total));
    return m;
}

Cell* find(Cell* series, Cell* value, const datatype::FindOptions& options) {
    const Match m = search(series, value, options);
    if (!m.found) return &shared::none;
    Cell* r = stack::push(series);
    series_index(r) = m.position;
    return r;
}

Cell* select(Cell* series, Cell* value, const datatype::FindOptions& options) {
    datatype::FindOptions o = options;
    o.tail = false;
    o.match = false;
    const Match m = search(series, value, o);
    if (!m.found) return &shared::none;
    const uint64_t at = uint64_t{m.position} + m.length;
    if (at >= total_length(series)) return &shared::none;
    return push_element(series, static_cast<uint32_t>(at));
}

// A position reads or writes an element; another number selects the
// element after the first one equal to it, and setting writes there.
Cell* eval_path(Cell* value, const datatype::PathStep& step) {
    const uint32_t et = cell::type_of(step.element);
    const Cell* where = step.path ? step.path : value;
    if (et == TYPE_INTEGER) {
        const int32_t position = integer_value(step.element);
        if (!step.new_value) return actions::slot<datatype::PICK>(value)(value, position, step.element);
        return actions::slot<datatype::POKE>(value)(value, position, step.new_value, step.element);
    }
    if (et == TYPE_WORD) err::raise(err::INVALID_PATH, where, step.element);
    if (!step.new_value) return select(value, step.element, {});
    Cell* found = find(value, step.element, {});
    if (cell::type_of(found) == TYPE_NONE) err::raise(err::BAD_PATH_SET, where, step.element);
    return actions::slot<datatype::POKE>(found)(found, 2, step.new_value, nullptr);
}

// series!'s take; a single element taken without /part is that element.
Cell* take(Cell* series, Cell* part, bool deep, bool last) {
    Cell* r = series_type::take(series, part, deep, last);
    if (!part && cell::type_of(r) == TYPE_VECTOR && length(r) == 1) {
        const Cell e = element_value(element_ptr(r, series_index(r)), width(r), element_type(r));
        *r = e;
    }
    return r;
}

// ---- sort ----------------------------------------------------------------------------------

// Records of size elements are sorted as record numbers; the elements
// then take their new places. With a compare function the records' values
// are held in C++ memory while user code runs, and are written back only
// when the vector still has the sorted range in the same layout.
struct SortSpec {
    std::vector<double> keys;     // every element of the range, in order
    std::vector<Cell> values;     // the same as values, for a function
    uint32_t size = 1;            // elements per record
    uint32_t offset = 0;          // compared element inside a record
    bool whole = false;           // compare whole records
    bool reverse = false;
    const Cell* function = nullptr;
};

int compare_records(const void* a, const void* b, void* context, uint32_t) {
    const SortSpec& s = *static_cast<const SortSpec*>(context);
    uint32_t ra, rb;
    std::memcpy(&ra, a, sizeof ra);
    std::memcpy(&rb, b, sizeof rb);
    if (s.function) {
        const Cell& x = s.values[static_cast<size_t>(ra) * s.size + s.offset];
        const Cell& y = s.values[static_cast<size_t>(rb) * s.size + s.offset];
        const Cell result = s.reverse ? block::call_comparator(s.function, &x, &y, 0)
                                      : block::call_comparator(s.function, &y, &x, 0);
        return block::comparator_order(&result);
    }
    const uint32_t from = s.whole ? 0 : s.offset;
    const uint32_t to = s.whole ? s.size : s.offset + 1;
    for (uint32_t k = from; k < to; k++) {
        const double x = s.keys[static_cast<size_t>(ra) * s.size + k];
        const double y = s.keys[static_cast<size_t>(rb) * s.size + k];
        if (x != y) {
            const int r = x > y ? 1 : -1;
            return s.reverse ? -r : r;
        }
    }
    return 0;
}

Cell* sort(Cell* series, const datatype::SortOptions& options) {
    uint32_t index = series_type::clamp_index(series);
    const uint32_t total = total_length(series);
    int64_t count = total - index;
    if (options.part) {
        count = series_type::part_count(series, options.part);
        if (count >= 0) {
            count = std::min<int64_t>(count, total - index);
        } else {
            count = -count;
            if (count > index) {
                series_index(series) = 0;
                return series;
            }
            index -= static_cast<uint32_t>(count);
            series_index(series) = index;
        }
    }
    if (count == 0) return series;
    SortSpec spec;
    spec.reverse = options.reverse;
    if (options.skip) {
        if (cell::type_of(options.skip) != TYPE_INTEGER) bad_refinement(words::ref_skip, options.skip);
        const int32_t size = integer_value(options.skip);
        if (size < 1 || size > count || count % size != 0) bad_refinement(words::ref_skip, options.skip);
        spec.size = static_cast<uint32_t>(size);
        spec.whole = options.all;
    } else if (options.all) {
        err::raise(err::BAD_REFINES);
    }
    if (options.comparator) {
        const uint32_t ct = cell::type_of(options.comparator);
        if (ct == TYPE_INTEGER) {
            if (!options.skip || options.all) err::raise(err::BAD_REFINES);
            const int32_t at = integer_value(options.comparator);
            if (at < 1 || static_cast<uint32_t>(at) > spec.size) err::raise(err::OUT_OF_RANGE, options.comparator);
            spec.offset = static_cast<uint32_t>(at - 1);
        } else if (ct == TYPE_FUNCTION) {
            if (!block::call_comparator) err::raise(err::NOT_DONE);
            spec.function = options.comparator;
        } else {
            bad_refinement(words::ref_compare, options.comparator);
        }
    }
    const uint32_t w = width(series), type = element_type(series);
    const bool owned = owner::check_change(series, words::w_sort, &shared::none, static_cast<int32_t>(index),
                                           static_cast<int32_t>(count));
    if (uint64_t{index} + static_cast<uint64_t>(count) > total_length(series) || width(series) != w) return series;
    const uint32_t n = static_cast<uint32_t>(count);
    for (uint32_t i = 0; i < n; i++) {
        const uint8_t* p = element_ptr(series, index + i);
        spec.keys.push_back(number_at(p, w, type));
        if (spec.function) spec.values.push_back(element_value(p, w, type));
    }
    const uint32_t records = n / spec.size;
    std::vector<uint32_t> order(records);
    std::iota(order.begin(), order.end(), 0u);
    if (options.stable || spec.function)
        sort::merge_sort(order.data(), order.size(), sizeof(uint32_t), &spec, 0, &compare_records);
    else
        sort::partition_sort(order.data(), order.size(), sizeof(uint32_t), &spec, 0, &compare_records);
    // A compare function may have changed the vector meanwhile.
    if (uint64_t{index} + n <= total_length(series) && width(series) == w && element_type(series) == type) {
        const std::vector<uint8_t> before(element_ptr(series, index), element_ptr(series, index) + size_t{n} * w);
        const size_t record = size_t{spec.size} * w;
        for (uint32_t i = 0; i < records; i++)
            std::memcpy(element_ptr(series, index) + i * record, before.data() + order[i] * record, record);
    }
    if (owned)
        owner::check_change(series, words::w_sorted, &shared::none, static_cast<int32_t>(index),
                            static_cast<int32_t>(count));
    return series;
}

}  // namespace

void fill(datatype::Record& r) {
    datatype::set_slot<datatype::MAKE>(r, &make);
    datatype::set_slot<datatype::FORM>(r, &form);
    datatype::set_slot<datatype::MOLD>(r, &mold);
    datatype::set_slot<datatype::COMPARE>(r, &compare);
    datatype::set_slot<datatype::EVAL_PATH>(r, &eval_path);
    datatype::fill_math_slots(r, [](auto op) { return &math_slot<decltype(op)::value>; }, true);
    datatype::set_slot<datatype::APPEND>(r, &append);
    datatype::set_slot<datatype::INSERT>(r, &insert);
    datatype::set_slot<datatype::CHANGE>(r, &change);
    datatype::set_slot<datatype::FIND>(r, &find);
    datatype::set_slot<datatype::SELECT>(r, &select);
    datatype::set_slot<datatype::SORT>(r, &sort);
    datatype::set_slot<datatype::TAKE>(r, &take);
    // Neither conversions nor the text-only actions apply to numbers.
    datatype::clear_slot<datatype::TO>(r);
    datatype::clear_slot<datatype::PUT>(r);
    datatype::clear_slot<datatype::SWAP>(r);
    datatype::clear_slot<datatype::TRIM>(r);
    integer::neighbours.vector_math = &scalar_first_math;
    float_type::neighbours.vector_math = &scalar_first_math;
}

}  // namespace qel::vector
