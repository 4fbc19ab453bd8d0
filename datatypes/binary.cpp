// binary!: conversion, the hexadecimal form, byte insertion, byte-wise
// comparison, the bitwise operations and trim (see binary.hpp).
//
// Values going into a binary are first encoded into a C++ vector: encoding
// may form a value (which allocates, so the buffers may move) or raise, and
// doing all of that before the buffer is touched means a refused value
// changes nothing and a binary inserted into itself contributes what it
// held when the action began. The splice then sizes once (with overflow
// checks: a /dup count times a long value easily leaves 32 bits), moves the
// rest once and copies.
#include "datatypes/binary.hpp"

#include <algorithm>
#include <bit>
#include <cstring>

#include "runtime/base_n.hpp"
#include "datatypes/fills.hpp"
#include "datatypes/mold.hpp"
#include "datatypes/string.hpp"
#include "datatypes/string_search.hpp"
#include "datatypes/text.hpp"
#include "runtime/actions.hpp"
#include "runtime/stack.hpp"
#include "runtime/cycles.hpp"
#include "runtime/errors.hpp"
#include "runtime/memory.hpp"
#include "runtime/owner.hpp"
#include "runtime/runtime_words.hpp"
#include "runtime/symbols.hpp"
#include "runtime/unicode.hpp"

namespace qel::binary {

namespace {

// Above this many bytes a buffer could not exist in a 32-bit process.
constexpr uint64_t MAX_BYTES = 0x7FFFFF00;

SeriesBuffer* buf(const Cell* v) { return series::buffer_of(series_node(v)); }
uint32_t total(node_t n) {
    const SeriesBuffer* s = series::buffer_of(n);
    return s->tail - s->head;
}
uint32_t clamp(Cell* v) {
    const uint32_t t = total(series_node(v));
    if (series_index(v) > t) series_index(v) = t;
    return series_index(v);
}

[[noreturn]] void bad_to_arg(const Cell* value) {
    const Cell t = datatype_cell(TYPE_BINARY);
    err::raise(err::BAD_TO_ARG, &t, value);
}

// The tuple's length sits in header bits 19-22, its bytes in words 1-3.

void put_utf8(const Cell* text, std::vector<uint8_t>& out) {
    const size_t n = unicode::utf8_length(text, -1);
    const size_t at = out.size();
    out.resize(at + n);
    unicode::write_utf8(text, -1, out.data() + at, false);
}

void put_codepoint(uint32_t cp, std::vector<uint8_t>& out) {
    uint8_t b[4];
    const uint32_t n = unicode::encode_utf8(cp, b);
    out.insert(out.end(), b, b + n);
}

void put_be(uint64_t v, int bytes, std::vector<uint8_t>& out) {
    for (int k = bytes - 1; k >= 0; k--) out.push_back(static_cast<uint8_t>(v >> (8 * k)));
}

// The one byte an integer stands for: its low 8 bits, for -128 to 255.
uint8_t integer_byte(const Cell* v) {
    const int32_t i = integer_value(v);
    if (i > 255 || i < -128) err::raise(err::INVALID_ARG, v);
    return static_cast<uint8_t>(i);
}

// One value's bytes; in a block, nested blocks are walked in turn (a block
// met again inside itself is refused rather than walked for ever).
void encode_one(const Cell* value, bool forming, std::vector<uint8_t>& out);

void encode_block(const Cell* block, int64_t elements, bool forming, std::vector<uint8_t>& out) {
    const Cell b = *block;
    if (cycles::find(series_node(b))) err::raise(err::INVALID_ARG, &b);
    const mold::CycleEntry entry(series_node(b));
    for (int64_t i = 0; elements < 0 || i < elements; i++) {
        const uint64_t at = uint64_t{series_index(b)} + static_cast<uint64_t>(i);
        if (at >= series::cell_count(series_node(b))) break;
        // A copy: forming an element allocates and may move the block.
        const Cell e = series::cells_of(series_node(b))[at];
        encode_one(&e, forming, out);
    }
}

void encode_one(const Cell* value, bool forming, std::vector<uint8_t>& out) {
    const uint32_t t = cell::type_of(value);
    if (t == TYPE_CHAR) {
        put_codepoint(char_code(value), out);
    } else if (t == TYPE_INTEGER) {
        out.push_back(integer_byte(value));
    } else if (t == TYPE_BINARY) {
        const uint32_t n = length(value);
        const uint8_t* p = head_ptr(value);
        out.insert(out.end(), p, p + n);
    } else if (t == TYPE_TUPLE) {
        for (uint32_t i = 0; i < tuple_length(value); i++) out.push_back(tuple_byte(value, i));
    } else if (is_any_string(t)) {
        put_utf8(value, out);
    } else if (is_block_paren_or_hash(t)) {
        encode_block(value, -1, forming, out);
    } else if (forming) {
        const Cell v = *value;
        Cell* text = stack::push_slot();
        string::make_at(text, 16);
        actions::form(&v, series_node(text), false, INT32_MAX);
        put_utf8(text, out);
        stack::pop_n(1);
    } else {
        bad_to_arg(value);
    }
}

// ---- splicing ----------------------------------------------------------------

// Writes reps copies of bytes over replaced bytes at offset at of the
// buffer (from its head), moving what follows.
void splice(node_t n, uint32_t at, uint32_t replaced, const std::vector<uint8_t>& bytes, uint64_t reps) {
    const uint32_t used = total(n);
    at = std::min(at, used);
    replaced = std::min(replaced, used - at);
    uint64_t written;
    if (__builtin_mul_overflow(static_cast<uint64_t>(bytes.size()), reps, &written) || written > MAX_BYTES)
        err::raise(err::NO_MEMORY);
    const uint64_t need = uint64_t{used} - replaced + written;
    if (need > MAX_BYTES) err::raise(err::NO_MEMORY);
    SeriesBuffer* s = series::buffer_of(n);
    if (s->head + need > s->size) {
        if (s->flags & series_flag::FIXED) err::raise(err::LIMIT_HIT);
        const uint64_t doubled = std::max<uint64_t>(2 * need, 2 * uint64_t{s->size});
        s = memory::expand_series(s, static_cast<uint32_t>(std::min(doubled, MAX_BYTES)));
    }
    uint8_t* dst = series::head_ptr(s) + at;
    std::memmove(dst + written, dst + replaced, used - at - replaced);
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

// What append, insert and change write for the value under /part.
std::vector<uint8_t> encoded(const Cell* value, int32_t part, bool only, bool forming) {
    std::vector<uint8_t> bytes;
    encode_value(value, part, only, forming, bytes);
    return bytes;
}

}  // namespace

// ---- routines for other parts --------------------------------------------------------

Cell* make_at(Cell* cell, uint32_t capacity) {
    const node_t n = memory::alloc_bytes(capacity ? capacity : 16);
    *cell = Cell{TYPE_BINARY, 0, n, 0};
    return cell;
}

Cell* load(const uint8_t* bytes, size_t n, Cell* cell) {
    if (n > MAX_BYTES) err::raise(err::NO_MEMORY);
    if (!cell) {
        cell = stack::push_slot();
        *cell = Cell{TYPE_UNSET, 0, 0, 0};
    }
    const node_t node = memory::alloc_bytes(static_cast<uint32_t>(n));
    if (n) series::append_bytes(node, bytes, static_cast<uint32_t>(n));
    *cell = Cell{TYPE_BINARY, 0, node, 0};
    return cell;
}

uint8_t* head_ptr(const Cell* value) {
    SeriesBuffer* s = buf(value);
    return series::head_ptr(s) + std::min(series_index(value), s->tail - s->head);
}

uint32_t length(const Cell* value) {
    const uint32_t t = total(series_node(value));
    return series_index(value) < t ? t - series_index(value) : 0;
}

std::vector<uint8_t> copy_bytes(const Cell* value) {
    const uint8_t* p = head_ptr(value);
    return std::vector<uint8_t>(p, p + length(value));
}

void insert_bytes(node_t n, uint32_t offset, const uint8_t* bytes, uint32_t count) {
    const std::vector<uint8_t> v(bytes, bytes + count);
    splice(n, offset, 0, v, 1);
}

void encode_value(const Cell* value, int32_t part, bool only, bool forming, std::vector<uint8_t>& out) {
    const size_t start = out.size();
    if (is_block_paren_or_hash(cell::type_of(value)) && !only) {
        encode_block(value, part, forming, out);
        return;
    }
    encode_one(value, forming, out);
    if (part >= 0 && out.size() - start > static_cast<size_t>(part)) out.resize(start + static_cast<size_t>(part));
}

int32_t compare_values(const Cell* a, const Cell* b, CompareOp op, bool match) {
    const uint32_t ia = std::min(series_index(a), total(series_node(a)));
    const uint32_t ib = std::min(series_index(b), total(series_node(b)));
    const bool same = series_node(a) == series_node(b) && ia == ib;
    if (op == CompareOp::Same) return same ? 0 : 1;
    if (same && !match) return 0;
    const uint32_t la = total(series_node(a)) - ia;
    const uint32_t lb = total(series_node(b)) - ib;
    const uint8_t* pa = series::head_ptr(buf(a)) + ia;
    const uint8_t* pb = series::head_ptr(buf(b)) + ib;
    if (match) {
        if (lb == 0) return 0;
        if (la < lb) return 1;
        return std::memcmp(pa, pb, lb) == 0 ? 0 : 1;
    }
    if (is_content_equality(op) && la != lb) return 1;
    const int d = std::memcmp(pa, pb, std::min(la, lb));
    if (d != 0) return d < 0 ? -1 : 1;
    return la == lb ? 0 : la < lb ? -1 : 1;
}

bool decode_text(int32_t base, const Cell* text, Cell* out) {
    std::vector<uint8_t> bytes;
    {
        const Cell t = *text;
        SeriesBuffer* s = series::buffer_of(series_node(t));
        const uint32_t w = series::unit(s);
        const uint32_t n = string::length(&t);
        const uint32_t index = std::min(series_index(t), string::length_whole(&t));
        const uint8_t* from = series::head_ptr(s) + static_cast<size_t>(index) * w;
        if (!decode_base(base, Units{from, n, w}, bytes)) return false;
    }
    load(bytes.data(), bytes.size(), out);
    return true;
}

namespace {

// ---- slots -----------------------------------------------------------------------

Cell* to(Cell*, Cell* spec, uint32_t) {
    const Cell v = *spec;
    const uint32_t t = cell::type_of(&v);
    std::vector<uint8_t> bytes;
    switch (t) {
        case TYPE_BLOCK: case TYPE_PAREN: case TYPE_HASH:
            encode_block(&v, -1, false, bytes);
            break;
        case TYPE_CHAR: put_codepoint(char_code(v), bytes); break;
        case TYPE_INTEGER: put_be(static_cast<uint32_t>(integer_value(v)), 4, bytes); break;
        case TYPE_FLOAT: case TYPE_PERCENT: {
            put_be(std::bit_cast<uint64_t>(cell::get_double(&v)), 8, bytes);
            break;
        }
        case TYPE_ISSUE: {
            const char* name = symbol::name(word_symbol(v));
            if (!decode_base16(latin1_units(name, std::strlen(name)), bytes, true)) err::raise(err::INVALID_DATA, &v);
            break;
        }
        case TYPE_BITSET: {
            SeriesBuffer* s = buf(&v);
            bytes.assign(series::head_ptr(s), series::tail_ptr(s));
            break;
        }
        case TYPE_TUPLE: case TYPE_BINARY: encode_one(&v, false, bytes); break;
        default:
            if (!is_any_string(t)) bad_to_arg(&v);
            put_utf8(&v, bytes);
            break;
    }
    return load(bytes.data(), bytes.size());
}

// make takes a number as the capacity of an empty binary; anything else
// converts as to does.
Cell* make(Cell* proto, Cell* spec, uint32_t type) {
    const uint32_t t = cell::type_of(spec);
    if (t == TYPE_MONEY) {
        const Cell dt = datatype_cell(TYPE_BINARY);
        err::raise(err::BAD_MAKE_ARG, &dt, spec);
    }
    if (t != TYPE_INTEGER && t != TYPE_FLOAT) return to(proto, spec, type);
    int64_t size;
    if (t == TYPE_INTEGER) {
        size = integer_value(spec);
    } else {
        const double d = cell::get_double(spec);
        // Written so that NaN fails too.
        if (!(d > -2147483649.0 && d < 2147483648.0)) err::raise(err::OUT_OF_RANGE, spec);
        size = static_cast<int64_t>(d);
    }
    if (size < 0 || static_cast<uint64_t>(size) > MAX_BYTES) err::raise(err::OUT_OF_RANGE, spec);
    Cell* r = stack::push_slot();
    *r = Cell{TYPE_UNSET, 0, 0, 0};
    return make_at(r, static_cast<uint32_t>(size));
}

// Form and mold write the same text. Long values (31 bytes or more) open
// onto lines of their own, 32 bytes to a line at the next indentation
// level; the closing brace returns to the current level.
int32_t write_hex(const Cell* value, node_t out, bool braces, bool flat, bool part, int32_t limit, int32_t indent) {
    const Cell v = *value;
    const uint32_t n = length(&v);
    const bool lines = !flat && n > 30;
    auto stop = [&] { return part && limit <= 0; };
    if (braces) {
        text::append_latin1(out, "#{", 2);
        limit = mold::spend(limit, 2);
    }
    auto line_break = [&](int32_t level) {
        text::append_latin1(out, "\n", 1);
        text::indent(out, level);
        limit = mold::spend(limit, 1 + 4 * static_cast<int64_t>(std::max(level, 0)));
    };
    if (lines) line_break(indent + 1);
    char chunk[64];
    for (uint32_t i = 0; i < n && !stop();) {
        if (lines && i > 0 && i % 32 == 0) line_break(indent + 1);
        // A line's bytes at a time, re-read through the node: appending
        // allocates, which may move the value's buffer.
        const uint32_t count = std::min<uint32_t>(32 - i % 32, n - i);
        const uint8_t* p = series::head_ptr(buf(&v)) + series_index(v) + i;
        for (uint32_t k = 0; k < count; k++) std::memcpy(chunk + 2 * k, string::byte_to_hex(p[k]), 2);
        text::append_latin1(out, chunk, 2 * count);
        limit = mold::spend(limit, 2 * static_cast<int64_t>(count));
        i += count;
    }
    if (stop()) return limit;
    if (lines) line_break(indent);
    if (braces) {
        text::append_latin1(out, "}", 1);
        limit = mold::spend(limit, 1);
    }
    return limit;
}

int32_t form(const Cell* value, node_t out, bool part, int32_t limit) {
    return write_hex(value, out, true, false, part, limit, 0);
}

int32_t mold(const Cell* value, node_t out, const datatype::MoldOptions& options, int32_t limit, int32_t indent) {
    return write_hex(value, out, !options.only, options.flat, options.part, limit, indent);
}

int32_t compare(const Cell* a, const Cell* b, CompareOp op) {
    if (cell::type_of(b) != TYPE_BINARY) return -2;
    return compare_values(a, b, op);
}

// ---- bitwise ----------------------------------------------------------------------

enum class Bitwise { AND, OR, XOR };

void bitwise(Bitwise op) {
    Cell* a = stack::arg_base;
    const Cell* b = a + 1;
    if (cell::type_of(b) != TYPE_BINARY) err::raise(err::INVALID_ARG, b);
    const uint32_t la = length(a), lb = length(b);
    const uint8_t* pa = head_ptr(a);
    const uint8_t* pb = head_ptr(b);
    std::vector<uint8_t> r(std::max(la, lb), 0);
    const uint32_t common = std::min(la, lb);
    for (uint32_t i = 0; i < common; i++) {
        switch (op) {
            case Bitwise::AND: r[i] = pa[i] & pb[i]; break;
            case Bitwise::OR: r[i] = pa[i] | pb[i]; break;
            case Bitwise::XOR: r[i] = pa[i] ^ pb[i]; break;
        }
    }
    // The longer operand's rest: kept by or~ and xor~, zero for and~.
    if (op != Bitwise::AND) {
        const uint8_t* longer = la > lb ? pa : pb;
        for (uint32_t i = common; i < r.size(); i++) r[i] = longer[i];
    }
    const Cell result = *load(r.data(), r.size());
    stack::set_last_reset(&result);
}

void and_action() { bitwise(Bitwise::AND); }
void or_action() { bitwise(Bitwise::OR); }
void xor_action() { bitwise(Bitwise::XOR); }

Cell* complement(Cell* value) {
    const uint32_t n = length(value);
    uint8_t* p = head_ptr(value);
    for (uint32_t i = 0; i < n; i++) p[i] = static_cast<uint8_t>(~p[i]);
    return value;
}

// ---- append, insert, change ---------------------------------------------------------

Cell* insert_at(Cell* series, Cell* value, int32_t part, bool only, int32_t dup, bool at_tail) {
    if (dup < 1 || part == 0) return series;
    const std::vector<uint8_t> bytes = encoded(value, part, only, false);
    uint64_t size;
    if (__builtin_mul_overflow(static_cast<uint64_t>(bytes.size()), static_cast<uint64_t>(dup), &size) ||
        size > MAX_BYTES)
        err::raise(err::NO_MEMORY);
    const Cell* word = at_tail ? words::w_append : words::w_insert;
    const Cell* done = at_tail ? words::w_appended : words::w_inserted;
    const int32_t index = static_cast<int32_t>(clamp(series));
    const bool owned = owner::check_change(series, word, value, index, part);
    // A change handler may have shortened the series.
    const uint32_t at = at_tail ? total(series_node(series)) : clamp(series);
    splice(series_node(series), at, 0, bytes, static_cast<uint64_t>(dup));
    if (owned) owner::check_change(series, done, value, index, part);
    if (at_tail) series_index(series) = 0;
    else series_index(series) = static_cast<uint32_t>(std::min<uint64_t>(at + size, total(series_node(series))));
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
    const std::vector<uint8_t> bytes = encoded(value, -1, only, true);
    uint64_t written;
    if (__builtin_mul_overflow(static_cast<uint64_t>(bytes.size()), static_cast<uint64_t>(dup), &written) ||
        written > MAX_BYTES)
        err::raise(err::NO_MEMORY);
    uint32_t index = clamp(series);
    uint64_t replaced = part >= 0 ? static_cast<uint64_t>(part) : written;
    replaced = std::min<uint64_t>(replaced, total(series_node(series)) - index);
    const bool owned = owner::check_change(series, words::w_change, value, static_cast<int32_t>(index),
                                           static_cast<int32_t>(replaced));
    index = clamp(series);
    replaced = std::min<uint64_t>(replaced, total(series_node(series)) - index);
    splice(series_node(series), index, static_cast<uint32_t>(replaced), bytes, static_cast<uint64_t>(dup));
    if (owned)
        owner::check_change(series, words::w_changed, value, static_cast<int32_t>(index),
                            static_cast<int32_t>(replaced));
    series_index(series) = static_cast<uint32_t>(std::min<uint64_t>(index + written, total(series_node(series))));
    return series;
}

// ---- find and select ---------------------------------------------------------------

// A text looked for in a binary stands for its UTF-8 bytes; everything
// else is string!'s byte search.
Cell* as_pattern(Cell* value) {
    if (!is_any_string(cell::type_of(value))) return value;
    std::vector<uint8_t> bytes;
    put_utf8(value, bytes);
    return load(bytes.data(), bytes.size());
}

Cell* find(Cell* series, Cell* value, const datatype::FindOptions& options) {
    return string::find(series, as_pattern(value), options);
}

Cell* select(Cell* series, Cell* value, const datatype::FindOptions& options) {
    return string::select(series, as_pattern(value), options);
}

// ---- trim -----------------------------------------------------------------------------

// The bytes /with names: a text's UTF-8 bytes, a binary's bytes, the byte
// of a char! (below 256) or of an integer!.
std::vector<bool> byte_set(const Cell* with) {
    std::vector<bool> set(256, false);
    const uint32_t t = cell::type_of(with);
    std::vector<uint8_t> bytes;
    if (is_any_string(t)) put_utf8(with, bytes);
    else if (t == TYPE_BINARY) encode_one(with, false, bytes);
    else if (t == TYPE_INTEGER) bytes.push_back(integer_byte(with));
    else if (t == TYPE_CHAR && char_code(with) < 256) bytes.push_back(static_cast<uint8_t>(char_code(with)));
    else if (t != TYPE_CHAR) err::raise(err::INVALID_ARG, with);
    for (const uint8_t b : bytes) set[b] = true;
    return set;
}

Cell* trim(Cell* series, const datatype::TrimOptions& options) {
    if (options.automatic || options.lines) err::raise(err::NOT_DONE);
    std::vector<bool> set(256, false);
    set[0] = true;
    if (options.with) set = byte_set(options.with);
    const bool removing = options.all || options.with;
    const int32_t index = static_cast<int32_t>(clamp(series));
    const int32_t n = static_cast<int32_t>(length(series));
    const bool owned = owner::check_change(series, words::w_trim, &shared::none, index, n);
    const uint32_t from = clamp(series);
    SeriesBuffer* s = buf(series);
    uint8_t* p = series::head_ptr(s) + from;
    const uint32_t len = s->tail - s->head - from;
    uint32_t kept = 0;
    if (removing) {
        for (uint32_t i = 0; i < len; i++)
            if (!set[p[i]]) p[kept++] = p[i];
    } else {
        uint32_t b = 0, e = len;
        if (options.head || !options.tail)
            while (b < e && p[b] == 0) b++;
        if (options.tail || !options.head)
            while (e > b && p[e - 1] == 0) e--;
        kept = e - b;
        std::memmove(p, p + b, kept);
    }
    s->tail = s->head + from + kept;
    if (owned) owner::check_change(series, words::w_trimmed, &shared::none, index, n);
    return series;
}

}  // namespace

void fill(datatype::Record& r) {
    datatype::set_slot<datatype::MAKE>(r, &make);
    datatype::set_slot<datatype::TO>(r, &to);
    datatype::set_slot<datatype::FORM>(r, &form);
    datatype::set_slot<datatype::MOLD>(r, &mold);
    datatype::set_slot<datatype::COMPARE>(r, &compare);
    datatype::set_slot<datatype::AND_T>(r, &and_action);
    datatype::set_slot<datatype::OR_T>(r, &or_action);
    datatype::set_slot<datatype::XOR_T>(r, &xor_action);
    datatype::set_slot<datatype::COMPLEMENT>(r, &complement);
    datatype::set_slot<datatype::APPEND>(r, &append);
    datatype::set_slot<datatype::INSERT>(r, &insert);
    datatype::set_slot<datatype::CHANGE>(r, &change);
    datatype::set_slot<datatype::FIND>(r, &find);
    datatype::set_slot<datatype::SELECT>(r, &select);
    datatype::set_slot<datatype::TRIM>(r, &trim);
}

}  // namespace qel::binary
