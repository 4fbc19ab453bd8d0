// char!: making characters, their molded form, comparison and arithmetic.
//
// char! shares integer!'s cell and takes random, absolute, even? and odd?
// from it unchanged. Its arithmetic goes through integer!'s 32-bit core but
// never becomes a float!: a result outside the code-point range is an
// overflow error, and division truncates.
#include "datatypes/char.hpp"

#include "datatypes/fills.hpp"
#include "datatypes/integer.hpp"
#include "datatypes/text.hpp"
#include "runtime/actions.hpp"
#include "runtime/stack.hpp"
#include "runtime/errors.hpp"
#include "runtime/memory.hpp"
#include "runtime/unicode.hpp"

namespace qel::char_type {

namespace {

constexpr uint32_t MAX_CP = 0x10FFFF;

[[noreturn]] void bad_to(const Cell* spec) {
    const Cell type = datatype_cell(TYPE_CHAR);
    err::raise(err::BAD_TO_ARG, &type, spec);
}

// Caret forms of codes 0-31; 34 and 94 are handled beside it.
constexpr char caret_table[] = "@ABCDEFGH-/KLMNOPQRSTUVWXYZ[\\]^_";

void append_hex_short(node_t out, uint32_t v) {
    static const char digits[] = "0123456789ABCDEF";
    char buf[8];
    int n = 0;
    do {
        buf[n++] = digits[v & 15];
        v >>= 4;
    } while (v);
    char rev[8];
    for (int i = 0; i < n; i++) rev[i] = buf[n - 1 - i];
    text::append_latin1(out, rev, static_cast<size_t>(n));
}

}  // namespace

void mold_char(node_t out, uint32_t cp, bool escape, bool all) {
    // 30 has a caret form (^^ would read back as the caret itself), so it
    // always goes in hexadecimal, like the C1 controls.
    if (cp == 30 || (cp >= 128 && cp <= 159) || (all && cp > 127)) {
        text::append_latin1(out, "^(", 2);
        append_hex_short(out, cp);
        text::append_latin1(out, ")", 1);
        return;
    }
    if (escape) {
        char pair[2] = {'^', 0};
        if (cp < 32) pair[1] = caret_table[cp];
        else if (cp == '"') pair[1] = '"';
        else if (cp == '^') pair[1] = '^';
        else if (cp == 127) pair[1] = '~';
        if (pair[1]) {
            text::append_latin1(out, pair, 2);
            return;
        }
    }
    text::append_codepoint(out, cp);
}

namespace {

uint32_t checked_cp(int64_t v, const Cell* source) {
    if (v < 0 || v > MAX_CP) err::raise(err::OUT_OF_RANGE, source);
    return static_cast<uint32_t>(v);
}

uint32_t from_binary(const Cell* bin) {
    if (series::length_of(bin) <= 0) bad_to(bin);
    // Copied out first: raising the error allocates, and the source may move.
    uint8_t bytes[4] = {0, 0, 0, 0};
    const uint32_t avail = static_cast<uint32_t>(series::length_of(bin));
    const uint32_t take = avail < 4 ? avail : 4;
    const uint8_t* p = series::head_ptr(series::buffer_of(series_node(bin))) + series_index(bin);
    for (uint32_t i = 0; i < take; i++) bytes[i] = p[i];
    uint32_t size;
    const int32_t cp = unicode::decode_one(bytes, bytes + take, size);
    if (cp >= 0) return static_cast<uint32_t>(cp);
    const node_t n = memory::alloc_bytes(4);
    series::append_bytes(n, bytes, 4);
    const Cell arg{TYPE_BINARY, 0, n, 0};
    err::raise(err::INVALID_UTF8, &arg);
}

Cell* make(Cell* proto, Cell* spec, uint32_t) {
    const uint32_t t = cell::type_of(spec);
    uint32_t cp;
    if (is_any_string(t)) {
        if (series::length_of(spec) <= 0) bad_to(spec);
        cp = unicode::codepoint_at(series_node(spec), series_index(spec));
    } else if (t == TYPE_CHAR || t == TYPE_INTEGER) {
        cp = checked_cp(integer_value(spec), spec);
    } else if (t == TYPE_FLOAT || t == TYPE_PERCENT) {
        const double d = cell::get_double(spec);
        // Compared as a double first: truncating a huge value is undefined.
        if (!(d > -1.0 && d < MAX_CP + 1.0)) err::raise(err::OUT_OF_RANGE, spec);
        cp = static_cast<uint32_t>(static_cast<int32_t>(d));
    } else if (t == TYPE_BINARY) {
        cp = from_binary(spec);
    } else {
        bad_to(spec);
    }
    *proto = Cell{TYPE_CHAR, 0, cp, 0};
    return proto;
}

int32_t form(const Cell* value, node_t out, bool, int32_t limit) {
    text::append_codepoint(out, char_code(value));
    return limit - 1;
}

int32_t mold(const Cell* value, node_t out, const datatype::MoldOptions& options, int32_t limit, int32_t) {
    text::append_latin1(out, "#\"", 2);
    mold_char(out, char_code(value), true, options.all);
    text::append_latin1(out, "\"", 1);
    return limit - 4;
}

int32_t compare(const Cell* a, const Cell* b, CompareOp op) {
    const uint32_t t = cell::type_of(b);
    if ((op == CompareOp::StrictEqual || op == CompareOp::Find) && t != TYPE_CHAR) return 1;
    if (t != TYPE_CHAR && t != TYPE_INTEGER) return -2;
    const int32_t x = integer_value(a), y = integer_value(b);
    return (x > y) - (x < y);
}

void char_math(MathOp code) {
    Cell* a = stack::arg_base;
    const Cell* b = a + 1;
    int32_t operand;
    switch (cell::type_of(b)) {
        case TYPE_CHAR:
        case TYPE_INTEGER: operand = integer_value(b); break;
        case TYPE_FLOAT: {
            const double d = cell::get_double(b);
            // No truncated value outside 32 bits can give a code point back
            // except through multiply by 0, which is not worth a special case.
            if (integer::outside_integer_range(d)) err::raise(err::OVERFLOW);
            operand = static_cast<int32_t>(d);
            break;
        }
        case TYPE_VECTOR:
            if (!integer::neighbours.vector_math) err::raise(err::NOT_DONE);
            integer::neighbours.vector_math(code);
            return;
        default: {
            const Cell type = datatype_cell(cell::type_of(b));
            err::raise(err::INVALID_TYPE, &type);
        }
    }
    Cell scratch{TYPE_UNSET, 0, 0, 0};
    const int32_t r = integer::arith(integer_value(a), operand, code,
                                     code == MathOp::Divide ? nullptr : &scratch);
    if (cell::type_of(&scratch) != TYPE_UNSET || r < 0 || static_cast<uint32_t>(r) > MAX_CP)
        err::raise(err::OVERFLOW);
    char_code(a) = static_cast<uint32_t>(r);
}

void add() { char_math(MathOp::Add); }
void subtract() { char_math(MathOp::Subtract); }
void multiply() { char_math(MathOp::Multiply); }
void divide() { char_math(MathOp::Divide); }
void remainder() { char_math(MathOp::Remainder); }
void or_action() { char_math(MathOp::Or); }
void and_action() { char_math(MathOp::And); }
void xor_action() { char_math(MathOp::Xor); }

}  // namespace

void fill(datatype::Record& r) {
    // Only these four come from integer!; they work on word 2 alone.
    for (uint32_t s = 0; s < datatype::ACTION_SLOTS; s++)
        if (s != datatype::RANDOM && s != datatype::ABSOLUTE && s != datatype::EVEN_Q && s != datatype::ODD_Q)
            r.actions[s] = nullptr;
    datatype::set_slot<datatype::MAKE>(r, &make);
    datatype::set_slot<datatype::TO>(r, &make);
    datatype::set_slot<datatype::FORM>(r, &form);
    datatype::set_slot<datatype::MOLD>(r, &mold);
    datatype::set_slot<datatype::COMPARE>(r, &compare);
    datatype::set_slot<datatype::ADD>(r, &add);
    datatype::set_slot<datatype::DIVIDE>(r, &divide);
    datatype::set_slot<datatype::MULTIPLY>(r, &multiply);
    datatype::set_slot<datatype::REMAINDER>(r, &remainder);
    datatype::set_slot<datatype::SUBTRACT>(r, &subtract);
    datatype::set_slot<datatype::AND_T>(r, &and_action);
    datatype::set_slot<datatype::OR_T>(r, &or_action);
    datatype::set_slot<datatype::XOR_T>(r, &xor_action);
}

}  // namespace qel::char_type
